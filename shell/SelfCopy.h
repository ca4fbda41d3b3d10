// The uninstaller runs from the client's home, and a running program cannot delete its own
// file. So it copies itself to a temporary folder and lets the copy do the work: the first
// process waits for the copy's result and ends with it as its exit code, so that a caller
// that waits for UninstTW.exe still gets the run's result; the copy then waits for the
// first to end and removes its program file, and the home when nothing else is left.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

// Runs the program again from a copy in a new temporary folder, with the same arguments,
// and answers the copy's exit code; `started` runs once the copy has started. Nothing when
// the copy cannot be made or started: the program then does the work itself.
std::optional<int> RunTemporaryCopy(const std::function<void()>& started);

// True in the copy that RunTemporaryCopy started.
bool IsTemporaryCopy();

// The program file the user started: the first process's, in the copy; this one's
// otherwise.
std::wstring StartedProgramFile();

// The first process, in the copy; 0 otherwise.
DWORD FirstProcessId();

// In the copy, once the command line's relative paths are used: makes the system folder the
// current one, so that the copy does not hold the client's home open, nor its own folder:
// a program it starts (the Program Manager's DDE server, an editor on the log) inherits the
// current folder and would keep the copy's folder from being removed after the run.
void LeaveStartFolder();

// In the copy: hands the run's exit code to the first process, which then ends.
void PassResultToFirstProcess(int exitCode);

// In the copy, after PassResultToFirstProcess: waits for the first process to end; when
// `home` was emptied, deletes the started program file if it is the uninstaller in `home`,
// then `home` itself if nothing else is left in it and it is no link. The copy and its
// folder go when the system next starts, or with the next run's RemoveLeftoverCopies.
void RemoveStartedProgram(const std::wstring& home);

// Removes the temporary folders of earlier copies that are no longer in use: in each
// folder of the copies' name that is no link, the copy's file, then the folder when that
// leaves it empty.
void RemoveLeftoverCopies();
