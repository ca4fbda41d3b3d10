#include "shell/HomeRule.h"

#include <shlobj.h>

#include <vector>

#include "base/Handles.h"
#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/Paths.h"
#include "shell/SysUtils.h"

namespace {

const wchar_t kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The known folders of a profile where Windows puts them, for the profiles whose shell
// this program cannot ask: those of the other users.
const wchar_t* const kProfileFolders[] = {
    L"Desktop", L"Documents", L"Downloads", L"Music", L"Pictures", L"Videos", L"Favorites",
    L"Links", L"Saved Games", L"Contacts", L"Searches", L"OneDrive", L"OneDrive\\Desktop",
    L"OneDrive\\Documents", L"OneDrive\\Pictures", L"AppData", L"AppData\\Roaming",
    L"AppData\\Local", L"AppData\\LocalLow", L"AppData\\Local\\Temp",
    L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu",
    L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
    L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
};

// The current user's known folders as the shell knows them, and the shared ones.
const KNOWNFOLDERID* const kKnownFolders[] = {
    &FOLDERID_Profile, &FOLDERID_Desktop, &FOLDERID_Documents, &FOLDERID_Downloads,
    &FOLDERID_Music, &FOLDERID_Pictures, &FOLDERID_Videos, &FOLDERID_Favorites, &FOLDERID_Links,
    &FOLDERID_SavedGames, &FOLDERID_Contacts, &FOLDERID_SavedSearches, &FOLDERID_SkyDrive,
    &FOLDERID_SkyDriveDocuments, &FOLDERID_SkyDrivePictures, &FOLDERID_SkyDriveCameraRoll,
    &FOLDERID_RoamingAppData, &FOLDERID_LocalAppData, &FOLDERID_LocalAppDataLow,
    &FOLDERID_StartMenu, &FOLDERID_Programs, &FOLDERID_Startup, &FOLDERID_UserProfiles,
    &FOLDERID_Public, &FOLDERID_PublicDesktop, &FOLDERID_PublicDocuments,
    &FOLDERID_PublicDownloads, &FOLDERID_PublicMusic, &FOLDERID_PublicPictures,
    &FOLDERID_PublicVideos,
};

const KNOWNFOLDERID* const kSystemFolders[] = {
    &FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramFilesCommon,
    &FOLDERID_ProgramFilesCommonX86, &FOLDERID_ProgramData,
};

// Where the shell has the folder now; empty when it has none.
std::wstring KnownFolder(const KNOWNFOLDERID& id) {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path) folder = path;
  CoTaskMemFree(path);
  return folder;
}

// The folder above `folder`, by its text; empty for none.
std::wstring ParentFolder(const std::wstring& folder) {
  return StripBackslash(ExtractFilePath(StripBackslash(folder)));
}

// A text value of an open key, with the environment's variables filled in.
std::wstring ExpandedValue(HKEY key, const wchar_t* subKey, const wchar_t* name) {
  return QueryString([&](wchar_t* buffer, DWORD capacity) -> DWORD {
    DWORD bytes = capacity * sizeof(wchar_t);
    // A REG_EXPAND_SZ value comes expanded, as REG_SZ.
    const LSTATUS status = RegGetValueW(key, subKey, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes);
    if (status == ERROR_MORE_DATA) return bytes / sizeof(wchar_t) + 1;
    // The length without its terminator.
    return status == ERROR_SUCCESS && bytes >= sizeof(wchar_t) ? bytes / sizeof(wchar_t) - 1 : 0;
  });
}

// Every profile folder of the machine: those the registry lists (they may lie anywhere),
// and every folder in the profiles folder.
std::vector<std::wstring> ProfileFolders(const std::wstring& profilesFolder) {
  std::vector<std::wstring> profiles;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_READ, &opened) == ERROR_SUCCESS) {
    const UniqueKey list(opened);
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
      DWORD length = 256;
      if (RegEnumKeyExW(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      profiles.push_back(ExpandedValue(list.get(), name, L"ProfileImagePath"));
    }
  }
  std::vector<std::wstring> entries;
  ListFiles(&entries, AddBackslash(profilesFolder) + L"*", faAnyFile);
  for (const std::wstring& entry : entries)
    if (FolderExists(entry)) profiles.push_back(entry);
  return profiles;
}

std::wstring ProfilesFolder() {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_READ, &opened) != ERROR_SUCCESS)
    return KnownFolder(FOLDERID_UserProfiles);
  const UniqueKey list(opened);
  const std::wstring folder = ExpandedValue(list.get(), nullptr, L"ProfilesDirectory");
  return folder.empty() ? KnownFolder(FOLDERID_UserProfiles) : folder;
}

std::vector<std::wstring> UserFolders(const std::wstring& profiles) {
  std::vector<std::wstring> folders;
  for (const KNOWNFOLDERID* id : kKnownFolders) folders.push_back(KnownFolder(*id));
  // AppData itself, above Roaming and Local; and the temporary folder, wherever it is.
  folders.push_back(ParentFolder(KnownFolder(FOLDERID_RoamingAppData)));
  folders.push_back(StripBackslash(QueryString([](wchar_t* buffer, DWORD capacity) {
    return GetTempPathW(capacity, buffer);
  })));
  folders.push_back(profiles);
  for (const std::wstring& profile : ProfileFolders(profiles)) {
    if (profile.empty()) continue;
    folders.push_back(profile);
    for (const wchar_t* name : kProfileFolders) folders.push_back(AddBackslash(profile) + name);
  }
  return folders;
}

std::wstring EnvironmentFolder(const wchar_t* name) {
  return QueryString([&](wchar_t* buffer, DWORD capacity) {
    return GetEnvironmentVariableW(name, buffer, capacity);
  });
}

std::vector<std::wstring> SystemFolders() {
  // The 64-bit system's own Program Files and Common Files, which a 32-bit program sees
  // only through these variables.
  std::vector<std::wstring> folders = {EnvironmentFolder(L"ProgramW6432"),
                                       EnvironmentFolder(L"CommonProgramW6432")};
  for (const KNOWNFOLDERID* id : kSystemFolders) folders.push_back(KnownFolder(*id));
  return folders;
}

// True when the resolved folder is one of `folders`: each resolved through the file system,
// as the folder was, and compared without regard to letter case.
bool IsOneOf(const std::wstring& resolved, const std::vector<std::wstring>& folders) {
  const std::wstring key = LocaleLower(resolved);
  for (const std::wstring& folder : folders)
    if (!folder.empty() && LocaleLower(ResolvePath(folder)) == key) return true;
  return false;
}

bool IsUserFolder(const std::wstring& resolved) {
  const std::wstring profiles = ProfilesFolder();
  // A folder in the profiles folder is a profile, or would pass for one.
  return IsOneOf(ParentFolder(resolved), {profiles}) || IsOneOf(resolved, UserFolders(profiles));
}

THomeFault FaultOf(const std::wstring& full, const std::wstring& resolved) {
  if (resolved.empty()) return THomeFault::Unresolvable;
  if (IsDriveRoot(full) || IsDriveRoot(resolved)) return THomeFault::DriveRoot;
  if (IsSameOrInsideFolder(resolved, WindowsDirectory())) return THomeFault::WindowsFolder;
  if (IsOneOf(resolved, SystemFolders())) return THomeFault::SystemFolder;
  // Before the link test: a user's known folder may itself be a link (Wine makes them so).
  if (IsUserFolder(resolved)) return THomeFault::UserFolder;
  if (IsLinkedFolder(full)) return THomeFault::Link;
  return THomeFault::None;
}

}  // namespace

THome JudgeHome(const std::wstring& path) {
  const std::wstring full = IsAbsolute(path) ? FullPath(path) : std::wstring();
  const std::wstring resolved = full.empty() ? full : ResolvePath(full);
  return {resolved, FaultOf(full, resolved)};
}

std::wstring HomeFaultText(THomeFault fault) {
  switch (fault) {
    case THomeFault::None: return {};
    case THomeFault::Unresolvable: return L"names no folder on a drive or network share";
    case THomeFault::DriveRoot: return L"is the root of a drive or network share";
    case THomeFault::Link: return L"is a link to another folder";
    case THomeFault::WindowsFolder: return L"is the Windows folder or lies in it";
    case THomeFault::SystemFolder:
      return L"is a folder of the system (Program Files, Common Files or ProgramData)";
    case THomeFault::UserFolder:
      return L"is a user's profile or one of its folders (such as Desktop, Documents or "
             L"Downloads)";
  }
  return {};
}

bool IsClientDatabaseFile(const std::wstring& path) {
  const std::wstring name = LocaleLower(ExtractFileName(path));
  const std::wstring client = LocaleLower(tw::ClientExe);
  for (const std::wstring& ext : {tw::DatabaseExt, tw::DatabaseExt + L"-journal", tw::EncryptedExt,
                                  tw::EncryptedExt + tw::BackupExt})
    if (name == ChangeFileExt(client, ext)) return true;
  return false;
}

bool HoldsClientInstallation(const std::wstring& folder) {
  const std::wstring base = AddBackslash(folder);
  for (const std::wstring& name : {tw::ClientExe, tw::UninstallerExe,
                                   ChangeFileExt(tw::ClientExe, tw::DatabaseExt),
                                   ChangeFileExt(tw::ClientExe, tw::EncryptedExt)})
    if (FileExists(base + name)) return true;
  return false;
}

bool IsEmptyFolder(const std::wstring& folder) {
  return FolderExists(folder) && ListFiles(nullptr, AddBackslash(folder) + L"*", faAnyFile) == 0;
}
