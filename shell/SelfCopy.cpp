#include "shell/SelfCopy.h"

#include <objbase.h>

#include <vector>

#include "base/Handles.h"
#include "base/Text.h"
#include "base/WideText.h"
#include "shell/Constants.h"
#include "shell/Paths.h"
#include "shell/RunningPrograms.h"
#include "shell/SysUtils.h"

namespace {

// How the first process tells the copy who it is: "<pid> <process handle> <result pipe>
// <program file>", the handles inherited.
const wchar_t kFirstProcessVariable[] = L"TARNWHISTLE_UNINSTALL_FIRST";
const wchar_t kCopyFolderPrefix[] = L"Tarnwhistle-uninstall-";
// How long the copy waits for the first process to end once it has its result.
constexpr DWORD kFirstProcessEndWait = 30000;

struct TFirstProcess {
  DWORD Id = 0;
  HANDLE Process = nullptr;
  HANDLE Result = nullptr;
  std::wstring Program;
};

// The decimal number at `at`, which moves past it and the blank after it.
std::optional<unsigned long long> NumberAt(const std::wstring& text, size_t& at) {
  const size_t start = at;
  unsigned long long number = 0;
  for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at)
    number = number * 10 + static_cast<unsigned>(text[at] - L'0');
  if (at == start || at >= text.size() || text[at] != L' ') return std::nullopt;
  ++at;
  return number;
}

// Read once, and taken out of the environment so that programs the copy starts do not see it.
const std::optional<TFirstProcess>& FirstProcess() {
  static const std::optional<TFirstProcess> first = []() -> std::optional<TFirstProcess> {
    const std::wstring value = QueryString([](wchar_t* buffer, DWORD capacity) {
      return GetEnvironmentVariableW(kFirstProcessVariable, buffer, capacity);
    });
    if (value.empty()) return std::nullopt;
    SetEnvironmentVariableW(kFirstProcessVariable, nullptr);
    size_t at = 0;
    const auto id = NumberAt(value, at), process = NumberAt(value, at), result = NumberAt(value, at);
    if (!id || !process || !result || at >= value.size()) return std::nullopt;
    TFirstProcess parsed;
    parsed.Id = static_cast<DWORD>(*id);
    parsed.Process = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(*process));
    parsed.Result = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(*result));
    parsed.Program = value.substr(at);
    return parsed;
  }();
  return first;
}

std::wstring TempFolder() {
  return QueryString([](wchar_t* buffer, DWORD capacity) { return GetTempPathW(capacity, buffer); });
}

// The command line without the program's own name, which may be quoted.
std::wstring ArgumentsOf(const std::wstring& commandLine) {
  size_t at = 0;
  while (at < commandLine.size() && commandLine[at] <= L' ') ++at;
  bool quoted = false;
  for (; at < commandLine.size() && (quoted || commandLine[at] > L' '); ++at)
    if (commandLine[at] == L'"') quoted = !quoted;
  return commandLine.substr(at);
}

HANDLE InheritableCopy(HANDLE handle, DWORD access) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, access, TRUE,
                       access ? 0 : DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

std::wstring HandleNumber(HANDLE handle) {
  return DecimalText(reinterpret_cast<uintptr_t>(handle));
}

// The copy writes where the first process would: to its redirected standard handles, or
// to the console of the first process's parent, which the copy reaches through this one.
void ShareStandardHandles(STARTUPINFOW& startup, std::vector<UniqueKernelObject>& owned) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (!error || error == INVALID_HANDLE_VALUE) {
    AttachConsole(ATTACH_PARENT_PROCESS);
    return;
  }
  HANDLE* targets[] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
  const DWORD sources[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    const HANDLE standard = GetStdHandle(sources[i]);
    if (!standard || standard == INVALID_HANDLE_VALUE) continue;
    *targets[i] = InheritableCopy(standard, 0);
    owned.emplace_back(*targets[i]);
  }
  startup.dwFlags |= STARTF_USESTDHANDLES;
}

// A new folder for the copy, with a name that no one can have made ready for it; refused
// when something of that name exists already.
std::optional<std::wstring> MakeCopyFolder() {
  GUID unique;
  wchar_t name[40];
  if (FAILED(CoCreateGuid(&unique)) || !StringFromGUID2(unique, name, 40)) return std::nullopt;
  const std::wstring folder = TempFolder() + kCopyFolderPrefix + name;
  if (!CreateDirectoryW(folder.c_str(), nullptr)) return std::nullopt;
  return folder;
}

// Removes the copy's own file and then its folder, when nothing else is left in it.
void RemoveCopy(const std::wstring& folder) {
  DeleteFileW((folder + L"\\" + tw::UninstallerExe).c_str());
  RemoveDirectoryW(folder.c_str());
}

// The copy's exit code as it passes it on; its process's exit code when it ended without.
int ResultOfCopy(HANDLE result, HANDLE process) {
  int code = 0;
  DWORD read = 0;
  if (ReadFile(result, &code, sizeof(code), &read, nullptr) && read == sizeof(code)) return code;
  WaitForSingleObject(process, INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(process, &exitCode);
  return static_cast<int>(exitCode);
}

}  // namespace

std::optional<int> RunTemporaryCopy(const std::function<void()>& started) {
  const std::wstring program = ModuleFileName();
  const std::optional<std::wstring> folder = program.empty() ? std::nullopt : MakeCopyFolder();
  if (!folder) return std::nullopt;
  const std::wstring copy = *folder + L"\\" + tw::UninstallerExe;
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CopyFileW(program.c_str(), copy.c_str(), TRUE) ||
      !CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    RemoveCopy(*folder);
    return std::nullopt;
  }
  UniqueKernelObject result(readEnd), resultForCopy(writeEnd);
  SetHandleInformation(result.get(), HANDLE_FLAG_INHERIT, 0);
  UniqueKernelObject self(InheritableCopy(GetCurrentProcess(), SYNCHRONIZE));

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  std::vector<UniqueKernelObject> standard;
  ShareStandardHandles(startup, standard);
  SetEnvironmentVariableW(kFirstProcessVariable,
                          (DecimalText(GetCurrentProcessId()) + L" " + HandleNumber(self.get()) +
                           L" " + HandleNumber(resultForCopy.get()) + L" " + program).c_str());
  std::wstring commandLine = L"\"" + copy + L"\"" + ArgumentsOf(GetCommandLineW());
  PROCESS_INFORMATION process = {};
  // The copy starts in this process's current folder, where relative paths of the command
  // line point.
  const bool running = CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(kFirstProcessVariable, nullptr);
  if (!running) {
    RemoveCopy(*folder);
    return std::nullopt;
  }
  UniqueKernelObject copyProcess(process.hProcess), thread(process.hThread);
  started();
  // Only the copy holds the pipe's write end now: its end breaks the pipe.
  resultForCopy.reset();
  // This process must not keep the home open as its current folder.
  SetCurrentDirectoryW(folder->c_str());
  return ResultOfCopy(result.get(), copyProcess.get());
}

bool IsTemporaryCopy() { return FirstProcess().has_value(); }

std::wstring StartedProgramFile() {
  return IsTemporaryCopy() ? FirstProcess()->Program : ModuleFileName();
}

DWORD FirstProcessId() { return IsTemporaryCopy() ? FirstProcess()->Id : 0; }

void LeaveStartFolder() {
  if (IsTemporaryCopy()) SetCurrentDirectoryW(SystemDirectory().c_str());
}

void PassResultToFirstProcess(int exitCode) {
  if (!IsTemporaryCopy()) return;
  DWORD written = 0;
  WriteFile(FirstProcess()->Result, &exitCode, sizeof(exitCode), &written, nullptr);
  CloseHandle(FirstProcess()->Result);
}

void RemoveStartedProgram(const std::wstring& home) {
  if (!IsTemporaryCopy()) return;
  const TFirstProcess& first = *FirstProcess();
  WaitForSingleObject(first.Process, kFirstProcessEndWait);
  CloseHandle(first.Process);
  const bool uninstallerInHome =
      !home.empty() && LocaleLower(ExtractFileName(first.Program)) == LocaleLower(tw::UninstallerExe) &&
      IsSameFolder(ExtractFilePath(first.Program), home);
  if (uninstallerInHome) {
    // The system may hold the file a moment after its process has ended.
    for (int attempt = 0; attempt < 50 && FileExists(first.Program); ++attempt) {
      if (DeleteFileW(first.Program.c_str())) break;
      Sleep(100);
    }
    // Only when nothing else is left; a home that is a link keeps the link.
    if (!IsLinkEntry(StripBackslash(home))) RemoveDirectoryW(StripBackslash(home).c_str());
  }
  const std::wstring self = ModuleFileName();
  MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  MoveFileExW(StripBackslash(ExtractFilePath(self)).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void RemoveLeftoverCopies() {
  std::vector<std::wstring> folders;
  ListFiles(&folders, TempFolder() + kCopyFolderPrefix + L"*", faAnyFile);
  // Anyone who can write to the temporary folder can make a folder of that name, or a link:
  // only folders that are no links, and in them only the copy's own file. A copy still at
  // work keeps its program file, and with it its folder.
  for (const std::wstring& folder : folders)
    if (FolderExists(folder) && !IsLinkEntry(folder) && !ProgramRunningFrom(folder)) RemoveCopy(folder);
}
