// The removal as both faces of the uninstaller run it: the wizard after Finish, and the
// unattended removal (/quiet) of what the wizard would offer checked. One flow: the client
// must not be running, then the removal steps.
#pragma once

#include <optional>
#include <string>

#include "shell/RunLog.h"
#include "uninstall/Products.h"
#include "uninstall/RemovalSteps.h"

// The plan of a removal with the given products chosen.
TRemovalPlan PlanRemoval(const TInstalledProducts& products, bool removeClient,
                         bool removeMixmaster, bool clientFirst);

// Waits until the client no longer runs from its home when the plan removes it (the
// question with Retry and Cancel; ClientRunning when the answer is Cancel), then removes the
// chosen products; what could not be removed is listed at the log's end, and the run is
// then a failed one. StepFailed also when a step reported a failure; the removal never
// stops for one. `outcome` tells what the run did.
TExitCode RemoveChosenProducts(const TRemovalPlan& plan, TRemovalLog& log, TRemovalOutcome& outcome);

// What /quiet takes from the command line.
struct TQuietRemovalOptions {
  bool ClientOnly = false;
  bool MixmasterOnly = false;
};

// The plan of an unattended removal: what the wizard offers checked, limited by the
// options. Nothing when there is nothing to remove.
std::optional<TRemovalPlan> QuietRemovalPlan(const TInstalledProducts& products,
                                             const TQuietRemovalOptions& options);

// Removes with no window, no countdown, no pacing and no notice; the steps' lines go to
// the run's log, and what could not be removed to the console too. NothingToDo when
// nothing is installed or chosen. `removedHome` is set to the client's home when none of
// the client's program files stays.
TExitCode RunQuietRemoval(const TQuietRemovalOptions& options, std::wstring& removedHome);
