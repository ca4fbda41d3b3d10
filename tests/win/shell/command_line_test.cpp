// The switches of an unattended run as the command line gives them.
#include <gtest/gtest.h>

#include "program/CommandLine.h"

TEST(CommandLine, SetupSwitchesInAnyCaseWithQuotedValues) {
  const TCommandLine line = ReadCommandLine(
      L"\"C:\\kit\\setup.exe\" /QUIET /Dir=\"C:\\My Programs\\TW\" \"/address=Jo <jo@x.net>\" "
      L"/host=smtp.x.net /NoGroup /log=\"C:\\logs\\setup log.txt\"",
      TMode::Setup);
  EXPECT_EQ(line.Error, L"");
  EXPECT_TRUE(line.Quiet);
  EXPECT_FALSE(line.Help);
  EXPECT_EQ(line.Dir, L"C:\\My Programs\\TW");
  EXPECT_EQ(line.Address, L"Jo <jo@x.net>");
  EXPECT_EQ(line.Host, L"smtp.x.net");
  EXPECT_TRUE(line.NoGroup);
  EXPECT_EQ(line.LogFile, L"C:\\logs\\setup log.txt");
  // A value keeps its own case and any further '='.
  EXPECT_EQ(ReadCommandLine(L"setup.exe /host=A=b", TMode::Setup).Host, L"A=b");
}

TEST(CommandLine, NothingGivenMeansTheWizardWithItsOwnValues) {
  const TCommandLine line = ReadCommandLine(L"setup.exe", TMode::Setup);
  EXPECT_EQ(line.Error, L"");
  EXPECT_FALSE(line.Quiet);
  EXPECT_FALSE(line.Dir.has_value());
  EXPECT_FALSE(line.Address.has_value());
  EXPECT_FALSE(line.Host.has_value());
  EXPECT_FALSE(line.NoGroup);
  EXPECT_EQ(line.LogFile, L"");
}

TEST(CommandLine, UninstallSwitchesAfterTheModesOwnArgument) {
  const TCommandLine viaSetup = ReadCommandLine(L"setup.exe -U /quiet /client", TMode::Uninstall);
  EXPECT_EQ(viaSetup.Error, L"");
  EXPECT_TRUE(viaSetup.Quiet);
  EXPECT_TRUE(viaSetup.ClientOnly);
  const TCommandLine direct = ReadCommandLine(L"\"C:\\tw\\UninstTW.exe\" /MIXMASTER /Quiet /log=x.log", TMode::Uninstall);
  EXPECT_EQ(direct.Error, L"");
  EXPECT_TRUE(direct.MixmasterOnly);
  EXPECT_FALSE(direct.ClientOnly);
  EXPECT_EQ(direct.LogFile, L"x.log");
  // "-u" is no switch where it did not choose the mode.
  EXPECT_NE(ReadCommandLine(L"UninstTW.exe /quiet -u", TMode::Uninstall).Error, L"");
  EXPECT_EQ(ReadCommandLine(L"UninstTW.exe /client -u", TMode::Uninstall).Ignored.size(), 1u);
}

TEST(CommandLine, HelpInBothSpellings) {
  EXPECT_TRUE(ReadCommandLine(L"setup.exe /?", TMode::Setup).Help);
  EXPECT_TRUE(ReadCommandLine(L"UninstTW.exe /HELP", TMode::Uninstall).Help);
  EXPECT_NE(UsageText().find(L"/dir=PATH"), std::wstring::npos);
  EXPECT_NE(UsageText().find(L"/mixmaster"), std::wstring::npos);
  EXPECT_NE(UsageText().find(L"6 cancelled"), std::wstring::npos);
}

// With /quiet a deployment tool learns that its command line is wrong; without it the
// wizard opens whatever else the command line holds, and the log says what was ignored.
TEST(CommandLine, QuietRunsRefuseWhatTheWizardIgnores) {
  struct Row {
    const wchar_t* Arguments;
    TMode Mode;
  };
  for (const Row& row : {Row{L"/silent", TMode::Setup},
                         Row{L"/S", TMode::Setup},
                         Row{L"/u", TMode::Setup},
                         Row{L"x -u", TMode::Setup},
                         Row{L"quiet", TMode::Setup},
                         Row{L"/dir", TMode::Setup},
                         Row{L"/dir=", TMode::Setup},
                         Row{L"/dir=\"\"", TMode::Setup},
                         Row{L"/address=", TMode::Setup},
                         Row{L"/host", TMode::Setup},
                         Row{L"/log", TMode::Setup},
                         Row{L"/quiet=yes", TMode::Setup},
                         Row{L"/nogroup=1", TMode::Setup},
                         Row{L"/client", TMode::Setup},
                         Row{L"/dir=C:\\x", TMode::Uninstall},
                         Row{L"/nogroup", TMode::Uninstall},
                         Row{L"/client /mixmaster", TMode::Uninstall},
                         Row{L"/client=yes", TMode::Uninstall}}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.Arguments)));
    const std::wstring program = row.Mode == TMode::Setup ? L"setup.exe " : L"UninstTW.exe ";
    const TCommandLine quiet = ReadCommandLine(program + L"/quiet " + row.Arguments, row.Mode);
    EXPECT_NE(quiet.Error, L"");
    const TCommandLine wizard = ReadCommandLine(program + row.Arguments + L" /log=x.log", row.Mode);
    EXPECT_EQ(wizard.Error, L"");
    ASSERT_FALSE(wizard.Ignored.empty());
    EXPECT_EQ(wizard.Ignored.front(), quiet.Error);
    EXPECT_EQ(wizard.LogFile, L"x.log") << "what is sound still counts";
  }
  EXPECT_EQ(ReadCommandLine(L"setup.exe /quiet /bogus", TMode::Setup).Error,
            L"unknown switch: /bogus");
  EXPECT_EQ(ReadCommandLine(L"setup.exe /Dir= /quiet", TMode::Setup).Error, L"missing value: /dir=...");
  // Both products named without /quiet: the wizard offers what it would offer anyway.
  const TCommandLine both = ReadCommandLine(L"UninstTW.exe /client /mixmaster", TMode::Uninstall);
  EXPECT_FALSE(both.ClientOnly || both.MixmasterOnly);
  EXPECT_TRUE(ReadCommandLine(L"setup.exe", TMode::Setup).Ignored.empty());
}
