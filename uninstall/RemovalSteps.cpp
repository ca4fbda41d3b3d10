#include "uninstall/RemovalSteps.h"

#include <shlobj.h>

#include <algorithm>

#include "base/Handles.h"
#include "base/Text.h"
#include "base/WideText.h"
#include "shell/Constants.h"
#include "shell/Dde.h"
#include "shell/Paths.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"
#include "shell/SelfCopy.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

namespace {

constexpr DWORD kStepPause = 300;
// How long the group folder may take to go after the command: the server runs it in its
// own time.
constexpr DWORD kGroupCommandWait = 1500;

bool HasAttribute(const std::wstring& path, DWORD attribute) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & attribute);
}

bool IsFolder(const std::wstring& path) { return HasAttribute(path, FILE_ATTRIBUTE_DIRECTORY); }
bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return path;
}

// The folder an environment variable names; empty when it is not set.
std::wstring EnvironmentFolder(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(name, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

// The folder above `folder`, by its text; empty for none.
std::wstring ParentFolder(const std::wstring& folder) {
  if (folder.empty()) return {};
  return StripBackslash(ExtractFilePath(StripBackslash(folder)));
}

// Folders that cannot be a program's home, though a home may lie inside them.
std::vector<std::wstring> SystemFolders() {
  // The 64-bit system's own Program Files and Common Files, which a 32-bit program sees
  // only through these variables.
  std::vector<std::wstring> folders = {EnvironmentFolder(L"ProgramW6432"),
                                       EnvironmentFolder(L"CommonProgramW6432")};
  for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                    CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
                    CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL,
                    CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS})
    folders.push_back(SpecialFolder(csidl));
  // AppData itself, above Roaming and Local.
  folders.push_back(ParentFolder(SpecialFolder(CSIDL_APPDATA)));
  return folders;
}

// The folder that holds every user's profile.
std::wstring ProfilesFolder() { return ParentFolder(SpecialFolder(CSIDL_PROFILE)); }

// The client's database, its rollback journal while a write is unfinished, and the
// encrypted database with its backup: "tw.dbc", "tw.dbc-journal", "tw.pgp", "tw.pgp.bak".
bool IsClientDatabase(const std::wstring& path) {
  const std::wstring name = LocaleLower(ExtractFileName(path));
  const std::wstring client = LocaleLower(tw::ClientExe);
  for (const std::wstring& ext : {tw::DatabaseExt, tw::DatabaseExt + L"-journal", tw::EncryptedExt,
                                  tw::EncryptedExt + tw::BackupExt})
    if (name == ChangeFileExt(client, ext)) return true;
  return false;
}

bool IsRunningProgram(const std::wstring& path) {
  static const std::optional<TFolderIdentity> running = FolderIdentity(StartedProgramFile());
  return running && FolderIdentity(path) == running;
}

// A home directory's entries, listed whole before anything is deleted.
struct THomeListing {
  std::vector<std::wstring> Files;
  std::vector<std::wstring> Folders;
};

THomeListing ListHome(const std::wstring& directory) {
  THomeListing listing;
  std::vector<std::wstring> entries;
  ListFiles(&entries, AddBackslash(directory) + L"*.*", faAnyFile);
  for (std::wstring& entry : entries)
    (IsFolder(entry) ? listing.Folders : listing.Files).push_back(std::move(entry));
  return listing;
}

// Deletes the files, except those `keep` names; answers those that resisted, the kept ones
// and the running program aside.
template <class Keep>
std::vector<std::wstring> DeleteFiles(const std::vector<std::wstring>& files, Keep keep) {
  std::vector<std::wstring> left;
  for (const std::wstring& file : files) {
    if (keep(file)) continue;
    const bool removed = DeleteFileW(file.c_str());
    const DWORD error = removed ? 0 : GetLastError();
    const bool deleted = removed || !PathExists(file);
    if (!deleted && IsRunningProgram(file)) {
      // The uninstaller's own file goes when its process has ended.
      LogLine(L"delete " + file + L": when the uninstaller has ended");
      continue;
    }
    LogResult(L"delete " + file, deleted, error);
    if (!deleted) left.push_back(file);
  }
  return left;
}

// The entries still under `folder`, without following links; the folder `spared` was
// left on purpose and does not count.
void CollectRemaining(const std::wstring& folder, const std::wstring& spared,
                      std::vector<std::wstring>& left) {
  if (IsSameFolder(folder, spared)) return;
  std::vector<std::wstring> entries;
  ListFiles(&entries, AddBackslash(folder) + L"*.*", faAnyFile);
  for (const std::wstring& entry : entries) {
    if (IsFolder(entry) && !IsLinkedFolder(entry)) CollectRemaining(entry, spared, left);
    else if (!IsRunningProgram(entry)) left.push_back(entry);
  }
}

// Deletes `folder` with everything in it except the folder `spared` (at any depth, with
// everything in it) and the folders that lead to it. Links inside are removed as links.
void DeleteTreeSparing(const std::wstring& folder, const std::wstring& spared) {
  const THomeListing listing = ListHome(folder);
  for (const std::wstring& sub : listing.Folders) {
    if (IsLinkedFolder(sub)) RemoveDirectoryW(sub.c_str());
    else if (IsSameFolder(sub, spared)) continue;
    else if (IsInsideFolder(spared, sub)) DeleteTreeSparing(sub, spared);
    else DeleteTree(sub);
  }
  for (const std::wstring& file : listing.Files) DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
}

// "pool" with everything in it. A pool that is a junction or symbolic link is removed as
// the link, and nothing behind it is touched. The client's home, when it lies in the pool,
// stays whole with the folders above it: the client's own step empties it. True when the
// pool is gone.
bool RemovePool(const std::wstring& pool, const std::wstring& clientHome,
                std::vector<std::wstring>& left) {
  if (IsLinkedFolder(pool)) {
    RemoveDirectoryW(pool.c_str());
    if (!PathExists(pool)) return true;
    left.push_back(pool);
    return false;
  }
  if (!IsSameOrInsideFolder(clientHome, pool)) {
    if (DeleteTree(pool)) return true;
  } else if (!IsSameFolder(clientHome, pool)) {
    DeleteTreeSparing(pool, clientHome);
  }
  if (!PathExists(pool)) return true;
  CollectRemaining(pool, clientHome, left);
  return false;
}

// Whether a file step may delete in `directory`: not when it is empty text or no folder,
// and never, as the result then says, when it cannot be a program's home or is a link
// (its files belong to the folder it leads to).
bool MayEmpty(const std::wstring& directory, TFileStepResult& result) {
  if (directory.empty()) return false;
  result.LeftAlone = IsUnsafeHome(directory) || IsLinkedFolder(directory);
  return !result.LeftAlone && IsFolder(directory);
}

void ShowUnableToRemoveGroup(HWND owner) {
  ShowMessageBox(owner, L"Unable to remove " + tw::ProductName + L" program group!", L"Error", MB_OK);
}

void EndStep(const std::wstring& line, TRemovalLog& log) {
  log.Append(line);
  log.ProcessMessages();
  log.Pause(kStepPause);
}

void StartProduct(const std::wstring& name, TRemovalLog& log) {
  log.Append(L"Removing " + name + L"...");
  log.Pause(kStepPause);
}

// The file step's line, and one more naming what stayed when files resisted deletion.
void EndFileStep(const TFileStepResult& result, const std::wstring& directory, TRemovalLog& log) {
  if (result.LeftAlone) {
    EndStep(L"   program files...left alone (" + directory + L" cannot be a program's home)", log);
    return;
  }
  log.Append(L"   program files...done");
  const size_t count = result.LeftBehind.size();
  if (count == 1) log.Append(L"   1 file left behind: " + result.LeftBehind[0]);
  if (count > 1)
    log.Append(L"   " + WideFromUtf8(std::to_string(count)) + L" files left behind, the first: " +
               result.LeftBehind[0]);
  log.ProcessMessages();
  log.Pause(kStepPause);
}

// Modern shells accept the command and leave the group folder; it goes when the shell has
// not removed it shortly after and it holds nothing but the client's shortcuts.
void RemoveGroupTheShellLeft(const TRemovalPlan& plan, TRemovalLog& log) {
  const std::wstring programs = ProgramsFolder();
  if (programs.empty() || IsUnsafeHome(plan.ClientHomeDir)) return;
  const std::wstring folder = AddBackslash(programs) + plan.ProgramGroupName;
  for (DWORD waited = 0; IsFolder(folder) && waited < kGroupCommandWait; waited += 50) {
    log.ProcessMessages();
    Sleep(50);
  }
  RemoveLeftoverGroupFolder(programs, plan.ProgramGroupName, plan.ClientHomeDir);
}

// True for a shortcut file whose target lies in the folder of key `home`.
bool IsShortcutInto(const std::wstring& file, const std::wstring& home) {
  const std::wstring name = LocaleLower(ExtractFileName(file));
  if (IsFolder(file) || name.size() <= 4 || name.compare(name.size() - 4, 4, L".lnk") != 0)
    return false;
  CoInitialize(nullptr);  // balanced by the thread's end, as for writing shortcuts
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> persist;
  wchar_t target[MAX_PATH] = {};
  if (FAILED(CoCreateInstance(__uuidof(ShellLink), nullptr, CLSCTX_INPROC_SERVER,
                              __uuidof(IShellLinkW), link.put_void())) ||
      FAILED(link->QueryInterface(__uuidof(IPersistFile), persist.put_void())) ||
      FAILED(persist->Load(file.c_str(), STGM_READ)) ||
      FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) || target[0] == 0)
    return false;
  return StartsWith(FolderKey(ExtractFilePath(std::wstring(target))), home);
}

}  // namespace

bool RemoveProducts(const TRemovalPlan& plan, TRemovalLog& log) {
  if (plan.ClientFirst) {
    RemoveClient(plan, log);
    RemoveMixmaster(plan, log);
  } else {
    RemoveMixmaster(plan, log);
    RemoveClient(plan, log);
  }
  return plan.RemoveClient;
}

void RemoveClient(const TRemovalPlan& plan, TRemovalLog& log) {
  if (!plan.RemoveClient) return;
  StartProduct(tw::ProductName, log);
  RemoveProgramGroup(plan, log);
  EndFileStep(DeleteClientFiles(plan.ClientHomeDir), plan.ClientHomeDir, log);
  DeleteRegistryTree(tw::ProductKey);
  DeleteRegistryTree(tw::UninstallEntryKey);
  EndStep(L"   registry key...done", log);
}

void RemoveMixmaster(const TRemovalPlan& plan, TRemovalLog& log) {
  if (!plan.RemoveMixmaster) return;
  StartProduct(L"Mixmaster", log);
  EndFileStep(DeleteMixFiles(AddBackslash(plan.MixHomeDir), plan.ClientHomeDir), plan.MixHomeDir, log);
  DeleteRegistryTree(tw::MixmasterKey);
  EndStep(L"   registry key...done", log);
}

void RemoveProgramGroup(const TRemovalPlan& plan, TRemovalLog& log) {
  const std::wstring& group = plan.ProgramGroupName;
  // No name recorded: setup made no group, and an empty name would name the whole
  // Programs folder to the server.
  if (!group.empty()) {
    if (!IsPlainGroupName(group)) {
      ShowUnableToRemoveGroup(log.Owner());
      return;
    }
    TDdeClientConv conversation;
    if (!conversation.SetLink(plan.GroupService, plan.GroupService)) {
      ShowUnableToRemoveGroup(log.Owner());
      return;
    }
    if (!conversation.ExecuteMacro(L"[DeleteGroup(" + group + L")]"))
      ShowMessageBox(log.Owner(), L"The command to remove the program group failed.",
                     L"Program Error", MB_OK);
    conversation.CloseLink();
    RemoveGroupTheShellLeft(plan, log);
  }
  EndStep(L"   program group...done", log);
}

TFileStepResult DeleteClientFiles(const std::wstring& directory) {
  TFileStepResult result;
  if (!MayEmpty(directory, result)) return result;
  result.LeftBehind = DeleteFiles(ListHome(directory).Files, IsClientDatabase);
  return result;
}

TFileStepResult DeleteMixFiles(const std::wstring& directory, const std::wstring& clientHome) {
  TFileStepResult result;
  if (!MayEmpty(directory, result)) return result;
  const std::wstring home = AddBackslash(directory);
  THomeListing listing = ListHome(home);
  const bool sharedHome = IsSameFolder(home, clientHome);
  result.LeftBehind = DeleteFiles(listing.Files, [&](const std::wstring& file) {
    return sharedHome && IsClientDatabase(file);
  });
  bool poolGone = true;
  const std::wstring pool = LocaleLower(home + L"pool");
  auto found = std::find_if(listing.Folders.begin(), listing.Folders.end(),
                            [&](const std::wstring& folder) { return LocaleLower(folder) == pool; });
  if (found != listing.Folders.end()) {
    poolGone = RemovePool(*found, clientHome, result.LeftBehind);
    listing.Folders.erase(found);
  }
  if (listing.Folders.empty() && poolGone) RemoveDirectoryW(home.c_str());
  return result;
}

bool IsUnsafeHome(const std::wstring& directory) {
  if (!IsAbsolute(directory)) return true;
  const std::wstring resolved = ResolvePath(directory);
  if (resolved.empty() || IsDriveRoot(resolved)) return true;
  if (IsSameOrInsideFolder(resolved, WindowsDirectory())) return true;
  const std::wstring profiles = ProfilesFolder();
  if (IsSameFolder(resolved, profiles) || IsSameFolder(ParentFolder(resolved), profiles)) return true;
  const std::optional<TFolderIdentity> home = FolderIdentity(resolved);
  const std::vector<std::wstring> system = SystemFolders();
  return home && std::any_of(system.begin(), system.end(), [&](const std::wstring& folder) {
    return !folder.empty() && FolderIdentity(folder) == home;
  });
}

bool IsPlainGroupName(const std::wstring& name) {
  if (name.empty() || name == L"." || name.find(L"..") != std::wstring::npos) return false;
  for (wchar_t c : name)
    if (c < L' ' || std::wstring_view(L"[]()\"',\\/:*?<>|").find(c) != std::wstring_view::npos)
      return false;
  return true;
}

std::wstring ProgramsFolder() {
  const TRegistryKey folders = TRegistryKey::OpenReadOnly(
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
  return StripBackslash(folders.ReadString(L"Programs").value_or(L""));
}

bool RemoveLeftoverGroupFolder(const std::wstring& programs, const std::wstring& group,
                               const std::wstring& clientHome) {
  if (programs.empty() || !IsPlainGroupName(group)) return false;
  const std::wstring folder = AddBackslash(programs) + group;
  if (!PathExists(folder)) return true;
  const std::wstring home = FolderKey(clientHome);
  if (clientHome.empty() || home.empty() || IsLinkedFolder(folder)) return false;
  std::vector<std::wstring> entries;
  ListFiles(&entries, folder + L"\\*.*", faAnyFile);
  for (const std::wstring& entry : entries)
    if (!IsShortcutInto(entry, home)) return false;
  for (const std::wstring& entry : entries) DeleteFileW(entry.c_str());
  RemoveDirectoryW(folder.c_str());
  return !PathExists(folder);
}
