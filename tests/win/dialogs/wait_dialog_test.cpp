// The wait dialog under Wine: it runs out by itself with its message steady and Cancel
// focused, a cancel can be taken back, a confirmed cancel answers false, and its text fits
// at large sizes.
#include <gtest/gtest.h>

#include <functional>

#include "shell/dialogs/WaitDlg.h"
#include "tests/win/support/KeyboardAndText.h"
#include "tests/win/support/Screenshot.h"
#include "tests/win/support/UiScript.h"

namespace {

const std::wstring kMessage = L"...installing tarnwhistle...";

// What the dialog looks like after each tick of its timer.
struct TickLog {
  std::vector<std::wstring> PanelTexts;
  std::vector<bool> CancelEnabled;
  std::vector<bool> CancelFocused;
};

void RecordTicks(TWaitForm& form, TickLog& log) {
  form.Timer1.OnTimer = [&form, &log, tick = form.Timer1.OnTimer] {
    tick();
    log.PanelTexts.push_back(form.Message.Text());
    log.CancelEnabled.push_back(form.CancelBtn.Enabled());
    log.CancelFocused.push_back(form.CancelBtn.Focused());
  };
}

POINT Centre(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// A wizard-sized owner, and a record of every tick of the dialog it opens.
class WaitDialogTest : public testing::Test {
 protected:
  // What happens when the dialog opens; its ticks are recorded from then on.
  void OnOpen(std::function<void(TWaitForm&)> action) {
    Script_.OnModal([this, action](TForm& form) {
      auto& wait = static_cast<TWaitForm&>(form);
      RecordTicks(wait, Log_);
      action(wait);
    });
  }

  UiScript Script_;
  TForm Owner_{nullptr, {.Caption = L"Owner", .ClientWidth = 457, .ClientHeight = 305}};
  TickLog Log_;
};

}  // namespace

TEST_F(WaitDialogTest, RunsOutAfterAboutFourSecondsWithTheMessageShowingAndCancelFocused) {
  OnOpen([&](TWaitForm& wait) {
    EXPECT_EQ(wait.Caption(), L"Tarnwhistle");
    EXPECT_EQ(wait.Owner(), &Owner_);
    const POINT centre = Centre(wait.Handle()), ownerCentre = Centre(Owner_.Handle());
    EXPECT_NEAR(centre.x, ownerCentre.x, 1);
    EXPECT_NEAR(centre.y, ownerCentre.y, 1);
    // The first second: "...wait..." and a Cancel that neither a click nor Esc can press.
    EXPECT_EQ(wait.Message.Text(), L"...wait...");
    EXPECT_FALSE(wait.CancelBtn.Enabled());
    wait.CancelBtn.Click();
    PostMessageW(wait.CancelBtn.Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    After(wait, 1250, [&] { SaveScreenshot(wait.Handle(), L"wait-dialog"); });
  });
  const ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(ShowWaitDialog(L"Tarnwhistle", kMessage, &Owner_));
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 3000u);
  EXPECT_LE(elapsed, 10000u);
  EXPECT_TRUE(Script_.Boxes().empty());
  // The first tick shows the message, six ticks follow; it never blinks to empty, and the
  // keyboard is on Cancel from the first tick on.
  EXPECT_EQ(Log_.PanelTexts, std::vector<std::wstring>(7, kMessage));
  EXPECT_EQ(Log_.CancelEnabled, std::vector<bool>(7, true));
  EXPECT_EQ(Log_.CancelFocused, std::vector<bool>(7, true));
}

TEST_F(WaitDialogTest, CancelThenNoGoesOnFromTheTickItHadReached) {
  TWaitForm* wait = nullptr;
  OnOpen([&](TWaitForm& form) {
    wait = &form;
    After(form, 2200, [&] { Press(form, L"CancelBtn"); });
  });
  int ticksWhenAsked = -1;
  bool timerRanWhileAsked = true;
  size_t ticksWhileAsked = 99;
  Script_.Answer([&](const BoxRecord&) {
    ticksWhenAsked = wait->TickCount;
    timerRanWhileAsked = wait->Timer1.Enabled();
    // The user takes a while to answer; the countdown stands still meanwhile.
    const size_t before = Log_.PanelTexts.size();
    PumpMessagesFor(1200);
    ticksWhileAsked = Log_.PanelTexts.size() - before;
    return IDNO;
  });
  EXPECT_TRUE(ShowWaitDialog(L"Tarnwhistle", kMessage, &Owner_));

  ASSERT_EQ(Script_.Boxes().size(), 1u);
  EXPECT_EQ(Script_.Boxes()[0].Caption, L"Tarnwhistle");
  EXPECT_EQ(Script_.Boxes()[0].Text, L"Cancel process?");
  EXPECT_EQ(Script_.Boxes()[0].Flags, static_cast<UINT>(MB_YESNO));
  EXPECT_FALSE(timerRanWhileAsked);
  EXPECT_EQ(ticksWhileAsked, 0u);
  EXPECT_GE(ticksWhenAsked, 1);
  EXPECT_LT(ticksWhenAsked, 6);
  // One first tick and six blink ticks in all: the countdown was not started over.
  EXPECT_EQ(Log_.PanelTexts.size(), 7u);
  EXPECT_EQ(Log_.PanelTexts.back(), kMessage);
}

TEST_F(WaitDialogTest, CancelThenYesAnswersFalse) {
  OnOpen([&](TWaitForm& wait) {
    // Esc is the cancel button's key once the button can be pressed.
    After(wait, 1600, [&] { PostMessageW(wait.CancelBtn.Handle(), WM_KEYDOWN, VK_ESCAPE, 0); });
  });
  Script_.Answer(IDYES);
  EXPECT_FALSE(ShowWaitDialog(L"Tarnwhistle", L"...uninstalling software...", &Owner_));
  ASSERT_EQ(Script_.Boxes().size(), 1u);
  EXPECT_EQ(Script_.Boxes()[0].Text, L"Cancel process?");
  EXPECT_LT(Log_.PanelTexts.size(), 7u);  // ended before the countdown ran out
  EXPECT_TRUE(IsWindowEnabled(Owner_.Handle()));
}

TEST_F(WaitDialogTest, TheMessageFitsOnEveryDisplay) {
  OnEveryDisplay([&](const TDisplay& display) {
    OnOpen([&](TWaitForm& wait) {
      After(wait, 1250, [&] {
        ExpectLayoutHolds(wait, display, L"wait");
        Press(wait, L"CancelBtn");
      });
    });
    Script_.Answer(IDYES);
    EXPECT_FALSE(ShowWaitDialog(L"Tarnwhistle", L"...uninstalling software...", &Owner_));
  });
}
