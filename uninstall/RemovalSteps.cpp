#include "uninstall/RemovalSteps.h"

#include <shlobj.h>

#include <algorithm>
#include <optional>

#include "base/Handles.h"
#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/Dde.h"
#include "shell/HomeRule.h"
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

// Mixmaster's own files, by which its home is known: its program, library, settings and
// key ring.
const wchar_t* const kMixmasterFiles[] = {L"mix.exe", L"mixlib.dll", L"mix.cfg", L"pubring.mix"};

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

bool HoldsMixmasterInstallation(const std::wstring& folder) {
  for (const wchar_t* name : kMixmasterFiles)
    if (FileExists(AddBackslash(folder) + name)) return true;
  return false;
}

TProductHome JudgeProductHome(const std::wstring& directory,
                              bool (*holdsInstallation)(const std::wstring&),
                              const std::wstring& product) {
  if (directory.empty()) return {};
  const THome home = JudgeHome(directory);
  if (!home.Fits()) {
    // Nothing to leave alone where nothing is.
    const bool there = home.Folder.empty() ? PathExists(directory) : PathExists(home.Folder);
    return there ? TProductHome{home.Folder, L"cannot be a program's home"} : TProductHome{};
  }
  if (!FolderExists(home.Folder)) return {};
  if (!holdsInstallation(home.Folder)) return {home.Folder, L"holds no " + product + L" installation"};
  return {home.Folder, {}};
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
    (FolderExists(entry) ? listing.Folders : listing.Files).push_back(std::move(entry));
  return listing;
}

// Deletes the files but the client's database; answers those that resisted. The
// uninstaller's own file does not count in its temporary copy, which removes it once the
// first process has ended.
std::vector<std::wstring> DeleteFiles(const std::vector<std::wstring>& files) {
  std::vector<std::wstring> left;
  for (const std::wstring& file : files) {
    if (IsClientDatabaseFile(file)) continue;
    const bool removed = DeleteFileW(file.c_str());
    const DWORD error = removed ? 0 : GetLastError();
    const bool deleted = removed || !PathExists(file);
    if (!deleted && IsTemporaryCopy() && IsRunningProgram(file)) {
      LogLine(L"delete " + file + L": when the uninstaller has ended");
      continue;
    }
    LogResult(L"delete " + file, deleted, error);
    if (!deleted) left.push_back(file);
  }
  return left;
}

// The entries still under `folder` that were to go, without following links: the folder
// `spared` and the client's database files were left on purpose.
void CollectRemaining(const std::wstring& folder, const std::wstring& spared,
                      std::vector<std::wstring>& left) {
  if (IsSameFolder(folder, spared)) return;
  std::vector<std::wstring> entries;
  ListFiles(&entries, AddBackslash(folder) + L"*.*", faAnyFile);
  for (const std::wstring& entry : entries) {
    if (FolderExists(entry) && !IsLinkedFolder(entry)) CollectRemaining(entry, spared, left);
    else if (!IsClientDatabaseFile(entry)) left.push_back(entry);
  }
}

// "pool" with everything in it but the client's database files and, when the client's home
// is or lies in the pool, that home with the folders that lead to it: the client's own
// step empties it. A pool that is a link loses only the link. True when the pool is gone.
bool RemovePool(const std::wstring& pool, const std::wstring& clientHome,
                std::vector<std::wstring>& left) {
  const TKeepEntry keep = [&](const std::wstring& entry) {
    return IsClientDatabaseFile(entry) || (!clientHome.empty() && IsSameFolder(entry, clientHome));
  };
  if (keep(pool)) return false;
  if (DeleteTree(pool, keep) || !PathExists(pool)) return true;
  if (IsLinkEntry(pool)) left.push_back(pool);
  else CollectRemaining(pool, clientHome, left);
  return false;
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

// The file step's line; what stayed goes to the outcome. True when none of the product's
// files stays.
bool EndFileStep(const TProductHome& home, const std::wstring& directory,
                 const std::vector<std::wstring>& left, TRemovalLog& log, TRemovalOutcome& outcome) {
  if (!home.LeftAlone.empty()) {
    outcome.Stayed.push_back(directory + L" (" + home.LeftAlone + L")");
    EndStep(L"   program files...left alone (" + directory + L" " + home.LeftAlone + L")", log);
    return false;
  }
  outcome.Stayed.insert(outcome.Stayed.end(), left.begin(), left.end());
  EndStep(left.empty() ? L"   program files...done" : L"   program files...some could not be removed",
          log);
  return left.empty();
}

// A product's registry keys go once its program files are gone. While those stay, so do
// the keys: the removal can then be run again.
void EndKeyStep(bool filesGone, const std::vector<std::wstring>& keys, TRemovalLog& log,
                TRemovalOutcome& outcome) {
  bool deleted = filesGone;
  for (const std::wstring& key : keys) {
    if (!filesGone) {
      outcome.Stayed.push_back(L"HKEY_CURRENT_USER\\" + key + L" (kept while the program files stay)");
    } else if (!DeleteRegistryTree(key)) {
      outcome.Stayed.push_back(L"HKEY_CURRENT_USER\\" + key);
      deleted = false;
    }
  }
  EndStep(!filesGone ? L"   registry key...kept while the program files stay"
          : deleted  ? L"   registry key...done"
                     : L"   registry key...could not be removed",
          log);
}

void RemoveClient(const TRemovalPlan& plan, const TProductHome& home, TRemovalLog& log,
                  TRemovalOutcome& outcome) {
  if (!plan.RemoveClient) return;
  StartProduct(tw::ProductName, log);
  RemoveProgramGroup(plan, log);
  outcome.ClientRemoved = EndFileStep(home, plan.ClientHomeDir, DeleteClientFiles(home), log, outcome);
  EndKeyStep(outcome.ClientRemoved, {tw::ProductKey, tw::UninstallEntryKey}, log, outcome);
}

void RemoveMixmaster(const TRemovalPlan& plan, const TProductHome& home, TRemovalLog& log,
                     TRemovalOutcome& outcome) {
  if (!plan.RemoveMixmaster) return;
  StartProduct(L"Mixmaster", log);
  const bool filesGone =
      EndFileStep(home, plan.MixHomeDir, DeleteMixFiles(home, plan.ClientHomeDir), log, outcome);
  EndKeyStep(filesGone, {tw::MixmasterKey}, log, outcome);
}

// Modern shells accept the command and leave the group folder; it goes when the shell has
// not removed it shortly after and it holds nothing but the client's shortcuts.
void RemoveGroupTheShellLeft(const TRemovalPlan& plan, TRemovalLog& log) {
  const std::wstring programs = ProgramsFolder();
  if (programs.empty() || !JudgeHome(plan.ClientHomeDir).Fits()) return;
  const std::wstring folder = AddBackslash(programs) + plan.ProgramGroupName;
  for (DWORD waited = 0; FolderExists(folder) && waited < kGroupCommandWait; waited += 50) {
    log.ProcessMessages();
    Sleep(50);
  }
  RemoveLeftoverGroupFolder(programs, plan.ProgramGroupName, plan.ClientHomeDir);
}

// True for a shortcut file whose target lies in the folder of key `home`.
bool IsShortcutInto(const std::wstring& file, const std::wstring& home) {
  const std::wstring name = LocaleLower(ExtractFileName(file));
  if (FolderExists(file) || name.size() <= 4 || name.compare(name.size() - 4, 4, L".lnk") != 0)
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

TRemovalOutcome RemoveProducts(const TRemovalPlan& plan, TRemovalLog& log) {
  // Both homes are judged before anything goes: where they are one folder, the first
  // product's step must not decide the second's.
  const TProductHome client = plan.RemoveClient ? JudgeClientHome(plan.ClientHomeDir) : TProductHome{};
  const TProductHome mix = plan.RemoveMixmaster ? JudgeMixHome(plan.MixHomeDir) : TProductHome{};
  TRemovalOutcome outcome;
  if (plan.ClientFirst) {
    RemoveClient(plan, client, log, outcome);
    RemoveMixmaster(plan, mix, log, outcome);
  } else {
    RemoveMixmaster(plan, mix, log, outcome);
    RemoveClient(plan, client, log, outcome);
  }
  return outcome;
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

TProductHome JudgeClientHome(const std::wstring& directory) {
  return JudgeProductHome(directory, HoldsClientInstallation, tw::ProductName);
}

TProductHome JudgeMixHome(const std::wstring& directory) {
  return JudgeProductHome(directory, HoldsMixmasterInstallation, L"Mixmaster");
}

std::vector<std::wstring> DeleteClientFiles(const TProductHome& home) {
  if (home.Folder.empty() || !home.LeftAlone.empty()) return {};
  return DeleteFiles(ListHome(home.Folder).Files);
}

std::vector<std::wstring> DeleteMixFiles(const TProductHome& home, const std::wstring& clientHome) {
  if (home.Folder.empty() || !home.LeftAlone.empty()) return {};
  THomeListing listing = ListHome(home.Folder);
  std::vector<std::wstring> left = DeleteFiles(listing.Files);
  bool poolGone = true;
  const std::wstring pool = LocaleLower(AddBackslash(home.Folder) + L"pool");
  auto found = std::find_if(listing.Folders.begin(), listing.Folders.end(),
                            [&](const std::wstring& folder) { return LocaleLower(folder) == pool; });
  if (found != listing.Folders.end()) {
    poolGone = RemovePool(*found, clientHome, left);
    listing.Folders.erase(found);
  }
  // Only when nothing else is left in it, the client's database included.
  if (listing.Folders.empty() && poolGone) RemoveDirectoryW(home.Folder.c_str());
  return left;
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
