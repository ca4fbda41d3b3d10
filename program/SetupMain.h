// Start-up: the choice between the setup and the uninstall wizard, and the hidden main
// window that runs the chosen wizard modally and ends the program when it closes.
#pragma once

#include <string>

#include "shell/RunLog.h"
#include "shell/win/Controls.h"

enum class TMode { Setup, Uninstall };

// Argument `index` of a command line (0 is the program itself): arguments are separated by
// blanks and control characters; double quotes group characters, blanks included, and are
// dropped. A missing argument is empty.
std::wstring ParamStr(const std::wstring& commandLine, int index);

// Setup when the executable's file name is "setup.exe" (letter case aside) and the first
// argument is not "-u" (letter case aside); uninstall in every other case.
TMode DecideMode(const std::wstring& modulePath, const std::wstring& firstArgument);

// Runs the program: the hidden main window, the wizard the mode names, the quit.
// Answers the process's exit code.
int RunTarnwhistleSetup();


class TSetupForm;
class TUninstWiz;
struct TCommandLine;

// The program's main window. It is never shown: its constructor runs the chosen wizard
// modally, destroys it and posts the quit message, so the message loop ends at once.
// Switches of the command line pre-fill the setup wizard and preset the uninstall wizard's
// boxes.
class TMainForm : public TForm {
 public:
  TMainForm(TMode mode, const TCommandLine& line);

  // How the wizard's run ended, and the client's home when the wizard removed the client.
  TExitCode Outcome = TExitCode::Cancelled;
  std::wstring RemovedHome;

 private:
  TLabel Label1;
};

// The wizard that is open, if any.
extern TSetupForm* SetupForm;
extern TUninstWiz* UninstWiz;
