// The commands of the database tool, apart from the program's entry point so that tests
// can run them in process with their own streams.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "filestore/FileMan.h"

struct TwdbCommandLine {
  std::string Command;   // empty when no argument was given
  bool HasDatabase = false;
  FilePath Database;
  // The arguments after the database: entry path components, setting names and values,
  // as bytes of the ANSI code page (the store's own text).
  std::vector<std::string> Operands;
  // --force: a writing command skips the check of the whole file.
  bool Force = false;
  // --no-sync: a writing command does not wait for the disk.
  bool NoSync = false;
};

// A damaged file that a writing command refuses ends like a wrong command line: nothing was
// done, and the message says why.
enum TwdbExit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitDamaged = 2 };

// The option that lets a writing command skip the check of the whole file.
inline constexpr const char* kForceOption = "--force";
// The option that lets a writing command return before its changes are on the disk.
inline constexpr const char* kNoSyncOption = "--no-sync";

// Runs one command; `in` is the data of put. Results go to `out`, the one-line errors (and
// the store's own complaints) to `err`.
int RunTwdb(const TwdbCommandLine& line, std::istream& in, std::ostream& out, std::ostream& err);
