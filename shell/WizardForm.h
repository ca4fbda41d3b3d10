// What the setup and the uninstall wizard share: a fixed-size window whose task bar button
// shows the application's title, an About item at the end of its system menu, and the
// buttons' captions and keyboard roles.
#pragma once

#include <string>

#include "shell/win/Controls.h"

// The wizards' buttons with their accelerators. Code that asks which caption a button shows
// compares its ShownText, without them.
inline constexpr wchar_t BackCaption[] = L"&Back";
inline constexpr wchar_t NextCaption[] = L"&Next";
inline constexpr wchar_t ExitCaption[] = L"E&xit";

class TWizardForm : public TForm {
 public:
  // `aboutItem` is the system-menu text; `title` opens the About box's text.
  TWizardForm(TForm* owner, const std::wstring& caption, int clientWidth, int clientHeight,
              const std::wstring& aboutItem, std::wstring title);

  static constexpr UINT AboutCommand = 4096;

  // The window that owns the task bar button while the wizard lives.
  HWND TaskbarButton() const { return TaskbarButton_.get(); }

  // The work is done: the cancel button becomes Exit, the way out, which Enter presses as
  // well as Esc, and the keyboard is on it.
  static void OfferExit(TButton& next, TButton& exit);

 protected:
  void WMSysCommand(TSysCommand& command) override;
  void FormPainted() override;

 private:
  std::wstring Title_;
  UniqueWindow TaskbarButton_;
};
