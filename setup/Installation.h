// The installation as both faces of setup run it: the wizard after its Install button, and
// the unattended install (/quiet) with the choices of the command line. One flow: the
// client must not be running, then the installation steps.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "setup/Destination.h"
#include "setup/InstallSteps.h"
#include "shell/RunLog.h"

// Waits until the client no longer runs from the destination (the question with Retry and
// Cancel; ClientRunning when the answer is Cancel), then runs the installation steps
// (StepFailed when one fails). Nothing is copied while the client runs.
TExitCode InstallClient(const TInstallChoices& choices);

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
// default; checked as the wizard checks it. A refused folder makes the command line a bad
// one, and nothing is done.
TDestinationCheck QuietDestination(const TQuietInstallOptions& options);

// Installs from the kit with no window and no question: the choices the wizard would
// pre-fill, overridden by the options. Starts no client and opens no shell window.
TExitCode RunQuietInstall(const TQuietInstallOptions& options);
