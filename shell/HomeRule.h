// The one rule for which folders can be a program's home, for setup's destination and for
// every removal step alike. A path is judged by the folder it resolves to, and the steps
// then act on that folder, never on the path as it was spelled: what is judged is what is
// touched.
#pragma once

#include <string>

// Why a folder cannot be a program's home.
enum class THomeFault {
  None,
  Unresolvable,   // no full path, or one that names no folder on a drive or share
  DriveRoot,      // the root of a drive or share
  Link,           // the folder itself is a junction or symbolic link
  WindowsFolder,  // the Windows folder or a folder in it
  SystemFolder,   // Program Files, Program Files (x86), Common Files, ProgramData
  UserFolder,     // the profiles folder, a profile, one of its known folders, a Public folder
};

struct THome {
  std::wstring Folder;  // the resolved folder, without a trailing backslash
  THomeFault Fault = THomeFault::None;
  bool Fits() const { return Fault == THomeFault::None; }
};

// Judges the folder `path` resolves to. A home may lie inside a refused folder (the user's
// "AppData\Local\Programs\Tarnwhistle" is fine), except inside the Windows folder. The
// profiles are every profile of the machine: those the registry lists, and every folder
// of the profiles folder, each with the known folders at their usual places; the current
// user's known folders also where the shell says they are (redirected ones included).
THome JudgeHome(const std::wstring& path);

// What a refused folder is, to follow its name in a sentence: "is the root of a drive or
// network share", ...
std::wstring HomeFaultText(THomeFault fault);

// The client's database files, in any letter case: "TW.dbc", its journal
// "TW.dbc-journal", "TW.pgp" and "TW.pgp.bak". No step deletes them, in any folder.
bool IsClientDatabaseFile(const std::wstring& path);

// True when the folder holds the client's program, its uninstaller or its database: it is
// a Tarnwhistle installation, of now or of earlier.
bool HoldsClientInstallation(const std::wstring& folder);

// True when the folder exists and holds nothing at all.
bool IsEmptyFolder(const std::wstring& folder);
