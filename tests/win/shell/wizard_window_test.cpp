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
    After(form, 50, [&form, &seen] {
      // The task bar button comes from the loop, once the wizard is painted.
      const HWND button = static_cast<TWizardForm&>(form).TaskbarButton();
      if (IsWindowVisible(button) && (GetWindowLongW(button, GWL_EXSTYLE) & WS_EX_APPWINDOW))
        seen.TaskbarTitle = WindowText(button);
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

TEST(WizardWindows, CaptionSizeTaskbarTitleAndAboutBox) {
  struct Row {
    SeenWindow (*Show)(UiScript&, const std::wstring&);
    std::wstring ApplicationTitle;
    std::wstring Caption;
    SIZE Client;
    std::wstring AboutItem;
  };
  const Row rows[] = {
      {ShowAndLook<TSetupForm>, tw::SetupTitle, L"Tarnwhistle Setup", {457, 305}, L"About Setup..."},
      {ShowAndLook<TUninstWiz>, tw::UninstallTitle, L"Un-Install Wizard", {458, 305},
       L"About Uninstall..."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.Caption));
    UiScript script;
    const SeenWindow seen = row.Show(script, row.ApplicationTitle);
    EXPECT_EQ(seen.Caption, row.Caption);
    EXPECT_EQ(seen.Client.cx, row.Client.cx);
    EXPECT_EQ(seen.Client.cy, row.Client.cy);
    EXPECT_EQ(seen.LastMenuItem, row.AboutItem);
    EXPECT_TRUE(seen.SeparatorBeforeIt);
    // The task bar shows the application's title for the mode, not the wizard's caption.
    EXPECT_FALSE(seen.OwnTaskbarButton);
    EXPECT_EQ(seen.TaskbarTitle, row.ApplicationTitle);
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].Caption, L"About...");
    EXPECT_EQ(script.Boxes()[0].Text, row.ApplicationTitle + L"  .9b2\n" + tw::CopyrightNotice);
    EXPECT_EQ(script.Boxes()[0].Flags & 0xF, static_cast<UINT>(MB_OK));
  }
}
