// Where the programs look for DLLs. A program run from a Downloads folder must never load
// a DLL that someone placed beside it: every DLL comes from the system folder.
#pragma once

#include <windows.h>

// The one search the programs allow, for the DLLs they load and the DLLs those pull in.
constexpr DWORD kSystemDllSearch = LOAD_LIBRARY_SEARCH_SYSTEM32;

// Limits every later DLL search of the process to the system folder. The first thing each
// program does. Linking it also gives the program a load configuration whose
// DependentLoadFlags ask the same of the loader, for the DLLs the program's imports pull in
// before any of its code runs (Windows 10 1607 and later).
void RestrictDllSearchToSystem();
