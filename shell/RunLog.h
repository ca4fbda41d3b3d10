// What an unattended run reports: the exit codes every mode ends with, the log file that
// /log=FILE names, and the console of the program that started this one.
#pragma once

#include <string>

// The process's exit code, in every mode.
enum class TExitCode {
  Done = 0,
  StepFailed = 1,       // a step failed; its message went to the log and the console
  BadCommandLine = 2,   // unknown switch, missing value or bad destination; nothing changed
  NothingToDo = 3,      // uninstall with nothing installed
  ClientRunning = 4,    // the client runs from its home; nothing was changed
  AlreadyRunning = 5,   // another setup or uninstall is running
  Cancelled = 6,        // the user cancelled the wizard
};

// "done", "a step failed", ...: the code's meaning, as the log's last line gives it.
std::wstring ExitCodeMeaning(TExitCode code);

// Opens the run's log, appending to `file` (created when missing). False when it cannot be
// opened; the run then has no log.
bool OpenRunLog(const std::wstring& file);
void CloseRunLog();
bool RunLogOpen();

// One line of the log, with the time. Nothing happens while no log is open.
void LogLine(const std::wstring& line);
// "what: done", or "what: failed" with the system's text for `error` when it has one.
void LogResult(const std::wstring& what, bool done, unsigned long error = 0);
// The last line: "exit code N: meaning".
void LogExitCode(TExitCode code);

// Writes a line to the console of the program that started this one: its redirected
// standard error, or the console it runs in. Nothing happens when there is neither.
void WriteToParentConsole(const std::wstring& line);

// The system's text for an error code as its message table words it, line break included;
// "" when it has none.
std::wstring SystemErrorText(unsigned long error);
// The same on one line: without the line break at its end.
std::wstring SystemErrorLine(unsigned long error);
