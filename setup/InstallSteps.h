// The installation the setup wizard performs once the user has confirmed: copy the kit into
// the destination, record the installation in the registry, seed the client's database and
// build the Start-menu group. The four steps are one update of the folder
// (shell/FileUpdate.h): each program file is the old or the new one, whole, at every moment,
// and when a step fails the update is undone, so the earlier installation works as before.
// Each step answers whether it succeeded and has shown its own message when it did not.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "setup/ClientConfig.h"
#include "shell/FileUpdate.h"
#include "shell/RunningPrograms.h"

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
  // What to do while another program holds a file to be replaced: ask, or wait. Unset:
  // the step fails at once.
  TInUsePolicy WhenInUse;
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

// The files a kit has to hold: the installer, the client, its template database and the
// documents the program group links to.
std::vector<std::wstring> RequiredKitFiles();

// What the installation will change: the kit's files (the installer as "UninstTW.exe"; the
// kit's database files, journals and an update's own files never), the database made from
// the template when the destination has none or an empty one, the registry values and the
// group's links. Installing into the kit's own folder brings only "UninstTW.exe".
TUpdatePlan PlanUpdate(const TInstallChoices& choices);

// The four steps in order, as one update; false at the first that fails, after the update
// was undone. Each step, and each file, registry value, entry and link it writes, goes to
// the run's log with its result.
bool RunInstallSteps(const TInstallChoices& choices);

// The short form of an existing path, lower-cased, without a trailing backslash; "" when
// the path does not exist.
std::wstring ComparablePath(const std::wstring& path);

// Creates the destination with its missing parents, writes the update's journal and puts
// every planned file in place. A file that cannot be copied shows "Copy Failed" with the
// system's text and the kit's file.
bool CopyClientFiles(const TInstallChoices& choices, TFileUpdate& update);

// Writes the installation record and the entry of "Apps & features". A key that cannot be
// opened or a value that cannot be written shows "Registry Error".
bool WriteRegistryRecord(const TInstallChoices& choices, TFileUpdate& update);

// The entry of "Apps & features" under UninstallEntryKey: name, version, publisher, folder,
// the uninstaller's command lines, icon, size and date; no modify or repair.
bool WriteUninstallEntry(const TInstallChoices& choices);

// The kilobytes the files directly in `folder` take, rounded up; what an update keeps
// until it is done does not count.
DWORD FolderSizeKB(const std::wstring& folder);

// The default message and article: in a database made new, seeded under its temporary name
// and then put in place; in an existing one (made writable first: an earlier installation
// may have left it read-only), once no other program holds it. An address or host left
// empty keeps the stored one.
bool StoreDefaultEntries(const TInstallChoices& choices, TFileUpdate& update);

// The user's Start-menu "Programs" folder, lower-cased: the shell's setting, or the folder
// the shell reports when the setting is missing; "" when there is neither.
std::wstring StartMenuProgramsFolder();

// The Start-menu folder of the group: StartMenuProgramsFolder() + "\Tarnwhistle".
std::wstring ProgramGroupFolder();

// Writes the group's five links, and on a first installation opens the group's folder in a
// shell window. A link that cannot be written does not fail the installation.
bool CreateProgramGroup(const TInstallChoices& choices, TFileUpdate& update);
