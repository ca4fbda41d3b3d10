#include "shell/win/Forms.h"

#include <algorithm>
#include <stdexcept>

#include <commctrl.h>

#include "shell/win/Controls.h"
#include "shell/win/UiSeam.h"
#include "base/WideText.h"

TApplication Application;

namespace {

constexpr wchar_t kFormClass[] = L"TarnwhistleForm";

ATOM formClassAtom = 0;


ATOM RegisterFormClass(WNDPROC windowProc) {
  if (formClassAtom) return formClassAtom;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  formClassAtom = RegisterLayerWindowClass(kFormClass, windowProc);
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

}  // namespace

ATOM RegisterLayerWindowClass(const wchar_t* className, WNDPROC windowProc) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(ProgramIconId));
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageW(windowClass.hInstance, MAKEINTRESOURCEW(ProgramIconId), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
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

void TApplication::ShowException(const std::exception& error) {
  std::wstring text = WideFromUtf8(error.what());
  if (!text.empty() && text.back() != L'.') text += L'.';
  ShowMessageBox(GetActiveWindow(), text, title_, MB_OK | MB_ICONERROR);
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

TTimer::TTimer(TForm& form) : form_(form), id_(form.AddTimerId(*this)) {}

TTimer::~TTimer() {
  KillTimer(form_.Handle(), id_);
  form_.RemoveTimer(*this);
}

void TTimer::SetInterval(UINT milliseconds) {
  interval_ = milliseconds;
  Restart();
}

void TTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Restart();
}

void TTimer::Restart() {
  KillTimer(form_.Handle(), id_);
  if (enabled_ && interval_ > 0) SetTimer(form_.Handle(), id_, interval_, nullptr);
}

// ---- TForm

TForm* FormFromHandle(HWND window) {
  if (!window || !formClassAtom || GetClassLongPtrW(window, GCW_ATOM) != formClassAtom)
    return nullptr;
  return reinterpret_cast<TForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

TForm::TForm(TForm* owner, const TFormDesign& design) : owner_(owner), design_(design) {
  DWORD exStyle = WS_EX_CONTROLPARENT;
  if (design.BorderStyle == bsDialog) exStyle |= WS_EX_DLGMODALFRAME;
  if (design.ShowInTaskbar) exStyle |= WS_EX_APPWINDOW;
  CreateWindowExW(exStyle, MAKEINTATOM(RegisterFormClass(&TForm::WindowProc)),
                  design.Caption.c_str(), Style(), 0, 0, 0, 0, owner ? owner->Handle() : nullptr,
                  nullptr, GetModuleHandleW(nullptr), this);
  if (!Handle())
    throw std::runtime_error("Cannot create the window " + Utf8FromWide(design.Caption));
  dpi_ = WindowDpi(Handle());
  font_ = CreateFontForDpi(TFont{}, dpi_);
  ApplyClientSize();
  CenterOnScreen();
}

TForm::~TForm() {
  ownedTimers_.clear();
  if (Handle()) SetWindowLongPtrW(Handle(), GWLP_USERDATA, 0);
}

DWORD TForm::Style() const {
  DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
  if (design_.BorderStyle == bsSizeable) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  if (design_.SystemMenu) style |= WS_SYSMENU;
  return style;
}

void TForm::ApplyClientSize() {
  const int width = ScaleForDpi(design_.ClientWidth, dpi_),
            height = ScaleForDpi(design_.ClientHeight, dpi_);
  SIZE size = WindowSizeForClient(
      width, height, Style(), static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)), dpi_);
  SetWindowPos(Handle(), nullptr, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The frame the system draws may differ from its own forecast (Wine keeps its title bar
  // at the system DPI); the client area is what has to come out right.
  RECT client;
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
  RECT window;
  GetWindowRect(Handle(), &window);
  const RECT& area = monitor.rcWork;
  const int left = area.left + ((area.right - area.left) - (window.right - window.left)) / 2;
  const int top = area.top + ((area.bottom - area.top) - (window.bottom - window.top)) / 2;
  SetWindowPos(Handle(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring TForm::Caption() const { return WindowText(Handle()); }

void TForm::SetCaption(const std::wstring& caption) { SetWindowTextW(Handle(), caption.c_str()); }

TModalResult TForm::ShowModal() {
  HWND ownerWindow = owner_ ? owner_->Handle() : nullptr;
  // An owner that is disabled already (by a dialog further out) stays so afterwards.
  const bool disableOwner = ownerWindow && IsWindowEnabled(ownerWindow);
  if (disableOwner) EnableWindow(ownerWindow, FALSE);
  modalResult_ = mrNone;
  modal_ = true;
  Guard([&] { FormShow(); });
  ShowWindow(Handle(), SW_SHOWNORMAL);
  UpdateWindow(Handle());
  NotifyModalLoopStarting(*this);
  RunModalLoop();
  // The owner is enabled before the dialog hides, so that it gets the activation back.
  if (disableOwner) EnableWindow(ownerWindow, TRUE);
  ShowWindow(Handle(), SW_HIDE);
  modal_ = false;
  return modalResult_;
}

void TForm::RunModalLoop() {
  for (;;) {
    if (modalResult_ != mrNone) {
      if (CloseQuery()) return;
      modalResult_ = mrNone;
    }
    MSG message;
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The application is ending: leave the quit message to the outer loops.
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      modalResult_ = mrCancel;
      return;
    }
    DispatchUiMessage(message);
  }
}

bool TForm::CloseQuery() {
  bool canClose = true;
  bool answered = false;
  Guard([&] {
    FormCloseQuery(canClose);
    answered = true;
  });
  return answered && canClose;
}

void TForm::Show() {
  Guard([&] { FormShow(); });
  ShowWindow(Handle(), SW_SHOWNORMAL);
}

void TForm::Hide() { ShowWindow(Handle(), SW_HIDE); }

bool TForm::Visible() const { return IsWindowVisible(Handle()) != FALSE; }

void TForm::Close() {
  if (modal_) {
    modalResult_ = mrCancel;  // the modal loop asks the close query
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

TControl* TForm::FindNamedControl(std::wstring_view name) const {
  for (TControl* control : controls_)
    if (control->Name() == name) return control;
  return nullptr;
}

void TForm::AddControl(TControl& control) { controls_.push_back(&control); }

void TForm::RemoveControl(TControl& control) { std::erase(controls_, &control); }

TTimer& TForm::AddTimer() { return *ownedTimers_.emplace_back(std::make_unique<TTimer>(*this)); }

UINT_PTR TForm::AddTimerId(TTimer& timer) {
  timers_.push_back(&timer);
  return nextTimerId_++;
}

void TForm::RemoveTimer(TTimer& timer) { std::erase(timers_, &timer); }

void TForm::OnTimerMessage(UINT_PTR id) {
  auto timer =
      std::find_if(timers_.begin(), timers_.end(), [&](TTimer* t) { return t->id_ == id; });
  if (timer == timers_.end() || !(*timer)->Enabled() || !(*timer)->OnTimer) return;
  Guard([&] { (*timer)->OnTimer(); });
}

void TForm::PressCancelButton() {
  for (TControl* control : controls_)
    if (auto* button = dynamic_cast<TButton*>(control); button && button->Cancel())
      return button->Click();
}

LRESULT TForm::DefaultButtonId() const {
  // Enter presses the button that has the focus, any other time the default button.
  auto* button = dynamic_cast<TButton*>(TControl::FromHandle(GetFocus()));
  for (auto control = controls_.begin(); !button && control != controls_.end(); ++control)
    if (auto* candidate = dynamic_cast<TButton*>(*control); candidate && candidate->Default())
      button = candidate;
  return button ? MAKELRESULT(button->id_, DC_HASDEFID) : 0;
}

void TForm::FocusControl(HWND control) {
  if (!control) return;
  // An edit reached by the keyboard has its text selected, ready to be typed over.
  if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
    SendMessageW(control, EM_SETSEL, 0, -1);
  ::SetFocus(control);
}

void TForm::OnActivate(bool active) {
  HWND focus = GetFocus();
  if (!active) {
    if (IsDescendant(Handle(), focus)) lastFocus_ = focus;
    return;
  }
  HWND target = lastFocus_;
  if (!IsDescendant(Handle(), target) || !IsWindowVisible(target) || !IsWindowEnabled(target))
    target = GetNextDlgTabItem(Handle(), nullptr, FALSE);
  if (target) ::SetFocus(target);
}

void TForm::ApplyDpi(UINT dpi, const RECT* suggested) {
  dpi_ = dpi;
  const UniqueFont previousFont = std::move(font_);  // in use until every control has the new one
  font_ = CreateFontForDpi(TFont{}, dpi_);
  for (TControl* control : controls_) control->ApplyDpi();
  ApplyClientSize();
  if (suggested)
    SetWindowPos(Handle(), nullptr, suggested->left, suggested->top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK TForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->window_.reset(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // Destroyed from outside (with its owner): the form no longer owns a window.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    form->window_.release();
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return form->HandleMessage(message, wParam, lParam);
}

LRESULT TForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (TControl::RouteChildMessage(Handle(), message, wParam, lParam, result)) return result;
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
    case WM_SYSCOMMAND: {
      TSysCommand command{static_cast<UINT>(wParam)};
      Guard([&] { WMSysCommand(command); });
      if (command.Handled) return 0;
      break;
    }
    case WM_DPICHANGED:
      ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam) != WA_INACTIVE);
      return 0;
    case WM_PRINTCLIENT: {
      RECT client;
      GetClientRect(Handle(), &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
      return 0;
    }
  }
  return DefWindowProcW(Handle(), message, wParam, lParam);
}
