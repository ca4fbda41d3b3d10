// The installation the setup wizard performs once the user has confirmed: copy the kit into
// the destination, record the installation in the registry, seed the client's database and
// build the Start-menu group. Each step answers whether it succeeded and has shown its own
// message when it did not; the first failure ends the chain and nothing is rolled back.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "setup/ClientConfig.h"

// The installation's steps, in the order they run.
enum class TInstallStep { CopyFiles, WriteRecord, StoreEntries, CreateGroup };

// Everything the steps take from the wizard, read when Install is pressed.
struct TInstallChoices {
  HWND Owner = nullptr;        // owner of the failure messages
  std::wstring AppDir;         // the destination folder, as CheckDestination accepted it
  std::wstring SourceDir;      // the kit: the folder the installer runs from
  std::wstring VersionText;    // the template's version
  TClientConfig Config;        // address and host
  bool CreateGroup = true;     // build the Start-menu group
  bool PreviousInstall = false;
  std::wstring SettingsDatabase;  // where the cut-marks setting is read from
  bool OpenGroupWindow = true;    // a first installation shows the new group's folder
  // Told as each step starts, when set: whoever runs the steps follows their progress.
  std::function<void(TInstallStep)> StepStarting;
};

// Names of the registry record's values under the installation key.
namespace record {
inline constexpr wchar_t AppDir[] = L"AppDir";
inline constexpr wchar_t Version[] = L"Version";
inline constexpr wchar_t ProgramGroup[] = L"Program Group";
inline constexpr wchar_t WindowState[] = L"WindowState";
inline constexpr wchar_t WindowPos[] = L"WindowPos";
inline constexpr wchar_t Update[] = L"Update";
}  // namespace record

// The kit: the folder of the running installer, whatever the current folder is (a shortcut
// or a command prompt may start it anywhere). Without a trailing backslash but for a root.
std::wstring KitFolder();

// The four steps in order; false at the first that fails. Each step, and each file,
// registry value, entry and link it writes, goes to the run's log with its result.
bool RunInstallSteps(const TInstallChoices& choices);

// The short form of an existing path, lower-cased, without a trailing backslash; "" when
// the path does not exist.
std::wstring ComparablePath(const std::wstring& path);

// Copies, replacing the target even when it is read-only; the copy is never read-only. A
// failure shows "Copy Failed" with the system's text.
bool CopyOneFile(HWND owner, const std::wstring& source, const std::wstring& target);

// Creates the destination with its missing parents and copies every file of the kit into
// it, the installer itself as "UninstTW.exe", then the template as the client's database
// when there is none. A database or key file in the kit ("TW.dbc", "TW.pgp",
// "TW.pgp.bak") is not copied. Installing into the kit's own folder copies nothing.
bool CopyClientFiles(const TInstallChoices& choices);

// Writes the installation record and the entry of "Apps & features". A key that cannot be
// opened or a value that cannot be written shows "Registry Error".
bool WriteRegistryRecord(const TInstallChoices& choices);

// The entry of "Apps & features" under UninstallEntryKey: name, version, publisher, folder,
// the uninstaller's command lines, icon, size and date; no modify or repair.
bool WriteUninstallEntry(const TInstallChoices& choices);

// The kilobytes the files directly in `folder` take, rounded up.
DWORD FolderSizeKB(const std::wstring& folder);

// The default message and article in the destination's client database, which is made
// writable first (an earlier installation may have left it read-only).
bool StoreDefaultEntries(const TInstallChoices& choices);

// The user's Start-menu "Programs" folder, lower-cased: the shell's setting, or the folder
// the shell reports when the setting is missing; "" when there is neither.
std::wstring StartMenuProgramsFolder();

// The Start-menu folder of the group: StartMenuProgramsFolder() + "\Tarnwhistle".
std::wstring ProgramGroupFolder();

// Writes the group's five links, and on a first installation opens the group's folder in a
// shell window. Nothing here fails the installation.
bool CreateProgramGroup(const TInstallChoices& choices);
