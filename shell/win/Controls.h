// The controls of the form layer, each a window of the platform's own classes (or of the
// layer's pane class for panels and notebooks), designed at 96-DPI bounds and placed by the
// form's layout (Layout.h), which follows the DPI and the text. Every control has a name by
// which tests find it; a screen reader names it by its own text (buttons, boxes) or by the
// label placed before it.
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

class TLayout;

enum TAlignment { taLeftJustify, taCenter, taRightJustify };

// `text` put into a caption as it is, each ampersand doubled so that none marks an
// accelerator: for data, such as a folder's name.
std::wstring AsCaption(const std::wstring& text);
enum TBevelCut { bvNone, bvLowered, bvRaised };
enum TScrollStyle { ssNone, ssVertical };

class TControl : public TFormControl {
 public:
  ~TControl() override;

  const std::wstring& Name() const final { return Name_; }
  HWND Handle() const final;

  // The design bounds, in 96-DPI pixels.
  const TBounds& Bounds() const { return Bounds_; }
  void SetBounds(const TBounds& bounds);
  // Where the control is in its parent's client area, in pixels at the form's DPI: where
  // the layout put it, or its design bounds scaled until then.
  RECT Placement() const;
  TContainer& ParentContainer() const { return Parent_; }

  // The window text: a caption, or an edit's contents. Setting an equal text does nothing
  // (so an edit's OnChange runs only for a real change).
  std::wstring Text() const;
  void SetText(const std::wstring& text);
  // The text as the user reads it: without the accelerator marks of a caption ("&&" shows
  // as one ampersand).
  std::wstring ShownText() const;

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
  // How tall the control must be, in pixels, for its text to show whole at `width`; 0 when
  // its design height will do. A pane places its children and answers what they need.
  virtual int NeededHeight(TLayout& layout, int width, int designHeight);
  // A message to the control's window before its class gets it: true when handled here,
  // with the window procedure's `result`.
  virtual bool ControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // The window class's own handling of a message, for ControlMessage.
  LRESULT DefaultMessage(UINT message, WPARAM wParam, LPARAM lParam) const;
  // A label names the control that follows it.
  virtual bool IsLabel() const { return false; }
  bool HasWindow() const { return static_cast<bool>(Window_); }
  // The page the control waits for, while it has no window.
  TPage* WaitingPage() const { return WaitingPage_; }

  HFONT FontHandle() const;
  int Scale(int value) const { return ScaleForDpi(value, Form().Dpi()); }
  bool HasStyle(DWORD style) const;
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return SendMessageW(Handle(), message, wParam, lParam);
  }
  // Sends the notification to the parent window as the control itself would.
  void NotifyParent(WORD code) const;

 private:
  friend class TPage;
  friend class TLayout;
  LRESULT ParentMessage(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) override;
  void FormDpiChanged() override;
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR control);
  // Puts the window where the layout placed the control.
  void Place(const RECT& rect);
  // The window's rectangle: the placement with a combo box's drop-down list.
  RECT WindowRect() const;
  void ApplyPlacement();
  void MakeFont();
  void ApplyFont();
  void MakeWindow();

  std::wstring Name_;
  TBounds Bounds_;
  RECT Placed_{};
  bool IsPlaced_ = false;
  TContainer& Parent_;
  TWindowClass Class_;
  std::wstring WaitingText_;  // the text while there is no window
  TPage* WaitingPage_ = nullptr;
  TFont Font_;
  UniqueFont OwnFont_;
  UniqueWindow Window_;
};

// A push button. A press (the user's, or Click) runs OnClick and then, when it has a modal
// result, sets the form's modal result. A caption too long for its width wraps.
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
  int NeededHeight(TLayout& layout, int width, int designHeight) override;
  void ShowAsDefault(bool shown);

  TModalResult ModalResult_ = mrNone;
  bool Default_ = false;
  bool Cancel_ = false;
};

// A static text, word-wrapped at its width. An ampersand marks an accelerator ("&&" shows
// one), which moves the focus to the control that follows the label in tab order; that
// control takes the label's text as its name for a screen reader.
class TLabel : public TControl {
 public:
  TLabel(TContainer& parent, const wchar_t* name, const wchar_t* caption, const TBounds& bounds,
         TAlignment alignment = taLeftJustify);

 protected:
  int NeededHeight(TLayout& layout, int width, int designHeight) override;
  bool IsLabel() const override { return true; }
};

// A check box; OnClick runs on every change of its check state, by the user or by SetChecked.
// A caption too long for its width wraps.
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
  int NeededHeight(TLayout& layout, int width, int designHeight) override;

 private:
  bool IsInput() const override { return true; }
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
  int NeededHeight(TLayout& layout, int width, int designHeight) override;

 private:
  bool IsInput() const override { return !HasStyle(ES_READONLY); }
};

// A multi-line text pane: word-wrapped and read-only unless told otherwise. Serves for
// explanatory texts, listings and logs; a tab stop, so that the keyboard can reach and
// scroll it. Read-only, it leaves Tab, Enter and Esc to the dialog. Without a scroll bar it
// is as tall as its text.
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

 protected:
  int NeededHeight(TLayout& layout, int width, int designHeight) override;
  bool ControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
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

 private:
  bool IsInput() const override { return true; }
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
  int NeededHeight(TLayout& layout, int width, int designHeight) override;

 private:
  bool IsInput() const override { return true; }
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
  int NeededHeight(TLayout& layout, int width, int designHeight) override;

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

// A stack of pages of which one is shown, each as tall as the tallest needs. A change of
// page is announced: the form's name for assistive technology becomes the page's title.
class TNotebook : public TPaneControl {
 public:
  TNotebook(TContainer& parent, const wchar_t* name, const TBounds& bounds);

  int PageCount() const { return static_cast<int>(Pages_.size()); }
  TPage& Page(int index) const { return *Pages_.at(static_cast<size_t>(index)); }
  int PageIndex() const { return PageIndex_; }
  // Shows the page `index` and hides the others; a change is announced.
  void SetPageIndex(int index);
  // Tells assistive technology the active page's title again (it changed).
  void AnnouncePage();
  TPage& ActivePage() const { return Page(PageIndex_); }

  bool ChildrenFillIt() const override { return true; }

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
  // What the page is called when it is shown (its heading); the caption until set.
  std::wstring Title() const { return Title_.empty() ? Caption() : Title_; }
  void SetTitle(const std::wstring& title) { Title_ = title; }

  TPage* PendingPage() override { return Pending_ ? this : nullptr; }
  // Gives the waiting controls their windows; once only.
  void MakeWindows();

 private:
  friend class TControl;
  void Wait(TControl& control) { Waiting_.push_back(&control); }
  void StopWaiting(TControl& control);

  TNotebook& Notebook_;
  std::wstring Title_;
  bool Pending_ = false;
  std::vector<TControl*> Waiting_;
};
