#include "shell/WizardForm.h"

#include "shell/Constants.h"
#include "shell/win/UiSeam.h"

namespace {

constexpr wchar_t kTaskbarButtonClass[] = L"TarnwhistleTaskbarButton";

// The task bar button's window stands for the wizard: it hands every activation on to the
// wizard, or to whatever window the wizard has open above it, and a close request (the task
// bar's Close) to the wizard itself.
LRESULT CALLBACK TaskbarButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND wizard = reinterpret_cast<HWND>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (wizard && message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) {
    SetActiveWindow(GetLastActivePopup(wizard));
    return 0;
  }
  if (wizard && message == WM_CLOSE) {
    PostMessageW(wizard, WM_CLOSE, 0, 0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

ATOM TaskbarButtonClass() {
  static const ATOM atom =
      RegisterLayerWindowClass(kTaskbarButtonClass, TaskbarButtonProc, TClassIcon::Program);
  return atom;
}

}  // namespace

TWizardForm::TWizardForm(TForm* owner, const std::wstring& caption, int clientWidth,
                         int clientHeight, const std::wstring& aboutItem, std::wstring title)
    : TForm(owner, {.Caption = caption,
                    .ClientWidth = clientWidth,
                    .ClientHeight = clientHeight,
                    .BorderStyle = bsSingle}),
      Title_(std::move(title)) {
  AddSystemMenuSeparator();
  AddSystemMenuItem(AboutCommand, aboutItem);
}

// The task bar shows the application's title for the mode, not the wizard's caption: the
// button belongs to a window of no size that carries the title. Another top-level window
// costs time to make, so it comes once the wizard has painted itself.
void TWizardForm::FormPainted() {
  if (TaskbarButton_) return;
  TaskbarButton_.reset(CreateWindowExW(WS_EX_APPWINDOW, MAKEINTATOM(TaskbarButtonClass()),
                                       Application.Title().c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                                       nullptr, GetModuleHandleW(nullptr), nullptr));
  if (!TaskbarButton_) return;
  SetWindowLongPtrW(TaskbarButton_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Handle()));
  ShowWindow(TaskbarButton_.get(), SW_SHOWNA);  // the activation stays where it is
}

void TWizardForm::OfferExit(TButton& next, TButton& exit) {
  exit.SetText(ExitCaption);
  exit.SetEnabled(true);
  next.SetDefault(false);
  exit.SetDefault(true);
  exit.SetFocus();
}

void TWizardForm::WMSysCommand(TSysCommand& command) {
  if (command.CmdType != AboutCommand) return;
  ShowMessageBox(Handle(), tw::AboutText(Title_), L"About...", MB_OK | MB_USERICON);
  command.Handled = true;
}
