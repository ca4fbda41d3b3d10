#include "setup/SetupDlg.h"

#include "shell/Constants.h"

TSetupForm::TSetupForm(TForm* owner)
    : TWizardForm(owner, L"Tarnwhistle Setup", 457, 305, L"About Setup...", tw::SetupTitle) {}
