#include "program/SetupMain.h"

#include <commctrl.h>

#include <memory>

#include "shell/Constants.h"
#include "shell/SysUtils.h"
#include "base/Text.h"
#include "shell/win/UiSeam.h"
#include "base/WideText.h"
#include "filestore/FileMan.h"
#include "setup/SetupDlg.h"
#include "uninstall/UninstDlg.h"

TSetupForm* SetupForm = nullptr;
TUninstWiz* UninstWiz = nullptr;

namespace {

// Shows `wizard` modally with its pointer set for as long as it lives.
template <class Wizard>
void RunWizard(TForm& owner, Wizard*& pointer) {
  struct ClearOnExit {
    Wizard*& Pointer;
    ~ClearOnExit() { Pointer = nullptr; }
  } clear{pointer};
  auto wizard = std::make_unique<Wizard>(&owner);
  pointer = wizard.get();
  wizard->ShowModal();
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

TMainForm::TMainForm()
    : TForm(nullptr,
            {.Caption = L"Tarnwhistle Setup/Remove", .ClientWidth = 409, .ClientHeight = 147}),
      Label1(*this, L"Label1",
             L"This main window is always hidden and calls either the SetupDlg or the UninstDlg.",
             TBounds{8, 40, 393, 64}, taCenter, true) {
  Label1.SetFont(NoticeFont());

  if (DecideMode(ModuleFileName(), ParamStr(GetCommandLineW(), 1)) == TMode::Setup) {
    Application.SetTitle(tw::SetupTitle);
    RunWizard(*this, SetupForm);
  } else {
    Application.SetTitle(tw::UninstallTitle);
    RunWizard(*this, UninstWiz);
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
  try {
    TMainForm mainForm;
    Application.Run();
  } catch (const std::exception& error) {
    Application.ShowException(error);
  }
  SetStoreReporter(nullptr);
  return 0;
}
