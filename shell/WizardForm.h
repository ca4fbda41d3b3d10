// What the setup and the uninstall wizard share: a fixed-size window whose task bar button
// shows the application's title, and an About item at the end of its system menu.
#pragma once

#include <string>

#include "shell/win/Forms.h"

class TWizardForm : public TForm {
 public:
  // `aboutItem` is the system-menu text; `title` opens the About box's text.
  TWizardForm(TForm* owner, const std::wstring& caption, int clientWidth, int clientHeight,
              const std::wstring& aboutItem, std::wstring title);

  static constexpr UINT AboutCommand = 4096;

  // The window that owns the task bar button while the wizard lives.
  HWND TaskbarButton() const { return TaskbarButton_.get(); }

 protected:
  void WMSysCommand(TSysCommand& command) override;
  void FormPainted() override;

 private:
  std::wstring Title_;
  UniqueWindow TaskbarButton_;
};
