#include "uninstall/UninstDlg.h"

#include "shell/Constants.h"

TUninstWiz::TUninstWiz(TForm* owner)
    : TWizardForm(owner, L"Un-Install Wizard", 458, 305, L"About Uninstall...", tw::UninstallTitle) {}
