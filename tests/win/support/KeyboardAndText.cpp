#include "KeyboardAndText.h"

#include <oleacc.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <optional>

#include "Screenshot.h"
#include "UiScript.h"

void PressKey(WPARAM key) {
  PostMessageW(GetFocus(), WM_KEYDOWN, key, 0);
  PumpMessagesFor(100);
}

namespace {

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return name;
}

BOOL CALLBACK AddShownControl(HWND child, LPARAM list) {
  if (IsWindowVisible(child) && TControl::FromHandle(child))
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

// The form's controls that are on the screen, in no particular order.
std::vector<HWND> ShownControls(const TForm& form) {
  std::vector<HWND> shown;
  EnumChildWindows(form.Handle(), AddShownControl, reinterpret_cast<LPARAM>(&shown));
  return shown;
}

// The height `text` takes drawn in the control's font within `width` pixels.
int DrawnHeight(HWND control, const std::wstring& text, int width, UINT format) {
  const HDC dc = GetDC(control);
  const HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT rect{0, 0, width, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format | DT_CALCRECT);
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return rect.bottom;
}

int LineHeight(HWND control) { return DrawnHeight(control, L"Ag", 1000, DT_SINGLELINE); }

// How tall the control's text is at its width, and how much of its height it may take.
struct TextNeed {
  int Text;
  int Room;
};

TextNeed NeedOf(HWND control, const RECT& client, UINT dpi) {
  const std::wstring text = WindowText(control), type = ClassOf(control);
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
  const int width = client.right, height = client.bottom;
  if (type == L"Static") return {DrawnHeight(control, text, width, DT_WORDBREAK | DT_EXPANDTABS), height};
  if (type == L"Button") {
    const bool box = (style & BS_TYPEMASK) == BS_AUTOCHECKBOX || (style & BS_TYPEMASK) == BS_CHECKBOX;
    // A box's caption beside the box, a button's inside its edges.
    const int inset = ScaleForDpi(box ? 16 : 8, dpi);
    return {DrawnHeight(control, text, width - inset, DT_WORDBREAK), box ? height : height - ScaleForDpi(4, dpi)};
  }
  if (type == L"Edit" && (style & ES_MULTILINE) && !(style & WS_VSCROLL))
    return {static_cast<int>(SendMessageW(control, EM_GETLINECOUNT, 0, 0)) * LineHeight(control), height};
  return {LineHeight(control), height};  // one line at least: a field, a list, a scrolling text
}

}  // namespace

std::vector<std::wstring> TabOrder(const TForm& form) {
  std::vector<std::wstring> names;
  const HWND first = GetFocus();
  for (HWND at = first; at && names.size() < 40;) {
    const TControl* control = TControl::FromHandle(at);
    names.push_back(control ? control->Name() : L"?");
    at = GetNextDlgTabItem(form.Handle(), at, FALSE);
    if (at == first) break;
  }
  return names;
}

namespace {

std::wstring AccessibleName(HWND window) {
  IAccessible* object = nullptr;
  VARIANT child;
  if (FAILED(AccessibleObjectFromEvent(window, OBJID_CLIENT, CHILDID_SELF, &object, &child)))
    return L"(none)";
  BSTR name = nullptr;
  object->get_accName(child, &name);
  std::wstring answer = name ? name : L"";
  SysFreeString(name);
  object->Release();
  return answer;
}

std::wstring LabelBefore(HWND control) {
  const HWND label = GetWindow(control, GW_HWNDPREV);
  const TControl* before = TControl::FromHandle(label);
  return before && ClassOf(label) == L"Static" ? before->ShownText() : std::wstring();
}

}  // namespace

void ExpectNamed(HWND control, const std::wstring& name) {
  const std::string which = Narrow(TControl::FromHandle(control)->Name());
  EXPECT_EQ(LabelBefore(control), name) << which;
  if (ClassOf(control) == L"Edit") EXPECT_EQ(AccessibleName(control), name) << which;
}

void ExpectTextsFit(const TForm& form, const std::string& where) {
  for (HWND control : ShownControls(form)) {
    const std::string name = where + ", " + Narrow(TControl::FromHandle(control)->Name());
    RECT client, placed, parent;
    GetClientRect(control, &client);
    const TextNeed need = NeedOf(control, client, form.Dpi());
    EXPECT_LE(need.Text, need.Room) << name << ": \"" << Narrow(WindowText(control)) << "\"";
    GetWindowRect(control, &placed);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&placed), 2);
    GetClientRect(GetParent(control), &parent);
    EXPECT_TRUE(placed.left >= 0 && placed.top >= 0 && placed.right <= parent.right &&
                placed.bottom <= parent.bottom)
        << name << " sticks out of its parent";
  }
}

void ExpectAccelerators(const TForm& form, const std::string& where) {
  std::wstring seen;
  for (HWND control : ShownControls(form)) {
    const std::wstring type = ClassOf(control), text = WindowText(control);
    if (type != L"Button" && type != L"Static") continue;
    wchar_t key = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] != L'&') continue;
      if (text[i + 1] != L'&') key = static_cast<wchar_t>(std::towlower(text[i + 1]));
      ++i;
    }
    const std::wstring shown = TControl::FromHandle(control)->ShownText();
    if (type == L"Button" && !key && shown != L"Cancel" && shown != L"Ok" && shown != L"OK")
      ADD_FAILURE() << where << ": \"" << Narrow(shown) << "\" has no accelerator";
    if (key && seen.find(key) != std::wstring::npos)
      ADD_FAILURE() << where << ": a second '" << Narrow(std::wstring(1, key)) << "' on \""
                    << Narrow(shown) << "\"";
    if (key) seen += key;
  }
}

LargeText::LargeText() {
  Saved_.cbSize = sizeof(Saved_);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(Saved_), &Saved_, 0);
  NONCLIENTMETRICSW large = Saved_;
  large.lfMessageFont.lfHeight = large.lfMessageFont.lfHeight * 3 / 2;
  SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(large), &large, 0);
}

LargeText::~LargeText() {
  SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(Saved_), &Saved_, 0);
}

namespace {

// Windows' "High Contrast Black": white text on black, green for what is disabled, cyan for
// the selection, for the elements the program's windows are drawn with.
constexpr int kHighContrastElements[] = {
    COLOR_WINDOW,    COLOR_WINDOWTEXT, COLOR_BTNFACE,   COLOR_BTNTEXT,   COLOR_GRAYTEXT,
    COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT, COLOR_3DHIGHLIGHT, COLOR_3DSHADOW, COLOR_3DDKSHADOW,
    COLOR_3DLIGHT,   COLOR_ACTIVECAPTION, COLOR_CAPTIONTEXT, COLOR_WINDOWFRAME};
constexpr COLORREF kHighContrastColors[] = {
    RGB(0, 0, 0),      RGB(255, 255, 255), RGB(0, 0, 0),       RGB(255, 255, 255),
    RGB(63, 242, 63),  RGB(26, 235, 255),  RGB(0, 0, 0),       RGB(255, 255, 255),
    RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(128, 0, 128),
    RGB(255, 255, 255), RGB(255, 255, 255)};

}  // namespace

HighContrast::HighContrast() {
  for (const int element : kHighContrastElements) Saved_.push_back(GetSysColor(element));
  SetSysColors(static_cast<int>(std::size(kHighContrastElements)), kHighContrastElements,
               kHighContrastColors);
}

HighContrast::~HighContrast() {
  SetSysColors(static_cast<int>(std::size(kHighContrastElements)), kHighContrastElements,
               Saved_.data());
}

std::string TDisplay::Name() const {
  return std::to_string(Dpi) + " DPI" + (LargeText ? ", 150 % text" : "") +
         (HighContrast ? ", high contrast" : "");
}

void OnEveryDisplay(const std::function<void(const TDisplay&)>& test) {
  for (const TDisplay display : {TDisplay{96, false, false, nullptr}, TDisplay{144, false, false, nullptr},
                                 TDisplay{96, true, false, nullptr},
                                 TDisplay{144, true, false, L"-144dpi-large-text"},
                                 TDisplay{96, false, true, L"-high-contrast"}}) {
    std::optional<LargeText> large;
    if (display.LargeText) large.emplace();
    std::optional<HighContrast> contrast;
    if (display.HighContrast) contrast.emplace();
    test(display);
  }
}

void ExpectLayoutHolds(TForm& form, const TDisplay& display, const std::wstring& name,
                       TNotebook* notebook) {
  RECT suggested{0, 0, 100, 100};
  SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(display.Dpi, display.Dpi),
               reinterpret_cast<LPARAM>(&suggested));
  for (int page = notebook ? notebook->PageCount() - 1 : 0; page >= 0; --page) {
    std::wstring shot = name + (display.Shots ? display.Shots : L"");
    std::string where = display.Name();
    if (notebook) {
      notebook->SetPageIndex(page);
      Application.ProcessMessages();  // the page's texts as its new windows wrap them
      shot += L"-" + notebook->ActivePage().Caption();
      where += ", " + Narrow(notebook->ActivePage().Caption());
    }
    ExpectTextsFit(form, where);
    if (display.Shots) SaveScreenshot(form.Handle(), shot);
  }
}
