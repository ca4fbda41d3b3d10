#include "uninstall/Removal.h"

#include "shell/FileUpdate.h"
#include "shell/RunningPrograms.h"
#include "shell/SelfCopy.h"
#include "shell/win/UiSeam.h"

namespace {

// The steps' lines go to the run's log, at once: nobody watches them being drawn.
class TQuietRemovalLog : public TRemovalLog {
 public:
  void Append(const std::wstring& line) override { LogLine(line); }
  void ProcessMessages() override {}
  void Pause(DWORD) override {}
  HWND Owner() const override { return nullptr; }
};

THomeRelation HomesOf(const TInstalledProducts& products) {
  return RelateHomes(ComparisonPath(products.ClientInstalled, products.ClientHomeDir),
                     ComparisonPath(products.MixInstalled, products.MixHomeDir));
}

}  // namespace

TRemovalPlan PlanRemoval(const TInstalledProducts& products, bool removeClient,
                         bool removeMixmaster, bool clientFirst) {
  TRemovalPlan plan;
  plan.RemoveClient = removeClient;
  plan.RemoveMixmaster = removeMixmaster;
  plan.ClientFirst = clientFirst;
  plan.ClientHomeDir = products.ClientHomeDir;
  plan.MixHomeDir = products.MixHomeDir;
  plan.ProgramGroupName = products.ProgramGroupName;
  return plan;
}

TExitCode RemoveChosenProducts(const TRemovalPlan& plan, TRemovalLog& log, TRemovalOutcome& outcome) {
  // The first process of a self-removing uninstaller runs from the home, and waits.
  const std::vector<DWORD> ignored = {FirstProcessId()};
  if (plan.RemoveClient && !WaitUntilClientClosed(log.Owner(), plan.ClientHomeDir, ignored)) {
    LogLine(L"Tarnwhistle runs from " + plan.ClientHomeDir + L"; nothing was removed");
    return TExitCode::ClientRunning;
  }
  // What a setup killed half-way left is put right first, so that the removal finds one
  // installation, old or new.
  if (plan.RemoveClient) RecoverInterruptedUpdate(plan.ClientHomeDir);
  const int failuresBefore = FailureMessagesShown();
  outcome = RemoveProducts(plan, log);
  if (!outcome.Complete()) {
    log.Append(L"Some items could not be removed:");
    for (const std::wstring& item : outcome.Stayed) log.Append(L"   " + item);
  }
  return FailureMessagesShown() == failuresBefore && outcome.Complete() ? TExitCode::Done
                                                                         : TExitCode::StepFailed;
}

std::optional<TRemovalPlan> QuietRemovalPlan(const TInstalledProducts& products,
                                             const TQuietRemovalOptions& options) {
  const THomeRelation homes = HomesOf(products);
  TRemovalOffer offer = OfferRemoval(products, homes, ClientMarked(products.ClientHomeDir));
  if (options.ClientOnly) offer = OnlyClient(offer, homes);
  if (options.MixmasterOnly) offer = OnlyMixmaster(offer, homes);
  if (!offer.Client.Checked && !offer.Mix.Checked) return std::nullopt;
  return PlanRemoval(products, offer.Client.Checked, offer.Mix.Checked, offer.ClientFirst);
}

TExitCode RunQuietRemoval(const TQuietRemovalOptions& options, std::wstring& removedHome) {
  const TInstalledProducts products = ReadInstalledProducts();
  const std::optional<TRemovalPlan> plan = QuietRemovalPlan(products, options);
  if (!plan) {
    LogLine(L"nothing to remove");
    return TExitCode::NothingToDo;
  }
  TQuietRemovalLog log;
  TRemovalOutcome outcome;
  const TExitCode result = RemoveChosenProducts(*plan, log, outcome);
  for (const std::wstring& item : outcome.Stayed) WriteToParentConsole(L"could not remove: " + item);
  if (outcome.ClientRemoved) removedHome = plan->ClientHomeDir;
  return result;
}
