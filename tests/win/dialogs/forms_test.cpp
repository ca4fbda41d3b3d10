// The form layer under Wine: modal results and close queries, the owner while a dialog is
// modal, keyboard navigation and the tab order, DPI scaling and the layout from the text,
// the controls' events, the windows of notebook pages not yet shown, the announcement of a
// page and the colours of grey text.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "shell/win/Controls.h"
#include "shell/win/UiSeam.h"
#include "tests/win/support/KeyboardAndText.h"
#include "tests/win/support/UiScript.h"

namespace {

// A dialog with OK (default), Cancel (Esc) and an edit, whose close query records what
// closes it and refuses as often as told.
class TProbeForm : public TForm {
 public:
  explicit TProbeForm(TForm* owner = nullptr)
      : TForm(owner, {.Caption = L"Probe", .ClientWidth = 300, .ClientHeight = 160}),
        Edit1(*this, L"Edit1", L"", {16, 16, 150, 21}),
        OkBtn(*this, L"OkBtn", L"OK", {120, 120, 75, 25}),
        CancelBtn(*this, L"CancelBtn", L"Cancel", {208, 120, 75, 25}) {
    OkBtn.SetModalResult(mrOk);
    OkBtn.SetDefault(true);
    CancelBtn.SetModalResult(mrCancel);
    CancelBtn.SetCancel(true);
  }

  TEdit Edit1;
  TButton OkBtn;
  TButton CancelBtn;

  std::vector<TModalResult> CloseQueries;
  int Refusals = 0;

 protected:
  void FormCloseQuery(bool& canClose) override {
    CloseQueries.push_back(ModalResult());
    if (Refusals > 0) {
      --Refusals;
      canClose = false;
    }
  }
};

RECT RectInParent(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LONG FontHeight(HWND control) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
  return font.lfHeight;
}

void ExpectRectEq(const RECT& actual, const RECT& expected) {
  EXPECT_EQ(actual.left, expected.left);
  EXPECT_EQ(actual.top, expected.top);
  EXPECT_EQ(actual.right, expected.right);
  EXPECT_EQ(actual.bottom, expected.bottom);
}

}  // namespace

TEST(FormsTest, ModalResultComesFromTheButtonAndPassesTheCloseQuery) {
  UiScript script;
  TProbeForm form;
  script.OnModal([&](TForm&) {
    EXPECT_TRUE(form.Modal());
    EXPECT_TRUE(form.Visible());
    // A disabled button cannot be pressed; the form stays open.
    form.OkBtn.SetEnabled(false);
    form.OkBtn.Click();
    EXPECT_EQ(form.ModalResult(), mrNone);
    form.OkBtn.SetEnabled(true);
    form.OkBtn.Click();
  });
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_EQ(form.CloseQueries, std::vector<TModalResult>{mrOk});
  EXPECT_FALSE(form.Visible());
  EXPECT_FALSE(form.Modal());
}

TEST(FormsTest, CloseBoxIsACancelThatTheCloseQueryCanRefuse) {
  UiScript script;
  TProbeForm form;
  form.Refusals = 1;
  script.OnModal([&](TForm&) {
    PostMessageW(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    After(form, 100, [&] {
      // Refused: still open, with no result; the second attempt closes it.
      EXPECT_TRUE(form.Visible());
      EXPECT_EQ(form.ModalResult(), mrNone);
      PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    });
  });
  EXPECT_EQ(form.ShowModal(), mrCancel);
  EXPECT_EQ(form.CloseQueries, (std::vector<TModalResult>{mrCancel, mrCancel}));
}

TEST(FormsTest, KeyboardMovesTheFocusAndPressesTheCancelAndDefaultButtons) {
  {
    UiScript script;
    TProbeForm form;
    script.OnModal([&](TForm&) { PostMessageW(form.Edit1.Handle(), WM_KEYDOWN, VK_ESCAPE, 0); });
    EXPECT_EQ(form.ShowModal(), mrCancel);
  }
  {
    UiScript script;
    TProbeForm form;
    form.Edit1.SetFocus();  // taken when the form shows
    script.OnModal([&](TForm&) {
      EXPECT_TRUE(form.Edit1.Focused());
      // Tab goes on to the next control and back round to the edit.
      PostMessageW(form.Edit1.Handle(), WM_KEYDOWN, VK_TAB, 0);
      PumpMessagesFor(20);
      EXPECT_TRUE(form.OkBtn.Focused());
      PostMessageW(form.OkBtn.Handle(), WM_KEYDOWN, VK_TAB, 0);
      PostMessageW(form.OkBtn.Handle(), WM_KEYDOWN, VK_TAB, 0);
      PumpMessagesFor(20);
      EXPECT_TRUE(form.Edit1.Focused());
      PostMessageW(form.Edit1.Handle(), WM_KEYDOWN, VK_RETURN, 0);
    });
    EXPECT_EQ(form.ShowModal(), mrOk);
  }
  {
    // Enter on a focused button presses that button, not the default one.
    UiScript script;
    TProbeForm form;
    form.CancelBtn.SetFocus();
    script.OnModal(
        [&](TForm&) { PostMessageW(form.CancelBtn.Handle(), WM_KEYDOWN, VK_RETURN, 0); });
    EXPECT_EQ(form.ShowModal(), mrCancel);
  }
}

TEST(FormsTest, OwnerIsDisabledWhileTheDialogIsModalAndEnabledAfter) {
  UiScript script;
  TProbeForm owner;
  TProbeForm dialog(&owner);
  EXPECT_EQ(GetWindow(dialog.Handle(), GW_OWNER), owner.Handle());
  script.OnModal([&](TForm&) {
    EXPECT_FALSE(IsWindowEnabled(owner.Handle()));
    Press(dialog, L"OkBtn");
  });
  dialog.ShowModal();
  EXPECT_TRUE(IsWindowEnabled(owner.Handle()));

  // An owner that a dialog further out has disabled stays disabled.
  EnableWindow(owner.Handle(), FALSE);
  script.OnModal([&](TForm&) { Press(dialog, L"OkBtn"); });
  dialog.ShowModal();
  EXPECT_FALSE(IsWindowEnabled(owner.Handle()));
}

TEST(FormsTest, ControlsAreScaledFromDesignPixelsAndFollowADpiChange) {
  EXPECT_EQ(ScaleForDpi(75, 96), 75);
  EXPECT_EQ(ScaleForDpi(75, 144), 113);  // 112.5 rounds up
  EXPECT_EQ(ScaleForDpi(-3, 192), -6);
  // Edges are scaled, so neighbours that touch keep touching.
  const RECT left = ScaleBounds({0, 0, 75, 25}, 144), right = ScaleBounds({75, 0, 75, 25}, 144);
  EXPECT_EQ(left.right, right.left);

  TProbeForm form;
  TPanel panel(form, L"Panel", L"", {10, 50, 200, 60});
  TLabel label(panel, L"Label", L"Text", {5, 7, 100, 20});
  TFont big;
  big.Size = 10;
  label.SetFont(big);
  const UINT dpi = form.Dpi();
  ExpectRectEq(RectInParent(form.OkBtn.Handle()), ScaleBounds(form.OkBtn.Bounds(), dpi));
  ExpectRectEq(RectInParent(label.Handle()), ScaleBounds(label.Bounds(), dpi));
  const LONG defaultHeight = FontHeight(form.OkBtn.Handle());

  // The system moves the window to a monitor of twice that DPI.
  const UINT doubled = dpi * 2;
  RECT suggested{40, 30, 40 + 800, 30 + 500};
  SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(doubled, doubled),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(form.Dpi(), doubled);
  ExpectRectEq(RectInParent(form.OkBtn.Handle()), ScaleBounds(form.OkBtn.Bounds(), doubled));
  ExpectRectEq(RectInParent(label.Handle()), ScaleBounds(label.Bounds(), doubled));
  RECT client;
  GetClientRect(form.Handle(), &client);
  EXPECT_EQ(client.right, ScaleForDpi(300, doubled));
  EXPECT_EQ(client.bottom, ScaleForDpi(160, doubled));
  RECT window;
  GetWindowRect(form.Handle(), &window);
  EXPECT_EQ(window.left, 40);
  EXPECT_EQ(window.top, 30);
  // Fonts follow: the message font doubles (within rounding), a 10-point font is recomputed.
  EXPECT_NEAR(FontHeight(form.OkBtn.Handle()), 2 * defaultHeight, 1);
  EXPECT_EQ(FontHeight(label.Handle()), -MulDiv(10, static_cast<int>(doubled), 72));
}

TEST(FormsTest, ControlEventsRunOnRealChangesOnly) {
  TProbeForm form;
  TCheckBox box(form, L"Box", L"&Box", {16, 50, 100, 17});
  int boxClicks = 0, edits = 0;
  box.OnClick = [&] { ++boxClicks; };
  form.Edit1.OnChange = [&] { ++edits; };

  box.SetChecked(true);
  box.SetChecked(true);  // the state it has already: nothing runs
  EXPECT_TRUE(box.Checked());
  EXPECT_EQ(boxClicks, 1);
  box.Click();
  EXPECT_FALSE(box.Checked());
  EXPECT_EQ(boxClicks, 2);
  box.SetEnabled(false);
  box.Click();
  EXPECT_FALSE(box.Checked());
  EXPECT_EQ(boxClicks, 2);

  form.Edit1.SetText(L"a");
  form.Edit1.SetText(L"a");
  EXPECT_EQ(edits, 1);
  EXPECT_EQ(form.FindControl<TEdit>(L"Edit1"), &form.Edit1);
  EXPECT_EQ(form.FindControl(L"Nothing"), nullptr);

  TMemo memo(form, L"Memo1", {16, 80, 200, 40});
  memo.SetLines({L"Tarnwhistle = YES", L"Mixmaster = NO"});
  memo.AddLine(L"last");
  EXPECT_EQ(memo.Lines(),
            (std::vector<std::wstring>{L"Tarnwhistle = YES", L"Mixmaster = NO", L"last"}));
  memo.Clear();
  EXPECT_TRUE(memo.Lines().empty());
}

TEST(FormsTest, NotebookShowsOnePageAndMovesTheFocusOffAHiddenPageAndAcceleratorsFocus) {
  UiScript script;
  TProbeForm form;
  TNotebook notebook(form, L"Notebook1", {10, 40, 280, 70});
  TPage start(notebook, L"Start");
  TLabel label(start, L"Label4", L"&Destination Folder", {8, 34, 100, 13});
  TEdit first(start, L"AppDIR", L"", {8, 8, 100, 21});
  TPage done(notebook, L"Done");
  TCheckBox run(done, L"RunQuickBox", L"&Run", {8, 8, 100, 17});
  EXPECT_EQ(notebook.PageCount(), 2);
  EXPECT_EQ(notebook.ActivePage().Caption(), L"Start");
  EXPECT_TRUE(start.Visible());
  EXPECT_FALSE(done.Visible());

  script.OnModal([&](TForm&) {
    // A label's accelerator (Alt+D) focuses the control that follows it.
    form.OkBtn.SetFocus();
    PostMessageW(form.OkBtn.Handle(), WM_SYSCHAR, L'd', 1 << 29);
    PumpMessagesFor(50);
    EXPECT_TRUE(first.Focused());
    notebook.SetPageIndex(1);
    EXPECT_EQ(notebook.ActivePage().Caption(), L"Done");
    EXPECT_FALSE(start.Visible());
    EXPECT_TRUE(done.Visible());
    EXPECT_FALSE(first.Focused());
    EXPECT_TRUE(IsChild(form.Handle(), GetFocus()));
    notebook.SetPageIndex(7);  // no such page: nothing changes
    EXPECT_EQ(notebook.PageIndex(), 1);
    // A page passes its controls' notifications on to them, as the form does.
    int runClicks = 0;
    run.OnClick = [&] { ++runClicks; };
    run.Click();
    EXPECT_EQ(runClicks, 1);
    EXPECT_TRUE(run.Checked());
    Press(form, L"OkBtn");
  });
  form.ShowModal();
  {
    TEdit gone(done, L"Gone", L"", {8, 40, 100, 21});
    EXPECT_EQ(form.FindControl<TEdit>(L"Gone"), &gone);
  }
  EXPECT_EQ(form.FindControl(L"Gone"), nullptr) << "a destroyed control leaves its form";
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

TEST(FormsTest, ALaterPageGetsItsWindowsWhenFirstShownOrUsedWithWhatWasSetMeanwhile) {
  TProbeForm form;
  TNotebook notebook(form, L"Notebook1", {10, 40, 280, 100});
  TPage start(notebook, L"Start");
  TEdit first(start, L"AppDIR", L"", {8, 8, 100, 21});
  TPage later(notebook, L"Later");
  TLabel heading(later, L"Heading", L"&Heading", {8, 0, 200, 16});
  TEdit address(later, L"EAddr", L"", {8, 20, 200, 21});
  TMemo listing(later, L"Listing", {8, 44, 200, 20}, ssNone);
  TCheckBox run(later, L"RunQuickBox", L"&Run", {8, 66, 100, 17});
  int edits = 0, clicks = 0;
  address.OnChange = [&] { ++edits; };
  run.OnClick = [&] { ++clicks; };
  EXPECT_EQ(ChildWindows(start.Handle()), std::vector<HWND>{first.Handle()});

  TFont bold;
  bold.Bold = true;
  heading.SetFont(bold);
  listing.SetTabStop(false);
  run.SetChecked(true);
  address.SetText(L"");  // the text it has
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(run.Checked());
  EXPECT_EQ(edits, 0);
  EXPECT_EQ(heading.Text(), L"&Heading");
  const UINT doubled = form.Dpi() * 2;
  RECT suggested{40, 30, 40 + 800, 30 + 500};
  SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(doubled, doubled),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_TRUE(ChildWindows(later.Handle()).empty()) << "nothing so far needed a window";

  notebook.SetPageIndex(1);
  EXPECT_EQ(ChildWindows(later.Handle()),
            (std::vector<HWND>{heading.Handle(), address.Handle(), listing.Handle(), run.Handle()}))
      << "made in the order of the controls, which is the tab order";
  EXPECT_EQ(TControl::FromHandle(address.Handle()), &address);
  EXPECT_EQ(WindowText(heading.Handle()), L"&Heading");
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(heading.Handle(), WM_GETFONT, 0, 0)),
             sizeof(font), &font);
  EXPECT_EQ(font.lfWeight, FW_BOLD);
  EXPECT_EQ(GetWindowLongPtrW(listing.Handle(), GWL_STYLE) & WS_TABSTOP, 0);
  EXPECT_EQ(SendMessageW(run.Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
  ExpectRectEq(RectInParent(address.Handle()), ScaleBounds(address.Bounds(), doubled));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(edits, 0);

  // A control used before its page is shown brings the page's windows at once, and a real
  // change of its text reaches OnChange as with a window.
  TPage third(notebook, L"Third");
  TLabel caption(third, L"Caption", L"Name", {8, 0, 200, 16});
  TEdit name(third, L"Name", L"", {8, 20, 200, 21});
  int names = 0;
  name.OnChange = [&] { ++names; };
  {
    TLabel gone(third, L"Gone", L"", {8, 44, 200, 16});
  }
  name.SetText(L"typed");
  EXPECT_EQ(names, 1);
  EXPECT_EQ(ChildWindows(third.Handle()), (std::vector<HWND>{caption.Handle(), name.Handle()}))
      << "a control destroyed while it waited is not made";
}

TEST(FormsTest, SystemMenuItemsReachWMSysCommand) {
  class TMenuForm : public TProbeForm {
   public:
    std::vector<UINT> Commands;

   protected:
    void WMSysCommand(TSysCommand& command) override {
      Commands.push_back(command.CmdType);
      command.Handled = command.CmdType == 4096;
    }
  } form;
  form.AddSystemMenuSeparator();
  form.AddSystemMenuItem(4096, L"About Probe...");
  HMENU menu = GetSystemMenu(form.Handle(), FALSE);
  const int last = GetMenuItemCount(menu) - 1;
  wchar_t text[64] = L"";
  GetMenuStringW(menu, static_cast<UINT>(last), text, 64, MF_BYPOSITION);
  EXPECT_STREQ(text, L"About Probe...");
  EXPECT_EQ(GetMenuItemID(menu, last - 1), 0u);  // the separator

  SendMessageW(form.Handle(), WM_SYSCOMMAND, 4096, 0);
  EXPECT_EQ(form.Commands, std::vector<UINT>{4096});
  // Other commands get the default handling, which turns SC_CLOSE into a close request.
  SendMessageW(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(form.Commands, (std::vector<UINT>{4096, SC_CLOSE}));
  EXPECT_EQ(form.CloseQueries.size(), 1u);  // the default handling asked for the close
}

namespace {

// The cursor the window shows when the mouse moves over it: what the system asks the
// window with WM_SETCURSOR, as it does on every move.
HCURSOR CursorShownOver(HWND window) {
  SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  return GetCursor();
}

TEST(FormsTest, WaitCursorHoldsOverItsFormAndItsControlsWhileItLives) {
  const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT), arrow = LoadCursorW(nullptr, IDC_ARROW);
  TProbeForm form, other;
  TPanel panel(form, L"Panel", L"", {10, 50, 200, 60});
  TEdit deep(panel, L"Deep", L"", {5, 5, 100, 21});
  {
    const TWaitCursor hourglass(form);
    EXPECT_EQ(GetCursor(), wait);
    for (HWND window : {form.Handle(), form.OkBtn.Handle(), form.Edit1.Handle(), deep.Handle()})
      EXPECT_EQ(CursorShownOver(window), wait);
    {
      const TWaitCursor nested(form);
    }
    EXPECT_EQ(CursorShownOver(deep.Handle()), wait);  // the outer one still holds
    // Another window, such as a dialog the work opens, keeps its own cursor.
    EXPECT_EQ(CursorShownOver(other.OkBtn.Handle()), arrow);
  }
  EXPECT_NE(GetCursor(), wait);
  EXPECT_EQ(CursorShownOver(form.OkBtn.Handle()), arrow);
  EXPECT_EQ(CursorShownOver(deep.Handle()), LoadCursorW(nullptr, IDC_IBEAM));
}

}  // namespace

TEST(FormsTest, ReadOnlyTextLeavesTabEnterAndEscToTheDialog) {
  struct Key {
    WPARAM Key;
    TModalResult Result;
  };
  for (const Key key : {Key{VK_RETURN, mrOk}, Key{VK_ESCAPE, mrCancel}}) {
    SCOPED_TRACE(key.Key);
    UiScript script;
    TProbeForm form;
    TNotebook notebook(form, L"Notebook1", {10, 40, 280, 70});
    TPage page(notebook, L"Finish");
    TMemo log(page, L"Log", {8, 8, 200, 50});
    log.SetLines({L"Removing Tarnwhistle...", L"Done!"});
    log.SetFocus();
    script.OnModal([&](TForm&) {
      PostMessageW(log.Handle(), WM_KEYDOWN, VK_TAB, 0);
      PumpMessagesFor(20);
      EXPECT_TRUE(form.OkBtn.Focused()) << "Tab goes on from the text";
      log.SetFocus();
      PostMessageW(log.Handle(), WM_KEYDOWN, key.Key, 0);
    });
    EXPECT_EQ(form.ShowModal(), key.Result);
    EXPECT_TRUE(IsWindow(page.Handle())) << "the key closed the page";
  }
}

TEST(FormsTest, TabOrderFollowsWhatTheUserSeesWithEachLabelBeforeItsControl) {
  UiScript script;
  // Declared from the bottom right; shown as a row of a field and a list, a box below the
  // field, and the buttons.
  TForm form(nullptr, {.Caption = L"Order", .ClientWidth = 300, .ClientHeight = 160});
  TButton cancel(form, L"CancelBtn", L"Cancel", {208, 120, 75, 25});
  TButton ok(form, L"OkBtn", L"OK", {120, 120, 75, 25});
  TLabel listLabel(form, L"ListLabel", L"&Items", {180, 8, 100, 16});
  TListBox list(form, L"Items", {180, 26, 100, 80});
  TCheckBox box(form, L"Box", L"&Keep", {16, 60, 150, 20});
  TLabel nameLabel(form, L"NameLabel", L"&Name", {16, 8, 150, 16});
  TEdit name(form, L"Name", L"", {16, 26, 150, 21});
  name.SetFocus();
  script.OnModal([&](TForm&) {
    EXPECT_EQ(TabOrder(form),
              (std::vector<std::wstring>{L"Name", L"Items", L"Box", L"OkBtn", L"CancelBtn"}));
    // Each label's accelerator, and a screen reader's name, reach the control it names.
    for (const auto& [key, control] : {std::pair<wchar_t, TControl*>{L'i', &list}, {L'n', &name}}) {
      PostMessageW(ok.Handle(), WM_SYSCHAR, key, 1 << 29);
      PumpMessagesFor(50);
      EXPECT_TRUE(control->Focused()) << Narrow(control->Name());
    }
    ExpectNamed(list.Handle(), L"Items");
    ExpectNamed(name.Handle(), L"Name");
    form.SetModalResult(mrCancel);
  });
  form.ShowModal();
}

TEST(FormsTest, AControlGrowsWithItsTextAndWhatLiesBelowMovesWithIt) {
  TForm form(nullptr, {.Caption = L"Layout", .ClientWidth = 300, .ClientHeight = 120});
  TPanel panel(form, L"Panel", L"", {8, 8, 200, 40});
  TLabel text(panel, L"Text", L"Short", {4, 4, 190, 16});
  TButton beside(form, L"Beside", L"&Beside", {216, 8, 75, 25});
  TEdit below(form, L"Below", L"", {8, 60, 200, 21});
  form.Show();
  const auto clientHeight = [&] {
    RECT client;
    GetClientRect(form.Handle(), &client);
    return client.bottom;
  };
  const RECT designBelow = below.Placement(), designBeside = beside.Placement();
  const LONG designHeight = clientHeight();
  ExpectTextsFit(form, "short");

  text.SetText(L"A paragraph long enough to need several lines at this width, so that its "
               L"label grows, the panel grows with it, and the field below moves down.");
  PumpMessagesFor(50);  // the form arranges itself once its loop is free
  const LONG grown = text.Placement().bottom - ScaleBounds(text.Bounds(), form.Dpi()).bottom;
  EXPECT_GT(grown, 0);
  ExpectTextsFit(form, "long");
  EXPECT_EQ(below.Placement().top, designBelow.top + grown);
  const RECT besideNow = beside.Placement();
  EXPECT_TRUE(EqualRect(&designBeside, &besideNow)) << "beside it, not below";
  EXPECT_EQ(clientHeight(), designHeight + grown);

  text.SetText(L"Short again");
  PumpMessagesFor(50);
  EXPECT_EQ(below.Placement().top, designBelow.top);
  EXPECT_EQ(clientHeight(), designHeight);
  form.Hide();
}

namespace {

std::vector<HWND> namesChanged;

void CALLBACK RecordNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
  if (object == OBJID_CLIENT) namesChanged.push_back(window);
}

}  // namespace

TEST(FormsTest, AChangeOfPageIsAnnouncedByThePagesTitle) {
  TProbeForm form;
  TNotebook notebook(form, L"Notebook1", {10, 40, 280, 70});
  TPage start(notebook, L"Start");
  TPage done(notebook, L"Done");
  done.SetTitle(L"Installation complete!");
  namesChanged.clear();
  const HWINEVENTHOOK hook =
      SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, RecordNameChange,
                      GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  notebook.SetPageIndex(1);
  PumpMessagesFor(100);
  EXPECT_EQ(form.AccessibleName(), L"Installation complete! - Probe");
  EXPECT_EQ(std::count(namesChanged.begin(), namesChanged.end(), form.Handle()), 1);
  notebook.SetPageIndex(0);  // a page without a title is called by its caption
  PumpMessagesFor(100);
  UnhookWinEvent(hook);
  EXPECT_EQ(form.AccessibleName(), L"Start - Probe");
  EXPECT_EQ(std::count(namesChanged.begin(), namesChanged.end(), form.Handle()), 2);
}

TEST(FormsTest, GreyTextStandsOutFromItsBackgroundInEveryScheme) {
  EXPECT_NEAR(ContrastRatio(RGB(0, 0, 0), RGB(255, 255, 255)), 21, 0.01);
  EXPECT_NEAR(ContrastRatio(RGB(0x76, 0x76, 0x76), RGB(255, 255, 255)), 4.54, 0.01);
  EXPECT_NEAR(ContrastRatio(RGB(200, 10, 10), RGB(200, 10, 10)), 1, 0.01);
  for (const bool highContrast : {false, true}) {
    std::optional<HighContrast> scheme;
    if (highContrast) scheme.emplace();
    for (const TColor background : {clBtnFace, clWindow})
      EXPECT_GE(ContrastRatio(ColorToRGB(ReadableGrayText(background)), ColorToRGB(background)), 4.5)
          << (highContrast ? "high contrast" : "the system's scheme") << ", " << background;
  }
}
