#include "shell/win/UiSeam.h"

#include "shell/win/Forms.h"

#include <utility>

namespace {
UiDriver* currentDriver = nullptr;
int failureMessages = 0;

bool IsFailureMessage(UINT flags) {
  return (flags & MB_TYPEMASK) == MB_OK && (flags & MB_ICONMASK) != MB_USERICON;
}
}  // namespace

UiDriver* SetUiDriver(UiDriver* driver) { return std::exchange(currentDriver, driver); }

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  if (IsFailureMessage(flags)) ++failureMessages;
  if (currentDriver) return currentDriver->AnswerMessageBox({owner, text, caption, flags});
  return ShowSystemMessageBox({owner, text, caption, flags});
}

int FailureMessagesShown() { return failureMessages; }

int ShowSystemMessageBox(const MessageBoxRequest& request) {
  const HWND owner = request.Owner;
  const std::wstring& text = request.Text;
  const std::wstring& caption = request.Caption;
  const UINT flags = request.Flags;
  if ((flags & MB_ICONMASK) != MB_USERICON)
    return MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
  // A box with the program's own icon, such as the About box.
  MSGBOXPARAMSW box{};
  box.cbSize = sizeof(box);
  box.hwndOwner = owner;
  box.hInstance = GetModuleHandleW(nullptr);
  box.lpszText = text.c_str();
  box.lpszCaption = caption.c_str();
  box.dwStyle = flags;
  box.lpszIcon = MAKEINTRESOURCEW(ProgramIconId);
  return MessageBoxIndirectW(&box);
}

void NotifyModalLoopStarting(TForm& form) {
  if (currentDriver) currentDriver->ModalLoopStarting(form);
}
