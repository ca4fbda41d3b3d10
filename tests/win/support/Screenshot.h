// Screenshots of forms for looking at them after a test run.
#pragma once

#include <windows.h>

#include <string>

// Saves the window's rectangle of the screen as <name>.bmp in the folder that the
// environment variable TW_ARTIFACTS_DIR names (a Unix path is taken as Wine's drive Z:).
// Does nothing when the variable is not set. Answers the file written, or empty.
std::wstring SaveScreenshot(HWND window, const std::wstring& name);
