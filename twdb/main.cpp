// The database tool's entry point: turns the command line into the store's terms and
// makes the standard streams binary, so that entry bytes pass through unchanged.
#include <iostream>

#include "twdb/Twdb.h"

namespace {
template <class Char>
bool Same(const char* option, const Char* argument) {
  for (; *option; ++option, ++argument)
    if (*argument != static_cast<Char>(*option)) return false;
  return *argument == 0;
}

// --force or --no-sync, before the database argument (after it, every argument is an entry
// name or a value, which may be any text). Notes it in the command line.
template <class Char>
bool IsOption(TwdbCommandLine& line, const Char* argument) {
  if (line.HasDatabase) return false;
  if (Same(kForceOption, argument)) return line.Force = true;
  if (Same(kNoSyncOption, argument)) return line.NoSync = true;
  return false;
}
}  // namespace

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cwchar>
#include <optional>
#include <string>

namespace {
// Entry names and settings are text of the ANSI code page. Nothing when the argument holds
// a character the code page cannot represent: Windows would otherwise put "?" or a
// look-alike ("O" for an omega) in its place and address another entry.
std::optional<std::string> ToAnsi(const wchar_t* argument) {
  const int wide = static_cast<int>(wcslen(argument));
  if (wide == 0) return std::string();
  // A UTF-8 code page represents everything and accepts neither flags nor the loss report.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* lossReport = utf8 ? nullptr : &lossy;
  const int bytes = WideCharToMultiByte(CP_ACP, flags, argument, wide, nullptr, 0, nullptr, lossReport);
  if (bytes == 0 || lossy) return std::nullopt;
  std::string text(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, flags, argument, wide, text.data(), bytes, nullptr, nullptr);
  return text;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  TwdbCommandLine line;
  int position = 0;  // of the argument among those that are not options
  for (int i = 1; i < argc; ++i) {
    if (IsOption(line, argv[i])) continue;
    if (++position == 2) {
      line.HasDatabase = true;
      line.Database = argv[i];
      continue;
    }
    const auto text = ToAnsi(argv[i]);
    if (!text) {
      std::cerr << "twdb: argument " << i << " holds characters outside the ANSI code page\n";
      return ExitUsage;
    }
    (position == 1 ? line.Command : line.Operands.emplace_back()) = *text;
  }
  return RunTwdb(line, std::cin, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  TwdbCommandLine line;
  int position = 0;  // of the argument among those that are not options
  for (int i = 1; i < argc; ++i) {
    if (IsOption(line, argv[i])) continue;
    if (++position == 1) {
      line.Command = argv[i];
    } else if (position == 2) {
      line.HasDatabase = true;
      line.Database = argv[i];
    } else {
      line.Operands.emplace_back(argv[i]);
    }
  }
  return RunTwdb(line, std::cin, std::cout, std::cerr);
}
#endif
