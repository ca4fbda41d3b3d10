// What a keyboard user, a screen-reader user and a user with large text meet in a form,
// read from the windows themselves: the tab order, the accelerators, the name the system's
// accessibility layer gives a control, and whether every text fits its control. And the
// system settings such users have: larger text, a high-contrast colour scheme.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "shell/win/Controls.h"

// A key as the user presses it on the control that has the focus, and what it sets off.
void PressKey(WPARAM key);

// The names of the controls that Tab leads through, from the one with the focus round to
// it (the focused control first).
std::vector<std::wstring> TabOrder(const TForm& form);

// Fails the test unless the label right before the control in tab order reads `name` (as
// shown): the name Windows' accessibility layer gives a field or a list, as a screen reader
// asks for it. For a field also asks the system's layer (oleacc), which under Wine names
// fields alone so.
void ExpectNamed(HWND control, const std::wstring& name);

// Fails the test for each control on the screen whose text does not fit it at its size
// (measured in its own font), or that sticks out of its parent, naming `where`.
void ExpectTextsFit(const TForm& form, const std::string& where);

// Fails the test for each button or check box on the screen without an accelerator (but
// Cancel and OK, which Esc and Enter press) and for two controls with the same one.
void ExpectAccelerators(const TForm& form, const std::string& where);

// The system's message font half as large again, as a user sets larger text, while the
// object lives.
class LargeText {
 public:
  LargeText();
  ~LargeText();
  LargeText(const LargeText&) = delete;
  LargeText& operator=(const LargeText&) = delete;

 private:
  NONCLIENTMETRICSW Saved_{};
};

// A black high-contrast colour scheme while the object lives.
class HighContrast {
 public:
  HighContrast();
  ~HighContrast();
  HighContrast(const HighContrast&) = delete;
  HighContrast& operator=(const HighContrast&) = delete;

 private:
  std::vector<COLORREF> Saved_;
};

// A display a layout must hold on: a DPI, the system's text or text half as large again,
// the system's colours or a high-contrast scheme.
struct TDisplay {
  UINT Dpi;
  bool LargeText;
  bool HighContrast;
  // The ending of the screenshots taken on it ("-144dpi-large-text"); null: none.
  const wchar_t* Shots;

  // For the test's messages: "144 DPI, 150 % text".
  std::string Name() const;
};

// Runs `test` on each display a layout must hold on (96 and 144 DPI, each with the system's
// text and with large text, and in high contrast), with the system set so meanwhile.
void OnEveryDisplay(const std::function<void(const TDisplay&)>& test);

// Moves the shown form to the display's DPI (as the system does when it changes monitors),
// expects every text to fit (ExpectTextsFit), and saves a screenshot `name` with the
// display's ending where it takes them. With a notebook, so for each page, ending on the
// first.
void ExpectLayoutHolds(TForm& form, const TDisplay& display, const std::wstring& name,
                       TNotebook* notebook = nullptr);
