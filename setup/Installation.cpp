#include "setup/Installation.h"

#include <shlobj.h>

#include <vector>

#include "base/Handles.h"
#include "base/Text.h"
#include "setup/Preflight.h"
#include "shell/Constants.h"
#include "shell/FileUpdate.h"
#include "shell/Paths.h"
#include "shell/Registry.h"
#include "shell/RunningPrograms.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

namespace {

const wchar_t kProgramFilesDefault[] = L"C:\\Program Files";

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path)) && path) folder = path;
  CoTaskMemFree(path);
  return folder;
}

std::wstring RecordedFolder() {
  return TRegistryKey::OpenReadOnly(tw::ProductKey).ReadString(record::AppDir).value_or(L"");
}

// An update that a setup killed half-way left is finished or undone before anything else.
bool RecoverEarlierUpdate(const TInstallChoices& choices) {
  if (RecoverInterruptedUpdate(choices.AppDir, choices.WhenInUse)) return true;
  ShowMessageBox(choices.Owner,
                 L"An earlier setup did not finish, and what it changed in " + choices.AppDir +
                     L" could not all be put right; the log says what stays.\n"
                     L"Close the programs that use its files, then run setup again.",
                 L"Setup Error", MB_OK);
  return false;
}

TExitCode Refuse(const std::wstring& line) {
  LogLine(line);
  WriteToParentConsole(line);
  return TExitCode::BadCommandLine;
}

}  // namespace

TExitCode InstallClient(const TInstallChoices& choices) {
  if (!WaitUntilClientClosed(choices.Owner, choices.AppDir)) {
    LogLine(tw::ProductName + L" runs from " + choices.AppDir + L"; nothing was copied");
    return TExitCode::ClientRunning;
  }
  if (!RecoverEarlierUpdate(choices) || !CheckBeforeInstalling(choices)) return TExitCode::StepFailed;
  return RunInstallSteps(choices) ? TExitCode::Done : TExitCode::StepFailed;
}

std::wstring MoveAwayFrom(const std::wstring& destination) {
  const std::wstring recorded = RecordedFolder();
  if (recorded.empty() || IsSameFolder(recorded, destination)) return {};
  const bool holdsInstallation = FileExists(AddBackslash(recorded) + tw::ClientExe) ||
                                 FileExists(AddBackslash(recorded) + ClientDatabaseName());
  return holdsInstallation ? recorded : std::wstring();
}

TDestinationProbe SystemDestinationProbe() {
  return {[](const std::wstring& folder) { return CreateFileInError(NearestExistingFolder(folder)) == 0; },
          [] {
            // Systems that do not know the folder yet keep it where Windows does.
            const std::wstring own = KnownFolder(FOLDERID_UserProgramFiles);
            if (!own.empty()) return own;
            const std::wstring local = KnownFolder(FOLDERID_LocalAppData);
            return local.empty() ? local : AddBackslash(local) + L"Programs";
          }};
}

std::wstring DefaultDestination(const TDestinationProbe& probe) {
  const std::wstring programFiles = AddBackslash(std::wstring(kProgramFilesDefault)) + tw::ProductName;
  if (probe.CanWrite(kProgramFilesDefault)) return programFiles;
  const std::wstring own = probe.UserProgramFiles();
  return own.empty() ? programFiles : AddBackslash(own) + tw::ProductName;
}

TDestinationCheck QuietDestination(const TQuietInstallOptions& options) {
  if (!options.Dir) {
    const std::wstring recorded = RecordedFolder();
    return CheckDestination(recorded.empty() ? DefaultDestination() : recorded);
  }
  TDestinationCheck checked = CheckDestination(*options.Dir);
  const std::wstring recorded = checked.Accepted() ? MoveAwayFrom(checked.Folder) : std::wstring();
  if (!recorded.empty())
    checked = {{}, tw::ProductName + L" is installed in " + recorded + L", and /dir= names " +
                       checked.Folder + L". An update stays where the user's mail is: leave out "
                       L"/dir=, or name that folder."};
  return checked;
}

bool RunsAsLocalSystem() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const UniqueKernelObject owned(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size < sizeof(TOKEN_USER) || !GetTokenInformation(token, TokenUser, user.data(), size, &size))
    return false;
  return IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, WinLocalSystemSid);
}

TExitCode RunQuietInstall(const TQuietInstallOptions& options, bool asLocalSystem) {
  if (asLocalSystem)
    return Refuse(L"setup runs as the system account (LocalSystem): " + tw::ProductName +
                  L" would be installed for that account, where no user sees it. Install it in "
                  L"the user's context: as the user who will use it.");
  const TDestinationCheck checked = QuietDestination(options);
  if (!checked.Accepted()) return Refuse(L"Invalid path: " + checked.Refusal);
  const std::wstring& destination = checked.Folder;
  const TRegistryKey record = TRegistryKey::Open(tw::ProductKey);
  TInstallChoices choices;
  choices.AppDir = destination;
  choices.SourceDir = KitFolder();
  choices.VersionText = ReadTemplateVersion(choices.SourceDir);
  choices.PreviousInstall = record.Valid();
  // As the wizard's box: an update keeps making the group only when it made one before.
  choices.CreateGroup = !options.NoGroup &&
                        (!record.Valid() || !record.ReadString(record::ProgramGroup).value_or(L"").empty());
  // A stored value that cannot be read now is kept all the same: the step reads it again.
  const TConfigReading stored = ReadClientConfig(destination);
  if (!stored.Failure.empty())
    LogLine(L"the address and host stored in " + destination + L" cannot be read now (" +
            stored.Failure + L")");
  choices.Config = {options.Address.value_or(stored.Config.Address),
                    options.Host.value_or(stored.Config.Host)};
  choices.SettingsDatabase = tw::Program().ProgramDatabase;
  choices.OpenGroupWindow = false;
  choices.WhenInUse = {.WaitMs = QuietInUseWait};
  LogLine(L"install into " + destination + L" from " + choices.SourceDir);
  if (stored.Failure.empty() && (choices.Config.Address.empty() || choices.Config.Host.empty()))
    LogLine(L"no address or host given: the default message and article are written with "
            L"empty values");
  return InstallClient(choices);
}