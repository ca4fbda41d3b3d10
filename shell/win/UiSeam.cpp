#include "shell/win/UiSeam.h"

#include "shell/win/Forms.h"

#include <utility>

namespace {
UiDriver* currentDriver = nullptr;
}  // namespace

UiDriver* SetUiDriver(UiDriver* driver) { return std::exchange(currentDriver, driver); }

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  if (currentDriver) return currentDriver->AnswerMessageBox({owner, text, caption, flags});
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
