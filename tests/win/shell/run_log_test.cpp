// The run's log: appended to, one line per item with its result, the exit code last.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/ScratchFolder.h"
#include "base/WideText.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"

namespace {

// The log's lines without their time stamps ("2026-12-08 18:04:05 ").
std::vector<std::string> LogLines(const std::wstring& file) {
  std::ifstream in(Utf8FromWide(file).c_str(), std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "lines end in CR LF: " << line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EXPECT_GT(line.size(), 20u);
    EXPECT_EQ(line[4], '-');
    EXPECT_EQ(line[13], ':');
    lines.push_back(line.size() > 20 ? line.substr(20) : line);
  }
  return lines;
}

}  // namespace

TEST(RunLog, AppendsLinesWithResultsAndTheExitCodeLast) {
  ScratchFolder folder(L"runlog");
  const std::wstring file = folder / L"setup log.txt";
  LogLine(L"nothing is written while no log is open");
  ASSERT_TRUE(OpenRunLog(file));
  LogLine(L"first run");
  LogResult(L"copy a to b", true);
  LogResult(L"copy c to d", false, ERROR_ACCESS_DENIED);
  LogExitCode(TExitCode::StepFailed);
  CloseRunLog();
  EXPECT_FALSE(RunLogOpen());
  LogLine(L"nor after it closed");
  ASSERT_TRUE(OpenRunLog(file));
  LogExitCode(TExitCode::ClientRunning);
  CloseRunLog();

  const std::vector<std::string> lines = LogLines(file);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "first run");
  EXPECT_EQ(lines[1], "copy a to b: done");
  EXPECT_EQ(lines[2].rfind("copy c to d: failed (", 0), 0u) << lines[2];
  EXPECT_EQ(lines[2].back(), ')');
  EXPECT_EQ(lines[3], "exit code 1: a step failed");
  EXPECT_EQ(lines[4], "exit code 4: Tarnwhistle is running; nothing was changed");
}

TEST(RunLog, EveryRegistryWriteAndDeletionIsAnItem) {
  ScratchFolder folder(L"runlog-registry");
  const std::wstring file = folder / L"log.txt";
  const std::wstring key = L"Software\\TarnwhistleTest\\RunLog";
  ASSERT_TRUE(OpenRunLog(file));
  {
    TRegistryKey written = TRegistryKey::Create(key);
    EXPECT_TRUE(written.WriteString(L"Name", L"Value"));
    EXPECT_TRUE(written.WriteInteger(L"Number", 7));
  }
  EXPECT_TRUE(DeleteRegistryTree(L"Software\\TarnwhistleTest"));
  CloseRunLog();
  EXPECT_EQ(LogLines(file),
            (std::vector<std::string>{
                "registry value HKCU\\Software\\TarnwhistleTest\\RunLog\\Name = Value: done",
                "registry value HKCU\\Software\\TarnwhistleTest\\RunLog\\Number = 7: done",
                "registry key HKCU\\Software\\TarnwhistleTest deleted: done"}));
}

TEST(RunLog, ALogThatCannotBeOpenedIsReported) {
  EXPECT_FALSE(OpenRunLog(L"Q:\\no such folder\\\\log.txt"));
  EXPECT_FALSE(RunLogOpen());
}

TEST(ExitCodes, EachHasItsNumberAndItsOwnMeaning) {
  const std::vector<std::pair<TExitCode, int>> codes = {
      {TExitCode::Done, 0},         {TExitCode::StepFailed, 1},    {TExitCode::BadCommandLine, 2},
      {TExitCode::NothingToDo, 3},  {TExitCode::ClientRunning, 4}, {TExitCode::AlreadyRunning, 5},
      {TExitCode::Cancelled, 6}};
  std::vector<std::wstring> meanings;
  for (const auto& [code, number] : codes) {
    EXPECT_EQ(static_cast<int>(code), number);
    const std::wstring meaning = ExitCodeMeaning(code);
    EXPECT_FALSE(meaning.empty());
    EXPECT_EQ(std::find(meanings.begin(), meanings.end(), meaning), meanings.end()) << number;
    meanings.push_back(meaning);
  }
  EXPECT_EQ(ExitCodeMeaning(TExitCode::Done), L"done");
}
