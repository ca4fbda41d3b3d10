#include "shell/WizardForm.h"

#include "shell/Constants.h"
#include "shell/win/UiSeam.h"

TWizardForm::TWizardForm(TForm* owner, const std::wstring& caption, int clientWidth,
                         int clientHeight, const std::wstring& aboutItem, std::wstring title)
    : TForm(owner, {.Caption = caption,
                    .ClientWidth = clientWidth,
                    .ClientHeight = clientHeight,
                    .BorderStyle = bsSingle,
                    .ShowInTaskbar = true}),
      title_(std::move(title)) {
  AddSystemMenuSeparator();
  AddSystemMenuItem(AboutCommand, aboutItem);
}

void TWizardForm::WMSysCommand(TSysCommand& command) {
  if (command.CmdType != AboutCommand) return;
  ShowMessageBox(Handle(), tw::AboutText(title_), L"About...", MB_OK | MB_USERICON);
  command.Handled = true;
}
