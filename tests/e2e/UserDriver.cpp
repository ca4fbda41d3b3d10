// The user of the end-to-end runs: a console program that runs one action per call
// against the windows of another program in the same Wine prefix, the way a user would act
// on them. It finds windows by their caption (and, where several share a caption, by a text
// they show), types into the edit field next to a label, clicks buttons by caption, ticks
// boxes, answers message boxes and closes windows through their close box. It never
// reaches into the program under test in any other way.
//
// Usage: e2e-driver COMMAND --window CAPTION [--showing TEXT] [--timeout SECONDS]
//                   [--poll MILLISECONDS] [--start PROGRAM] ARGS
//   wait                   the window is there (showing TEXT, when given)
//   painted                the window is there and its picture on the screen has not changed
//                          for 200 ms: says "painted: " and the moment it last changed
//   gone                   no such window is left
//   type LABEL TEXT        types TEXT into the edit field that follows the label
//   click CAPTION          clicks the enabled button with this caption
//   tick CAPTION on|off    ticks or clears the check box
//   open ITEM              double-clicks the list item that reads ITEM (a folder in a list)
//   answer BUTTON          the window is a message box: prints its text, presses BUTTON
//   syscommand ID          chooses the system-menu item with this command (About...)
//   close                  the window's close box
//   dump                   prints every visible control: class, state, text as shown
//   focus                  prints the control that has the keyboard focus in the window's
//                          program, as a screen reader finds it: "focus", then class, state,
//                          text as shown (a list's: its selected item), "name=" and "role="
//                          as the system's accessibility layer answers them, "label=" the
//                          label right before it (Windows names a field or a list by it;
//                          Wine's layer, fields only), and "foreground" when the window (or a
//                          window it owns) is the one the keyboard goes to
// A caption ending in '*' matches every caption that begins with the rest. Labels and
// button captions are compared without the accelerator marks (&); a label matches by its
// beginning. Exit status 0 when the action was done, 1 when it could not be (with one
// line saying why), 2 for a wrong command line. Every action done but dump ends with the
// line "at: " and the moment it was done, in milliseconds since 1970. Keys are the run
// script's: it types them with xdotool, as the user's keyboard would.
//
//
//        e2e-driver hold FILE SECONDS [RELEASE]
//        e2e-driver hold-run SECONDS [RELEASE]
// holds FILE open with no sharing, as another program may (or, with hold-run, the one-run
// lock of setup and the uninstaller, as a quiet run that is working does), says "held", and
// lets go after SECONDS, or as soon as the file RELEASE exists.
//
// --start starts PROGRAM (a Windows path) in its own folder first, as the shell would, and
// says "started: " and the moment before it did: a benchmark then times the program from
// its start with a driver that is already looking. --poll sets how often the driver looks
// for the window (default 20 ms).
#include <windows.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Options {
  std::wstring Command;
  std::wstring Window;
  std::wstring Showing;
  DWORD TimeoutMs = 30000;
  DWORD PollMs = 20;
  std::wstring Start;
  std::vector<std::wstring> Arguments;
};

std::wstring WindowText(HWND window) {
  // WM_GETTEXT through a time-out, so that a hung program cannot hang the driver.
  wchar_t buffer[4096];
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 2000, &length))
    return {};
  return std::wstring(buffer, length);
}

std::wstring ClassName(HWND window) {
  wchar_t name[256];
  const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return std::wstring(name, static_cast<size_t>(length > 0 ? length : 0));
}

// The text as the user reads it: "&Next" shows as "Next", "&&" as "&".
std::wstring Shown(const std::wstring& text) {
  std::wstring shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

BOOL CALLBACK AddVisibleChild(HWND child, LPARAM list) {
  if (IsWindowVisible(child)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

std::vector<HWND> VisibleChildren(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, AddVisibleChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

bool ShowsText(HWND window, const std::wstring& text) {
  for (HWND child : VisibleChildren(window))
    if (Contains(Shown(WindowText(child)), text)) return true;
  return false;
}

struct Search {
  const Options* Wanted;
  std::vector<HWND> Found;
};

// The caption as given, or beginning with it when the pattern ends in '*'.
bool CaptionMatches(const std::wstring& caption, const std::wstring& pattern) {
  if (!pattern.empty() && pattern.back() == L'*')
    return caption.rfind(pattern.substr(0, pattern.size() - 1), 0) == 0;
  return caption == pattern;
}

// A window the user can see: shown, and of some size (a program may keep a window of no
// size for its task bar button).
bool SeenByUser(HWND window) {
  RECT rect;
  return IsWindowVisible(window) && GetWindowRect(window, &rect) && rect.right > rect.left &&
         rect.bottom > rect.top;
}

BOOL CALLBACK AddMatchingWindow(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<Search*>(data);
  if (SeenByUser(window) && CaptionMatches(WindowText(window), search.Wanted->Window) &&
      (search.Wanted->Showing.empty() || ShowsText(window, search.Wanted->Showing)))
    search.Found.push_back(window);
  return TRUE;
}

std::vector<HWND> MatchingWindows(const Options& options) {
  Search search{&options, {}};
  EnumWindows(AddMatchingWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// Polls `probe` every `pollMs` until it answers something or the time is up.
template <class Probe>
auto WaitFor(DWORD timeoutMs, Probe probe, DWORD pollMs = 20) -> decltype(probe()) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (auto found = probe()) return found;
    if (GetTickCount64() >= end) return {};
    Sleep(pollMs);
  }
}

std::optional<HWND> FindWindowOnce(const Options& options) {
  std::vector<HWND> found = MatchingWindows(options);
  if (found.empty()) return std::nullopt;
  return found.front();
}

void Say(const wchar_t* format, const std::wstring& a = {}, const std::wstring& b = {}) {
  std::wstring line(1024, L'\0');
  const int length = std::swprintf(line.data(), line.size(), format, a.c_str(), b.c_str());
  line.resize(length > 0 ? static_cast<size_t>(length) : 0);
  line += L"\n";
  // Bytes in UTF-8, whatever the console's code page.
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

std::wstring Describe(const Options& options) {
  return L"\"" + options.Window + L"\"" +
         (options.Showing.empty() ? L"" : L" showing \"" + options.Showing + L"\"");
}

std::optional<HWND> ButtonOf(HWND window, const std::wstring& caption) {
  for (HWND child : VisibleChildren(window))
    if (_wcsicmp(ClassName(child).c_str(), L"Button") == 0 && Shown(WindowText(child)) == caption)
      return child;
  return std::nullopt;
}

// The visible edit field nearest below or to the right of the label's top left corner.
std::optional<HWND> EditAfterLabel(HWND window, const std::wstring& label) {
  std::optional<RECT> labelRect;
  for (HWND child : VisibleChildren(window)) {
    if (_wcsicmp(ClassName(child).c_str(), L"Static") != 0) continue;
    if (Shown(WindowText(child)).rfind(label, 0) == 0) {
      RECT rect;
      GetWindowRect(child, &rect);
      labelRect = rect;
      break;
    }
  }
  if (!labelRect) return std::nullopt;
  std::optional<HWND> best;
  long bestDistance = 0;
  for (HWND child : VisibleChildren(window)) {
    if (_wcsicmp(ClassName(child).c_str(), L"Edit") != 0) continue;
    RECT rect;
    GetWindowRect(child, &rect);
    const long dx = rect.left - labelRect->left, dy = rect.top - labelRect->top;
    if (dx < -8 || dy < -8) continue;
    const long distance = dx * dx + dy * dy;
    if (!best || distance < bestDistance) {
      best = child;
      bestDistance = distance;
    }
  }
  return best;
}

// A click as the mouse makes it. Sent, so that the program has acted on it when the driver
// returns; a click that opens a modal window returns only when that closes, so the wait is
// bounded and its end is no failure.
void Click(HWND button) {
  DWORD_PTR result;
  SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 1500, &result);
}

bool IsChecked(HWND box) {
  DWORD_PTR state = 0;
  SendMessageTimeoutW(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
  return state == BST_CHECKED;
}

// The moment an action was done, in milliseconds since 1970 as the Unix side counts them,
// so that a benchmark can put it beside its own clock.
long long UnixTimeMs() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const long long ticks = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10000 - 11644473600000LL;  // 100 ns units since 1601
}

int Fail(const wchar_t* format, const std::wstring& a = {}, const std::wstring& b = {}) {
  Say(format, a, b);
  return 1;
}

// The moment the window's picture on the screen last changed, once it has stayed the same
// for `quietMs` (its first paint done, as the user sees it); nullopt when it is still
// changing after `timeoutMs`.
std::optional<long long> LastPictureChange(HWND window, DWORD pollMs, DWORD quietMs,
                                           DWORD timeoutMs) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  const HBITMAP picture = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ previous = SelectObject(memory, picture);
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<DWORD> seen;
  const long long started = UnixTimeMs();
  long long lastChange = started;
  std::optional<long long> settled;
  for (long long now = started; bits && now - started < timeoutMs; now = UnixTimeMs()) {
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const auto* current = static_cast<const DWORD*>(bits);
    if (seen.empty() || !std::equal(seen.begin(), seen.end(), current)) {
      seen.assign(current, current + pixels);
      lastChange = now;
    } else if (now - lastChange >= quietMs) {
      settled = lastChange;
      break;
    }
    Sleep(pollMs);
  }
  SelectObject(memory, previous);
  DeleteObject(picture);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return settled;
}

// The visible list box of the window that holds an item reading `item`, and its index.
std::optional<std::pair<HWND, int>> ListItem(HWND window, const std::wstring& item) {
  for (HWND child : VisibleChildren(window)) {
    if (_wcsicmp(ClassName(child).c_str(), L"ListBox") != 0) continue;
    const int count = static_cast<int>(SendMessageW(child, LB_GETCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
      const LRESULT length = SendMessageW(child, LB_GETTEXTLEN, index, 0);
      if (length < 0) continue;
      std::wstring text(static_cast<size_t>(length) + 1, L'\0');
      SendMessageW(child, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<size_t>(length));
      if (text == item) return std::make_pair(child, index);
    }
  }
  return std::nullopt;
}

// A double click on the item, as the mouse makes it: the item scrolled into view first.
// Sent, so that the program has acted on it when the driver returns.
void DoubleClickItem(HWND list, int index) {
  SendMessageW(list, LB_SETTOPINDEX, index, 0);
  const int top = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
  const int height = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
  const LPARAM at = MAKELPARAM(8, (index - top) * height + height / 2);
  DWORD_PTR result;
  for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
    SendMessageTimeoutW(list, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, at, SMTO_NORMAL,
                        5000, &result);
}

// The name and role the system's accessibility layer gives the window, as a screen reader
// asks for them when the focus moves there.
std::wstring AccessibleNameAndRole(HWND window) {
  IAccessible* object = nullptr;
  VARIANT child;
  if (FAILED(AccessibleObjectFromEvent(window, OBJID_CLIENT, CHILDID_SELF, &object, &child)))
    return L"name=?\trole=?";
  BSTR name = nullptr;
  object->get_accName(child, &name);
  VARIANT role;
  VariantInit(&role);
  object->get_accRole(child, &role);
  wchar_t roleText[64] = L"?";
  if (role.vt == VT_I4) GetRoleTextW(static_cast<DWORD>(role.lVal), roleText, 64);
  std::wstring answer = L"name=" + std::wstring(name ? name : L"") + L"\trole=" + roleText;
  SysFreeString(name);
  VariantClear(&child);
  object->Release();
  return answer;
}

// The window's text as the user reads it: a caption without its accelerator marks, a
// field's contents as they are.
std::wstring ShownText(HWND window) {
  const std::wstring type = ClassName(window);
  const bool caption =
      _wcsicmp(type.c_str(), L"Button") == 0 || _wcsicmp(type.c_str(), L"Static") == 0;
  std::wstring text = caption ? Shown(WindowText(window)) : WindowText(window);
  for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;) text.replace(at, 2, L"\\n");
  return text;
}

// "enabled" or "disabled", with ",checked" for a ticked box and ",selected" for an edit field
// whose whole text is selected.
std::wstring StateOf(HWND control) {
  std::wstring state = IsWindowEnabled(control) ? L"enabled" : L"disabled";
  const std::wstring type = ClassName(control);
  if (_wcsicmp(type.c_str(), L"Button") == 0 && IsChecked(control)) state += L",checked";
  DWORD_PTR selection = 0;
  if (_wcsicmp(type.c_str(), L"Edit") == 0 &&
      SendMessageTimeoutW(control, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selection)) {
    const auto length = static_cast<WORD>(WindowText(control).size());
    if (length > 0 && LOWORD(selection) == 0 && HIWORD(selection) == length) state += L",selected";
  }
  return state;
}

// The text of the label right before the control in tab order, as shown; empty when the
// window before it is no label.
std::wstring LabelBefore(HWND control) {
  const HWND before = GetWindow(control, GW_HWNDPREV);
  return before && _wcsicmp(ClassName(before).c_str(), L"Static") == 0 ? Shown(WindowText(before))
                                                                       : std::wstring();
}

// A list's selected item; any other control's text as shown.
std::wstring FocusedText(HWND control) {
  if (_wcsicmp(ClassName(control).c_str(), L"ListBox") != 0) return ShownText(control);
  DWORD_PTR item = 0, length = 0;
  SendMessageTimeoutW(control, LB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &item);
  if (!SendMessageTimeoutW(control, LB_GETTEXTLEN, item, 0, SMTO_ABORTIFHUNG, 2000, &length) ||
      static_cast<LRESULT>(length) < 0 || length > 1000)
    return {};
  std::wstring text(length + 1, L'\0');
  SendMessageTimeoutW(control, LB_GETTEXT, item, reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 2000, &length);
  text.resize(length);
  return text;
}

int ReportFocus(HWND window) {
  GUITHREADINFO thread{};
  thread.cbSize = sizeof(thread);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread) || !thread.hwndFocus)
    return Fail(L"no control has the focus in %ls", WindowText(window));
  const HWND focus = thread.hwndFocus, foreground = GetForegroundWindow();
  std::wstring line = L"focus\t" + ClassName(focus) + L"\t" + StateOf(focus) + L"\t" +
                      FocusedText(focus) + L"\t" + AccessibleNameAndRole(focus) + L"\tlabel=" +
                      LabelBefore(focus);
  if (foreground == window || GetWindow(foreground, GW_OWNER) == window) line += L"\tforeground";
  Say(L"%ls", line);
  return 0;
}

int RunCommand(const Options& options) {
  if (options.Command == L"gone") {
    const bool gone = WaitFor(options.TimeoutMs, [&] { return MatchingWindows(options).empty(); });
    return gone ? 0 : Fail(L"window %ls is still open", Describe(options));
  }
  std::optional<HWND> window =
      WaitFor(options.TimeoutMs, [&] { return FindWindowOnce(options); }, options.PollMs);
  if (!window) return Fail(L"no window %ls", Describe(options));

  const auto& args = options.Arguments;
  if (options.Command == L"wait") return 0;
  if (options.Command == L"painted") {
    const std::optional<long long> painted =
        LastPictureChange(*window, options.PollMs, 200, options.TimeoutMs);
    if (!painted) return Fail(L"window %ls keeps changing", Describe(options));
    Say(L"painted: %ls", std::to_wstring(*painted));
    return 0;
  }
  if (options.Command == L"dump") {
    for (HWND child : VisibleChildren(*window))
      Say(L"%ls\t%ls", ClassName(child) + L"\t" + StateOf(child), ShownText(child));
    return 0;
  }
  if (options.Command == L"focus") return ReportFocus(*window);
  if (options.Command == L"syscommand" && args.size() == 1) {
    // What choosing an item of the system menu sends. The item is named by its command:
    // Wine does not let one process read another's menus.
    PostMessageW(*window, WM_SYSCOMMAND, static_cast<WPARAM>(_wtoi(args[0].c_str())), 0);
    return 0;
  }
  if (options.Command == L"close") {
    PostMessageW(*window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
  }
  if (options.Command == L"type" && args.size() == 2) {
    std::optional<HWND> edit =
        WaitFor(5000, [&] { return EditAfterLabel(*window, args[0]); });
    if (!edit) return Fail(L"no edit field after the label \"%ls\" in %ls", args[0], Describe(options));
    if (!IsWindowEnabled(*edit)) return Fail(L"the field after \"%ls\" is disabled", args[0]);
    // Setting the text of a one-line edit field sends the same change notification as typing.
    DWORD_PTR result;
    SendMessageTimeoutW(*edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[1].c_str()),
                        SMTO_NORMAL, 5000, &result);
    return WindowText(*edit) == args[1] ? 0 : Fail(L"the field after \"%ls\" did not take the text", args[0]);
  }
  if (options.Command == L"click" && args.size() == 1) {
    std::optional<HWND> button = WaitFor(5000, [&]() -> std::optional<HWND> {
      auto found = ButtonOf(*window, args[0]);
      return found && IsWindowEnabled(*found) ? found : std::nullopt;
    });
    if (!button) {
      return ButtonOf(*window, args[0]) ? Fail(L"the button \"%ls\" is disabled", args[0])
                                        : Fail(L"no button \"%ls\" in %ls", args[0], Describe(options));
    }
    Click(*button);
    return 0;
  }
  if (options.Command == L"tick" && args.size() == 2 && (args[1] == L"on" || args[1] == L"off")) {
    std::optional<HWND> box = ButtonOf(*window, args[0]);
    if (!box) return Fail(L"no check box \"%ls\" in %ls", args[0], Describe(options));
    const bool wanted = args[1] == L"on";
    if (IsChecked(*box) != wanted) {
      if (!IsWindowEnabled(*box)) return Fail(L"the check box \"%ls\" is disabled", args[0]);
      Click(*box);
    }
    return IsChecked(*box) == wanted ? 0 : Fail(L"the check box \"%ls\" did not change", args[0]);
  }
  if (options.Command == L"open" && args.size() == 1) {
    const auto item = WaitFor(5000, [&] { return ListItem(*window, args[0]); });
    if (!item) return Fail(L"no list item \"%ls\" in %ls", args[0], Describe(options));
    DoubleClickItem(item->first, item->second);
    return 0;
  }
  if (options.Command == L"answer" && args.size() == 1) {
    if (ClassName(*window) != L"#32770") return Fail(L"%ls is not a message box", Describe(options));
    for (HWND child : VisibleChildren(*window))
      if (_wcsicmp(ClassName(child).c_str(), L"Static") == 0 && !WindowText(child).empty())
        Say(L"%ls", WindowText(child));
    std::optional<HWND> button = ButtonOf(*window, args[0]);
    if (!button) return Fail(L"the message box has no button \"%ls\"", args[0]);
    // Posted: the message box ends its loop and the program goes on without the driver,
    // which returns once the box has gone, as the user sees it go.
    PostMessageW(*button, BM_CLICK, 0, 0);
    const HWND box = *window;
    const bool gone = WaitFor(5000, [box] { return !IsWindow(box) || !IsWindowVisible(box); });
    return gone ? 0 : Fail(L"the message box %ls stays open", Describe(options));
  }
  return Fail(L"unknown command or wrong arguments: %ls", options.Command);
}

std::optional<Options> ParseCommandLine(int count, wchar_t** arguments) {
  if (count < 2) return std::nullopt;
  Options options;
  options.Command = arguments[1];
  for (int i = 2; i < count; ++i) {
    const std::wstring argument = arguments[i];
    const bool hasValue = i + 1 < count;
    if (argument == L"--window" && hasValue) {
      options.Window = arguments[++i];
    } else if (argument == L"--showing" && hasValue) {
      options.Showing = arguments[++i];
    } else if (argument == L"--timeout" && hasValue) {
      options.TimeoutMs = static_cast<DWORD>(_wtof(arguments[++i]) * 1000);
    } else if (argument == L"--poll" && hasValue) {
      options.PollMs = static_cast<DWORD>(std::max(1, _wtoi(arguments[++i])));
    } else if (argument == L"--start" && hasValue) {
      options.Start = arguments[++i];
    } else {
      options.Arguments.push_back(argument);
    }
  }
  if (options.Window.empty()) return std::nullopt;
  return options;
}

// Starts the program in its own folder and lets it run on its own.
bool StartProgram(const std::wstring& program) {
  std::wstring commandLine = L"\"" + program + L"\"";
  const size_t slash = program.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : program.substr(0, slash);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &started))
    return false;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

// Keeps `held` (`what`) until `seconds` have passed or the file `release` exists.
int KeepHeld(HANDLE held, const std::wstring& what, DWORD seconds, const std::wstring& release) {
  Say(L"held: %ls", what);
  WaitFor(seconds * 1000, [&] {
    return !release.empty() && GetFileAttributesW(release.c_str()) != INVALID_FILE_ATTRIBUTES;
  }, 100);
  CloseHandle(held);
  return 0;
}

// Holds the file the way a program that keeps it open without sharing does.
int Hold(const std::wstring& file, DWORD seconds, const std::wstring& release) {
  const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return Fail(L"cannot hold %ls", file);
  return KeepHeld(held, file, seconds, release);
}

// Holds the lock that a run of setup or the uninstaller holds while it works.
int HoldRun(DWORD seconds, const std::wstring& release) {
  const wchar_t lock[] = L"Local\\TarnwhistleSetupRun";
  const HANDLE held = CreateMutexW(nullptr, TRUE, lock);
  if (!held || GetLastError() == ERROR_ALREADY_EXISTS) return Fail(L"cannot hold %ls", lock);
  return KeepHeld(held, lock, seconds, release);
}

}  // namespace

int wmain(int count, wchar_t** arguments) {
  if ((count == 4 || count == 5) && std::wstring(arguments[1]) == L"hold")
    return Hold(arguments[2], static_cast<DWORD>(_wtoi(arguments[3])), count == 5 ? arguments[4] : L"");
  if ((count == 3 || count == 4) && std::wstring(arguments[1]) == L"hold-run")
    return HoldRun(static_cast<DWORD>(_wtoi(arguments[2])), count == 4 ? arguments[3] : L"");
  const std::optional<Options> options = ParseCommandLine(count, arguments);
  if (!options) {
    Say(L"usage: e2e-driver COMMAND --window CAPTION [--showing TEXT] [--timeout SECONDS] "
        L"[--poll MILLISECONDS] [--start PROGRAM] ARGS");
    return 2;
  }
  if (!options->Start.empty()) {
    const long long startedAt = UnixTimeMs();
    if (!StartProgram(options->Start)) return Fail(L"cannot start %ls", options->Start);
    Say(L"started: %ls", std::to_wstring(startedAt));
  }
  const int result = RunCommand(*options);
  if (result == 0 && options->Command != L"dump") Say(L"at: %ls", std::to_wstring(UnixTimeMs()));
  return result;
}
