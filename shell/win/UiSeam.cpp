#include "shell/win/UiSeam.h"

#include <utility>

namespace {
UiDriver* currentDriver = nullptr;
}  // namespace

UiDriver* SetUiDriver(UiDriver* driver) { return std::exchange(currentDriver, driver); }

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  if (currentDriver) return currentDriver->AnswerMessageBox({owner, text, caption, flags});
  return MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

void NotifyModalLoopStarting(TForm& form) {
  if (currentDriver) currentDriver->ModalLoopStarting(form);
}
