#include "setup/Preflight.h"

#include <vector>

#include "base/Text.h"
#include "base/WideText.h"
#include "shell/Constants.h"
#include "shell/FaultPoint.h"
#include "shell/RunLog.h"
#include "shell/RunningPrograms.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

namespace {

// "1.6 MB", to a tenth.
std::wstring Megabytes(ULONGLONG bytes) {
  const ULONGLONG tenths = (bytes * 10 + (1 << 19)) >> 20;
  return DecimalText(tenths / 10) + L"." + DecimalText(tenths % 10) + L" MB";
}

// Why the kit cannot give the file; "" when it can.
std::wstring KitFileProblem(const std::wstring& file) {
  if (!FileExists(file)) return ExtractFileName(file) + L" is missing.";
  if (const DWORD error = OpenFileError(file, GENERIC_READ, FILE_SHARE_READ))
    return ExtractFileName(file) + L" cannot be read: " + SystemErrorLine(error);
  return {};
}

std::wstring FirstKitProblem(const TInstallChoices& choices, const TUpdatePlan& plan) {
  for (const std::wstring& name : RequiredKitFiles())
    if (std::wstring problem = KitFileProblem(AddBackslash(choices.SourceDir) + name); !problem.empty())
      return problem;
  for (const TUpdateFile& file : plan.Files)
    if (std::wstring problem = KitFileProblem(file.Source); !problem.empty()) return problem;
  return {};
}

// The root of the folder's drive, as the system names it; the folder itself when it cannot.
std::wstring DriveOf(const std::wstring& folder) {
  wchar_t root[MAX_PATH] = {};
  return GetVolumePathNameW(folder.c_str(), root, MAX_PATH) ? std::wstring(root) : folder;
}

}  // namespace

std::wstring NearestExistingFolder(std::wstring path) {
  while (!path.empty() && !FolderExists(path)) {
    const std::wstring parent = StripBackslash(ExtractFilePath(StripBackslash(path)));
    if (parent.size() >= path.size()) return {};
    path = parent;
  }
  return path;
}

DWORD CreateFileInError(const std::wstring& folder) {
  if (folder.empty()) return ERROR_PATH_NOT_FOUND;
  if (const DWORD fault = InjectedFault(L"create a file in", folder)) return fault;
  wchar_t name[MAX_PATH];
  if (!GetTempFileNameW(folder.c_str(), L"tw", 0, name)) return GetLastError();
  DeleteFileW(name);
  return 0;
}

ULONGLONG BytesToCopy(const TUpdatePlan& plan) {
  ULONGLONG bytes = plan.DatabaseTemplate.empty() ? 0 : FileSize(plan.DatabaseTemplate);
  for (const TUpdateFile& file : plan.Files) bytes += FileSize(file.Source);
  return bytes;
}

bool CheckKit(const TInstallChoices& choices, const TUpdatePlan& plan) {
  const std::wstring problem = FirstKitProblem(choices, plan);
  if (problem.empty()) return true;
  ShowMessageBox(choices.Owner,
                 L"The installation kit in " + choices.SourceDir + L" is incomplete: " + problem +
                     L"\nCopy every file of the kit into one folder (unpack the whole zip file), "
                     L"then run setup.exe from there.",
                 L"Incomplete Kit", MB_OK);
  return false;
}

// A destination whose drive is missing is no concern of this check: creating the folder
// fails and says so.
bool CheckWritable(const TInstallChoices& choices) {
  const std::wstring folder = NearestExistingFolder(StripBackslash(choices.AppDir));
  if (folder.empty()) return true;
  const DWORD error = CreateFileInError(folder);
  if (!error) return true;
  ShowMessageBox(choices.Owner,
                 L"Setup cannot write to " + folder + L": " + SystemErrorLine(error) +
                     L"\nChoose a folder that you may write to, or run setup as an administrator.",
                 L"Cannot Write", MB_OK);
  return false;
}

bool CheckRoom(const TInstallChoices& choices, const TUpdatePlan& plan) {
  const std::wstring folder = NearestExistingFolder(StripBackslash(choices.AppDir));
  ULARGE_INTEGER free = {};
  if (folder.empty() || !GetDiskFreeSpaceExW(AddBackslash(folder).c_str(), &free, nullptr, nullptr))
    return true;
  const ULONGLONG needed = BytesToCopy(plan) + RoomMargin;
  if (free.QuadPart >= needed) return true;
  ShowMessageBox(choices.Owner,
                 L"There is not enough room on " + DriveOf(folder) + L" for " + tw::ProductName +
                     L": it needs " + Megabytes(needed) + L", and " + Megabytes(free.QuadPart) +
                     L" are free.\nMake room on the drive, or choose another folder.",
                 L"Not Enough Room", MB_OK);
  return false;
}

bool CheckBeforeInstalling(const TInstallChoices& choices) {
  const TUpdatePlan plan = PlanUpdate(choices);
  return CheckKit(choices, plan) && CheckWritable(choices) && CheckRoom(choices, plan);
}
