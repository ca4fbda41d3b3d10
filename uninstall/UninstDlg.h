// The uninstall wizard's window.
#pragma once

#include "shell/WizardForm.h"

class TUninstWiz : public TWizardForm {
 public:
  explicit TUninstWiz(TForm* owner);
};
