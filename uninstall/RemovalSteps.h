// The removal run: the client's program group, files and registry key, Mixmaster's files,
// "pool", home directory and key, in a fixed order, each step logged and paced. Nothing
// here needs the wizard's window; the run reports to a TRemovalLog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Where the run reports: the progress log, the window that owns its message boxes, and
// the pacing between steps.
class TRemovalLog {
 public:
  virtual ~TRemovalLog() = default;
  virtual void Append(const std::wstring& line) = 0;
  // Lets the window draw what was appended.
  virtual void ProcessMessages() = 0;
  virtual void Pause(DWORD milliseconds) = 0;
  virtual HWND Owner() const = 0;
};

// What the wizard chose to remove, and from where.
struct TRemovalPlan {
  bool RemoveClient = false;
  bool RemoveMixmaster = false;
  bool ClientFirst = true;
  // The client's home, also when the client stays: Mixmaster's step never deletes the
  // client's home, wherever the two homes lie.
  std::wstring ClientHomeDir;
  std::wstring MixHomeDir;
  std::wstring ProgramGroupName;
  // The DDE service and topic that deletes program groups.
  std::wstring GroupService = L"PROGMAN";
};

// How the run ended: what it could not remove, one item a line for the log and the Finish
// page (a file or folder that resisted, a home where nothing was deleted and why, a
// registry key that stays).
struct TRemovalOutcome {
  // The client's removal ran and none of its program files stays.
  bool ClientRemoved = false;
  std::vector<std::wstring> Stayed;
  bool Complete() const { return Stayed.empty(); }
};

// Removes every chosen product in the plan's order. A product's record stays while its
// program files stay, so that the removal can be run again.
TRemovalOutcome RemoveProducts(const TRemovalPlan& plan, TRemovalLog& log);

void RemoveProgramGroup(const TRemovalPlan& plan, TRemovalLog& log);

// A product's home as the run finds it before anything is removed.
struct TProductHome {
  // The folder the record names, resolved; empty when there is nothing to remove (no
  // record of a folder, or nothing there).
  std::wstring Folder;
  // Why nothing is deleted there, to follow the folder's name ("cannot be a program's
  // home", "holds no Tarnwhistle installation"); empty when the file step may delete.
  std::wstring LeftAlone;
};

// Judges the home a record names (JudgeHome), then whether it holds an installation of
// the product: the client's program, uninstaller or database; Mixmaster's program, library,
// settings or key ring. Files are deleted only from such a home.
TProductHome JudgeClientHome(const std::wstring& directory);
TProductHome JudgeMixHome(const std::wstring& directory);

// The client's files: every file of its home except the client's database (IsClientDatabaseFile);
// sub-directories and the home itself stay. Answers the files that resisted deletion, the
// running program aside; nothing is done in a home that is left alone.
std::vector<std::wstring> DeleteClientFiles(const TProductHome& home);
// Mixmaster's files: every file but the client's database, then "pool" with everything in
// it, then the home itself when nothing else is left in it. The client's home `clientHome`
// (empty for none) is compared by identity: when it lies in "pool", it stays whole with the
// folders that lead to it. Answers what resisted deletion.
std::vector<std::wstring> DeleteMixFiles(const TProductHome& home, const std::wstring& clientHome);

// True for a name that can go into the DDE command as one plain folder of the Start menu:
// no brackets, parentheses, quotes, commas, path separators, colons, "..", wildcards or
// control characters.
bool IsPlainGroupName(const std::wstring& name);

// The user's Programs folder of the Start menu, as the shell records it; empty when not.
std::wstring ProgramsFolder();

// Removes the group folder `programs\group` when it still exists and holds nothing but
// shortcuts to files in `clientHome`. True when it is gone afterwards.
bool RemoveLeftoverGroupFolder(const std::wstring& programs, const std::wstring& group,
                               const std::wstring& clientHome);
