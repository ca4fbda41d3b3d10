// The notice that ends a removal of the client: its texts, its place over the wizard, the
// button that opens the home directory in a shell window, its keyboard and its layout.
#include <gtest/gtest.h>

#include "base/Text.h"
#include "UninstallFixture.h"
#include "tests/win/support/KeyboardAndText.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/UninstDirDlgs.h"

namespace {

POINT Centre(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

}  // namespace

TEST(CleanupNotice, ShowsTheHomeInLowerCaseAndKeepsItAsRecorded) {
  UiScript script;
  TForm wizard(nullptr, {.Caption = L"Un-Install Wizard", .ClientWidth = 458, .ClientHeight = 305});
  const std::wstring home = L"C:\\Program Files\\Tarnwhistle Mail & News\\";
  script.OnModal([&](TForm& form) {
    auto& notice = static_cast<TUninstDirDlg&>(form);
    EXPECT_EQ(notice.Caption(), L"Tarnwhistle Uninstall");
    EXPECT_EQ(notice.Owner(), &wizard);
    EXPECT_EQ(notice.OpenDirBtn.ShownText(), L"Open : c:\\program files\\tarnwhistle mail & news\\");
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
      opened = CloseShellWindowsOpenedBy([&] { Press(form, L"OpenDirBtn"); });
      stayedOpen = form.ModalResult() == mrNone && IsWindowVisible(form.Handle());
      Press(form, L"OkBtn");
    });
  });
  ShowCleanupNotice(home, nullptr);
  EXPECT_TRUE(stayedOpen);
  EXPECT_FALSE(opened.empty()) << "no shell window opened on " << Narrow(home);
}

TEST(CleanupNotice, OkHasTheKeyboardAndEveryTextFitsOnEveryDisplay) {
  const std::wstring home = L"C:\\Users\\Somebody\\Applications\\A mail client with a long name\\";
  OnEveryDisplay([&](const TDisplay& display) {
    UiScript script;
    script.OnModal([&](TForm& form) {
      After(form, 100, [&] {
        EXPECT_EQ(TabOrder(form), (std::vector<std::wstring>{L"OkBtn", L"OpenDirBtn"}));
        ExpectAccelerators(form, "notice");
        ExpectLayoutHolds(form, display, L"notice");
        PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);  // Ok
      });
    });
    ShowCleanupNotice(home, nullptr);
    EXPECT_EQ(script.ModalCaptions().size(), 1u);
  });
}
