#include "uninstall/UninstDlg.h"

#include "app/Constants.h"

TUninstWiz::TUninstWiz(TForm* owner)
    : TWizardForm(owner, L"Un-Install Wizard", 458, 305, L"About Uninstall...", tw::UninstallTitle) {}
