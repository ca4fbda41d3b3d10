// The program's entry point; everything else starts in RunTarnwhistleSetup.
#include <windows.h>

#include "base/DllSearch.h"
#include "program/SetupMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: the program may run from a folder anyone wrote to.
  RestrictDllSearchToSystem();
  return RunTarnwhistleSetup();
}
