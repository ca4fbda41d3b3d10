// Programs running from a folder, found by the folder's identity; the question the
// wizards ask while the client runs, and while another program holds a file.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "../support/ScratchFolder.h"
#include "../support/UiScript.h"
#include "base/Handles.h"
#include "shell/RunLog.h"
#include "shell/RunningPrograms.h"
#include "shell/SysUtils.h"

namespace {

// A copy of a program that stays open until it is ended, started from `folder`.
class RunningCopy {
 public:
  explicit RunningCopy(const std::wstring& folder) {
    const std::wstring program = folder + L"\\TW.exe";
    EXPECT_TRUE(CopyFileW((WindowsDirectory() + L"\\notepad.exe").c_str(), program.c_str(), FALSE));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    std::wstring commandLine = L"\"" + program + L"\"";
    PROCESS_INFORMATION info = {};
    EXPECT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, folder.c_str(), &startup, &info));
    Process_.reset(info.hProcess);
    UniqueKernelObject thread(info.hThread);
    Id_ = info.dwProcessId;
    WaitForInputIdle(Process_.get(), 5000);
  }
  ~RunningCopy() { End(); }
  void End() {
    if (!Process_) return;
    TerminateProcess(Process_.get(), 0);
    WaitForSingleObject(Process_.get(), 5000);
    Process_.reset();
  }
  DWORD Id() const { return Id_; }

 private:
  UniqueKernelObject Process_;
  DWORD Id_ = 0;
};

}  // namespace

TEST(RunningPrograms, AProgramStartedFromTheFolderIsFoundUntilItEnds) {
  ScratchFolder scratch(L"running");
  const std::wstring home = scratch / L"home";
  const std::wstring other = scratch / L"other";
  ASSERT_TRUE(CreateDirectoryW(home.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
  EXPECT_FALSE(ProgramRunningFrom(home));
  RunningCopy client(home);
  EXPECT_TRUE(ProgramRunningFrom(home));
  EXPECT_TRUE(ProgramRunningFrom(ShortPathName(home) + L"\\"));
  EXPECT_FALSE(ProgramRunningFrom(other));
  EXPECT_FALSE(ProgramRunningFrom(scratch.Path())) << "only programs directly in the folder";
  EXPECT_FALSE(ProgramRunningFrom(home, {client.Id()})) << "a process the caller names is left out";
  EXPECT_FALSE(ProgramRunningFrom(scratch / L"missing"));
  client.End();
  EXPECT_FALSE(ProgramRunningFrom(home));
}

TEST(RunningPrograms, TheQuestionRepeatsUntilTheClientIsClosedOrTheUserCancels) {
  ScratchFolder scratch(L"running-question");
  const std::wstring home = scratch / L"home";
  ASSERT_TRUE(CreateDirectoryW(home.c_str(), nullptr));
  RunningCopy client(home);
  {
    UiScript script;
    script.Answer(IDRETRY).Answer(IDCANCEL);
    EXPECT_FALSE(WaitUntilClientClosed(nullptr, home));
    ASSERT_EQ(script.Boxes().size(), 2u);
    EXPECT_EQ(script.Boxes()[0].Text, L"Tarnwhistle is running. Close it, then click Retry.");
    EXPECT_EQ(script.Boxes()[0].Caption, L"Tarnwhistle");
    EXPECT_EQ(script.Boxes()[0].Flags & MB_TYPEMASK, static_cast<UINT>(MB_RETRYCANCEL));
  }
  {
    UiScript script;
    // The user closes the client, then clicks Retry.
    script.Answer([&](const BoxRecord&) {
      client.End();
      return IDRETRY;
    });
    EXPECT_TRUE(WaitUntilClientClosed(nullptr, home));
    EXPECT_EQ(script.Boxes().size(), 1u);
  }
  UiScript none;
  EXPECT_TRUE(WaitUntilClientClosed(nullptr, home));
  EXPECT_TRUE(none.Boxes().empty()) << "nothing runs: no question";
}

// A file that another program holds: the wizards' question until the holder lets go or the
// user cancels; the unattended run tries again for its time, then gives up with a line that
// names the file and the reason. A file that is free, or not there, is no question.
TEST(RunningPrograms, AFileInUseIsAskedAboutOrWaitedFor) {
  ScratchFolder scratch(L"in-use");
  const std::wstring file = scratch / L"TW.exe";
  ASSERT_TRUE(WriteTextFile(file, "client"));
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueHandle holder(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(OpenFileError(file, DELETE, share), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  {
    UiScript script;
    script.Answer(IDRETRY).Answer([&](const BoxRecord&) {
      holder.reset();
      return IDRETRY;
    });
    EXPECT_EQ(WaitUntilFileFree(file, DELETE, share, {.Ask = true}), 0u);
    ASSERT_EQ(script.Boxes().size(), 2u);
    const BoxRecord& box = script.Boxes()[0];
    const std::wstring question = file + L" is in use by another program. Close it, then click Retry.";
    EXPECT_EQ(box.Text.substr(0, question.size()), question);
    EXPECT_EQ(box.Caption, L"Tarnwhistle");
    EXPECT_EQ(box.Flags & MB_TYPEMASK, static_cast<UINT>(MB_RETRYCANCEL));
  }
  holder.reset(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  {
    UiScript script;
    script.Answer(IDCANCEL);
    EXPECT_EQ(WaitUntilFileFree(file, DELETE, share, {.Ask = true}),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  const std::wstring log = scratch / L"run.log";
  ASSERT_TRUE(OpenRunLog(log));
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(WaitUntilFileFree(file, DELETE, share, {.WaitMs = 1200}),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_GE(GetTickCount64() - start, 1200u);
  CloseRunLog();
  std::ifstream in(Narrow(log).c_str(), std::ios::binary);
  const std::string logged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(logged.find(Narrow(file) + " in use by "), std::string::npos) << logged;
  EXPECT_NE(logged.find(Narrow(SystemErrorLine(ERROR_SHARING_VIOLATION))), std::string::npos) << logged;
  holder.reset();
  UiScript none;
  EXPECT_EQ(WaitUntilFileFree(file, DELETE, share, {.Ask = true}), 0u);
  EXPECT_EQ(WaitUntilFileFree(scratch / L"missing.exe", DELETE, share, {.Ask = true}), 0u);
}
