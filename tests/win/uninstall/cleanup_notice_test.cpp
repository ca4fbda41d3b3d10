// The notice that ends a removal of the client: its texts, its place over the wizard, and
// the button that opens the home directory in a shell window.
#include <gtest/gtest.h>

#include <set>

#include "base/Text.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/UninstDirDlgs.h"

namespace {

// The visible top-level windows of other processes.
std::set<HWND> ForeignWindows() {
  std::set<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM found) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() && IsWindowVisible(window))
          reinterpret_cast<std::set<HWND>*>(found)->insert(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
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
      const std::set<HWND> before = ForeignWindows();
      Press(form, L"OpenDirBtn");
      for (int i = 0; i < 100 && opened.empty(); ++i) {
        PumpMessagesFor(100);
        for (HWND window : ForeignWindows())
          if (!before.count(window)) opened.insert(window);
      }
      stayedOpen = form.ModalResult() == mrNone && IsWindowVisible(form.Handle());
      for (HWND window : opened) PostMessageW(window, WM_CLOSE, 0, 0);
      Press(form, L"OkBtn");
    });
  });
  ShowCleanupNotice(home, nullptr);
  EXPECT_TRUE(stayedOpen);
  EXPECT_FALSE(opened.empty()) << "no shell window opened on " << Narrow(home);
}
