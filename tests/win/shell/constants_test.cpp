#include <gtest/gtest.h>

#include "shell/Constants.h"

TEST(Constants, JoinedNamesHaveNoStraySeparators) {
  EXPECT_EQ(tw::UninstallerExe, L"UninstTW.exe");
  EXPECT_EQ(tw::ProductKey, L"Software\\Tarnwhistle");
  EXPECT_EQ(tw::DefaultMessagePath, std::string("default\xFF" "message"));
  EXPECT_EQ(tw::DefaultMessagePath.size(), 15u);
  EXPECT_EQ(tw::DefaultArticlePath, std::string("default\xFF" "article"));
}

TEST(Constants, NamesDerivedFromTheModulePath) {
  const tw::ProgramNames plain = tw::DeriveProgramNames(L"C:\\Kit.v2\\Setup");
  EXPECT_EQ(plain.ProgramPath, L"C:\\KIT.V2\\SETUP");
  EXPECT_EQ(plain.ProgramFolder, L"c:\\kit.v2\\");
  EXPECT_EQ(plain.ProgramDatabase, L"C:\\KIT.V2\\SETUP.dbc");
  const tw::ProgramNames dotted = tw::DeriveProgramNames(L"C:\\kit\\setup.old.exe");
  EXPECT_EQ(dotted.ProgramDatabase, L"C:\\KIT\\SETUP.OLD.dbc");
  EXPECT_EQ(tw::Program().ProgramPath.empty(), false);
}

TEST(Constants, AboutTextUsesTwoBlanksAndABareLineFeed) {
  const std::wstring about = tw::AboutText(tw::SetupTitle);
  EXPECT_EQ(about.rfind(L"Tarnwhistle Setup  .9b2\n", 0), 0u);
  EXPECT_EQ(about.find(L'\r'), std::wstring::npos);
  EXPECT_EQ(about.substr(about.find(L'\n') + 1), tw::CopyrightNotice);
}
