#include "program/Unattended.h"

#include <windows.h>

#include "base/Handles.h"
#include "base/Text.h"
#include "base/WideText.h"
#include "shell/Constants.h"
#include "shell/SelfCopy.h"
#include "shell/SysUtils.h"
#include "shell/win/Forms.h"
#include "shell/win/UiSeam.h"
#include "setup/Installation.h"
#include "uninstall/Removal.h"
#include "uninstall/UninstDlg.h"

namespace {

// Held by the one run at a time; another run finds it taken.
const wchar_t kRunMutex[] = L"Local\\TarnwhistleSetupRun";
// How long a quiet run, and the uninstaller's temporary copy, wait for another run to end.
constexpr DWORD kOtherRunWait = 60000;

std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text)
    if (c == L'\r' || c == L'\n') c = L' ';
  return text;
}

// The unattended face of the wizards' messages: each goes to the log and to the console
// of the caller; no question is asked, and every question gets the answer that changes
// nothing.
class TQuietFace : public UiDriver {
 public:
  int AnswerMessageBox(const MessageBoxRequest& box) override {
    const std::wstring line = box.Caption + L": " + OneLine(box.Text);
    LogLine(line);
    WriteToParentConsole(line);
    switch (box.Flags & MB_TYPEMASK) {
      case MB_OKCANCEL:
      case MB_RETRYCANCEL: return IDCANCEL;
      case MB_YESNO: return IDNO;
      default: return IDOK;
    }
  }
  void ModalLoopStarting(TForm& form) override { form.SetModalResult(mrCancel); }
};

// The wizard's face with a log: every message is shown and also logged with its answer.
class TLoggedFace : public UiDriver {
 public:
  int AnswerMessageBox(const MessageBoxRequest& box) override {
    LogLine(box.Caption + L": " + OneLine(box.Text));
    return ShowSystemMessageBox(box);
  }
  void ModalLoopStarting(TForm&) override {}
};

// Puts a face in the user's place for as long as it lives.
class TFaceInPlace {
 public:
  explicit TFaceInPlace(UiDriver* face) : Previous_(SetUiDriver(face)) {}
  ~TFaceInPlace() { SetUiDriver(Previous_); }
  TFaceInPlace(const TFaceInPlace&) = delete;
  TFaceInPlace& operator=(const TFaceInPlace&) = delete;

 private:
  UiDriver* Previous_;
};

UniqueKernelObject& RunMutex() {
  static UniqueKernelObject mutex;
  return mutex;
}

// True when this process now holds the run: at once, or when the run that held it ended
// within `waitMs`. It holds it until it ends or hands it on.
bool TakeRunMutex(DWORD waitMs) {
  RunMutex().reset(CreateMutexW(nullptr, FALSE, kRunMutex));
  if (!RunMutex()) return false;
  const DWORD waited = WaitForSingleObject(RunMutex().get(), waitMs);
  return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

// The uninstaller's first process hands the run to its temporary copy, which holds it
// until its clean-up has ended: a run started as soon as the first process has ended
// waits for that.
void HandRunToCopy() { ReleaseMutex(RunMutex().get()); }

struct TOtherRun {
  HWND Window = nullptr;
};

BOOL CALLBACK FindOtherWizard(HWND window, LPARAM data) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  wchar_t caption[64] = {};
  GetWindowTextW(window, caption, 64);
  const std::wstring_view text(caption);
  if (text != tw::SetupTitle && text != UninstWizCaption) return TRUE;
  reinterpret_cast<TOtherRun*>(data)->Window = window;
  return FALSE;
}

// Only a quiet run refuses its command line; a run with a window ignores what is wrong.
TExitCode ReportBadCommandLine(const TCommandLine& line) {
  if (!line.LogFile.empty() && OpenRunLog(line.LogFile)) LogLine(line.Error);
  WriteToParentConsole(line.Error);
  return TExitCode::BadCommandLine;
}

HWND OtherRunWindow() {
  TOtherRun other;
  EnumWindows(FindOtherWizard, reinterpret_cast<LPARAM>(&other));
  return other.Window;
}

// A quiet run waits for the run that holds it. A wizard gives way to another run's window;
// while the other run shows none (it runs quietly, or its wizard has closed and it is
// ending), it waits as a quiet run does, so that an uninstall started just as setup's
// window went away does not end unseen.
bool TakeRun(const TCommandLine& line) {
  if (line.Quiet) return TakeRunMutex(kOtherRunWait);
  constexpr DWORD lookEvery = 250;
  for (DWORD waited = 0; waited < kOtherRunWait; waited += lookEvery) {
    if (TakeRunMutex(waited == 0 ? 0 : lookEvery)) return true;
    if (OtherRunWindow()) return false;
  }
  return false;
}

TExitCode AlreadyRunning(const TCommandLine& line) {
  if (!line.Quiet) BringOtherRunToFront();
  if (!line.LogFile.empty() && OpenRunLog(line.LogFile)) LogExitCode(TExitCode::AlreadyRunning);
  return TExitCode::AlreadyRunning;
}

bool RunsAsUninstallerFile() {
  return LocaleLower(ExtractFileName(ModuleFileName())) != L"setup.exe";
}

TExitCode RunQuietly(TMode mode, const TCommandLine& line, std::wstring& removedHome) {
  if (mode == TMode::Setup)
    return RunQuietInstall({line.Dir, line.Address, line.Host, line.NoGroup});
  return RunQuietRemoval({line.ClientOnly, line.MixmasterOnly}, removedHome);
}

TExitCode RunWithLogAndFace(TMode mode, const TCommandLine& line, const TWizardRunner& runWizard,
                            std::wstring& removedHome) {
  if (!line.LogFile.empty() && !OpenRunLog(line.LogFile)) {
    WriteToParentConsole(L"cannot write the log " + line.LogFile);
    return TExitCode::BadCommandLine;
  }
  LeaveStartFolder();
  LogLine((mode == TMode::Setup ? tw::SetupTitle : tw::UninstallTitle) + L" " +
          tw::VersionSuffix + L": " + OneLine(GetCommandLineW()));
  for (const std::wstring& ignored : line.Ignored) LogLine(L"ignored: " + ignored);
  TQuietFace quiet;
  TLoggedFace logged;
  TFaceInPlace face(line.Quiet ? static_cast<UiDriver*>(&quiet)
                               : RunLogOpen() ? &logged : nullptr);
  const TExitCode code =
      line.Quiet ? RunQuietly(mode, line, removedHome) : runWizard(mode, line, removedHome);
  LogExitCode(code);
  if (line.Quiet && code != TExitCode::Done)
    WriteToParentConsole(L"exit code " + DecimalText(static_cast<unsigned>(code)) + L": " +
                         ExitCodeMeaning(code));
  return code;
}

// The copy takes the run over from its first process and holds it through its clean-up;
// whatever the outcome, the first process gets it.
TExitCode RunAsTemporaryCopy(TMode mode, const TCommandLine& line, const TWizardRunner& runWizard) {
  std::wstring removedHome;
  const TExitCode code = TakeRunMutex(kOtherRunWait)
                             ? RunWithLogAndFace(mode, line, runWizard, removedHome)
                             : AlreadyRunning(line);
  CloseRunLog();
  PassResultToFirstProcess(static_cast<int>(code));
  RemoveStartedProgram(removedHome);
  return code;
}

}  // namespace

bool BringOtherRunToFront() {
  const HWND other = OtherRunWindow();
  if (!other) return false;
  if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(other));
  return true;
}

TExitCode RunChosenMode(TMode mode, const TCommandLine& line, const TWizardRunner& runWizard) {
  if (!line.Error.empty()) return ReportBadCommandLine(line);
  if (line.Help) {
    ShowMessageBox(nullptr, UsageText(), tw::ProductName, MB_OK | MB_ICONINFORMATION);
    return TExitCode::Done;
  }
  if (IsTemporaryCopy()) return RunAsTemporaryCopy(mode, line, runWizard);
  if (!TakeRun(line)) return AlreadyRunning(line);
  // Where the system did not remove an earlier run's copy, the next run does.
  RemoveLeftoverCopies();
  if (mode == TMode::Uninstall && RunsAsUninstallerFile())
    if (const std::optional<int> code = RunTemporaryCopy(HandRunToCopy))
      return static_cast<TExitCode>(*code);
  std::wstring removedHome;
  const TExitCode code = RunWithLogAndFace(mode, line, runWizard, removedHome);
  CloseRunLog();
  return code;
}
