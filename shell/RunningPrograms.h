// Programs that run from a folder: the client must not run while its files are copied
// over or removed. Files that another program holds open: setup asks the user to close it,
// or waits for it when nobody can be asked.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// True when a process other than this one and those in `ignored` was started from a
// program file that lies directly in `folder`.
bool ProgramRunningFrom(const std::wstring& folder, const std::vector<DWORD>& ignored = {});

// The question the wizards ask when the client runs from `home`: "Tarnwhistle is running.
// Close it, then click Retry." with Retry and Cancel, until it no longer runs (true) or
// the answer is Cancel (false).
bool WaitUntilClientClosed(HWND owner, const std::wstring& home,
                           const std::vector<DWORD>& ignored = {});

// True for the errors of a file that another program holds: a sharing or lock violation.
bool IsInUseError(DWORD error);

// 0 when the file can be opened now with this access and sharing (it is closed again at
// once); otherwise the system's error.
DWORD OpenFileError(const std::wstring& file, DWORD access, DWORD share);

// The programs that hold `file` open, as the system's Restart Manager names them; empty
// when it cannot tell.
std::vector<std::wstring> ProgramsUsing(const std::wstring& file);

// What setup does while another program holds a file it has to replace or write.
struct TInUsePolicy {
  // The wizards ask "<file> is in use by another program. Close it, then click Retry." with
  // Retry and Cancel, naming the programs that hold it where they are known.
  bool Ask = false;
  HWND Owner = nullptr;
  // Without asking: how long to try again, every half second. Then the run's log gets a
  // line with the file, the programs and the reason.
  DWORD WaitMs = 0;
};

// Waits until the file can be opened with this access and sharing, or the policy gives up:
// 0, or the system's last error. A file that is not there is free.
DWORD WaitUntilFileFree(const std::wstring& file, DWORD access, DWORD share,
                        const TInUsePolicy& policy);
