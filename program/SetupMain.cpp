#include "program/SetupMain.h"

#include <commctrl.h>

#include <memory>

#include "shell/Constants.h"
#include "shell/SysUtils.h"
#include "base/Text.h"
#include "shell/win/UiSeam.h"
#include "base/WideText.h"
#include "filestore/FileMan.h"
#include "program/CommandLine.h"
#include "program/Unattended.h"
#include "setup/SetupDlg.h"
#include "uninstall/UninstDlg.h"

TSetupForm* SetupForm = nullptr;
TUninstWiz* UninstWiz = nullptr;

namespace {

// Shows `wizard` modally with its pointer set for as long as it lives; `prepare` runs
// before it is shown, `finish` after it closed.
template <class Wizard, class Prepare, class Finish>
void RunWizard(TForm& owner, Wizard*& pointer, Prepare prepare, Finish finish) {
  struct ClearOnExit {
    Wizard*& Pointer;
    ~ClearOnExit() { Pointer = nullptr; }
  } clear{pointer};
  auto wizard = std::make_unique<Wizard>(&owner);
  pointer = wizard.get();
  prepare(*wizard);
  wizard->ShowModal();
  finish(*wizard);
}

// The switches the setup wizard also takes: they replace what it pre-filled.
void ApplySetupSwitches(TSetupForm& wizard, const TCommandLine& line) {
  if (line.Dir) wizard.AppDIR.SetText(*line.Dir);
  if (line.Address) wizard.EAddr.SetText(*line.Address);
  if (line.Host) wizard.Host.SetText(*line.Host);
  if (line.NoGroup) wizard.GroupBox.SetChecked(false);
}

// The uninstall wizard's: they preset its boxes.
void ApplyUninstallSwitches(TUninstWiz& wizard, const TCommandLine& line) {
  if (line.ClientOnly) wizard.ChooseOnlyClient();
  if (line.MixmasterOnly) wizard.ChooseOnlyMixmaster();
}

TExitCode RunWizards(TMode mode, const TCommandLine& line, std::wstring& removedHome) {
  TMainForm mainForm(mode, line);
  Application.Run();
  removedHome = mainForm.RemovedHome;
  return mainForm.Outcome;
}

// The store's complaints reach the user as message boxes; the fatal block-file report goes
// to the debugger's output only, since the failing operation's status already tells the
// wizard, which shows its own error.
class TMessageBoxStoreReporter : public TStoreReporter {
 public:
  void InflateError(const std::string& text) override {
    ShowMessageBox(nullptr, WideFromUtf8(text), L"Inflate Error", MB_OK);
  }
  void FatalError(const std::string& text) override {
    OutputDebugStringW(WideFromUtf8(text + "\n").c_str());
  }
};

}  // namespace

std::wstring ParamStr(const std::wstring& commandLine, int index) {
  size_t at = 0;
  const size_t size = commandLine.size();
  for (int n = 0;; ++n) {
    while (at < size && commandLine[at] <= L' ') ++at;
    if (at == size) return {};
    std::wstring param;
    bool quoted = false;
    while (at < size && (quoted || commandLine[at] > L' ')) {
      if (commandLine[at] == L'"') quoted = !quoted;
      else param += commandLine[at];
      ++at;
    }
    if (n == index) return param;
  }
}

TMode DecideMode(const std::wstring& modulePath, const std::wstring& firstArgument) {
  if (LocaleLower(ExtractFileName(modulePath)) != L"setup.exe") return TMode::Uninstall;
  return LocaleLower(firstArgument) == L"-u" ? TMode::Uninstall : TMode::Setup;
}

TMainForm::TMainForm(TMode mode, const TCommandLine& line)
    : TForm(nullptr,
            {.Caption = L"Tarnwhistle Setup/Remove", .ClientWidth = 409, .ClientHeight = 147}),
      Label1(*this, L"Label1",
             L"This main window is always hidden and calls either the SetupDlg or the UninstDlg.",
             TBounds{8, 40, 393, 64}, taCenter) {
  Label1.SetFont(NoticeFont());

  if (mode == TMode::Setup) {
    Application.SetTitle(tw::SetupTitle);
    RunWizard(
        *this, SetupForm, [&](TSetupForm& wizard) { ApplySetupSwitches(wizard, line); },
        [&](TSetupForm& wizard) { Outcome = wizard.Outcome; });
  } else {
    Application.SetTitle(tw::UninstallTitle);
    RunWizard(
        *this, UninstWiz, [&](TUninstWiz& wizard) { ApplyUninstallSwitches(wizard, line); },
        [&](TUninstWiz& wizard) {
          Outcome = wizard.Outcome;
          if (wizard.ClientRemoved) RemovedHome = wizard.ClientHomeDir;
        });
  }
  PostMessageW(Handle(), WM_QUIT, 0, 0);
}

int RunTarnwhistleSetup() {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  TMessageBoxStoreReporter reporter;
  SetStoreReporter(&reporter);
  SetProgramDatabasePath(tw::Program().ProgramDatabase);
  Application.SetTitle(tw::ProductName);
  const std::wstring commandLine = GetCommandLineW();
  const TMode mode = DecideMode(ModuleFileName(), ParamStr(commandLine, 1));
  const TExitCode code = RunChosenMode(mode, ReadCommandLine(commandLine, mode), RunWizards);
  SetStoreReporter(nullptr);
  return static_cast<int>(code);
}
