// The program's entry point; everything else starts in RunTarnwhistleSetup.
#include <windows.h>

#include "app/SetupMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunTarnwhistleSetup(); }
