// The program's entry point; everything else starts in RunTarnwhistleSetup.
#include <windows.h>

#include <cstdlib>

#include "base/DllSearch.h"
#include "program/SetupMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: the program may run from a folder anyone wrote to.
  RestrictDllSearchToSystem();
  return RunTarnwhistleSetup();
}

// The program ends on an exception only through the platform's default handling; the
// runtime's own terminate handler would print the exception's demangled type to a console
// the program does not have, and bring 46 KB of demangler with it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
