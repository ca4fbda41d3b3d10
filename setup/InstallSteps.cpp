#include "setup/InstallSteps.h"

#include <shlobj.h>

#include <utility>
#include <vector>

#include "base/WideText.h"
#include "shell/Constants.h"
#include "shell/Paths.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

namespace {

const wchar_t kShellFoldersKey[] =
    L"Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Creates the folder and every missing folder above it; true when it exists afterwards.
// Forward slashes separate levels as backslashes do.
bool CreateFolderPath(const std::wstring& folder) {
  const std::wstring path = StripBackslash(WithBackslashes(folder));
  if (path.empty() || FolderExists(path)) return !path.empty();
  const std::wstring parent = StripBackslash(ExtractFilePath(path));
  if (!parent.empty() && parent.size() < path.size() && parent.back() != L':')
    CreateFolderPath(parent);
  CreateDirectoryW(path.c_str(), nullptr);
  return FolderExists(path);
}

void ShowFolderCreationError(HWND owner) {
  ShowMessageBox(owner,
                 L"Unable to create the destination folder.\n"
                 L"Please review your entry for errors or\n"
                 L"illegal characters.",
                 tw::ProductName + L"Folder Creation Error", MB_OK);
}

// The name a kit file gets in the destination: the installer becomes the uninstaller.
std::wstring InstalledName(const std::wstring& kitFile) {
  const std::wstring name = ExtractFileName(kitFile);
  return LocaleLower(name) == L"setup.exe" ? tw::UninstallerExe : name;
}

// The user's database and keys are never replaced by whatever a kit folder holds (the
// client may once have been started from it): a new database comes from the template only.
bool IsUsersFile(const std::wstring& kitFile) {
  const std::wstring name = LocaleLower(ExtractFileName(kitFile));
  for (const std::wstring& own : {ClientDatabaseName(), EncryptedDatabaseName(),
                                  EncryptedDatabaseName() + tw::BackupExt})
    if (name == LocaleLower(own)) return true;
  return false;
}

bool CopyKitFiles(const TInstallChoices& choices) {
  const std::wstring destination = AddBackslash(choices.AppDir);
  std::vector<std::wstring> kit;
  ListFiles(&kit, AddBackslash(choices.SourceDir) + L"*.*", faAnyFile);
  for (const std::wstring& entry : kit) {
    if (FolderExists(entry) || IsUsersFile(entry)) continue;
    if (!CopyOneFile(choices.Owner, entry, destination + InstalledName(entry))) return false;
  }
  return true;
}

// Clears the read-only attribute of an existing file; nothing else of its attributes.
void MakeWritable(const std::wstring& file) {
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

// A fresh installation's client database starts as a copy of the kit's template.
bool CopyTemplateIfNoDatabase(const TInstallChoices& choices) {
  const std::wstring destination = AddBackslash(choices.AppDir);
  const std::wstring templateFile = destination + TemplateDatabaseName();
  const std::wstring database = destination + ClientDatabaseName();
  if (!FileExists(templateFile) || FileExists(database) ||
      FileExists(destination + EncryptedDatabaseName()))
    return true;
  return CopyOneFile(choices.Owner, templateFile, database);
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
      {L"\\License.LNK", L"License.txt", L"License"},
      {L"\\" + tw::ProductName + L".LNK", tw::ClientExe, tw::ProductName},
      {L"\\Uninstall " + ChangeFileExt(tw::ClientExe, std::wstring()) + L".LNK",
       tw::UninstallerExe, L"Uninstall " + tw::ProductName},
      {L"\\QuickStart.LNK", L"QuickStart.rtf", L"Quick Start"},
      {L"\\ReadMe.LNK", L"ReadMe.txt", L"Read Me"},
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

}  // namespace

std::wstring KitFolder() {
  const std::wstring folder = ExtractFilePath(ModuleFileName());
  return folder.size() <= 3 ? folder : StripBackslash(folder);  // "C:\" keeps its backslash
}

bool RunInstallSteps(const TInstallChoices& choices) {
  using TStepFunction = bool (*)(const TInstallChoices&);
  const std::pair<TInstallStep, TStepFunction> steps[] = {
      {TInstallStep::CopyFiles, CopyClientFiles},
      {TInstallStep::WriteRecord, WriteRegistryRecord},
      {TInstallStep::StoreEntries, StoreDefaultEntries},
      {TInstallStep::CreateGroup, CreateProgramGroup},
  };
  for (const auto& [step, run] : steps) {
    if (choices.StepStarting) choices.StepStarting(step);
    const bool done = run(choices);
    LogResult(L"step " + StepName(step), done);
    if (!done) return false;
  }
  return true;
}

std::wstring ComparablePath(const std::wstring& path) {
  return StripBackslash(LocaleLower(ShortPathName(path)));
}

bool CopyOneFile(HWND owner, const std::wstring& source, const std::wstring& target) {
  // A kit on a CD, or with read-only files, must give files that the client can write and
  // that the next update can replace; an earlier such copy is replaced all the same.
  MakeWritable(target);
  const bool copied = CopyFileW(source.c_str(), target.c_str(), FALSE);
  const DWORD error = copied ? 0 : GetLastError();
  LogResult(L"copy " + source + L" to " + target, copied, error);
  if (copied) {
    MakeWritable(target);
    return true;
  }
  ShowMessageBox(owner, L"System Error: " + SystemErrorText(error) + L"File: " + source,
                 L"Copy Failed", MB_OK);
  return false;
}

bool CopyClientFiles(const TInstallChoices& choices) {
  const std::wstring source = ComparablePath(choices.SourceDir);
  if (!source.empty() && ComparablePath(choices.AppDir) == source) return true;
  if (!CreateFolderPath(choices.AppDir)) {
    ShowFolderCreationError(choices.Owner);
    return false;
  }
  return CopyKitFiles(choices) && CopyTemplateIfNoDatabase(choices);
}

bool WriteRegistryRecord(const TInstallChoices& choices) {
  TRegistryKey key = TRegistryKey::Create(tw::ProductKey);
  // A record that cannot be written leaves an installation the uninstaller cannot find.
  if (key.Valid() && WriteRecordValues(key, choices) && WriteUninstallEntry(choices)) return true;
  ShowMessageBox(choices.Owner, L"Unable to write to Win95 registry!\n\nEntries NOT saved!",
                 L"Registry Error", MB_OK);
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
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(entry.c_str(), GetFileExInfoStandard, &data) &&
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      bytes += (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return static_cast<DWORD>((bytes + 1023) / 1024);
}

bool StoreDefaultEntries(const TInstallChoices& choices) {
  MakeWritable(AddBackslash(choices.AppDir) + ClientDatabaseName());
  return StoreDefaultEntries(choices.Owner, choices.AppDir, choices.Config,
                             choices.SettingsDatabase);
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

bool CreateProgramGroup(const TInstallChoices& choices) {
  if (!choices.CreateGroup) return true;
  // Without a Programs folder there is no Start menu to put the group in.
  const std::wstring group = ProgramGroupFolder();
  if (group.empty()) return true;
  if (!FolderExists(group)) CreateDirectoryW(group.c_str(), nullptr);
  const std::wstring destination = AddBackslash(choices.AppDir);
  for (const TGroupLink& link : GroupLinks()) {
    const std::wstring target = LocaleLower(destination + link.Target);
    const HRESULT written = CreateShortcut(target, group + link.File, target, link.Description, L"");
    LogResult(L"link " + group + link.File + L" to " + target, SUCCEEDED(written),
              static_cast<unsigned long>(written));
  }
  if (!choices.PreviousInstall && choices.OpenGroupWindow)
    RunProgram(L"explorer.exe \"" + group + L"\"", SW_SHOW);
  return true;
}
