#include "shell/SysUtils.h"

#include <shlobj.h>

#include "base/Text.h"
#include "base/Handles.h"

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

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A junction or symbolic link is removed as a link; what it points to is not ours. The link
// is opened as itself and deleted through that handle, and only when the handle really is
// the link: where the system hands out the target instead (Wine does, for Unix links),
// the link is left in place, so nothing beyond it is ever touched.
void RemoveLink(const std::wstring& path) {
  UniqueHandle link(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                nullptr));
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!link || !GetFileInformationByHandleEx(link.get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
      !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof(disposition));
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

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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

bool DeleteTree(const std::wstring& folder) {
  if (folder.empty() || !IsFolder(folder)) return false;
  const std::wstring base = AddBackslash(folder);
  std::vector<std::wstring> subFolders, links, files;
  ForEachEntry(base + L"*.*", [&](const WIN32_FIND_DATAW& data) {
    const std::wstring path = base + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) links.push_back(path);
    else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) subFolders.push_back(path);
    else files.push_back(path);
  });
  for (const auto& path : links) RemoveLink(path);
  for (const auto& path : subFolders) {
    const std::wstring shortPath = ShortPathName(path);
    DeleteTree(shortPath.empty() ? path : shortPath);
  }
  for (const auto& path : files) DeleteFileW(path.c_str());
  return RemoveDirectoryW(base.c_str()) != 0;
}

void RunProgram(const std::wstring& commandLine, int showState) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showState);
  PROCESS_INFORMATION process = {};
  std::wstring writable = commandLine;  // CreateProcessW may write into its command line
  if (CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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
