// The run as the command line asks for it: a bad command line or /? answered at once, one
// run at a time (a quiet run waits up to a minute for another to end), the uninstaller
// from a temporary copy of itself, the log, and either the wizard or the unattended install
// or removal, ending with the exit code.
#pragma once

#include <functional>
#include <string>

#include "program/CommandLine.h"
#include "shell/RunLog.h"

// Shows the wizard of the mode and answers how its run ended; sets `removedHome` to the
// client's home when the wizard removed the client.
using TWizardRunner =
    std::function<TExitCode(TMode mode, const TCommandLine& line, std::wstring& removedHome)>;

TExitCode RunChosenMode(TMode mode, const TCommandLine& line, const TWizardRunner& runWizard);

// Brings the window of the run already going to the front: a visible wizard of another
// process, or the box it shows. False when there is none.
bool BringOtherRunToFront();
