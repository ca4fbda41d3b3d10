// The thin form layer: the application object, forms shown modally with a modal result and
// a close query, timers and system-menu items, all on the platform's own windows.
// Controls live in Controls.h.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shell/win/Dpi.h"
#include "base/Handles.h"

// How a modal form ended: the id of the message-box button of the same meaning.
using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = IDOK;
constexpr TModalResult mrCancel = IDCANCEL;
constexpr TModalResult mrAbort = IDABORT;
constexpr TModalResult mrRetry = IDRETRY;
constexpr TModalResult mrIgnore = IDIGNORE;
constexpr TModalResult mrYes = IDYES;
constexpr TModalResult mrNo = IDNO;

// The text of a window: a caption, or an edit's contents.
std::wstring WindowText(HWND window);

// A colour: a system colour index marked by the top byte, so that every text follows the
// user's colour scheme (high contrast included).
using TColor = DWORD;
constexpr TColor clSystemColor = 0xFF000000;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
COLORREF ColorToRGB(TColor color);
// How far apart two colours stand for the eye: the ratio of their relative luminances
// (1 to 21); text needs 4.5 against its background.
double ContrastRatio(COLORREF first, COLORREF second);
// Grey text on `background` that stays readable: the system's grey where it stands 4.5 to 1
// from the background, else the system's text colour for that background.
TColor ReadableGrayText(TColor background);

// A control's font. The default is the system's message font, the font of dialogs.
struct TFont {
  std::wstring Name;  // face; empty: the message font's face
  int Size = 0;       // in points; 0: Height decides
  int Height = 0;     // character height in 96-DPI pixels; with Size also 0, the message font's
  TColor Color = clWindowText;
  bool Bold = false;

  // Whether the face and size are the message font's (the colour aside).
  bool IsMessageFont() const { return Name.empty() && Size == 0 && Height == 0 && !Bold; }
};

// The 10-point text of the program's notices: the hidden main window's label and the wait
// dialog's message.
TFont NoticeFont();

// The font object for `font` at `dpi`.
UniqueFont CreateFontForDpi(const TFont& font, UINT dpi);

class TForm;
class TControl;
class TPage;

// A control as its form sees it; TControl (Controls.h) implements it, and the form knows its
// controls through nothing else. A control is on its form's list from construction to
// destruction. The form finds controls by name, lets them follow its DPI, hands them the
// messages its windows get about them, and presses buttons among them for Enter and Esc.
class TFormControl {
 public:
  TFormControl(const TFormControl&) = delete;
  TFormControl& operator=(const TFormControl&) = delete;

  // The control's window. A control on a notebook page that has not been shown yet gets
  // its window here, with the rest of the page's, when something needs it first.
  virtual HWND Handle() const = 0;
  virtual const std::wstring& Name() const = 0;
  TForm& Form() const { return Form_; }
  // The control's id in the notifications its parent gets.
  UINT Id() const { return Id_; }

  // A message that the control's parent window got about it: WM_COMMAND, WM_CTLCOLOR* or
  // WM_DRAWITEM. Answers the window procedure's result.
  virtual LRESULT ParentMessage(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // The form's DPI changed: the control takes its place and font at the new DPI.
  virtual void FormDpiChanged() = 0;

  // Enter presses the push button that has the focus, any other time the default button;
  // Esc presses the cancel button.
  virtual bool IsPushButton() const { return false; }
  // Whether the control takes the user's data (a field, a box, a list): what a page's first
  // focus goes to.
  virtual bool IsInput() const { return false; }
  virtual bool IsDefaultButton() const { return false; }
  virtual bool IsCancelButton() const { return false; }
  virtual void Press() {}

 protected:
  explicit TFormControl(TForm& form);
  virtual ~TFormControl();
  // Ties the control's window to the control, for FormControlOf.
  void MarkWindow(HWND window);
  static void UnmarkWindow(HWND window);

 private:
  TForm& Form_;
  UINT Id_;
};

// The one application object.
class TApplication {
 public:
  // Shown on the task bar and as the caption of the error display.
  const std::wstring& Title() const { return Title_; }
  void SetTitle(std::wstring title) { Title_ = std::move(title); }

  // For an error the program cannot go on from: a window that cannot be made, memory that
  // runs out, a broken precondition of the standard library. Shows an error box captioned
  // with the title, whose text is `message` followed by a full stop (in a quiet run: the
  // log and the console), and ends the program with exit code 1 ("a step failed"). A
  // database write cut short so is put back by the next opening.
  [[noreturn]] void Fail(const std::string& message);

  // The message loop; ends on WM_QUIT and answers its exit code.
  int Run();
  // Dispatches every message waiting in the queue, then returns.
  void ProcessMessages();

 private:
  std::wstring Title_;
};

extern TApplication Application;

// Something controls are placed in: a form, a panel, a notebook page.
class TContainer {
 public:
  virtual HWND ContainerHandle() const = 0;
  virtual TForm& ContainerForm() = 0;
  // The notebook page whose first showing the controls placed here wait for to get their
  // windows; null when they get them at once.
  virtual TPage* PendingPage() { return nullptr; }
  // Whether every child fills the container (the pages of a notebook), rather than keeping
  // its own place.
  virtual bool ChildrenFillIt() const { return false; }

 protected:
  ~TContainer() = default;
};

// A repeating timer of a form: while enabled, OnTimer runs every Interval milliseconds from
// the form's message loop. Created disabled, with the interval 1000.
class TTimer {
 public:
  explicit TTimer(TForm& form);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  UINT Interval() const { return Interval_; }
  // A running timer starts its new interval now.
  void SetInterval(UINT milliseconds);
  bool Enabled() const { return Enabled_; }
  void SetEnabled(bool enabled);
  int Tag() const { return Tag_; }
  void SetTag(int tag) { Tag_ = tag; }

  std::function<void()> OnTimer;

 private:
  friend class TForm;
  void Restart();

  TForm& Form_;
  UINT_PTR Id_;
  UINT Interval_ = 1000;
  bool Enabled_ = false;
  int Tag_ = 0;
};

enum TBorderStyle {
  bsDialog,    // fixed dialog frame, no icon in the title bar
  bsSingle,    // fixed single frame
  bsSizeable,  // resizable frame with minimise and maximise boxes
};

// A form's design: caption, client size in 96-DPI pixels and frame.
struct TFormDesign {
  std::wstring Caption;
  int ClientWidth = 0;
  int ClientHeight = 0;
  TBorderStyle BorderStyle = bsDialog;
  bool SystemMenu = true;      // system menu and close box in the title bar
};

// A system-menu command as the form's WMSysCommand sees it.
struct TSysCommand {
  UINT CmdType = 0;      // the command identifier (wParam of WM_SYSCOMMAND)
  bool Handled = false;  // set by the handler: the default handling is skipped
};

// A top-level window of this program. Its window exists from construction on, hidden,
// centred on the screen; controls are members of derived forms, constructed with the form
// (or a panel or page of it) as parent. It is a dialog as Windows' dialog manager makes
// them: Tab follows what the user sees, Enter presses the default button and Esc the cancel
// button from anywhere, a label's accelerator reaches its control, and assistive technology
// knows it as a dialog. Its controls are laid out from their text (Layout.h) when it is
// shown, and again when their text, font or DPI change.
class TForm : public TContainer {
 public:
  TForm(TForm* owner, const TFormDesign& design);
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  HWND Handle() const { return Window_.get(); }
  TForm* Owner() const { return Owner_; }
  // The DPI the form is laid out for: its monitor's.
  UINT Dpi() const { return Dpi_; }

  std::wstring Caption() const;
  void SetCaption(const std::wstring& caption);

  // Shows the form and runs its message loop until a modal result is set and the close
  // query allows it; the owner is disabled meanwhile. Answers the modal result.
  TModalResult ShowModal();
  TModalResult ModalResult() const { return ModalResult_; }
  // While the form is modal, a result other than mrNone asks for the close.
  void SetModalResult(TModalResult result) { ModalResult_ = result; }
  bool Modal() const { return Modal_; }

  // A modeless show and hide.
  void Show();
  void Hide();
  bool Visible() const;
  // A close request, as by the title bar's close box: a modal form ends with mrCancel if
  // its close query allows; a modeless one hides if it allows.
  void Close();

  void CenterOnScreen();

  void AddSystemMenuSeparator();
  void AddSystemMenuItem(UINT id, const std::wstring& text);

  // The control of that name, or null; of the type the caller knows it to be (the program
  // has no run-time type information to check it by).
  template <class T = TControl>
  T* FindControl(std::wstring_view name) const {
    return static_cast<T*>(FindNamedControl(name));
  }
  const std::vector<TFormControl*>& Controls() const { return Controls_; }
  // Gives the control the focus now when the form is shown, or else when it is shown next;
  // a field's text is selected, ready to be typed over.
  void SetActiveControl(TFormControl& control);
  // Focuses the first enabled input (in tab order) in `container`'s window, else the default
  // button, else the form's first tab stop: where a page's keyboard user starts.
  void FocusFirstInput(HWND container);
  // The push button Enter presses when no other button has the focus, or null.
  TFormControl* DefaultButton() const;
  // For `milliseconds` from now, a window of another program that opens (one the form's
  // work started) does not keep the keyboard from the form: the form takes it back.
  void HoldTheKeyboard(DWORD milliseconds);
  // Hands a message that a window holding controls (the form's own, a panel's) got about a
  // child to that child's control; false when the message is about no control of this form.
  bool RouteChildMessage(HWND parent, UINT message, WPARAM wParam, LPARAM lParam,
                         LRESULT& result);

  // A timer that lives as long as the form (for timers that are no member of it).
  TTimer& AddTimer();

  // The font of controls that keep the default font.
  HFONT DefaultFont() const { return Font_.get(); }

  // Places the controls from their design bounds and their text, and the form grows with
  // them (Layout.h); the tab order follows.
  void ArrangeControls();
  // The text or the font of a control changed: a form on the screen arranges its controls
  // again once its loop is free.
  void RequestArrange();

  // The name assistive technology gives the form, set and announced (a wizard's page title
  // on each change of page); empty: its caption.
  const std::wstring& AccessibleName() const { return AccessibleName_; }
  void SetAccessibleName(const std::wstring& name);
  HWND ContainerHandle() const override { return Handle(); }
  TForm& ContainerForm() override { return *this; }

 protected:
  // Runs when the form is about to be shown.
  virtual void FormShow() {}
  // Runs once a modal form is on the screen and painted, from its loop after whatever was
  // sent to it meanwhile: for what goes with the form but need not hold up its first paint
  // nor its first answer.
  virtual void FormPainted() {}
  // Asked on every close attempt; ModalResult() tells what closes it (mrCancel for the
  // close box, Esc and Cancel buttons). Leave `canClose` true to allow the close.
  virtual void FormCloseQuery(bool& canClose) { (void)canClose; }
  // A command of the system menu; set Handled to skip the default handling.
  virtual void WMSysCommand(TSysCommand& command) { (void)command; }

 private:
  friend class TFormControl;
  friend class TTimer;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  TFormControl* FindNamedControl(std::wstring_view name) const;
  TFormControl* ControlOf(HWND window) const;
  void AddControl(TFormControl& control);
  void RemoveControl(TFormControl& control);
  UINT NewControlId() { return NextControlId_++; }
  UINT_PTR AddTimerId(TTimer& timer);
  void RemoveTimer(TTimer& timer);
  void OnTimerMessage(UINT_PTR id);

  DWORD Style() const;
  void ApplyClientSize();
  void ApplyDpi(UINT dpi, const RECT* suggested);
  bool CloseQuery();
  void RunModalLoop();
  void PressCancelButton();
  LRESULT DefaultButtonId() const;
  void FocusControl(HWND control);
  void OnActivate(bool active, HWND other);
  void Annotate();

  TForm* Owner_;
  TFormDesign Design_;
  UniqueWindow Window_;
  UINT Dpi_ = DesignDpi;
  int ClientHeight_ = 0;  // in pixels at Dpi_: the design's, or what the layout needs
  bool ArrangePending_ = false;
  std::wstring AccessibleName_;
  bool Annotated_ = false;
  UniqueFont Font_;
  std::vector<TFormControl*> Controls_;
  std::vector<TTimer*> Timers_;
  std::vector<std::unique_ptr<TTimer>> OwnedTimers_;
  UINT NextControlId_ = 100;  // clear of IDOK and IDCANCEL, which the dialog keys send
  UINT_PTR NextTimerId_ = 1;
  TModalResult ModalResult_ = mrNone;
  bool Modal_ = false;
  // On the screen: shown and not hidden since. Not IsWindowVisible, which a form's redrawing
  // suspended (WM_SETREDRAW) answers false.
  bool Shown_ = false;
  HWND LastFocus_ = nullptr;
  ULONGLONG HoldUntil_ = 0;  // HoldTheKeyboard's end, in GetTickCount64's milliseconds
  int WaitCursors_ = 0;  // TWaitCursor objects alive for this form

  friend class TWaitCursor;
  bool SetWaitCursor(LPARAM hitTestAndMessage);
};

// The hourglass over a form for as long as the object lives, for work that keeps the form
// from answering. A cursor set once gives way to the window's own at the next mouse move;
// this one holds, because the form answers the system's cursor queries with it, for itself
// and for every control on it. Other windows (a dialog the work opens) keep their cursors.
class TWaitCursor {
 public:
  explicit TWaitCursor(TForm& form);
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;

 private:
  TForm& Form_;
  HCURSOR Previous_;
};

// The program's icon among its resources (program/setup.rc). Programs without one (the
// test suites) get the system's default icon.
inline constexpr WORD ProgramIconId = 1;

// Registers a window class of this layer: arrow cursor, the dialog face as background, and
// for windows that show an icon (title bar, task bar) the program's icon.
enum class TClassIcon { None, Program };
ATOM RegisterLayerWindowClass(const wchar_t* className, WNDPROC windowProc, TClassIcon icon);

// The form whose window this is, or null for windows of other kinds.
TForm* FormFromHandle(HWND window);
// The control whose window this is, or null for windows of other kinds.
TFormControl* FormControlOf(HWND window);
