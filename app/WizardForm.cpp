#include "app/WizardForm.h"

#include "app/Constants.h"
#include "app/win/UiSeam.h"

namespace {
TFormDesign WizardDesign(const std::wstring& caption, int clientWidth, int clientHeight) {
  TFormDesign design;
  design.Caption = caption;
  design.ClientWidth = clientWidth;
  design.ClientHeight = clientHeight;
  design.BorderStyle = bsSingle;
  design.ShowInTaskbar = true;
  return design;
}
}  // namespace

TWizardForm::TWizardForm(TForm* owner, const std::wstring& caption, int clientWidth,
                         int clientHeight, const std::wstring& aboutItem, std::wstring title)
    : TForm(owner, WizardDesign(caption, clientWidth, clientHeight)), title_(std::move(title)) {
  AddSystemMenuSeparator();
  AddSystemMenuItem(AboutCommand, aboutItem);
}

void TWizardForm::WMSysCommand(TSysCommand& command) {
  if (command.CmdType != AboutCommand) return;
  ShowMessageBox(Handle(), tw::AboutText(title_), L"About...", MB_OK);
  command.Handled = true;
}
