// Programs running from a folder, found by the folder's identity; the question the
// wizards ask while the client runs.
#include <windows.h>

#include <gtest/gtest.h>

#include "../support/ScratchFolder.h"
#include "../support/UiScript.h"
#include "base/Handles.h"
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
