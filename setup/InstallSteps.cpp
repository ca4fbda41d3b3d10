#include "setup/InstallSteps.h"

#include <shlobj.h>

#include <utility>
#include <vector>

#include "base/WideText.h"
#include "shell/Constants.h"
#include "shell/FaultPoint.h"
#include "shell/Paths.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

namespace {

const wchar_t kShellFoldersKey[] =
    L"Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

void ShowFolderCreationError(HWND owner) {
  ShowMessageBox(owner,
                 L"Unable to create the destination folder.\n"
                 L"Please review your entry for errors or\n"
                 L"illegal characters.",
                 tw::ProductName + L"Folder Creation Error", MB_OK);
}

void ShowRegistryError(HWND owner) {
  ShowMessageBox(owner, L"Unable to write to Win95 registry!\n\nEntries NOT saved!",
                 L"Registry Error", MB_OK);
}

// "Copy Failed" with the system's text and the file: the one the update could not copy,
// put in place or note. A file that another program holds is no such failure: the user was
// asked about it, or the run's log says who held it.
bool ShowUpdateFailure(HWND owner, const TFileUpdate& update) {
  if (!IsInUseError(update.Error()))
    ShowMessageBox(owner, L"System Error: " + SystemErrorText(update.Error()) + L"File: " + update.FailedItem(),
                   L"Copy Failed", MB_OK);
  return false;
}

// The name a kit file gets in the destination: the installer becomes the uninstaller.
std::wstring InstalledName(const std::wstring& kitFile) {
  const std::wstring name = ExtractFileName(kitFile);
  return LocaleLower(name) == L"setup.exe" ? tw::UninstallerExe : name;
}

// The user's database, keys and journals are never replaced by whatever a kit folder holds
// (the client may once have been started from it; a journal would be applied to the user's
// database at its next opening): a new database comes from the template only. Nor do an
// update's own files in the kit, or an uninstaller that the installer itself becomes.
bool IsKitFileLeftOut(const std::wstring& kitFile) {
  const std::wstring name = LocaleLower(ExtractFileName(kitFile));
  for (const std::wstring& own : {ClientDatabaseName(), EncryptedDatabaseName(),
                                  EncryptedDatabaseName() + tw::BackupExt, tw::UninstallerExe})
    if (name == LocaleLower(own)) return true;
  const std::wstring journal = L"-journal";
  return UpdateFileKind(name) != TUpdateFileKind::None ||
         (name.size() >= journal.size() && name.compare(name.size() - journal.size(), journal.size(), journal) == 0);
}

std::vector<TUpdateFile> KitFiles(const TInstallChoices& choices) {
  std::vector<TUpdateFile> files;
  std::vector<std::wstring> kit;
  ListFiles(&kit, AddBackslash(choices.SourceDir) + L"*.*", faAnyFile);
  for (const std::wstring& entry : kit)
    if (!FolderExists(entry) && !IsKitFileLeftOut(entry)) files.push_back({entry, InstalledName(entry)});
  return files;
}

bool IsKitsOwnFolder(const TInstallChoices& choices) {
  const std::wstring source = ComparablePath(choices.SourceDir);
  return !source.empty() && ComparablePath(choices.AppDir) == source;
}

// Installing into the kit's own folder copies nothing but the installer, as the uninstaller.
std::vector<TUpdateFile> FilesToCopy(const TInstallChoices& choices) {
  std::vector<TUpdateFile> files = KitFiles(choices);
  if (!IsKitsOwnFolder(choices)) return files;
  std::vector<TUpdateFile> uninstaller;
  for (TUpdateFile& file : files)
    if (file.Name == tw::UninstallerExe) uninstaller.push_back(std::move(file));
  return uninstaller;
}

std::vector<std::wstring> RecordValues() {
  return {record::AppDir, record::Version, record::ProgramGroup, record::WindowState,
          record::WindowPos, record::Update};
}

std::vector<std::wstring> UninstallEntryValues() {
  return {L"DisplayName", L"DisplayVersion", L"Publisher", L"InstallLocation",
          L"UninstallString", L"QuietUninstallString", L"DisplayIcon", L"EstimatedSize",
          L"InstallDate", L"NoModify", L"NoRepair"};
}

bool WriteRecordValues(TRegistryKey& key, const TInstallChoices& choices) {
  return key.WriteString(record::AppDir, StripBackslash(choices.AppDir)) &&
         key.WriteString(record::Version, choices.VersionText) &&
         (!choices.CreateGroup || key.WriteString(record::ProgramGroup, tw::ProductName)) &&
         // The client's own window settings survive an update.
         (choices.PreviousInstall || (key.WriteInteger(record::WindowState, 0) &&
                                      key.WriteString(record::WindowPos, L"-1,-1,565,350"))) &&
         key.WriteInteger(record::Update, 1);
}

struct TGroupLink {
  std::wstring File;  // in the group's folder
  std::wstring Target;  // in the destination
  std::wstring Description;
};

std::vector<TGroupLink> GroupLinks() {
  return {
      {L"License.LNK", L"License.txt", L"License"},
      {tw::ProductName + L".LNK", tw::ClientExe, tw::ProductName},
      {L"Uninstall " + ChangeFileExt(tw::ClientExe, std::wstring()) + L".LNK",
       tw::UninstallerExe, L"Uninstall " + tw::ProductName},
      {L"QuickStart.LNK", L"QuickStart.rtf", L"Quick Start"},
      {L"ReadMe.LNK", L"ReadMe.txt", L"Read Me"},
  };
}

// The step's name in the run's log.
std::wstring StepName(TInstallStep step) {
  switch (step) {
    case TInstallStep::CopyFiles: return L"copy the kit";
    case TInstallStep::WriteRecord: return L"registry record";
    case TInstallStep::StoreEntries: return L"default entries";
    case TInstallStep::CreateGroup: return L"program group";
  }
  return {};
}

// "20261208": today, as "Apps & features" reads an installation date.
std::wstring InstallDate() {
  SYSTEMTIME today;
  GetLocalTime(&today);
  const unsigned date = today.wYear * 10000u + today.wMonth * 100u + today.wDay;
  return DecimalText(date);
}

bool CommitUpdate(const TInstallChoices& choices, TFileUpdate& update) {
  return update.Commit() || ShowUpdateFailure(choices.Owner, update);
}

// What a failed step changed goes back; what cannot go back yet, the next run puts back.
void UndoUpdate(const TInstallChoices& choices, TFileUpdate& update) {
  if (update.Undo()) {
    LogLine(L"the earlier state was put back");
    return;
  }
  ShowMessageBox(choices.Owner,
                 L"Setup could not put back " + update.FailedItem() + L":\n" +
                     SystemErrorText(update.Error()) +
                     L"Run setup again to finish putting the earlier installation back.",
                 L"Setup Error", MB_OK);
}

// Writes the entries into the database that is already there, once no other program holds
// it, keeping the stored address or host where the choices leave one empty.
bool StoreIntoExistingDatabase(const TInstallChoices& choices, const std::wstring& database) {
  ClearReadOnly(database);
  // The user was asked, or the log says who held it; any other trouble the writing reports.
  if (IsInUseError(WaitUntilFileFree(database, GENERIC_READ | GENERIC_WRITE, 0, choices.WhenInUse)))
    return false;
  const TConfigReading kept = KeepStoredValues(choices.Config, choices.AppDir);
  if (!kept.Failure.empty()) {
    ShowMessageBox(choices.Owner,
                   L"The address and mail server stored in " + database +
                       L" could not be read:\n" + kept.Failure +
                       L"\n\nSetup did not write empty ones over them.",
                   L"Setup Error", MB_OK);
    return false;
  }
  return WriteDefaultEntries(choices.Owner, database, kept.Config, choices.SettingsDatabase);
}

}  // namespace

std::wstring KitFolder() {
  const std::wstring folder = ExtractFilePath(ModuleFileName());
  return folder.size() <= 3 ? folder : StripBackslash(folder);  // "C:\" keeps its backslash
}

std::vector<std::wstring> RequiredKitFiles() {
  std::vector<std::wstring> files = {L"setup.exe", TemplateDatabaseName()};
  for (const TGroupLink& link : GroupLinks())
    if (link.Target != tw::UninstallerExe) files.push_back(link.Target);
  return files;
}

TUpdatePlan PlanUpdate(const TInstallChoices& choices) {
  TUpdatePlan plan;
  plan.Folder = choices.AppDir;
  plan.Files = FilesToCopy(choices);
  const std::wstring database = AddBackslash(choices.AppDir) + ClientDatabaseName();
  if (!DatabaseEncrypted(choices.AppDir) && DatabaseHoldsNothing(database)) {
    plan.Database = ClientDatabaseName();
    plan.DatabaseReplacesEmpty = FileExists(database);
    const std::wstring kitTemplate = AddBackslash(choices.SourceDir) + TemplateDatabaseName();
    if (!IsKitsOwnFolder(choices) && FileExists(kitTemplate)) plan.DatabaseTemplate = kitTemplate;
  }
  plan.Keys = {{tw::ProductKey, RecordValues()}, {tw::UninstallEntryKey, UninstallEntryValues()}};
  if (choices.CreateGroup) plan.GroupFolder = ProgramGroupFolder();
  for (const TGroupLink& link : GroupLinks()) plan.GroupLinks.push_back(link.File);
  return plan;
}

bool RunInstallSteps(const TInstallChoices& choices) {
  using TStepFunction = bool (*)(const TInstallChoices&, TFileUpdate&);
  const std::pair<TInstallStep, TStepFunction> steps[] = {
      {TInstallStep::CopyFiles, CopyClientFiles},
      {TInstallStep::WriteRecord, WriteRegistryRecord},
      {TInstallStep::StoreEntries, StoreDefaultEntries},
      {TInstallStep::CreateGroup, CreateProgramGroup},
  };
  TFileUpdate update(PlanUpdate(choices), choices.WhenInUse);
  for (const auto& [step, run] : steps) {
    if (choices.StepStarting) choices.StepStarting(step);
    const bool done = run(choices, update);
    LogResult(L"step " + StepName(step), done);
    if (!done) {
      UndoUpdate(choices, update);
      return false;
    }
  }
  if (CommitUpdate(choices, update)) return true;
  UndoUpdate(choices, update);
  return false;
}

std::wstring ComparablePath(const std::wstring& path) {
  return StripBackslash(LocaleLower(ShortPathName(path)));
}

bool CopyClientFiles(const TInstallChoices& choices, TFileUpdate& update) {
  if (!update.NoteUpdate()) {
    ShowRegistryError(choices.Owner);
    return false;
  }
  if (!update.MakeFolder()) {
    ShowFolderCreationError(choices.Owner);
    return false;
  }
  return (update.Begin() && update.StageFiles() && update.PutFilesInPlace()) ||
         ShowUpdateFailure(choices.Owner, update);
}

bool WriteRegistryRecord(const TInstallChoices& choices, TFileUpdate& update) {
  if (!update.StartRegistry()) return ShowUpdateFailure(choices.Owner, update);
  TRegistryKey key = TRegistryKey::Create(tw::ProductKey);
  // A record that cannot be written leaves an installation the uninstaller cannot find.
  if (key.Valid() && WriteRecordValues(key, choices) && WriteUninstallEntry(choices)) return true;
  ShowRegistryError(choices.Owner);
  return false;
}

bool WriteUninstallEntry(const TInstallChoices& choices) {
  TRegistryKey key = TRegistryKey::Create(tw::UninstallEntryKey);
  const std::wstring folder = StripBackslash(choices.AppDir);
  const std::wstring uninstaller = L"\"" + AddBackslash(folder) + tw::UninstallerExe + L"\"";
  return key.Valid() && key.WriteString(L"DisplayName", tw::ProductName) &&
         key.WriteString(L"DisplayVersion", choices.VersionText) &&
         key.WriteString(L"Publisher", tw::Publisher) &&
         key.WriteString(L"InstallLocation", folder) &&
         key.WriteString(L"UninstallString", uninstaller) &&
         key.WriteString(L"QuietUninstallString", uninstaller + L" /quiet /client") &&
         key.WriteString(L"DisplayIcon", AddBackslash(folder) + tw::ClientExe + L",0") &&
         key.WriteInteger(L"EstimatedSize", FolderSizeKB(folder)) &&
         key.WriteString(L"InstallDate", InstallDate()) && key.WriteInteger(L"NoModify", 1) &&
         key.WriteInteger(L"NoRepair", 1);
}

DWORD FolderSizeKB(const std::wstring& folder) {
  ULONGLONG bytes = 0;
  std::vector<std::wstring> entries;
  ListFiles(&entries, AddBackslash(folder) + L"*.*", faAnyFile);
  for (const std::wstring& entry : entries) {
    // A staged file is what the installation will hold; a kept one is what it held.
    const TUpdateFileKind kind = UpdateFileKind(ExtractFileName(entry));
    if ((kind == TUpdateFileKind::None || kind == TUpdateFileKind::Staged) && FileExists(entry))
      bytes += FileSize(entry);
  }
  return static_cast<DWORD>((bytes + 1023) / 1024);
}

bool StoreDefaultEntries(const TInstallChoices& choices, TFileUpdate& update) {
  if (DatabaseEncrypted(choices.AppDir)) return true;
  const std::wstring database = AddBackslash(choices.AppDir) + ClientDatabaseName();
  if (!update.MakesDatabase()) return StoreIntoExistingDatabase(choices, database);
  return WriteDefaultEntries(choices.Owner, update.StagedDatabase(), choices.Config,
                             choices.SettingsDatabase, database) &&
         (update.PutDatabaseInPlace() || ShowUpdateFailure(choices.Owner, update));
}

std::wstring StartMenuProgramsFolder() {
  const auto programs = TRegistryKey::OpenReadOnly(kShellFoldersKey).ReadString(L"Programs");
  if (programs && !programs->empty()) return LocaleLower(*programs);
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return {};
  return LocaleLower(std::wstring(folder));
}

std::wstring ProgramGroupFolder() {
  const std::wstring programs = StartMenuProgramsFolder();
  return programs.empty() ? std::wstring() : AddBackslash(programs) + tw::ProductName;
}

bool CreateProgramGroup(const TInstallChoices& choices, TFileUpdate& update) {
  if (!choices.CreateGroup) return true;
  // Without a Programs folder there is no Start menu to put the group in.
  const std::wstring group = ProgramGroupFolder();
  if (group.empty()) return true;
  if (!update.StartLinks()) return ShowUpdateFailure(choices.Owner, update);
  if (!FolderExists(group) && !InjectedFault(L"create folder", group)) CreateDirectoryW(group.c_str(), nullptr);
  const std::wstring destination = AddBackslash(choices.AppDir);
  for (const TGroupLink& link : GroupLinks()) {
    const std::wstring target = LocaleLower(destination + link.Target);
    const std::wstring file = AddBackslash(group) + link.File;
    const DWORD fault = InjectedFault(L"link", file);
    const HRESULT written = fault ? HRESULT_FROM_WIN32(fault)
                                  : CreateShortcut(target, file, target, link.Description, L"");
    LogResult(L"link " + file + L" to " + target, SUCCEEDED(written),
              static_cast<unsigned long>(written));
  }
  if (!choices.PreviousInstall && choices.OpenGroupWindow)
    RunProgram(L"explorer.exe \"" + group + L"\"", SW_SHOW);
  return true;
}
