#include "shell/RunningPrograms.h"

#include <restartmanager.h>
#include <tlhelp32.h>

#include <algorithm>
#include <optional>

#include "base/Handles.h"
#include "base/Text.h"
#include "base/WideText.h"
#include "shell/Constants.h"
#include "shell/Paths.h"
#include "shell/RunLog.h"
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

// A Restart Manager session, ended when it goes out of scope.
class TRestartSession {
 public:
  TRestartSession() {
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    Started_ = RmStartSession(&Session_, 0, key) == ERROR_SUCCESS;
  }
  ~TRestartSession() {
    if (Started_) RmEndSession(Session_);
  }
  TRestartSession(const TRestartSession&) = delete;
  TRestartSession& operator=(const TRestartSession&) = delete;
  bool Started() const { return Started_; }
  DWORD Id() const { return Session_; }

 private:
  DWORD Session_ = 0;
  bool Started_ = false;
};

// "Notepad", or the program's file name where the Restart Manager has no name for it.
std::wstring ProgramName(const RM_PROCESS_INFO& info) {
  if (info.strAppName[0]) return info.strAppName;
  const std::wstring image = ImageOf(info.Process.dwProcessId);
  return image.empty() ? L"process " + DecimalText(info.Process.dwProcessId) : ExtractFileName(image);
}

std::wstring Joined(const std::vector<std::wstring>& names) {
  std::wstring text;
  for (const std::wstring& name : names) text += (text.empty() ? L"" : L", ") + name;
  return text;
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

bool IsInUseError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

DWORD OpenFileError(const std::wstring& file, DWORD access, DWORD share) {
  UniqueHandle opened(CreateFileW(file.c_str(), access, share, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return opened ? 0 : GetLastError();
}

std::vector<std::wstring> ProgramsUsing(const std::wstring& file) {
  const TRestartSession session;
  LPCWSTR files[] = {file.c_str()};
  if (!session.Started() ||
      RmRegisterResources(session.Id(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS)
    return {};
  std::vector<RM_PROCESS_INFO> found;
  UINT needed = 0;
  // The list may grow between two calls; a few rounds are enough.
  for (int round = 0; round < 4; ++round) {
    UINT count = static_cast<UINT>(found.size());
    DWORD reasons = 0;
    const DWORD status = RmGetList(session.Id(), &needed, &count, found.data(), &reasons);
    if (status == ERROR_MORE_DATA) {
      found.resize(needed);
      continue;
    }
    if (status != ERROR_SUCCESS) return {};
    std::vector<std::wstring> names;
    for (UINT i = 0; i < count && i < found.size(); ++i) names.push_back(ProgramName(found[i]));
    return names;
  }
  return {};
}

DWORD WaitUntilFileFree(const std::wstring& file, DWORD access, DWORD share,
                        const TInUsePolicy& policy) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    const DWORD error = OpenFileError(file, access, share);
    if (!IsInUseError(error)) return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    const std::wstring holders = Joined(ProgramsUsing(file));
    const ULONGLONG waited = GetTickCount64() - start;
    if (policy.Ask) {
      std::wstring text = file + L" is in use by another program. Close it, then click Retry.";
      if (!holders.empty()) text += L"\n\nIt is held by: " + holders + L".";
      if (ShowMessageBox(policy.Owner, text, tw::ProductName, MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY)
        continue;
    } else if (waited < policy.WaitMs) {
      Sleep(500);
      continue;
    }
    LogResult(file + L" in use by " + (holders.empty() ? L"another program" : holders) +
                  L" for " + DecimalText(waited / 1000) + L" seconds",
              false, error);
    return error;
  }
}
