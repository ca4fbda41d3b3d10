// The switches of an unattended run: read from the command line after the mode is known.
// Switches are case-insensitive, values may be quoted ("/dir=C:\My Programs\TW" in quotes,
// or /dir="C:\My Programs\TW").
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "program/SetupMain.h"

struct TCommandLine {
  bool Quiet = false;
  bool Help = false;
  std::wstring LogFile;
  // Setup.
  std::optional<std::wstring> Dir;
  std::optional<std::wstring> Address;
  std::optional<std::wstring> Host;
  bool NoGroup = false;
  // Uninstall: one product only.
  bool ClientOnly = false;
  bool MixmasterOnly = false;
  // Why the command line is refused; empty when it is sound.
  std::wstring Error;
  // What a run with a window leaves out, each with the reason: the wizard opens whatever
  // else the command line holds.
  std::vector<std::wstring> Ignored;
};

// Reads every argument after the program's name (and after "-u" when that chose the
// uninstaller) as a switch of `mode`. An unknown switch or a word that is none, a switch of
// the other mode, a missing or empty value, or /client with /mixmaster sets Error with
// /quiet; without it, each goes to Ignored and the rest counts.
TCommandLine ReadCommandLine(const std::wstring& commandLine, TMode mode);

// The text of the /? box: the switches of both modes and the exit codes.
std::wstring UsageText();
