// The setup wizard's window.
#pragma once

#include "app/WizardForm.h"

class TSetupForm : public TWizardForm {
 public:
  explicit TSetupForm(TForm* owner);
};
