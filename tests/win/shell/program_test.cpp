// Starts the real executable under several names and sees which wizard it opens.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../support/ScratchFolder.h"
#include "base/Handles.h"

namespace {

struct WindowSearch {
  DWORD ProcessId;
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
  if (process != search.ProcessId || search.Caption != caption) return TRUE;
  search.Found = window;
  search.Visible = IsWindowVisible(window);
  return FALSE;
}

WindowSearch FindWindowOf(DWORD processId, const std::wstring& caption) {
  WindowSearch search{processId, caption};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search;
}

// Copies the program as `name`, starts it with `arguments`, waits for a visible window of
// one of the two wizards, closes it and waits for the process to end. Answers the caption.
std::wstring OpenedWizard(const ScratchFolder& folder, const std::wstring& name,
                          const std::wstring& arguments) {
  // Each copy gets its own folder: names that differ in letter case are one file.
  static int runs = 0;
  const std::wstring place = folder / std::to_wstring(++runs);
  CreateDirectoryW(place.c_str(), nullptr);
  const std::wstring program = place + L"\\" + name;
  EXPECT_TRUE(CopyFileW(UnixToWine(TW_SETUP_EXE).c_str(), program.c_str(), FALSE));
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      place.c_str(), &startup, &info))
    return L"not started";
  UniqueKernelObject process(info.hProcess), thread(info.hThread);
  std::wstring opened = L"none";
  for (int i = 0; i < 300 && opened == L"none"; ++i) {
    for (const wchar_t* caption : {L"Tarnwhistle Setup", L"Un-Install Wizard"}) {
      WindowSearch wizard = FindWindowOf(info.dwProcessId, caption);
      if (wizard.Found && wizard.Visible) {
        opened = caption;
        WindowSearch main = FindWindowOf(info.dwProcessId, L"Tarnwhistle Setup/Remove");
        EXPECT_TRUE(main.Found) << "the main window exists";
        EXPECT_FALSE(main.Visible) << "and is never shown";
        PostMessageW(wizard.Found, WM_CLOSE, 0, 0);
      }
    }
    if (opened == L"none") Sleep(100);
  }
  EXPECT_EQ(WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0) << "ends when the wizard closes";
  DWORD exitCode = 1;
  GetExitCodeProcess(process.get(), &exitCode);
  EXPECT_EQ(exitCode, 0u);
  return opened;
}

}  // namespace

TEST(Program, OpensTheWizardItsNameAndFirstArgumentChoose) {
  ScratchFolder folder(L"program");
  EXPECT_EQ(OpenedWizard(folder, L"setup.exe", L""), L"Tarnwhistle Setup");
  EXPECT_EQ(OpenedWizard(folder, L"SETUP.EXE", L"x -u"), L"Tarnwhistle Setup");
  EXPECT_EQ(OpenedWizard(folder, L"setup.exe", L"-U"), L"Un-Install Wizard");
  EXPECT_EQ(OpenedWizard(folder, L"setup1.exe", L""), L"Un-Install Wizard");
  EXPECT_EQ(OpenedWizard(folder, L"UninstTW.exe", L"setup"), L"Un-Install Wizard");
}
