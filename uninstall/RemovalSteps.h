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
  // client's database, wherever the two homes lie.
  std::wstring ClientHomeDir;
  std::wstring MixHomeDir;
  std::wstring ProgramGroupName;
  // The DDE service and topic that deletes program groups.
  std::wstring GroupService = L"PROGMAN";
};

// Removes every chosen product in the plan's order. True when the client was removed.
bool RemoveProducts(const TRemovalPlan& plan, TRemovalLog& log);

void RemoveClient(const TRemovalPlan& plan, TRemovalLog& log);
void RemoveMixmaster(const TRemovalPlan& plan, TRemovalLog& log);
void RemoveProgramGroup(const TRemovalPlan& plan, TRemovalLog& log);

// What a file step did.
struct TFileStepResult {
  // Nothing was deleted: the directory cannot be a program's home.
  bool LeftAlone = false;
  // Files that resisted deletion, the kept database files and the running program aside.
  std::vector<std::wstring> LeftBehind;
};

// The client's files: every file of the directory except its database ("tw.dbc", its
// journal "tw.dbc-journal", "tw.pgp", "tw.pgp.bak"); sub-directories and the directory
// itself stay. A directory that is a link is left alone.
TFileStepResult DeleteClientFiles(const std::wstring& directory);
// Mixmaster's files: every file, then "pool" with everything in it, then the directory
// itself when nothing else is left in it. The client's home `clientHome` (empty for none)
// is compared by identity: when it is this directory, the client's database files stay;
// when it lies in "pool", it stays whole with the folders that lead to it. A directory
// that is a link is left alone.
TFileStepResult DeleteMixFiles(const std::wstring& directory, const std::wstring& clientHome);

// True for a directory that cannot be a program's home and must never be emptied, judged
// on the folder it resolves to ("\?" and "\." prefixes, the machine's own
// administrative shares, ".." and links all seen through): a drive root; the Windows
// folder or anything in it; Program Files (either) and Common Files themselves;
// ProgramData; the folder of all profiles and each profile; AppData, its Local and
// Roaming; Desktop and Documents (the user's and the shared ones); a path that is not
// absolute.
bool IsUnsafeHome(const std::wstring& directory);

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
