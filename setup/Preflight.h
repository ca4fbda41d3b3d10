// What an installation checks before it changes anything: the kit holds every file it
// copies, readable; the destination's drive has room for them and the database; the
// destination can be written. A shortfall shows a box that says what is missing (the quiet
// run logs the same line and ends with exit code 1), and nothing is changed.
#pragma once

#include <windows.h>

#include <string>

#include "setup/InstallSteps.h"

// The room an installation keeps free beyond what it copies: for the database's journal, the
// record, the links and whatever else the drive's other programs write meanwhile.
inline constexpr ULONGLONG RoomMargin = 1 << 20;

// The nearest folder at or above `path` that exists; "" when there is none.
std::wstring NearestExistingFolder(std::wstring path);

// 0 when a file can be made in the folder (the test file goes at once); otherwise the
// system's error. A change of the disk: it passes the fault point.
DWORD CreateFileInError(const std::wstring& folder);

// The bytes the plan copies into the folder: its files and the new database's template.
ULONGLONG BytesToCopy(const TUpdatePlan& plan);

// Each check shows its box and answers false when it finds a shortfall.
bool CheckKit(const TInstallChoices& choices, const TUpdatePlan& plan);
bool CheckWritable(const TInstallChoices& choices);
bool CheckRoom(const TInstallChoices& choices, const TUpdatePlan& plan);

// The three, in that order.
bool CheckBeforeInstalling(const TInstallChoices& choices);
