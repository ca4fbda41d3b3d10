// TW.exe of the installer kit: a stand-in for the Tarnwhistle client. It opens "TW.dbc" in
// its current folder through the store, as the client does at start, and shows the sender
// and mail server of the default message that setup wrote, and the folder it runs in. It
// never creates or changes the database.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/DllSearch.h"
#include "base/Text.h"
#include "base/WideText.h"
#include "filestore/FileMan.h"

namespace {

constexpr wchar_t kWindowClass[] = L"TarnwhistleStandIn";
constexpr wchar_t kDatabaseName[] = L"TW.dbc";
constexpr std::string_view kDefaultMessagePath = "default\xFF" "message";

// The value of a header ("From: ") in the header block of `message`: the text after the
// name on the first line that starts with it in any letter case; empty when there is none.
std::string HeaderValue(const TStringList& message, std::string_view name) {
  for (const std::string& line : message.Lines) {
    if (line.empty()) break;  // the header block ends at the first empty line
    if (line.size() >= name.size() && SameTextLocale(line.substr(0, name.size()), name))
      return line.substr(name.size());
  }
  return {};
}

std::wstring CurrentFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  if (length >= folder.size()) {
    folder.resize(length);
    length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  }
  folder.resize(length);
  return folder;
}

// The lines the window shows, one static text each.
std::vector<std::wstring> DisplayLines() {
  const std::wstring folder = CurrentFolder();
  std::vector<std::wstring> lines;
  if (GetFileAttributesW(kDatabaseName) == INVALID_FILE_ATTRIBUTES) {
    lines.push_back(L"No TW.dbc in this folder: run setup.exe first.");
  } else {
    TStringList message;
    std::wstring problem;
    const int status = ReadEntryLines(message, kDefaultMessagePath, kDatabaseName);
    if (status == StatusOpen)
      problem = WideFromUtf8(LastOpenError());
    else if (status != StatusNone)
      problem = L"TW.dbc holds no readable default message.";
    if (!problem.empty()) lines.push_back(problem);
    lines.push_back(L"From: " + WideFromUtf8(HeaderValue(message, "From: ")));
    lines.push_back(L"Host: " + WideFromUtf8(HeaderValue(message, "Host: ")));
  }
  lines.push_back(L"Folder: " + folder);
  lines.push_back(L"This TW.exe is the installer kit's stand-in for the Tarnwhistle client.");
  return lines;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateMainWindow(HINSTANCE instance, const std::vector<std::wstring>& lines) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);

  constexpr int kLineHeight = 24, kMargin = 12, kWidth = 560;
  RECT frame{0, 0, kWidth, 2 * kMargin + kLineHeight * static_cast<int>(lines.size())};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window = CreateWindowExW(0, kWindowClass, L"Tarnwhistle", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
  if (!window) return nullptr;
  const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  int top = kMargin;
  for (const std::wstring& line : lines) {
    HWND label = CreateWindowExW(0, L"STATIC", line.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX,
                                 kMargin, top, kWidth - 2 * kMargin, kLineHeight, window,
                                 nullptr, instance, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    top += kLineHeight;
  }
  return window;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showState) {
  RestrictDllSearchToSystem();  // before anything can load a DLL from the kit's folder
  HWND window = CreateMainWindow(instance, DisplayLines());
  if (!window) return 1;
  ShowWindow(window, showState);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
