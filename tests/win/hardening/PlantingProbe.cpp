// The planting test's control: it loads each DLL named on its command line by its bare name,
// the way a program without a restricted DLL search would. Run from a folder of planted
// DLLs, it shows that they are found there under the test's Wine settings, so that their
// absence from setup.exe means something. With "--restricted" first, it restricts its DLL
// search as the shipped programs do before loading anything, and the planted DLLs must no
// longer be found. Exit status: the number of names that could not be loaded at all.
#include <windows.h>

#include <string>

#include "base/DllSearch.h"

int wmain(int argc, wchar_t** argv) {
  int first = 1;
  if (argc > 1 && std::wstring(argv[1]) == L"--restricted") {
    RestrictDllSearchToSystem();
    first = 2;
  }
  int failed = 0;
  for (int i = first; i < argc; ++i)
    if (!LoadLibraryW(argv[i])) ++failed;
  return failed;
}
