// The uninstall wizard's window.
#pragma once

#include "app/WizardForm.h"

class TUninstWiz : public TWizardForm {
 public:
  explicit TUninstWiz(TForm* owner);
};
