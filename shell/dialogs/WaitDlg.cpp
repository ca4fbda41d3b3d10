#include "shell/dialogs/WaitDlg.h"

#include "shell/Constants.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

namespace {

constexpr int kTicks = 6;

}  // namespace

TWaitForm::TWaitForm(TForm* owner)
    : TForm(owner,
            {.Caption = L"Installing", .ClientWidth = 257, .ClientHeight = 107, .SystemMenu = false}),
      CancelBtn(*this, L"CancelBtn", L"Cancel", {91, 74, 75, 25}),
      Panel1(*this, L"Panel1", L"", {8, 8, 241, 57}),
      Message(Panel1, L"Message", L"...wait...", {8, 20, 225, 18}, taCenter),
      Timer1(*this) {
  CancelBtn.SetEnabled(false);
  CancelBtn.SetModalResult(mrCancel);
  CancelBtn.SetCancel(true);
  Panel1.SetBevel(bvLowered);
  Message.SetFont(NoticeFont());
  Timer1.OnTimer = [this] { Timer1Timer(); };
  Timer1.SetEnabled(true);  // the countdown runs from creation on
}

void TWaitForm::Timer1Timer() {
  if (Timer1.Tag() == 0) {
    // The first second is over: the message shows and Cancel becomes possible, with the
    // keyboard on it.
    Timer1.SetEnabled(false);
    CancelBtn.SetEnabled(true);
    CancelBtn.SetFocus();
    Message.SetText(WaitMessage);
    Timer1.SetInterval(500);
    Timer1.SetTag(1);
    Timer1.SetEnabled(true);
  } else {
    ++TickCount;
  }
  if (TickCount >= kTicks) SetModalResult(mrOk);
}

void TWaitForm::FormCloseQuery(bool& canClose) {
  Timer1.SetEnabled(false);  // the countdown pauses while the user is asked
  if (ModalResult() != mrCancel) return;
  if (ShowMessageBox(Handle(), L"Cancel process?", tw::ProductName, MB_YESNO) == IDNO) {
    Timer1.SetEnabled(true);
    canClose = false;
  }
}

bool ShowWaitDialog(const std::wstring& caption, const std::wstring& message, TForm* owner) {
  TWaitForm form(owner);
  form.SetCaption(caption);
  form.WaitMessage = message;
  CenterOver(form.Handle(), owner ? owner->Handle() : nullptr);
  return form.ShowModal() == mrOk;
}
