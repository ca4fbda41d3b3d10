// The controls of the form layer, each a window of the platform's own classes (or of the
// layer's pane class for panels and notebooks), placed at 96-DPI bounds that follow the
// form's DPI. Every control has a name by which tests find it.
//
// A window costs time to make, and a wizard's later pages are not on the screen at first:
// the controls of a notebook page other than the one shown wait for their windows until
// the page is shown or one of them is needed (Handle), and then the page's controls get
// theirs together, in the order they were made. Until then their text, font, tab stop and
// check state are kept for the window to start with.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "shell/win/Forms.h"

enum TAlignment { taLeftJustify, taCenter, taRightJustify };
enum TBevelCut { bvNone, bvLowered, bvRaised };
enum TScrollStyle { ssNone, ssVertical };

class TControl : public TFormControl {
 public:
  ~TControl() override;

  const std::wstring& Name() const final { return Name_; }
  HWND Handle() const final;

  const TBounds& Bounds() const { return Bounds_; }
  void SetBounds(const TBounds& bounds);

  // The window text: a caption, or an edit's contents. Setting an equal text does nothing
  // (so an edit's OnChange runs only for a real change).
  std::wstring Text() const;
  void SetText(const std::wstring& text);

  bool Enabled() const;
  void SetEnabled(bool enabled);
  bool Visible() const;  // its own visibility, whatever its parents'
  void SetVisible(bool visible);
  // Whether Tab stops at the control.
  void SetTabStop(bool tabStop);

  // Takes the focus now when the form is shown, or when it is shown next.
  void SetFocus();
  bool Focused() const;

  const TFont& Font() const { return Font_; }
  void SetFont(const TFont& font);

  // The control of a window of this form layer, or null.
  static TControl* FromHandle(HWND window);

 protected:
  struct TWindowClass {
    const wchar_t* ClassName;
    DWORD Style;  // beyond WS_CHILD | WS_VISIBLE
    DWORD ExStyle;
    int ExtraHeight = 0;  // window height beyond the bounds (a combo box's drop-down list)
  };
  TControl(TContainer& parent, const wchar_t* name, const wchar_t* text, const TBounds& bounds,
           const TWindowClass& windowClass);

  // A notification (WM_COMMAND code) from the control's window.
  virtual void Notify(WORD code) { (void)code; }
  // The colours of the control's text: WM_CTLCOLOR* sent to `parent`.
  virtual LRESULT CtlColor(HWND parent, UINT message, HDC dc);
  // An owner-drawn item (WM_DRAWITEM).
  virtual void DrawItem(const DRAWITEMSTRUCT& item) { (void)item; }
  // The font or the DPI changed: whatever depends on the text's size follows.
  virtual void FontChanged() {}

  // The window's state that was kept for it while it waited: made now.
  virtual void WindowMade() {}
  bool HasWindow() const { return static_cast<bool>(Window_); }
  // The page the control waits for, while it has no window.
  TPage* WaitingPage() const { return WaitingPage_; }

  HFONT FontHandle() const;
  int Scale(int value) const { return ScaleForDpi(value, Form().Dpi()); }
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return SendMessageW(Handle(), message, wParam, lParam);
  }
  // Sends the notification to the parent window as the control itself would.
  void NotifyParent(WORD code) const;

 private:
  friend class TPage;
  LRESULT ParentMessage(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) override;
  void FormDpiChanged() override;
  // The window's rectangle in its parent at the form's DPI.
  RECT Placement() const;
  void ApplyPlacement();
  void ApplyFont();
  void MakeWindow();
  // After every window of the page is made: the font and the rest of the kept state.
  void FinishWaitingWindow();

  std::wstring Name_;
  TBounds Bounds_;
  TContainer& Parent_;
  TWindowClass Class_;
  std::wstring WaitingText_;  // the text while there is no window
  TPage* WaitingPage_ = nullptr;
  TFont Font_;
  UniqueFont OwnFont_;
  UniqueWindow Window_;
};

// A push button. A press (the user's, or Click) runs OnClick and then, when it has a modal
// result, sets the form's modal result.
class TButton : public TControl {
 public:
  TButton(TContainer& parent, const wchar_t* name, const wchar_t* caption,
          const TBounds& bounds);

  TModalResult ModalResult() const { return ModalResult_; }
  void SetModalResult(TModalResult result) { ModalResult_ = result; }
  // The default button is pressed by Enter when no other button has the focus.
  bool Default() const { return Default_; }
  void SetDefault(bool isDefault);
  // The cancel button is pressed by Esc.
  bool Cancel() const { return Cancel_; }
  void SetCancel(bool isCancel) { Cancel_ = isCancel; }

  // Presses the button as a user would: nothing happens while it is disabled.
  void Click();

  std::function<void()> OnClick;

 protected:
  void Notify(WORD code) override;

 private:
  bool IsPushButton() const override { return true; }
  bool IsDefaultButton() const override { return Default_; }
  bool IsCancelButton() const override { return Cancel_; }
  void Press() override { Click(); }
  void WindowMade() override;
  void ShowAsDefault(bool shown);

  TModalResult ModalResult_ = mrNone;
  bool Default_ = false;
  bool Cancel_ = false;
};

// A static text. An ampersand marks an accelerator ("&&" shows one), which moves the focus
// to the control that follows the label in tab order.
class TLabel : public TControl {
 public:
  TLabel(TContainer& parent, const wchar_t* name, const wchar_t* caption, const TBounds& bounds,
         TAlignment alignment = taLeftJustify, bool wordWrap = false);
};

// A check box; OnClick runs on every change of its check state, by the user or by SetChecked.
class TCheckBox : public TControl {
 public:
  TCheckBox(TContainer& parent, const wchar_t* name, const wchar_t* caption,
            const TBounds& bounds);

  bool Checked() const;
  void SetChecked(bool checked);
  // Toggles the box as a user's click would: nothing happens while it is disabled.
  void Click();

  std::function<void()> OnClick;

 protected:
  void Notify(WORD code) override;

 private:
  void WindowMade() override;

  bool WaitingChecked_ = false;  // the check state while there is no window
};

// A one-line edit; OnChange runs on every change of its text.
class TEdit : public TControl {
 public:
  TEdit(TContainer& parent, const wchar_t* name, const wchar_t* text, const TBounds& bounds);

  void SetReadOnly(bool readOnly);

  std::function<void()> OnChange;

 protected:
  void Notify(WORD code) override;
};

// A multi-line text pane: word-wrapped and read-only unless told otherwise. Serves for
// explanatory texts, listings and logs.
class TMemo : public TControl {
 public:
  TMemo(TContainer& parent, const wchar_t* name, const TBounds& bounds,
        TScrollStyle scrollBars = ssVertical);

  std::vector<std::wstring> Lines() const;
  void SetLines(const std::vector<std::wstring>& lines);
  // Appends a line at the end and scrolls to it.
  void AddLine(const std::wstring& line);
  void Clear();
  void ScrollToTop();

  void SetReadOnly(bool readOnly);
  void SetBorder(bool border);
};

// A list of text items.
class TListBox : public TControl {
 public:
  TListBox(TContainer& parent, const wchar_t* name, const TBounds& bounds);

  int Count() const;
  std::wstring Item(int index) const;
  std::vector<std::wstring> Items() const;
  void Add(const std::wstring& item);
  void Clear();
  // The selected item, or -1.
  int ItemIndex() const;
  void SetItemIndex(int index);

  std::function<void()> OnClick;     // the selection changed
  std::function<void()> OnDblClick;  // an item was double-clicked

 protected:
  // For lists whose items are drawn by DrawItem.
  TListBox(TContainer& parent, const wchar_t* name, const TBounds& bounds, DWORD extraStyle);
  void Notify(WORD code) override;
  // The item's 32-bit value beside its text.
  void SetItemData(int index, LPARAM data);
  LPARAM ItemData(int index) const;
};

// A drop-down list to choose one item from.
class TComboBox : public TControl {
 public:
  TComboBox(TContainer& parent, const wchar_t* name, const TBounds& bounds);

  int Count() const;
  std::wstring Item(int index) const;
  void Add(const std::wstring& item);
  void Clear();
  int ItemIndex() const;
  // Selects an item without running OnChange.
  void SetItemIndex(int index);
  // Selects an item as a user's choice would, running OnChange.
  void Select(int index);

  std::function<void()> OnChange;  // the user chose an item

 protected:
  void Notify(WORD code) override;
};

// A control that holds other controls: the base of panels, notebooks and pages.
class TPaneControl : public TControl, public TContainer {
 public:
  HWND ContainerHandle() const override { return Handle(); }
  TForm& ContainerForm() override { return Form(); }
  TPage* PendingPage() override { return WaitingPage(); }

 protected:
  TPaneControl(TContainer& parent, const wchar_t* name, const wchar_t* text,
               const TBounds& bounds, DWORD extraStyle);
  // Paints the pane's own face (behind its children).
  virtual void Paint(HDC dc) { (void)dc; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
};

// A panel: a bevelled frame with a caption centred in it, and a parent of controls.
class TPanel : public TPaneControl {
 public:
  TPanel(TContainer& parent, const wchar_t* name, const wchar_t* caption, const TBounds& bounds);

  // The outer bevel; raised by default.
  void SetBevel(TBevelCut bevel);

 protected:
  void Paint(HDC dc) override;

 private:
  TBevelCut Bevel_ = bvRaised;
};

class TPage;

// A stack of pages of which one is shown.
class TNotebook : public TPaneControl {
 public:
  TNotebook(TContainer& parent, const wchar_t* name, const TBounds& bounds);

  int PageCount() const { return static_cast<int>(Pages_.size()); }
  TPage& Page(int index) const { return *Pages_.at(static_cast<size_t>(index)); }
  int PageIndex() const { return PageIndex_; }
  // Shows the page `index` and hides the others.
  void SetPageIndex(int index);
  TPage& ActivePage() const { return Page(PageIndex_); }

 private:
  friend class TPage;
  void AddPage(TPage& page);
  void RemovePage(TPage& page);

  std::vector<TPage*> Pages_;
  int PageIndex_ = 0;
};

// A page of a notebook; it fills the notebook and holds the controls of one step. The
// controls of a page that is not the one shown when it is added wait for their windows.
class TPage : public TPaneControl {
 public:
  TPage(TNotebook& notebook, const wchar_t* caption);
  ~TPage() override;

  // The caption is the page's window text.
  std::wstring Caption() const { return Text(); }

  TPage* PendingPage() override { return Pending_ ? this : nullptr; }
  // Gives the waiting controls their windows; once only.
  void MakeWindows();

 private:
  friend class TControl;
  void Wait(TControl& control) { Waiting_.push_back(&control); }
  void StopWaiting(TControl& control);

  TNotebook& Notebook_;
  bool Pending_ = false;
  std::vector<TControl*> Waiting_;
};
