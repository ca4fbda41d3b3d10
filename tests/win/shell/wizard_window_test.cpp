// The two wizard windows as the start-up opens them: caption, client size, task bar button
// and the About item at the end of the system menu.
#include <windows.h>

#include <gtest/gtest.h>

#include "../support/UiScript.h"
#include "shell/Constants.h"
#include "setup/SetupDlg.h"
#include "uninstall/UninstDlg.h"

namespace {

struct SeenWindow {
  std::wstring Caption;
  SIZE Client = {};
  std::wstring LastMenuItem;
  bool SeparatorBeforeIt = false;
  bool OwnTaskbarButton = false;
  std::wstring TaskbarTitle;
};

std::wstring MenuItemText(HMENU menu, int position) {
  wchar_t text[128] = {};
  GetMenuStringW(menu, static_cast<UINT>(position), text, 128, MF_BYPOSITION);
  return text;
}

// Shows the wizard modally, looks at it, opens its About box and closes it.
template <class Wizard>
SeenWindow ShowAndLook(UiScript& script, const std::wstring& applicationTitle) {
  Application.SetTitle(applicationTitle);
  SeenWindow seen;
  script.Answer(IDOK);  // the About box
  script.OnModal([&](TForm& form) {
    seen.Caption = form.Caption();
    RECT client;
    GetClientRect(form.Handle(), &client);
    seen.Client = {client.right * 96 / static_cast<LONG>(form.Dpi()),
                   client.bottom * 96 / static_cast<LONG>(form.Dpi())};
    HMENU menu = GetSystemMenu(form.Handle(), FALSE);
    const int count = GetMenuItemCount(menu);
    seen.LastMenuItem = MenuItemText(menu, count - 1);
    seen.SeparatorBeforeIt = GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR;
    seen.OwnTaskbarButton = GetWindowLongW(form.Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW;
    const HWND button = dynamic_cast<TWizardForm&>(form).TaskbarButton();
    if (IsWindowVisible(button) && (GetWindowLongW(button, GWL_EXSTYLE) & WS_EX_APPWINDOW))
      seen.TaskbarTitle = WindowText(button);
    After(form, 50, [&form] {
      SendMessageW(form.Handle(), WM_SYSCOMMAND, TWizardForm::AboutCommand, 0);
      form.Close();
    });
  });
  // Owned, as start-up owns it by the hidden main window.
  TForm owner(nullptr, {.Caption = L"Main"});
  Wizard wizard(&owner);
  wizard.ShowModal();
  return seen;
}

}  // namespace

TEST(WizardWindows, SetupWindowAndItsAboutBox) {
  UiScript script;
  const SeenWindow seen = ShowAndLook<TSetupForm>(script, tw::SetupTitle);
  EXPECT_EQ(seen.Caption, L"Tarnwhistle Setup");
  EXPECT_EQ(seen.Client.cx, 457);
  EXPECT_EQ(seen.Client.cy, 305);
  EXPECT_EQ(seen.LastMenuItem, L"About Setup...");
  EXPECT_TRUE(seen.SeparatorBeforeIt);
  // The task bar shows the application's title, not the wizard's caption.
  EXPECT_FALSE(seen.OwnTaskbarButton);
  EXPECT_EQ(seen.TaskbarTitle, L"Tarnwhistle Setup");
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Caption, L"About...");
  EXPECT_EQ(script.Boxes()[0].Text, L"Tarnwhistle Setup  .9b2\n" + tw::CopyrightNotice);
  EXPECT_EQ(script.Boxes()[0].Flags & 0xF, static_cast<UINT>(MB_OK));
}

TEST(WizardWindows, UninstallWindowAndItsAboutBox) {
  UiScript script;
  const SeenWindow seen = ShowAndLook<TUninstWiz>(script, tw::UninstallTitle);
  EXPECT_EQ(seen.Caption, L"Un-Install Wizard");
  EXPECT_EQ(seen.Client.cx, 458);
  EXPECT_EQ(seen.Client.cy, 305);
  EXPECT_EQ(seen.LastMenuItem, L"About Uninstall...");
  EXPECT_FALSE(seen.OwnTaskbarButton);
  EXPECT_EQ(seen.TaskbarTitle, L"Tarnwhistle Uninstall");
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Text, L"Tarnwhistle Uninstall  .9b2\n" + tw::CopyrightNotice);
}
