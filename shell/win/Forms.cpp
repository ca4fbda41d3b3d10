#include "shell/win/Forms.h"

#include <algorithm>

#include <commctrl.h>
#include <oleacc.h>

#include "shell/win/Accessibility.h"
#include "shell/win/Layout.h"
#include "shell/win/UiSeam.h"
#include "shell/SysUtils.h"
#include "shell/RunLog.h"
#include "base/WideText.h"

TApplication Application;

namespace {

constexpr wchar_t kFormClass[] = L"TarnwhistleForm";
// Posted to a modal form once it is painted: FormPainted runs when its loop gets it.
constexpr UINT kFormPaintedMessage = WM_APP;
// Posted to a form on the screen whose controls' text or font changed: it arranges them.
constexpr UINT kArrangeMessage = WM_APP + 1;
// Posted to a form that another program's window took the keyboard from while it held it.
constexpr UINT kTakeBackMessage = WM_APP + 2;
// Marks the windows of this layer's controls and leads back to the control.
constexpr wchar_t kControlProperty[] = L"Tarnwhistle.Control";

ATOM formClassAtom = 0;


ATOM RegisterFormClass(WNDPROC windowProc) {
  if (formClassAtom) return formClassAtom;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  formClassAtom = RegisterLayerWindowClass(kFormClass, windowProc, TClassIcon::Program);
  return formClassAtom;
}

// Keyboard navigation (Tab, Enter, Esc, accelerators) for the forms of this layer; every
// other message goes its usual way.
void DispatchUiMessage(MSG& message) {
  if (message.hwnd) {
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    if (FormFromHandle(root) && IsDialogMessageW(root, &message)) return;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

bool IsDescendant(HWND parent, HWND window) { return window && IsChild(parent, window); }

// Whether `window` is another program's: the system may not say which window took over.
bool OfAnotherProgram(HWND window) {
  DWORD process = 0;
  return !window ||
         (GetWindowThreadProcessId(window, &process) && process != GetCurrentProcessId());
}

// The child window that a message to its parent is about, or null.
HWND MessageChild(UINT message, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      return reinterpret_cast<HWND>(lParam);
    case WM_DRAWITEM:
      return reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
  }
  return nullptr;
}

struct ProgramIcons {
  HICON Large;
  HICON Small;
};

// The program's icon in both sizes, loaded once for every class that shows it.
const ProgramIcons& LoadedProgramIcons() {
  static const ProgramIcons icons = [] {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    return ProgramIcons{
        LoadIconW(instance, MAKEINTRESOURCEW(ProgramIconId)),
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(ProgramIconId), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON),
                                      GetSystemMetrics(SM_CYSMICON), 0))};
  }();
  return icons;
}

}  // namespace

ATOM RegisterLayerWindowClass(const wchar_t* className, WNDPROC windowProc, TClassIcon icon) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  if (icon == TClassIcon::Program) {
    windowClass.hIcon = LoadedProgramIcons().Large;
    windowClass.hIconSm = LoadedProgramIcons().Small;
  }
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // A colour index, not a brush: the face is painted in the scheme's colour at each paint,
  // so a change of scheme (high contrast) reaches windows already open.
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = className;
  return RegisterClassExW(&windowClass);
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(length));
  return text;
}

COLORREF ColorToRGB(TColor color) {
  if ((color & clSystemColor) == clSystemColor) return GetSysColor(static_cast<int>(color & 0xFF));
  return color;
}

namespace {

// A channel's light on a linear scale: the sRGB curve, ((v + 0.055) / 1.055) to the power
// 2.4, taken as x² times the fifth root of x² by Newton's steps. The C runtime's pow would
// bring an implementation of its own into setup.exe.
double LinearChannel(BYTE channel) {
  const double value = channel / 255.0;
  if (value <= 0.03928) return value / 12.92;
  const double x = (value + 0.055) / 1.055, square = x * x;
  double root = 1;  // from above towards the fifth root of `square`, which lies in (0.008, 1]
  for (int step = 0; step < 40; ++step)
    root = (4 * root + square / (root * root * root * root)) / 5;
  return square * root;
}

// The relative luminance of a colour of the sRGB space, 0 for black to 1 for white.
double RelativeLuminance(COLORREF color) {
  return 0.2126 * LinearChannel(GetRValue(color)) + 0.7152 * LinearChannel(GetGValue(color)) +
         0.0722 * LinearChannel(GetBValue(color));
}

}  // namespace

double ContrastRatio(COLORREF first, COLORREF second) {
  const double a = RelativeLuminance(first), b = RelativeLuminance(second);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

TColor ReadableGrayText(TColor background) {
  const TColor text = background == clWindow ? clWindowText : clBtnText;
  return ContrastRatio(ColorToRGB(clGrayText), ColorToRGB(background)) >= 4.5 ? clGrayText : text;
}

TFont NoticeFont() {
  TFont font;
  font.Size = 10;
  return font;
}

UniqueFont CreateFontForDpi(const TFont& font, UINT dpi) {
  LOGFONTW logFont = MessageFontForDpi(dpi);
  if (!font.Name.empty()) {
    std::fill(std::begin(logFont.lfFaceName), std::end(logFont.lfFaceName), L'\0');
    font.Name.copy(logFont.lfFaceName, LF_FACESIZE - 1);
  }
  if (font.Size != 0 || font.Height != 0) {
    logFont.lfHeight = font.Size != 0 ? -MulDiv(font.Size, static_cast<int>(dpi), 72)
                                      : -ScaleForDpi(font.Height, dpi);
    logFont.lfWidth = 0;
  }
  if (font.Bold) logFont.lfWeight = FW_BOLD;
  return UniqueFont(CreateFontIndirectW(&logFont));
}

// ---- TApplication

void TApplication::Fail(const std::string& message) {
  std::wstring text = WideFromUtf8(message);
  if (!text.empty() && text.back() != L'.') text += L'.';
  ShowMessageBox(GetActiveWindow(), text, Title_, MB_OK | MB_ICONERROR);
  LogExitCode(TExitCode::StepFailed);
  ExitProcess(static_cast<UINT>(TExitCode::StepFailed));
}

int TApplication::Run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchUiMessage(message);
  return static_cast<int>(message.wParam);
}

void TApplication::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for the loop that ends on it
      return;
    }
    DispatchUiMessage(message);
  }
}

// ---- TTimer

TTimer::TTimer(TForm& form) : Form_(form), Id_(form.AddTimerId(*this)) {}

TTimer::~TTimer() {
  KillTimer(Form_.Handle(), Id_);
  Form_.RemoveTimer(*this);
}

void TTimer::SetInterval(UINT milliseconds) {
  Interval_ = milliseconds;
  Restart();
}

void TTimer::SetEnabled(bool enabled) {
  Enabled_ = enabled;
  Restart();
}

void TTimer::Restart() {
  KillTimer(Form_.Handle(), Id_);
  if (Enabled_ && Interval_ > 0) SetTimer(Form_.Handle(), Id_, Interval_, nullptr);
}

// ---- TFormControl

TFormControl::TFormControl(TForm& form) : Form_(form), Id_(form.NewControlId()) {
  Form_.AddControl(*this);
}

TFormControl::~TFormControl() { Form_.RemoveControl(*this); }

void TFormControl::MarkWindow(HWND window) { SetPropW(window, kControlProperty, this); }

void TFormControl::UnmarkWindow(HWND window) { RemovePropW(window, kControlProperty); }

TFormControl* FormControlOf(HWND window) {
  return window ? static_cast<TFormControl*>(GetPropW(window, kControlProperty)) : nullptr;
}

// ---- TForm

TForm* FormFromHandle(HWND window) {
  if (!window || !formClassAtom || GetClassLongPtrW(window, GCW_ATOM) != formClassAtom)
    return nullptr;
  return reinterpret_cast<TForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

TForm::TForm(TForm* owner, const TFormDesign& design) : Owner_(owner), Design_(design) {
  DWORD exStyle = WS_EX_CONTROLPARENT;
  if (design.BorderStyle == bsDialog) exStyle |= WS_EX_DLGMODALFRAME;
  CreateWindowExW(exStyle, MAKEINTATOM(RegisterFormClass(&TForm::WindowProc)),
                  design.Caption.c_str(), Style(), 0, 0, 0, 0, owner ? owner->Handle() : nullptr,
                  nullptr, GetModuleHandleW(nullptr), this);
  if (!Handle()) Application.Fail("Cannot create the window " + Utf8FromWide(design.Caption));
  Dpi_ = WindowDpi(Handle());
  Font_ = CreateFontForDpi(TFont{}, Dpi_);
  ClientHeight_ = ScaleForDpi(design.ClientHeight, Dpi_);
  ApplyClientSize();
  CenterOnScreen();
}

TForm::~TForm() {
  OwnedTimers_.clear();
  if (Handle()) SetWindowLongPtrW(Handle(), GWLP_USERDATA, 0);
}

DWORD TForm::Style() const {
  DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
  if (Design_.BorderStyle == bsSizeable) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  if (Design_.SystemMenu) style |= WS_SYSMENU;
  return style;
}

void TForm::ApplyClientSize() {
  const int width = ScaleForDpi(Design_.ClientWidth, Dpi_), height = ClientHeight_;
  RECT client;
  GetClientRect(Handle(), &client);
  if (client.right == width && client.bottom == height) return;
  SIZE size = WindowSizeForClient(
      width, height, Style(), static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)), Dpi_);
  SetWindowPos(Handle(), nullptr, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The frame the system draws may differ from its own forecast (Wine keeps its title bar
  // at the system DPI); the client area is what has to come out right.
  GetClientRect(Handle(), &client);
  if (client.right != width || client.bottom != height) {
    size.cx += width - client.right;
    size.cy += height - client.bottom;
    SetWindowPos(Handle(), nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void TForm::CenterOnScreen() {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(Handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
  CenterInArea(Handle(), monitor.rcWork);
}

std::wstring TForm::Caption() const { return WindowText(Handle()); }

void TForm::SetCaption(const std::wstring& caption) { SetWindowTextW(Handle(), caption.c_str()); }

TModalResult TForm::ShowModal() {
  HWND ownerWindow = Owner_ ? Owner_->Handle() : nullptr;
  // An owner that is disabled already (by a dialog further out) stays so afterwards.
  const bool disableOwner = ownerWindow && IsWindowEnabled(ownerWindow);
  if (disableOwner) EnableWindow(ownerWindow, FALSE);
  ModalResult_ = mrNone;
  Modal_ = true;
  FormShow();
  ArrangeControls();
  ShowWindow(Handle(), SW_SHOWNORMAL);
  Shown_ = true;
  UpdateWindow(Handle());
  PostMessageW(Handle(), kFormPaintedMessage, 0, 0);
  NotifyModalLoopStarting(*this);
  RunModalLoop();
  // The owner is enabled before the dialog hides, so that it gets the activation back.
  if (disableOwner) EnableWindow(ownerWindow, TRUE);
  Shown_ = false;
  ShowWindow(Handle(), SW_HIDE);
  Modal_ = false;
  return ModalResult_;
}

void TForm::RunModalLoop() {
  for (;;) {
    if (ModalResult_ != mrNone) {
      if (CloseQuery()) return;
      ModalResult_ = mrNone;
    }
    MSG message;
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The application is ending: leave the quit message to the outer loops.
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      ModalResult_ = mrCancel;
      return;
    }
    DispatchUiMessage(message);
  }
}

bool TForm::CloseQuery() {
  bool canClose = true;
  FormCloseQuery(canClose);
  return canClose;
}

void TForm::Show() {
  FormShow();
  ArrangeControls();
  ShowWindow(Handle(), SW_SHOWNORMAL);
  Shown_ = true;
}

void TForm::Hide() {
  Shown_ = false;
  ShowWindow(Handle(), SW_HIDE);
}

bool TForm::Visible() const { return IsWindowVisible(Handle()) != FALSE; }

void TForm::Close() {
  if (Modal_) {
    ModalResult_ = mrCancel;  // the modal loop asks the close query
    return;
  }
  if (CloseQuery()) Hide();
}

void TForm::AddSystemMenuSeparator() {
  AppendMenuW(GetSystemMenu(Handle(), FALSE), MF_SEPARATOR, 0, nullptr);
}

void TForm::AddSystemMenuItem(UINT id, const std::wstring& text) {
  AppendMenuW(GetSystemMenu(Handle(), FALSE), MF_STRING, id, text.c_str());
}

TFormControl* TForm::FindNamedControl(std::wstring_view name) const {
  for (TFormControl* control : Controls_)
    if (control->Name() == name) return control;
  return nullptr;
}

TFormControl* TForm::ControlOf(HWND window) const {
  TFormControl* control = FormControlOf(window);
  return control && &control->Form() == this ? control : nullptr;
}

void TForm::AddControl(TFormControl& control) { Controls_.push_back(&control); }

void TForm::RemoveControl(TFormControl& control) { std::erase(Controls_, &control); }

void TForm::SetActiveControl(TFormControl& control) {
  if (Shown_)
    FocusControl(control.Handle());
  else
    LastFocus_ = control.Handle();  // taken when the form is shown and activated
}

TFormControl* TForm::DefaultButton() const {
  for (TFormControl* control : Controls_)
    if (control->IsDefaultButton()) return control;
  return nullptr;
}

void TForm::FocusFirstInput(HWND container) {
  // Its own visibility, not its parents': the form may not be on the screen yet.
  const auto shown = [](HWND window) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) && IsWindowEnabled(window);
  };
  for (HWND child = GetWindow(container, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    TFormControl* control = ControlOf(child);
    if (control && control->IsInput() && shown(child)) return SetActiveControl(*control);
  }
  TFormControl* button = DefaultButton();
  if (button && shown(button->Handle())) return SetActiveControl(*button);
  // The first tab stop: once the form is shown, when the tab order is the one it shows.
  if (Shown_)
    FocusControl(GetNextDlgTabItem(Handle(), nullptr, FALSE));
  else
    LastFocus_ = nullptr;
}

bool TForm::RouteChildMessage(HWND parent, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT& result) {
  TFormControl* control = ControlOf(MessageChild(message, lParam));
  if (!control) return false;
  result = control->ParentMessage(parent, message, wParam, lParam);
  return true;
}

TTimer& TForm::AddTimer() { return *OwnedTimers_.emplace_back(std::make_unique<TTimer>(*this)); }

UINT_PTR TForm::AddTimerId(TTimer& timer) {
  Timers_.push_back(&timer);
  return NextTimerId_++;
}

void TForm::RemoveTimer(TTimer& timer) { std::erase(Timers_, &timer); }

void TForm::OnTimerMessage(UINT_PTR id) {
  auto timer =
      std::find_if(Timers_.begin(), Timers_.end(), [&](TTimer* t) { return t->Id_ == id; });
  if (timer == Timers_.end() || !(*timer)->Enabled() || !(*timer)->OnTimer) return;
  (*timer)->OnTimer();
}

void TForm::PressCancelButton() {
  for (TFormControl* control : Controls_)
    if (control->IsCancelButton()) return control->Press();
}

LRESULT TForm::DefaultButtonId() const {
  // Enter presses the button that has the focus, any other time the default button.
  const TFormControl* button = ControlOf(GetFocus());
  if (!button || !button->IsPushButton()) button = DefaultButton();
  return button ? MAKELRESULT(button->Id(), DC_HASDEFID) : 0;
}

void TForm::FocusControl(HWND control) {
  if (!control) return;
  // An edit reached by the keyboard has its text selected, ready to be typed over.
  if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
    SendMessageW(control, EM_SETSEL, 0, -1);
  ::SetFocus(control);
}

void TForm::HoldTheKeyboard(DWORD milliseconds) { HoldUntil_ = GetTickCount64() + milliseconds; }

void TForm::OnActivate(bool active, HWND other) {
  HWND focus = GetFocus();
  if (!active) {
    if (IsDescendant(Handle(), focus)) LastFocus_ = focus;
    // Explorer's window takes the keyboard more than once while it opens.
    if (GetTickCount64() < HoldUntil_ && OfAnotherProgram(other))
      PostMessageW(Handle(), kTakeBackMessage, 0, 0);
    return;
  }
  HWND target = LastFocus_;
  if (!IsDescendant(Handle(), target) || !IsWindowVisible(target) || !IsWindowEnabled(target))
    target = GetNextDlgTabItem(Handle(), nullptr, FALSE);
  FocusControl(target);
}

void TForm::ArrangeControls() {
  ArrangePending_ = false;
  ClientHeight_ = TLayout(*this).Arrange(*this, ScaleForDpi(Design_.ClientWidth, Dpi_),
                                         ScaleForDpi(Design_.ClientHeight, Dpi_));
  RECT before;
  GetWindowRect(Handle(), &before);
  ApplyClientSize();
  RECT after;
  GetWindowRect(Handle(), &after);
  const int growth = (after.bottom - after.top) - (before.bottom - before.top);
  if (growth == 0) return;
  // The form grows about its middle, where it was put, and stays below the screen's top.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(Handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
  const int top =
      std::max(static_cast<int>(before.top) - growth / 2, static_cast<int>(monitor.rcWork.top));
  SetWindowPos(Handle(), nullptr, before.left, top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::RequestArrange() {
  // A form off the screen is arranged when it is shown.
  if (!Shown_ || ArrangePending_) return;
  ArrangePending_ = true;
  PostMessageW(Handle(), kArrangeMessage, 0, 0);
}

void TForm::SetAccessibleName(const std::wstring& name) {
  AccessibleName_ = name;
  if (Annotated_) AnnotateName(Handle(), name);
  AnnounceNameChange(Handle());
}

// Assistive technology learns that the form is a dialog, and its name. The annotation
// service starts the component layer, which takes long enough under Wine to wait until the
// form is on the screen.
void TForm::Annotate() {
  if (Annotated_) return;
  Annotated_ = true;
  AnnotateRole(Handle(), ROLE_SYSTEM_DIALOG);
  if (!AccessibleName_.empty()) AnnotateName(Handle(), AccessibleName_);
}

void TForm::ApplyDpi(UINT dpi, const RECT* suggested) {
  Dpi_ = dpi;
  const UniqueFont previousFont = std::move(Font_);  // in use until every control has the new one
  Font_ = CreateFontForDpi(TFont{}, Dpi_);
  for (TFormControl* control : Controls_) control->FormDpiChanged();
  ArrangeControls();
  if (suggested)
    SetWindowPos(Handle(), nullptr, suggested->left, suggested->top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TForm::SetWaitCursor(LPARAM hitTestAndMessage) {
  if (WaitCursors_ == 0) return false;
  // A click on the form while a box it opened is up still sounds as it always does.
  if (static_cast<short>(LOWORD(hitTestAndMessage)) == HTERROR)
    DefWindowProcW(Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(Handle()), hitTestAndMessage);
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  return true;
}

// ---- TWaitCursor

TWaitCursor::TWaitCursor(TForm& form)
    : Form_(form), Previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {
  ++Form_.WaitCursors_;
}

TWaitCursor::~TWaitCursor() {
  --Form_.WaitCursors_;
  SetCursor(Previous_ ? Previous_ : LoadCursorW(nullptr, IDC_ARROW));
}

LRESULT CALLBACK TForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->Window_.reset(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // Destroyed from outside (with its owner): the form no longer owns a window.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    form->Window_.release();
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return form->HandleMessage(message, wParam, lParam);
}

LRESULT TForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (RouteChildMessage(Handle(), message, wParam, lParam, result)) return result;
  switch (message) {
    case WM_COMMAND:
      // Esc comes from the dialog navigation as IDCANCEL without a control.
      if (LOWORD(wParam) == IDCANCEL && lParam == 0) PressCancelButton();
      return 0;
    case DM_GETDEFID:
      return DefaultButtonId();
    case WM_NEXTDLGCTL:
      // The dialog navigation's Tab and accelerators arrive here, as in a dialog box.
      if (LOWORD(lParam))
        FocusControl(reinterpret_cast<HWND>(wParam));
      else
        FocusControl(GetNextDlgTabItem(
            Handle(), IsDescendant(Handle(), GetFocus()) ? GetFocus() : nullptr, wParam != 0));
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_TIMER:
      OnTimerMessage(wParam);
      return 0;
    case kFormPaintedMessage:
      // A form closed before its loop got the message has nothing on the screen to go with.
      if (Shown_) {
        Annotate();
        FormPainted();
      }
      return 0;
    case kArrangeMessage:
      if (ArrangePending_) ArrangeControls();
      return 0;
    case WM_SYSCOMMAND: {
      TSysCommand command{static_cast<UINT>(wParam)};
      WMSysCommand(command);
      if (command.Handled) return 0;
      break;
    }
    case WM_DPICHANGED:
      ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam) != WA_INACTIVE, reinterpret_cast<HWND>(lParam));
      return 0;
    case kTakeBackMessage:
      SetForegroundWindow(Handle());
      return 0;
    case WM_SETCURSOR:
      if (SetWaitCursor(lParam)) return TRUE;
      break;
    case WM_PRINTCLIENT: {
      RECT client;
      GetClientRect(Handle(), &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
      return 0;
    }
  }
  return DefWindowProcW(Handle(), message, wParam, lParam);
}
