#include "shell/RunningPrograms.h"

#include <tlhelp32.h>

#include <algorithm>
#include <optional>

#include "base/Handles.h"
#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

namespace {

// What tells one folder from another: its volume and its number on the volume.
struct TFolderIdentity {
  DWORD Volume;
  DWORD IndexHigh;
  DWORD IndexLow;
  bool operator==(const TFolderIdentity& other) const {
    return Volume == other.Volume && IndexHigh == other.IndexHigh && IndexLow == other.IndexLow;
  }
};

std::optional<TFolderIdentity> IdentityOf(const std::wstring& folder) {
  if (folder.empty() || !FolderExists(folder)) return std::nullopt;
  UniqueHandle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle || !GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
  return TFolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// The full path of the process's program file; "" when the process cannot be asked.
std::wstring ImageOf(DWORD processId) {
  UniqueKernelObject process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  return QueryString([&](wchar_t* buffer, DWORD capacity) {
    DWORD size = capacity;
    return QueryFullProcessImageNameW(process.get(), 0, buffer, &size) ? size : 0;
  });
}

}  // namespace

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  const auto first = IdentityOf(a);
  return first && first == IdentityOf(b);
}

bool ProgramRunningFrom(const std::wstring& folder, const std::vector<DWORD>& ignored) {
  const auto home = IdentityOf(folder);
  if (!home) return false;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    const DWORD id = entry.th32ProcessID;
    if (id == GetCurrentProcessId() || std::find(ignored.begin(), ignored.end(), id) != ignored.end())
      continue;
    const std::wstring image = ImageOf(id);
    if (!image.empty() && IdentityOf(ExtractFilePath(image)) == home) return true;
  }
  return false;
}

bool WaitUntilClientClosed(HWND owner, const std::wstring& home, const std::vector<DWORD>& ignored) {
  while (ProgramRunningFrom(home, ignored)) {
    if (ShowMessageBox(owner, tw::ProductName + L" is running. Close it, then click Retry.",
                       tw::ProductName, MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
      return false;
  }
  return true;
}
