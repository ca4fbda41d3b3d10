#include <gtest/gtest.h>

#include "program/SetupMain.h"

TEST(ParamStr, SplitsAtBlanksAndGroupsQuotes) {
  const std::wstring line = L"\"C:\\Program Files\\setup.exe\"  -u\tsecond \"a b\"c";
  EXPECT_EQ(ParamStr(line, 0), L"C:\\Program Files\\setup.exe");
  EXPECT_EQ(ParamStr(line, 1), L"-u");
  EXPECT_EQ(ParamStr(line, 2), L"second");
  EXPECT_EQ(ParamStr(line, 3), L"a bc");
  EXPECT_EQ(ParamStr(line, 4), L"");
  EXPECT_EQ(ParamStr(L"setup.exe \"-u \"", 1), L"-u ");
}

TEST(DecideMode, FollowsTheFileNameAndTheFirstArgument) {
  struct Row {
    const wchar_t* Module;
    const wchar_t* CommandLine;
    TMode Mode;
  };
  const Row rows[] = {
      {L"C:\\kit\\setup.exe", L"setup.exe", TMode::Setup},
      {L"C:\\KIT\\SETUP.EXE", L"SETUP.EXE", TMode::Setup},
      {L"C:\\kit\\Setup.exe", L"Setup.exe -u", TMode::Uninstall},
      {L"C:\\kit\\setup.exe", L"setup.exe -U", TMode::Uninstall},
      {L"C:\\kit\\setup.exe", L"setup.exe /u", TMode::Setup},
      {L"C:\\kit\\setup.exe", L"setup.exe x -u", TMode::Setup},
      {L"C:\\kit\\setup.exe", L"setup.exe \"-u \"", TMode::Setup},
      {L"C:\\tw\\UninstTW.exe", L"UninstTW.exe", TMode::Uninstall},
      {L"C:\\tw\\UninstTW.exe", L"UninstTW.exe anything", TMode::Uninstall},
      {L"C:\\kit\\setup1.exe", L"setup1.exe", TMode::Uninstall},
      {L"C:\\kit\\setup.exe.bak", L"setup.exe.bak", TMode::Uninstall},
      {L"C:\\setup.exe\\tool.exe", L"tool.exe", TMode::Uninstall},
  };
  for (const Row& row : rows)
    EXPECT_EQ(DecideMode(row.Module, ParamStr(row.CommandLine, 1)), row.Mode)
        << "module " << testing::PrintToString(std::wstring(row.Module)) << ", command line "
        << testing::PrintToString(std::wstring(row.CommandLine));
}
