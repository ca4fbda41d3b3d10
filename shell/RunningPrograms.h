// Programs that run from a folder: the client must not run while its files are copied
// over or removed.
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
