#include "shell/RunLog.h"

#include <windows.h>

#include <string>

#include "base/Handles.h"
#include "base/WideText.h"

namespace {

UniqueHandle runLog;

std::wstring Trimmed(std::wstring text) {
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  return text;
}

std::wstring TwoDigits(int value) {
  return std::wstring(1, static_cast<wchar_t>(L'0' + value / 10 % 10)) +
         static_cast<wchar_t>(L'0' + value % 10);
}

// "2026-12-08 18:04:05", local time.
std::wstring Timestamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return DecimalText(now.wYear) + L"-" + TwoDigits(now.wMonth) + L"-" + TwoDigits(now.wDay) +
         L" " + TwoDigits(now.wHour) + L":" + TwoDigits(now.wMinute) + L":" +
         TwoDigits(now.wSecond);
}

void WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// The handle the parent's console reads: standard error when the caller redirected it,
// otherwise the console of the parent, attached once. Not closed: it lives as long as the
// process.
HANDLE ParentConsole() {
  static HANDLE console = [] {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error && error != INVALID_HANDLE_VALUE) return error;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return INVALID_HANDLE_VALUE;
    return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  }();
  return console;
}

}  // namespace

std::wstring ExitCodeMeaning(TExitCode code) {
  switch (code) {
    case TExitCode::Done: return L"done";
    case TExitCode::StepFailed: return L"a step failed";
    case TExitCode::BadCommandLine: return L"bad command line; nothing was changed";
    case TExitCode::NothingToDo: return L"nothing to do: nothing is installed";
    case TExitCode::ClientRunning: return L"Tarnwhistle is running; nothing was changed";
    case TExitCode::AlreadyRunning: return L"another setup or uninstall is already running";
    case TExitCode::Cancelled: return L"cancelled by the user";
  }
  return L"unknown";
}

bool OpenRunLog(const std::wstring& file) {
  // Appended to, and readable by others while the run writes it.
  runLog.reset(CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return runLog.valid();
}

void CloseRunLog() { runLog.reset(); }

bool RunLogOpen() { return runLog.valid(); }

void LogLine(const std::wstring& line) {
  if (runLog) WriteAll(runLog.get(), Utf8FromWide(Timestamp() + L" " + line + L"\r\n"));
}

void LogResult(const std::wstring& what, bool done, unsigned long error) {
  if (!runLog) return;
  if (done) return LogLine(what + L": done");
  const std::wstring reason = SystemErrorLine(error);
  LogLine(what + L": failed" + (reason.empty() ? L"" : L" (" + reason + L")"));
}

void LogExitCode(TExitCode code) {
  LogLine(L"exit code " + DecimalText(static_cast<unsigned>(code)) + L": " + ExitCodeMeaning(code));
}

void WriteToParentConsole(const std::wstring& line) {
  const HANDLE console = ParentConsole();
  if (console == INVALID_HANDLE_VALUE) return;
  const std::wstring text = line + L"\r\n";
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(console, &mode))
    WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  else
    WriteAll(console, Utf8FromWide(text));
}

std::wstring SystemErrorText(unsigned long error) {
  if (error == 0) return {};
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text),
      0, nullptr);
  std::wstring result(text ? text : L"", length);
  LocalFree(text);
  return result;
}

std::wstring SystemErrorLine(unsigned long error) { return Trimmed(SystemErrorText(error)); }
