#include "setup/Destination.h"

#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/HomeRule.h"
#include "shell/Paths.h"
#include "shell/SysUtils.h"

namespace {

const std::wstring& Example() {
  static const std::wstring example = L"C:\\Program Files\\" + tw::ProductName;
  return example;
}

// The folder of the product's own inside `folder`.
std::wstring OwnFolderIn(const std::wstring& folder) { return AddBackslash(folder) + tw::ProductName; }

// Why a folder that is a full path cannot take the installation; empty when it can.
std::wstring RefusalOf(const std::wstring& quoted, const std::wstring& full) {
  const THome home = JudgeHome(full);
  if (home.Fault == THomeFault::Unresolvable || home.Fault == THomeFault::WindowsFolder)
    return quoted + L" " + HomeFaultText(home.Fault) + L".\nPlease choose another folder, such as " +
           Example() + L".";
  if (!home.Fits())
    return quoted + L" " + HomeFaultText(home.Fault) + L".\nPlease choose a folder of its own for " +
           tw::ProductName + L", such as " + OwnFolderIn(full) + L".";
  if (PathExists(full) && !FolderExists(full))
    return quoted + L" is a file.\nPlease choose a folder, such as " + Example() + L".";
  if (FolderExists(full) && !IsEmptyFolder(full) && !HoldsClientInstallation(full))
    return quoted + L" already holds other files.\nPlease choose a new or empty folder, or the "
                    L"folder of an earlier installation of " + tw::ProductName + L", such as " +
           OwnFolderIn(full) + L".";
  return {};
}

}  // namespace

TDestinationCheck CheckDestination(const std::wstring& typed) {
  const std::wstring quoted = L"\"" + typed + L"\"";
  if (typed.find_first_not_of(L' ') == std::wstring::npos)
    return {{}, L"Please enter the folder to install " + tw::ProductName + L" in, such as " +
                    Example() + L"."};
  // A relative folder would land wherever the current folder happens to be, and the record
  // of it would lead nowhere.
  if (!IsAbsolute(typed))
    return {{}, quoted + L" is not a full path.\nPlease enter the folder with its drive, such as " +
                    Example() + L", or as a network path."};
  if (IsDriveRoot(typed))
    return {{}, quoted + L" is the root of a drive or network share.\nPlease choose a folder "
                         L"on it, such as " + Example() + L"."};
  const std::wstring full = FullPath(typed);
  if (full.empty())
    return {{}, quoted + L" is not a valid folder name.\nPlease review it for errors or "
                         L"illegal characters."};
  const std::wstring refusal = RefusalOf(quoted, StripBackslash(full));
  if (!refusal.empty()) return {{}, refusal};
  return {StripBackslash(full), {}};
}

std::wstring BrowsedDestination(const std::wstring& picked) {
  const bool takesInstallation = (IsEmptyFolder(picked) || HoldsClientInstallation(picked)) &&
                                 JudgeHome(picked).Fits();
  return takesInstallation ? picked : OwnFolderIn(picked);
}
