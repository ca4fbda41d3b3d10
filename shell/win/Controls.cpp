#include "shell/win/Controls.h"

#include <commctrl.h>

#include <algorithm>

#include "base/WideText.h"
#include "shell/win/Layout.h"

namespace {

constexpr wchar_t kPaneClass[] = L"TarnwhistlePane";

// The class of panes, registered on first use.
const wchar_t* PaneClass(WNDPROC windowProc) {
  static ATOM atom = 0;
  if (!atom) atom = RegisterLayerWindowClass(kPaneClass, windowProc, TClassIcon::None);
  return kPaneClass;
}

void ChangeStyle(HWND window, int index, DWORD bits, bool set) {
  DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, index));
  style = set ? style | bits : style & ~bits;
  SetWindowLongPtrW(window, index, static_cast<LONG_PTR>(style));
  SetWindowPos(window, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// The text of item `index` of a list box or combo box, through the pair of messages for its
// length and its text.
std::wstring ListItemText(HWND window, UINT lengthMessage, UINT textMessage, int index) {
  const LRESULT length = SendMessageW(window, lengthMessage, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(window, textMessage, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

std::wstring AsCaption(const std::wstring& text) {
  std::wstring caption;
  for (const wchar_t c : text) {
    if (c == L'&') caption += L'&';
    caption += c;
  }
  return caption;
}

// ---- TControl

TControl::TControl(TContainer& parent, const wchar_t* name, const wchar_t* text,
                   const TBounds& bounds, const TWindowClass& windowClass)
    : TFormControl(parent.ContainerForm()),
      Name_(name),
      Bounds_(bounds),
      Parent_(parent),
      Class_(windowClass),
      WaitingText_(text),
      WaitingPage_(parent.PendingPage()) {
  if (WaitingPage_)
    WaitingPage_->Wait(*this);
  else
    MakeWindow();
}

TControl::~TControl() {
  // From here on the window's messages no longer reach this object.
  if (Window_) {
    UnmarkWindow(Window_.get());
    RemoveWindowSubclass(Window_.get(), &TControl::SubclassProc, 0);
  }
  if (WaitingPage_) WaitingPage_->StopWaiting(*this);
}

void TControl::MakeWindow() {
  // Created in its place: each later move costs the window a round of messages.
  const RECT rect = WindowRect();
  Window_.reset(CreateWindowExW(
      Class_.ExStyle, Class_.ClassName, WaitingText_.c_str(), WS_CHILD | WS_VISIBLE | Class_.Style,
      rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
      Parent_.ContainerHandle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(Id())),
      GetModuleHandleW(nullptr), nullptr));
  if (!Window_) Application.Fail("Cannot create the control " + Utf8FromWide(Name_));
  WaitingText_ = std::wstring();
  WaitingPage_ = nullptr;
  MarkWindow(Handle());
  SetWindowSubclass(Handle(), &TControl::SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
  Send(WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), FALSE);
}

LRESULT CALLBACK TControl::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR control) {
  LRESULT result = 0;
  if (reinterpret_cast<TControl*>(control)->ControlMessage(message, wParam, lParam, result))
    return result;
  return DefSubclassProc(window, message, wParam, lParam);
}

bool TControl::ControlMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT TControl::DefaultMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return DefSubclassProc(Handle(), message, wParam, lParam);
}

int TControl::NeededHeight(TLayout&, int, int) { return 0; }

HWND TControl::Handle() const {
  if (!Window_ && WaitingPage_) WaitingPage_->MakeWindows();
  return Window_.get();
}

TControl* TControl::FromHandle(HWND window) {
  return static_cast<TControl*>(FormControlOf(window));
}

void TControl::SetBounds(const TBounds& bounds) {
  Bounds_ = bounds;
  IsPlaced_ = false;
  if (Window_) ApplyPlacement();
  Form().RequestArrange();
}

RECT TControl::Placement() const {
  return IsPlaced_ ? Placed_ : ScaleBounds(Bounds_, Form().Dpi());
}

RECT TControl::WindowRect() const {
  RECT rect = Placement();
  rect.bottom += Scale(Class_.ExtraHeight);
  return rect;
}

void TControl::Place(const RECT& rect) {
  if (IsPlaced_ && EqualRect(&rect, &Placed_)) return;
  Placed_ = rect;
  IsPlaced_ = true;
  if (Window_) ApplyPlacement();
}

void TControl::ApplyPlacement() {
  const RECT rect = WindowRect();
  SetWindowPos(Handle(), nullptr, rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The form's layout places the control at the new DPI; its font follows here.
void TControl::FormDpiChanged() { ApplyFont(); }

void TControl::MakeFont() {
  OwnFont_ = Font_.IsMessageFont() ? UniqueFont() : CreateFontForDpi(Font_, Form().Dpi());
}

// A control without a window has its font made too: the layout measures its text with it.
void TControl::ApplyFont() {
  const UniqueFont previousFont = std::move(OwnFont_);  // in use until the new one is set
  MakeFont();
  if (!Window_) return;
  Send(WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), TRUE);
  FontChanged();
}

std::wstring TControl::Text() const { return Window_ ? WindowText(Handle()) : WaitingText_; }

void TControl::SetText(const std::wstring& text) {
  if (Text() == text) return;
  SetWindowTextW(Handle(), text.c_str());
  Form().RequestArrange();
}

std::wstring TControl::ShownText() const {
  const std::wstring text = Text();
  std::wstring shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

// A control waiting for its window answers from the style kept for it: the layout asks
// before the page is shown.
bool TControl::HasStyle(DWORD style) const {
  const DWORD current =
      Window_ ? static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE)) : Class_.Style;
  return (current & style) == style;
}

bool TControl::Enabled() const { return IsWindowEnabled(Handle()) != FALSE; }

void TControl::SetEnabled(bool enabled) { EnableWindow(Handle(), enabled); }

bool TControl::Visible() const {
  return (GetWindowLongPtrW(Handle(), GWL_STYLE) & WS_VISIBLE) != 0;
}

void TControl::SetVisible(bool visible) { ShowWindow(Handle(), visible ? SW_SHOWNA : SW_HIDE); }

void TControl::SetTabStop(bool tabStop) {
  if (Window_) return ChangeStyle(Handle(), GWL_STYLE, WS_TABSTOP, tabStop);
  Class_.Style = tabStop ? Class_.Style | WS_TABSTOP : Class_.Style & ~DWORD{WS_TABSTOP};
}

void TControl::SetFocus() { Form().SetActiveControl(*this); }

bool TControl::Focused() const { return GetFocus() == Handle(); }

void TControl::SetFont(const TFont& font) {
  Font_ = font;
  ApplyFont();
  Form().RequestArrange();
}

HFONT TControl::FontHandle() const { return OwnFont_ ? OwnFont_.get() : Form().DefaultFont(); }

void TControl::NotifyParent(WORD code) const {
  SendMessageW(GetParent(Handle()), WM_COMMAND, MAKEWPARAM(Id(), code),
               reinterpret_cast<LPARAM>(Handle()));
}

LRESULT TControl::CtlColor(HWND parent, UINT message, HDC dc) {
  const LRESULT brush = DefWindowProcW(parent, message, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(Handle()));
  SetTextColor(dc, ColorToRGB(Font_.Color));
  return brush;
}

LRESULT TControl::ParentMessage(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Notify(HIWORD(wParam));
      return 0;
    case WM_DRAWITEM:
      DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    default:  // WM_CTLCOLOR*
      return CtlColor(parent, message, reinterpret_cast<HDC>(wParam));
  }
}

// ---- TButton

TButton::TButton(TContainer& parent, const wchar_t* name, const wchar_t* caption,
                 const TBounds& bounds)
    : TControl(parent, name, caption, bounds,
               {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY | BS_MULTILINE, 0}) {}

void TButton::SetDefault(bool isDefault) {
  Default_ = isDefault;
  ShowAsDefault(isDefault);
}

void TButton::WindowMade() {
  if (Default_) ShowAsDefault(true);
}

void TButton::ShowAsDefault(bool shown) {
  if (!HasWindow()) return;  // shown so when it is made
  Send(BM_SETSTYLE, (shown ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_NOTIFY | BS_MULTILINE, TRUE);
}

// The caption inside the button's edges and focus frame.
int TButton::NeededHeight(TLayout& layout, int width, int) {
  return layout.TextHeight(FontHandle(), Text(), width - layout.Scale(12), DT_WORDBREAK) +
         layout.Scale(10);
}

void TButton::Click() {
  if (Enabled()) NotifyParent(BN_CLICKED);
}

void TButton::Notify(WORD code) {
  switch (code) {
    case BN_CLICKED:
      if (OnClick) OnClick();
      if (ModalResult_ != mrNone) Form().SetModalResult(ModalResult_);
      break;
    case BN_SETFOCUS:
    case BN_KILLFOCUS:
      // The focused button is the one Enter presses, and it looks so.
      for (TFormControl* control : Form().Controls())
        if (control->IsPushButton()) {
          auto* button = static_cast<TButton*>(control);  // the layer's one push button
          button->ShowAsDefault(code == BN_SETFOCUS ? button == this : button->Default());
        }
      break;
  }
}

// ---- TLabel

namespace {
DWORD LabelStyle(TAlignment alignment) {
  switch (alignment) {
    case taCenter:
      return SS_CENTER;
    case taRightJustify:
      return SS_RIGHT;
    case taLeftJustify:
      break;
  }
  return SS_LEFT;
}
}  // namespace

TLabel::TLabel(TContainer& parent, const wchar_t* name, const wchar_t* caption,
               const TBounds& bounds, TAlignment alignment)
    : TControl(parent, name, caption, bounds, {L"STATIC", LabelStyle(alignment), 0}) {}

// As the static control draws it: from its top, wrapped at its width.
int TLabel::NeededHeight(TLayout& layout, int width, int) {
  return layout.TextHeight(FontHandle(), Text(), width, DT_WORDBREAK | DT_EXPANDTABS);
}

// ---- TCheckBox

TCheckBox::TCheckBox(TContainer& parent, const wchar_t* name, const wchar_t* caption,
                     const TBounds& bounds)
    : TControl(parent, name, caption, bounds,
               {L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX | BS_MULTILINE, 0}) {}

bool TCheckBox::Checked() const {
  return HasWindow() ? Send(BM_GETCHECK) == BST_CHECKED : WaitingChecked_;
}

void TCheckBox::SetChecked(bool checked) {
  if (checked == Checked()) return;
  if (HasWindow())
    Send(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
  else
    WaitingChecked_ = checked;
  if (OnClick) OnClick();
}

void TCheckBox::WindowMade() {
  if (WaitingChecked_) Send(BM_SETCHECK, BST_CHECKED);
}

void TCheckBox::Click() {
  if (!Enabled()) return;
  Send(BM_SETCHECK, Checked() ? BST_UNCHECKED : BST_CHECKED);
  NotifyParent(BN_CLICKED);
}

void TCheckBox::Notify(WORD code) {
  if (code == BN_CLICKED && OnClick) OnClick();
}

// The caption beside the box.
int TCheckBox::NeededHeight(TLayout& layout, int width, int) {
  return layout.TextHeight(FontHandle(), Text(), width - layout.Scale(20), DT_WORDBREAK) +
         layout.Scale(4);
}

// ---- TEdit

TEdit::TEdit(TContainer& parent, const wchar_t* name, const wchar_t* text, const TBounds& bounds)
    : TControl(parent, name, text, bounds,
               {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE}) {}

void TEdit::SetReadOnly(bool readOnly) { Send(EM_SETREADONLY, readOnly); }

void TEdit::Notify(WORD code) {
  if (code == EN_CHANGE && OnChange) OnChange();
}

// One line inside the edges.
int TEdit::NeededHeight(TLayout& layout, int width, int) {
  return layout.TextHeight(FontHandle(), L"", width, DT_SINGLELINE) + layout.Scale(6);
}

// ---- TMemo

TMemo::TMemo(TContainer& parent, const wchar_t* name, const TBounds& bounds, TScrollStyle scrollBars)
    : TControl(parent, name, L"", bounds,
               {L"EDIT",
                WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY |
                    (scrollBars == ssVertical ? DWORD{WS_VSCROLL} : 0),
                WS_EX_CLIENTEDGE}) {}

std::vector<std::wstring> TMemo::Lines() const {
  std::vector<std::wstring> lines;
  const std::wstring text = Text();
  if (text.empty()) return lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

void TMemo::SetLines(const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += L"\r\n";
    text += lines[i];
  }
  SetText(text);
}

void TMemo::AddLine(const std::wstring& line) {
  const int length = GetWindowTextLengthW(Handle());
  const std::wstring addition = length == 0 ? line : L"\r\n" + line;
  Send(EM_SETSEL, static_cast<WPARAM>(length), length);
  Send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(addition.c_str()));
  Send(EM_SCROLLCARET);
}

void TMemo::Clear() { SetText(L""); }

void TMemo::ScrollToTop() { Send(WM_VSCROLL, SB_TOP); }

void TMemo::SetReadOnly(bool readOnly) { Send(EM_SETREADONLY, readOnly); }

void TMemo::SetBorder(bool border) { ChangeStyle(Handle(), GWL_EXSTYLE, WS_EX_CLIENTEDGE, border); }

// A text with a scroll bar needs a line; one without, every line, wrapped as the edit wraps
// it within its formatting rectangle (estimated until there is a window to ask), and the
// empty line after a last line break.
int TMemo::NeededHeight(TLayout& layout, int width, int) {
  std::wstring text = HasStyle(WS_VSCROLL) ? std::wstring() : Text();
  if (!text.empty() && text.back() == L'\n') text += L' ';
  int textWidth = width - layout.Scale(12);
  if (HasWindow()) {
    RECT format;
    Send(EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    textWidth = format.right - format.left;
  }
  return layout.TextHeight(FontHandle(), text, textWidth,
                           DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS) +
         layout.Scale(6);
}

bool TMemo::ControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message != WM_GETDLGCODE || !HasStyle(ES_READONLY)) return false;
  // Nothing to type: Tab, Enter and Esc are the dialog's, as in a field, and the arrows
  // scroll. Reached by Tab the text is not selected: it is there to be read.
  result = DefaultMessage(message, wParam, lParam) & ~(DLGC_WANTALLKEYS | DLGC_HASSETSEL);
  return true;
}

// ---- TListBox

TListBox::TListBox(TContainer& parent, const wchar_t* name, const TBounds& bounds)
    : TListBox(parent, name, bounds, 0) {}

TListBox::TListBox(TContainer& parent, const wchar_t* name, const TBounds& bounds, DWORD extraStyle)
    : TControl(
          parent, name, L"", bounds,
          {L"LISTBOX", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | extraStyle,
           WS_EX_CLIENTEDGE}) {}

int TListBox::Count() const { return static_cast<int>(Send(LB_GETCOUNT)); }

std::wstring TListBox::Item(int index) const {
  return ListItemText(Handle(), LB_GETTEXTLEN, LB_GETTEXT, index);
}

std::vector<std::wstring> TListBox::Items() const {
  std::vector<std::wstring> items;
  for (int i = 0; i < Count(); ++i) items.push_back(Item(i));
  return items;
}

void TListBox::Add(const std::wstring& item) {
  Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void TListBox::Clear() { Send(LB_RESETCONTENT); }

int TListBox::ItemIndex() const { return static_cast<int>(Send(LB_GETCURSEL)); }

void TListBox::SetItemIndex(int index) { Send(LB_SETCURSEL, static_cast<WPARAM>(index)); }

void TListBox::SetItemData(int index, LPARAM data) {
  Send(LB_SETITEMDATA, static_cast<WPARAM>(index), data);
}

LPARAM TListBox::ItemData(int index) const {
  return Send(LB_GETITEMDATA, static_cast<WPARAM>(index));
}

void TListBox::Notify(WORD code) {
  if (code == LBN_SELCHANGE && OnClick) OnClick();
  if (code == LBN_DBLCLK && OnDblClick) OnDblClick();
}

// ---- TComboBox

TComboBox::TComboBox(TContainer& parent, const wchar_t* name, const TBounds& bounds)
    : TControl(parent, name, L"", bounds,
               {L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 160}) {}

int TComboBox::Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }

std::wstring TComboBox::Item(int index) const {
  return ListItemText(Handle(), CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}

void TComboBox::Add(const std::wstring& item) {
  Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void TComboBox::Clear() { Send(CB_RESETCONTENT); }

int TComboBox::ItemIndex() const { return static_cast<int>(Send(CB_GETCURSEL)); }

void TComboBox::SetItemIndex(int index) { Send(CB_SETCURSEL, static_cast<WPARAM>(index)); }

void TComboBox::Select(int index) {
  if (!Enabled()) return;
  SetItemIndex(index);
  NotifyParent(CBN_SELCHANGE);
}

void TComboBox::Notify(WORD code) {
  if (code == CBN_SELCHANGE && OnChange) OnChange();
}

// The selection field, as tall as the control makes it for its font.
int TComboBox::NeededHeight(TLayout&, int, int) {
  if (!HasWindow()) return 0;
  RECT field;
  GetWindowRect(Handle(), &field);
  return field.bottom - field.top;
}

// ---- TPaneControl

TPaneControl::TPaneControl(TContainer& parent, const wchar_t* name, const wchar_t* text,
                           const TBounds& bounds, DWORD extraStyle)
    : TControl(parent, name, text, bounds,
               {PaneClass(&TPaneControl::WindowProc),
                WS_CLIPCHILDREN | WS_CLIPSIBLINGS | extraStyle, WS_EX_CONTROLPARENT}) {}

LRESULT CALLBACK TPaneControl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Only panes carry this class, and the property is set once the control is built.
  auto* pane = static_cast<TPaneControl*>(FromHandle(window));
  return pane ? pane->HandleMessage(message, wParam, lParam)
              : DefWindowProcW(window, message, wParam, lParam);
}

int TPaneControl::NeededHeight(TLayout& layout, int width, int designHeight) {
  return layout.Arrange(*this, width, designHeight);
}

LRESULT TPaneControl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (Form().RouteChildMessage(Handle(), message, wParam, lParam, result)) return result;
  switch (message) {
    // A pane is part of its form's dialog: what a child asks of its dialog (a multi-line
    // edit's Tab, Enter and Esc) is the form's, and never closes the pane.
    case WM_NEXTDLGCTL:
    case DM_GETDEFID:
      return SendMessageW(Form().Handle(), message, wParam, lParam);
    case WM_CLOSE:
      Form().Close();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(Handle(), &paint);
      Paint(dc);
      EndPaint(Handle(), &paint);
      return 0;
    }
    case WM_PRINTCLIENT: {
      // Themed controls draw their parent's face behind them through this message.
      HDC dc = reinterpret_cast<HDC>(wParam);
      RECT client;
      GetClientRect(Handle(), &client);
      FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
      Paint(dc);
      return 0;
    }
    case WM_SETTEXT:
      result = DefWindowProcW(Handle(), message, wParam, lParam);
      InvalidateRect(Handle(), nullptr, TRUE);
      return result;
  }
  return DefWindowProcW(Handle(), message, wParam, lParam);
}

// ---- TPanel

TPanel::TPanel(TContainer& parent, const wchar_t* name, const wchar_t* caption,
               const TBounds& bounds)
    : TPaneControl(parent, name, caption, bounds, 0) {}

void TPanel::SetBevel(TBevelCut bevel) {
  Bevel_ = bevel;
  InvalidateRect(Handle(), nullptr, TRUE);
}

void TPanel::Paint(HDC dc) {
  RECT client;
  GetClientRect(Handle(), &client);
  if (Bevel_ != bvNone)
    DrawEdge(dc, &client, Bevel_ == bvLowered ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
  const std::wstring caption = Text();
  if (caption.empty()) return;
  SelectedObject font(dc, FontHandle());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ColorToRGB(Font().Color));
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &client,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_EXPANDTABS);
}

// ---- TNotebook and TPage

TNotebook::TNotebook(TContainer& parent, const wchar_t* name, const TBounds& bounds)
    : TPaneControl(parent, name, L"", bounds, 0) {}

void TNotebook::SetPageIndex(int index) {
  if (index < 0 || index >= PageCount() || index == PageIndex_) return;
  const HWND focus = GetFocus();
  const bool focusLeaves = focus && IsChild(ActivePage().Handle(), focus);
  PageIndex_ = index;
  Pages_[static_cast<size_t>(index)]->MakeWindows();  // while the page is still hidden
  Pages_[static_cast<size_t>(index)]->SetVisible(true);
  for (TPage* page : Pages_)
    if (page != Pages_[static_cast<size_t>(index)]) page->SetVisible(false);
  // A hidden control keeps the keyboard unless the focus moves on.
  if (focusLeaves)
    if (HWND next = GetNextDlgTabItem(Form().Handle(), nullptr, FALSE)) ::SetFocus(next);
  AnnouncePage();
}

// As a property sheet names itself: the page, then the window.
void TNotebook::AnnouncePage() {
  Form().SetAccessibleName(ActivePage().Title() + L" - " + Form().Caption());
}

void TNotebook::AddPage(TPage& page) {
  Pages_.push_back(&page);
  page.SetVisible(PageCount() - 1 == PageIndex_);
}

void TNotebook::RemovePage(TPage& page) { std::erase(Pages_, &page); }

TPage::TPage(TNotebook& notebook, const wchar_t* caption)
    : TPaneControl(notebook, caption, caption,
                   {0, 0, notebook.Bounds().Width, notebook.Bounds().Height}, 0),
      Notebook_(notebook) {
  Notebook_.AddPage(*this);
  Pending_ = Notebook_.PageCount() - 1 != Notebook_.PageIndex();
}

TPage::~TPage() { Notebook_.RemovePage(*this); }

void TPage::MakeWindows() {
  if (!Pending_) return;
  Pending_ = false;
  const std::vector<TControl*> waiting = std::move(Waiting_);
  // Every window first, so that whatever the kept state sets off finds them all made.
  for (TControl* control : waiting) control->MakeWindow();
  for (TControl* control : waiting) control->WindowMade();
  TLayout::OrderTabStops(Form(), *this);
  Form().RequestArrange();  // its texts as the windows wrap them
}

void TPage::StopWaiting(TControl& control) { std::erase(Waiting_, &control); }
