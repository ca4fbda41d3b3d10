// The one passage of every message box and every modal form. Normally the user answers;
// a test can put a driver in the user's place that answers message boxes, records what
// they asked and acts on a modal form while it is open.
#pragma once

#include <windows.h>

#include <string>

class TForm;

struct MessageBoxRequest {
  HWND Owner = nullptr;
  std::wstring Text;
  std::wstring Caption;
  UINT Flags = 0;
};

class UiDriver {
 public:
  virtual ~UiDriver() = default;
  // Answers a message box in the user's place: IDOK, IDCANCEL, IDYES, IDNO...
  virtual int AnswerMessageBox(const MessageBoxRequest& box) = 0;
  // A modal form is shown and about to run its message loop.
  virtual void ModalLoopStarting(TForm& form) = 0;
};

// Puts `driver` in the user's place (null: the user again); answers the driver it replaced.
UiDriver* SetUiDriver(UiDriver* driver);

// The program's message box: MessageBoxW, or the driver's answer when one is in place.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);

// The box itself, whatever driver is in place: for a driver that shows it after all.
int ShowSystemMessageBox(const MessageBoxRequest& box);

// How many failure messages ShowMessageBox has passed: boxes with only an OK button and no
// icon of the program's own (the About box has it). A run that never stops on a failure
// tells by this whether one happened.
int FailureMessagesShown();

// Called by every modal form when its loop starts; the driver, if any, gets the form.
void NotifyModalLoopStarting(TForm& form);
