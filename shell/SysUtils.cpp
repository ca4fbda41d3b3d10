#include "shell/SysUtils.h"

#include <shlobj.h>

#include <algorithm>
#include <utility>

#include "base/Text.h"
#include "base/Handles.h"
#include "shell/Paths.h"

namespace {

// CLSID_ShellLink, spelled out: the uuid library that defines it would bring every other
// interface identifier of the platform into the program.
constexpr CLSID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0, 0, 0, 0, 0, 0x46}};

bool IsDots(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

bool AttributesMatch(DWORD attributes, DWORD mask) {
  const DWORD volumeLabel = 0x8;
  const DWORD special = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY | volumeLabel;
  return (attributes & special & ~mask) == 0;
}

// Calls `visit(data)` for each entry matching the wildcard, "." and ".." excluded.
template <class Visit>
void ForEachEntry(const std::wstring& wildcard, Visit visit) {
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileW(wildcard.c_str(), &data));
  if (!search) return;
  do {
    if (!IsDots(data.cFileName)) visit(data);
  } while (FindNextFileW(search.get(), &data));
}

// Opens the entry itself, a link not followed.
UniqueHandle OpenEntry(const std::wstring& path, DWORD access) {
  return UniqueHandle(CreateFileW(path.c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

DWORD HandleAttributes(HANDLE entry) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  return GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof(tag))
             ? tag.FileAttributes
             : INVALID_FILE_ATTRIBUTES;
}

// A junction or symbolic link is removed as a link; what it points to is not ours. The link
// is opened as itself and deleted through that handle, and only when the handle really is
// the link: where the system hands out the target instead (Wine does, for Unix links),
// the link is left in place, so nothing beyond it is ever touched. True when it is gone.
bool RemoveLink(const std::wstring& path) {
  const UniqueHandle link = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES);
  const DWORD attributes = link ? HandleAttributes(link.get()) : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition,
                                    sizeof(disposition)) != 0;
}

// The command line's first word, without its quotes, and the position after it.
std::pair<std::wstring, size_t> FirstWord(const std::wstring& commandLine) {
  size_t at = 0;
  while (at < commandLine.size() && commandLine[at] == L' ') ++at;
  if (at < commandLine.size() && commandLine[at] == L'"') {
    const size_t end = commandLine.find(L'"', at + 1);
    if (end == std::wstring::npos) return {commandLine.substr(at + 1), commandLine.size()};
    return {commandLine.substr(at + 1, end - at - 1), end + 1};
  }
  const size_t end = std::min(commandLine.find(L' ', at), commandLine.size());
  return {commandLine.substr(at, end - at), end};
}

}  // namespace

std::wstring ModuleFileName() {
  return QueryString([](wchar_t* buffer, DWORD capacity) {
    return GetModuleFileNameW(nullptr, buffer, capacity);
  });
}

std::wstring CurrentDirectory() {
  return QueryString([](wchar_t* buffer, DWORD capacity) {
    return GetCurrentDirectoryW(capacity, buffer);
  });
}

std::wstring ShortPathName(const std::wstring& path) {
  return QueryString([&](wchar_t* buffer, DWORD capacity) {
    return GetShortPathNameW(path.c_str(), buffer, capacity);
  });
}

std::wstring WindowsDirectory() {
  return QueryString([](wchar_t* buffer, DWORD capacity) {
    return GetWindowsDirectoryW(buffer, capacity);
  });
}

std::wstring SystemDirectory() {
  return QueryString([](wchar_t* buffer, DWORD capacity) {
    return GetSystemDirectoryW(buffer, capacity);
  });
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD EntryAttributes(const std::wstring& path) {
  const DWORD listed = GetFileAttributesW(path.c_str());
  const UniqueHandle entry = OpenEntry(path, FILE_READ_ATTRIBUTES);
  const DWORD own = entry ? HandleAttributes(entry.get()) : INVALID_FILE_ATTRIBUTES;
  if (own == INVALID_FILE_ATTRIBUTES) return listed;
  return listed == INVALID_FILE_ATTRIBUTES ? own : own | (listed & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsLinkEntry(const std::wstring& path) {
  const DWORD attributes = EntryAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring SystemProgram(const std::wstring& name) {
  if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) return {};
  const std::wstring file = name.find(L'.') == std::wstring::npos ? name + L".exe" : name;
  for (const std::wstring& folder : {WindowsDirectory(), SystemDirectory()}) {
    const std::wstring path = AddBackslash(folder) + file;
    if (!folder.empty() && FileExists(path)) return path;
  }
  return {};
}

int ListFiles(std::vector<std::wstring>* list, const std::wstring& wildcard, DWORD attributeMask) {
  std::vector<std::wstring> found;
  const std::wstring folder = ExtractFilePath(wildcard);
  ForEachEntry(wildcard, [&](const WIN32_FIND_DATAW& data) {
    if (AttributesMatch(data.dwFileAttributes, attributeMask)) found.push_back(folder + data.cFileName);
  });
  if (list) *list = found;
  return static_cast<int>(found.size());
}

bool DeleteTree(const std::wstring& folder, const TKeepEntry& keep) {
  // The entry itself is named without a trailing backslash; a drive's root keeps its own.
  const std::wstring entry = folder.size() > 3 ? StripBackslash(folder) : folder;
  const DWORD attributes = entry.empty() ? INVALID_FILE_ATTRIBUTES : EntryAttributes(entry);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(entry);
  const std::wstring base = AddBackslash(folder);
  std::vector<std::wstring> subFolders, files;
  ForEachEntry(base + L"*.*", [&](const WIN32_FIND_DATAW& data) {
    const std::wstring path = base + data.cFileName;
    if (keep && keep(path)) return;
    (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? subFolders : files).push_back(path);
  });
  // Each sub-folder is judged as an entry of its own: a link among them loses only itself.
  for (const auto& path : subFolders) {
    const std::wstring shortPath = ShortPathName(path);
    DeleteTree(shortPath.empty() ? path : shortPath, keep);
  }
  // A file that is a link is deleted as the link.
  for (const auto& path : files) DeleteFileW(path.c_str());
  return RemoveDirectoryW(base.c_str()) != 0;
}

void RunProgram(const std::wstring& commandLine, int showState) {
  const auto [program, end] = FirstWord(commandLine);
  const std::wstring path = IsAbsolute(program) ? program : SystemProgram(program);
  if (path.empty()) return;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showState);
  PROCESS_INFORMATION process = {};
  // CreateProcessW may write into its command line.
  std::wstring writable = L"\"" + path + L"\"" + commandLine.substr(end);
  if (CreateProcessW(path.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    UniqueKernelObject processHandle(process.hProcess);
    UniqueKernelObject threadHandle(process.hThread);
  }
}

void ExploreFolder(const std::wstring& folder) {
  RunProgram(L"explorer.exe " + folder, SW_SHOWNORMAL);
}

HRESULT CreateShortcut(const std::wstring& target, const std::wstring& linkFile,
                       const std::wstring& iconFile, const std::wstring& description,
                       const std::wstring& arguments) {
  CoInitialize(nullptr);  // balanced by the thread's end: callers may hold other COM objects
  ComPtr<IShellLinkW> link;
  HRESULT status = CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER,
                                    __uuidof(IShellLinkW), link.put_void());
  if (FAILED(status)) return status;
  link->SetPath(target.c_str());
  link->SetDescription(description.c_str());
  link->SetWorkingDirectory(LocaleLower(ExtractFilePath(target)).c_str());
  link->SetIconLocation(iconFile.c_str(), 0);
  if (!arguments.empty()) link->SetArguments(arguments.c_str());
  ComPtr<IPersistFile> file;
  status = link->QueryInterface(__uuidof(IPersistFile), file.put_void());
  if (FAILED(status)) return status;
  return file->Save(linkFile.c_str(), TRUE);
}

void CenterOver(HWND window, HWND reference) {
  RECT over;
  if (reference && GetWindowRect(reference, &over)) CenterInArea(window, over);
}

void CenterInArea(HWND window, const RECT& area) {
  RECT placed;
  if (!GetWindowRect(window, &placed)) return;
  const int width = placed.right - placed.left, height = placed.bottom - placed.top;
  const int left = area.left + ((area.right - area.left) - width) / 2;
  const int top = area.top + ((area.bottom - area.top) - height) / 2;
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PlayBeep(UINT soundType) { MessageBeep(soundType); }
