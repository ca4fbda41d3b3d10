#include "UiScript.h"

#include <gtest/gtest.h>

#include "base/WideText.h"

namespace {

// What an unexpected box gets: the choice that changes least.
int SafeAnswer(UINT flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
    case MB_CANCELTRYCONTINUE:
      return IDCANCEL;
    case MB_YESNO:
      return IDNO;
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    default:
      return IDOK;
  }
}

// An assertion that failed inside a form's event ends the test's use of the form.
void CloseOnFatalFailure(TForm& form) {
  if (::testing::Test::HasFatalFailure() && form.Modal()) form.SetModalResult(mrCancel);
}

}  // namespace

std::string Narrow(std::wstring_view text) { return Utf8FromWide(text); }

UiScript::UiScript() : Previous_(SetUiDriver(this)) {}

UiScript::~UiScript() {
  SetUiDriver(Previous_);
  EXPECT_TRUE(Answers_.empty()) << Answers_.size() << " expected message box(es) never came";
  EXPECT_TRUE(Actions_.empty()) << Actions_.size() << " expected modal form(s) never opened";
}

UiScript& UiScript::Answer(int button) {
  return Answer([button](const BoxRecord&) { return button; });
}

UiScript& UiScript::Answer(BoxAnswer answer) {
  Answers_.push_back(std::move(answer));
  return *this;
}

UiScript& UiScript::OnModal(ModalAction action) {
  Actions_.push_back(action ? std::move(action) : [](TForm&) {});
  return *this;
}

int UiScript::AnswerMessageBox(const MessageBoxRequest& box) {
  BoxRecord record{box.Owner, box.Caption, box.Text, box.Flags, 0};
  if (Answers_.empty()) {
    ADD_FAILURE() << "unexpected message box \"" << Narrow(box.Caption)
                  << "\": " << Narrow(box.Text);
    record.Answer = SafeAnswer(box.Flags);
  } else {
    BoxAnswer answer = std::move(Answers_.front());
    Answers_.pop_front();
    record.Answer = answer(record);
  }
  Boxes_.push_back(record);
  return record.Answer;
}

void UiScript::ModalLoopStarting(TForm& form) {
  ModalCaptions_.push_back(form.Caption());
  if (Actions_.empty()) {
    ADD_FAILURE() << "unexpected modal form \"" << Narrow(form.Caption()) << "\"";
    form.SetModalResult(mrCancel);
    return;
  }
  ModalAction action = std::move(Actions_.front());
  Actions_.pop_front();
  action(form);
  CloseOnFatalFailure(form);
  // A form that nothing closes would hang the suite: it fails the test instead.
  After(form, 60000, [&form] {
    if (!form.Modal()) return;
    ADD_FAILURE() << "\"" << Narrow(form.Caption()) << "\" still open after a minute";
    form.SetModalResult(mrCancel);
  });
}

void After(TForm& form, UINT milliseconds, std::function<void()> action) {
  TTimer& timer = form.AddTimer();
  timer.SetInterval(milliseconds);
  timer.OnTimer = [&form, &timer, action = std::move(action)] {
    timer.SetEnabled(false);
    action();
    CloseOnFatalFailure(form);
  };
  timer.SetEnabled(true);
}

void Press(TForm& form, std::wstring_view name) {
  TControl* control = form.FindControl(name);
  if (!control || !control->IsPushButton()) {
    ADD_FAILURE() << "no button " << Narrow(name) << " in \"" << Narrow(form.Caption()) << "\"";
    return;
  }
  static_cast<TButton*>(control)->Click();
}

void PumpMessagesFor(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  for (;;) {
    Application.ProcessMessages();
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}
