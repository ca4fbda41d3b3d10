// Stands in for the user while a test runs: answers message boxes from a queue and records
// each one, and acts on each modal form when it opens. In place for its lifetime.
//
//   UiScript script;
//   script.Answer(IDNO);                                      // the next message box
//   script.OnModal([](TForm& form) { After(form, 2000, [&] { Press(form, L"CancelBtn"); }); });
//   bool ranOut = ShowWaitDialog(L"Tarnwhistle", L"...", nullptr);
//   EXPECT_EQ(script.Boxes().at(0).Text, L"Cancel process?");
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/win/Controls.h"
#include "shell/win/UiSeam.h"

struct BoxRecord {
  HWND Owner = nullptr;
  std::wstring Caption;
  std::wstring Text;
  UINT Flags = 0;
  int Answer = 0;
};

class UiScript : public UiDriver {
 public:
  using BoxAnswer = std::function<int(const BoxRecord&)>;
  using ModalAction = std::function<void(TForm&)>;

  UiScript();
  ~UiScript() override;
  UiScript(const UiScript&) = delete;
  UiScript& operator=(const UiScript&) = delete;

  // The answer to the next message box still unanswered: a button id, or a function that
  // sees the box (and may let time pass, as a user would) before it answers.
  UiScript& Answer(int button);
  UiScript& Answer(BoxAnswer answer);
  // What happens when the next modal form opens; an empty action lets it run on its own.
  UiScript& OnModal(ModalAction action = nullptr);

  const std::vector<BoxRecord>& Boxes() const { return Boxes_; }
  const std::vector<std::wstring>& ModalCaptions() const { return ModalCaptions_; }

  int AnswerMessageBox(const MessageBoxRequest& box) override;
  void ModalLoopStarting(TForm& form) override;

 private:
  UiDriver* Previous_;
  std::deque<BoxAnswer> Answers_;
  std::deque<ModalAction> Actions_;
  std::vector<BoxRecord> Boxes_;
  std::vector<std::wstring> ModalCaptions_;
};

// Runs `action` once, `milliseconds` from now, from the message loop of the form.
void After(TForm& form, UINT milliseconds, std::function<void()> action);

// Presses the form's button `name` as a user would; a missing button fails the test.
void Press(TForm& form, std::wstring_view name);

// Dispatches messages for `milliseconds`: the time a user takes while a question is open.
void PumpMessagesFor(DWORD milliseconds);

// For test messages.
std::string Narrow(std::wstring_view text);
