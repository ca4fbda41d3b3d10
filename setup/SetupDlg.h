// The setup wizard's window.
#pragma once

#include "shell/WizardForm.h"

class TSetupForm : public TWizardForm {
 public:
  explicit TSetupForm(TForm* owner);
};
