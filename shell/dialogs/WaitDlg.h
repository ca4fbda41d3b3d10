// The wait dialog: a short countdown with a message and a Cancel button, shown before the
// wizards start their real work. The work goes ahead only if it runs out. The message is
// static text that a screen reader can read at any moment; it does not blink.
#pragma once

#include <string>

#include "shell/win/Controls.h"

class TWaitForm : public TForm {
 public:
  explicit TWaitForm(TForm* owner);

  TButton CancelBtn;
  TPanel Panel1;
  TLabel Message;
  TTimer Timer1;

  // The message the panel shows after the first second.
  std::wstring WaitMessage;
  // Half-second ticks so far; the dialog closes with OK after the sixth.
  int TickCount = 0;

  void Timer1Timer();

 protected:
  void FormCloseQuery(bool& canClose) override;
};

// Shows the countdown centred over `owner`: about one second of "...wait...", then the
// message for six half-second ticks, with Cancel enabled and focused. True when it ran out,
// false when the user cancelled it and confirmed.
bool ShowWaitDialog(const std::wstring& caption, const std::wstring& message, TForm* owner);
