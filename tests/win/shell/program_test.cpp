// Starts the real executable under several names and sees which wizard it opens.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../support/ScratchFolder.h"
#include "base/Handles.h"

namespace {

struct WindowSearch {
  DWORD ProcessId;  // 0: any process but this one
  std::wstring Caption;
  HWND Found = nullptr;
  bool Visible = false;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<WindowSearch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t caption[256] = {};
  GetWindowTextW(window, caption, 256);
  const bool ours = search.ProcessId ? process == search.ProcessId : process != GetCurrentProcessId();
  if (!ours || search.Caption != caption) return TRUE;
  search.Found = window;
  search.Visible = IsWindowVisible(window);
  return FALSE;
}

WindowSearch FindWindowOf(DWORD processId, const std::wstring& caption) {
  WindowSearch search{processId, caption};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search;
}

DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

// Copies the program as `name` into a folder of its own (names that differ in letter case
// are one file) and starts it with `arguments`.
struct Started {
  UniqueKernelObject Process;
  DWORD Id = 0;
};
Started StartCopy(const ScratchFolder& folder, const std::wstring& name,
                  const std::wstring& arguments) {
  static int runs = 0;
  const std::wstring place = folder / std::to_wstring(++runs);
  CreateDirectoryW(place.c_str(), nullptr);
  const std::wstring program = place + L"\\" + name;
  EXPECT_TRUE(CopyFileW(UnixToWine(TW_SETUP_EXE).c_str(), program.c_str(), FALSE));
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      place.c_str(), &startup, &info))
    return {};
  UniqueKernelObject thread(info.hThread);
  return {UniqueKernelObject(info.hProcess), info.dwProcessId};
}

// Waits for the process to end; answers its exit code, or -1 when it did not end.
int ExitCodeOf(const Started& started, DWORD waitMs = 20000) {
  if (!started.Process || WaitForSingleObject(started.Process.get(), waitMs) != WAIT_OBJECT_0)
    return -1;
  DWORD code = 0;
  GetExitCodeProcess(started.Process.get(), &code);
  return static_cast<int>(code);
}

void ForgetInstallations() {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwhistle");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Mixmaster");
}

// Starts a copy named `name` with `arguments`, waits for a visible window of one of the two
// wizards (the uninstaller shows its own from a temporary copy of itself), closes it and
// waits for the process to end with `exitCode`. Answers the caption.
std::wstring OpenedWizard(const ScratchFolder& folder, const std::wstring& name,
                          const std::wstring& arguments, int exitCode) {
  const Started started = StartCopy(folder, name, arguments);
  if (!started.Process) return L"not started";
  std::wstring opened = L"none";
  for (int i = 0; i < 300 && opened == L"none"; ++i) {
    for (const wchar_t* caption : {L"Tarnwhistle Setup", L"Un-Install Wizard"}) {
      WindowSearch wizard = FindWindowOf(0, caption);
      if (wizard.Found && wizard.Visible) {
        opened = caption;
        WindowSearch main = FindWindowOf(ProcessOf(wizard.Found), L"Tarnwhistle Setup/Remove");
        EXPECT_TRUE(main.Found) << "the main window exists";
        EXPECT_FALSE(main.Visible) << "and is never shown";
        PostMessageW(wizard.Found, WM_CLOSE, 0, 0);
      }
    }
    if (opened == L"none") Sleep(100);
  }
  EXPECT_EQ(ExitCodeOf(started), exitCode) << "ends when the wizard closes, with its exit code";
  return opened;
}

}  // namespace

// Closed on its Start page, setup was cancelled (6); with nothing installed the uninstaller
// had nothing to do (3).
TEST(Program, OpensTheWizardItsNameAndFirstArgumentChoose) {
  ForgetInstallations();
  ScratchFolder folder(L"program");
  EXPECT_EQ(OpenedWizard(folder, L"setup.exe", L"", 6), L"Tarnwhistle Setup");
  EXPECT_EQ(OpenedWizard(folder, L"SETUP.EXE", L"/nogroup", 6), L"Tarnwhistle Setup");
  EXPECT_EQ(OpenedWizard(folder, L"setup.exe", L"-U", 3), L"Un-Install Wizard");
  EXPECT_EQ(OpenedWizard(folder, L"setup1.exe", L"", 3), L"Un-Install Wizard");
  EXPECT_EQ(OpenedWizard(folder, L"UninstTW.exe", L"/LOG=run.log", 3), L"Un-Install Wizard");
}

TEST(Program, ExitCodesOfTheUnattendedRuns) {
  ForgetInstallations();
  ScratchFolder folder(L"program-codes");
  EXPECT_EQ(ExitCodeOf(StartCopy(folder, L"setup.exe", L"/quiet /bogus")), 2);
  EXPECT_EQ(ExitCodeOf(StartCopy(folder, L"setup.exe", L"/quiet /dir")), 2);
  EXPECT_EQ(ExitCodeOf(StartCopy(folder, L"setup.exe", L"/quiet /dir=relative")), 2);
  EXPECT_EQ(ExitCodeOf(StartCopy(folder, L"UninstTW.exe", L"/quiet /nogroup")), 2);
  EXPECT_EQ(ExitCodeOf(StartCopy(folder, L"setup.exe", L"-u /quiet")), 3);
  // The uninstaller's first process passes its copy's code on.
  EXPECT_EQ(ExitCodeOf(StartCopy(folder, L"UninstTW.exe", L"/Quiet /log=run.log")), 3);
}

TEST(Program, OneRunAtATime) {
  ForgetInstallations();
  ScratchFolder folder(L"program-once");
  const Started first = StartCopy(folder, L"setup.exe", L"");
  WindowSearch wizard;
  for (int i = 0; i < 300 && !wizard.Visible; ++i) {
    wizard = FindWindowOf(first.Id, L"Tarnwhistle Setup");
    if (!wizard.Visible) Sleep(100);
  }
  ASSERT_TRUE(wizard.Visible);
  // A quiet run waits for the run going on, as a deployment tool's next command would want;
  // a second wizard ends at once.
  const Started waiting = StartCopy(folder, L"UninstTW.exe", L"/quiet");
  EXPECT_EQ(ExitCodeOf(StartCopy(folder, L"setup.exe", L"")), 5);
  PostMessageW(wizard.Found, WM_CLOSE, 0, 0);
  EXPECT_EQ(ExitCodeOf(first), 6);
  EXPECT_EQ(ExitCodeOf(waiting), 3) << "the quiet run went on once the wizard had closed";
}
