// The notice that ends a removal of the client: its texts, its place over the wizard, and
// the button that opens the home directory in a shell window.
#include <gtest/gtest.h>

#include <set>

#include "base/Handles.h"
#include "base/Text.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/UninstDirDlgs.h"

namespace {

bool IsExplorer(DWORD processId) {
  UniqueKernelObject process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, path, &size)) return false;
  return LocaleLower(ExtractFileName(std::wstring(path, size))) == L"explorer.exe";
}

// The visible top-level windows of the shell's processes (other suites run beside this
// one: their windows are none of this test's business).
std::set<HWND> ShellWindows() {
  std::set<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM found) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (IsWindowVisible(window) && IsExplorer(process))
          reinterpret_cast<std::set<HWND>*>(found)->insert(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// Closes a shell window this test opened and makes sure its process is gone, so that
// nothing of the test outlives it.
void CloseShellWindow(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  UniqueKernelObject process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
  PostMessageW(window, WM_CLOSE, 0, 0);
  if (process && WaitForSingleObject(process.get(), 5000) != WAIT_OBJECT_0)
    TerminateProcess(process.get(), 0);
}

POINT Centre(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

}  // namespace

TEST(CleanupNotice, ShowsTheHomeInLowerCaseAndKeepsItAsRecorded) {
  UiScript script;
  TForm wizard(nullptr, {.Caption = L"Un-Install Wizard", .ClientWidth = 458, .ClientHeight = 305});
  const std::wstring home = L"C:\\Program Files\\Tarnwhistle Mail\\";
  script.OnModal([&](TForm& form) {
    auto& notice = dynamic_cast<TUninstDirDlg&>(form);
    EXPECT_EQ(notice.Caption(), L"Tarnwhistle Uninstall");
    EXPECT_EQ(notice.Owner(), &wizard);
    EXPECT_EQ(notice.OpenDirBtn.Text(), L"Open : c:\\program files\\tarnwhistle mail\\");
    EXPECT_EQ(notice.HomeDir, home);
    EXPECT_EQ(notice.Label2.Text(), L"!!! VERY IMPORTANT !!!");
    const POINT centre = Centre(notice.Handle()), wizardCentre = Centre(wizard.Handle());
    EXPECT_NEAR(centre.x, wizardCentre.x, 1);
    EXPECT_NEAR(centre.y, wizardCentre.y, 1);
    After(form, 100, [&form] { SendMessageW(form.Handle(), WM_CLOSE, 0, 0); });  // the close box
  });
  ShowCleanupNotice(home, &wizard);
  EXPECT_EQ(script.ModalCaptions().size(), 1u);
  EXPECT_TRUE(IsWindowEnabled(wizard.Handle()));
}

TEST(CleanupNotice, OpenOpensAShellWindowAndTheNoticeStays) {
  UiScript script;
  ScratchFolder scratch(L"notice");
  const std::wstring home = scratch.Path() + L"\\";
  std::set<HWND> opened;
  bool stayedOpen = false;
  script.OnModal([&](TForm& form) {
    After(form, 100, [&] {
      const std::set<HWND> before = ShellWindows();
      Press(form, L"OpenDirBtn");
      for (int i = 0; i < 100 && opened.empty(); ++i) {
        PumpMessagesFor(100);
        for (HWND window : ShellWindows())
          if (!before.count(window)) opened.insert(window);
      }
      stayedOpen = form.ModalResult() == mrNone && IsWindowVisible(form.Handle());
      for (HWND window : opened) CloseShellWindow(window);
      Press(form, L"OkBtn");
    });
  });
  ShowCleanupNotice(home, nullptr);
  EXPECT_TRUE(stayedOpen);
  EXPECT_FALSE(opened.empty()) << "no shell window opened on " << Narrow(home);
}
