#include "shell/RunningPrograms.h"

#include <tlhelp32.h>

#include <algorithm>
#include <optional>

#include "base/Handles.h"
#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/Paths.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

namespace {

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

bool ProgramRunningFrom(const std::wstring& folder, const std::vector<DWORD>& ignored) {
  const auto home = FolderIdentity(folder);
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
    if (!image.empty() && FolderIdentity(ExtractFilePath(image)) == home) return true;
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
