// The installation as both faces of setup run it: the wizard after its Install button, and
// the unattended install (/quiet) with the choices of the command line. One flow: the
// client must not be running, an update that an earlier setup left half-way is finished or
// undone, the kit, the room and the destination are checked, then the installation steps.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "setup/Destination.h"
#include "setup/InstallSteps.h"
#include "shell/RunLog.h"

// Waits until the client no longer runs from the destination (the question with Retry and
// Cancel; ClientRunning when the answer is Cancel), finishes or undoes an interrupted
// update, checks what the installation needs, then runs the installation steps
// (StepFailed when a check or a step fails). Nothing is copied while the client runs.
TExitCode InstallClient(const TInstallChoices& choices);

// The recorded installation folder when `destination` is another folder and the recorded
// one still holds the client or its database: installing there would leave the user's mail
// behind. "" otherwise.
std::wstring MoveAwayFrom(const std::wstring& destination);

// Where the default destination may go: whether a folder can be written to, and the user's
// own programs folder (FOLDERID_UserProgramFiles). Tests put their own in place.
struct TDestinationProbe {
  std::function<bool(const std::wstring& folder)> CanWrite;
  std::function<std::wstring()> UserProgramFiles;
};
TDestinationProbe SystemDestinationProbe();

// "C:\Program Files\Tarnwhistle" when Program Files can be written to; otherwise, for a
// user without the rights, the user's own programs folder + "\Tarnwhistle".
std::wstring DefaultDestination(const TDestinationProbe& probe = SystemDestinationProbe());

// What /quiet takes from the command line; missing values are what the wizard pre-fills.
struct TQuietInstallOptions {
  std::optional<std::wstring> Dir;
  std::optional<std::wstring> Address;
  std::optional<std::wstring> Host;
  bool NoGroup = false;
};

// The destination an unattended install uses: /dir, else the recorded folder, else the
// default; checked as the wizard checks it. A refused folder, or one that would move an
// installation away from the user's mail, makes the command line a bad one, and nothing is
// done.
TDestinationCheck QuietDestination(const TQuietInstallOptions& options);

// How long an unattended install waits for a file that another program holds.
inline constexpr DWORD QuietInUseWait = 30000;

// True when the process runs as the system's own account (LocalSystem), as some deployment
// tools run installers by default.
bool RunsAsLocalSystem();

// Installs from the kit with no window and no question: the choices the wizard would
// pre-fill, overridden by the options. Starts no client and opens no shell window. Under
// the system's account it installs nothing: the user would see none of it.
TExitCode RunQuietInstall(const TQuietInstallOptions& options,
                          bool asLocalSystem = RunsAsLocalSystem());
