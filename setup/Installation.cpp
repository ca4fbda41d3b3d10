#include "setup/Installation.h"

#include <shlobj.h>

#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/RunningPrograms.h"
#include "shell/SysUtils.h"

namespace {

const wchar_t kProgramFilesDefault[] = L"C:\\Program Files";

// The nearest folder at or above `path` that exists; "" when there is none.
std::wstring NearestExistingFolder(std::wstring path) {
  while (!path.empty() && !FolderExists(path)) {
    const std::wstring parent = StripBackslash(ExtractFilePath(StripBackslash(path)));
    if (parent.size() >= path.size()) return {};
    path = parent;
  }
  return path;
}

// True when a file can be made in the folder: the test file goes when its handle closes.
bool CanCreateFileIn(const std::wstring& folder) {
  if (folder.empty()) return false;
  wchar_t name[MAX_PATH];
  if (!GetTempFileNameW(folder.c_str(), L"tw", 0, name)) return false;
  DeleteFileW(name);
  return true;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path)) && path) folder = path;
  CoTaskMemFree(path);
  return folder;
}

}  // namespace

TExitCode InstallClient(const TInstallChoices& choices) {
  if (!WaitUntilClientClosed(choices.Owner, choices.AppDir)) {
    LogLine(tw::ProductName + L" runs from " + choices.AppDir + L"; nothing was copied");
    return TExitCode::ClientRunning;
  }
  return RunInstallSteps(choices) ? TExitCode::Done : TExitCode::StepFailed;
}

TDestinationProbe SystemDestinationProbe() {
  return {[](const std::wstring& folder) { return CanCreateFileIn(NearestExistingFolder(folder)); },
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
  if (options.Dir) return CheckDestination(*options.Dir);
  const std::wstring recorded =
      TRegistryKey::OpenReadOnly(tw::ProductKey).ReadString(record::AppDir).value_or(L"");
  return CheckDestination(recorded.empty() ? DefaultDestination() : recorded);
}

TExitCode RunQuietInstall(const TQuietInstallOptions& options) {
  const TDestinationCheck checked = QuietDestination(options);
  if (!checked.Accepted()) {
    const std::wstring refusal = L"Invalid path: " + checked.Refusal;
    LogLine(refusal);
    WriteToParentConsole(refusal);
    return TExitCode::BadCommandLine;
  }
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
  const TClientConfig stored = ReadClientConfig(destination);
  choices.Config = {options.Address.value_or(stored.Address), options.Host.value_or(stored.Host)};
  choices.SettingsDatabase = tw::Program().ProgramDatabase;
  choices.OpenGroupWindow = false;
  LogLine(L"install into " + destination + L" from " + choices.SourceDir);
  if (choices.Config.Address.empty() || choices.Config.Host.empty())
    LogLine(L"no address or host given: the default message and article are written with "
            L"empty values");
  return InstallClient(choices);
}
