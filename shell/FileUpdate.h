// An update of an installation folder that is all or nothing, across a failure, a crash or
// a power cut. Each new file is copied under a temporary name in the folder
// ("TW.exe.setup-new"), flushed where it replaces one, and then replaces its namesake in one
// step, the old one kept beside it ("TW.exe.setup-old") until the whole update is done. The registry values
// the update writes, the database it makes and the Start-menu links it makes belong to it
// too. A journal in the folder (shell/UpdateJournal.h) holds the plan, with the registry
// values as they were, before anything changes, and notes each part as it begins. On a
// failure the update is undone from it at once; after a crash the next run of setup or of
// the uninstaller finishes or undoes it (RecoverInterruptedUpdate). A note in the registry
// names the folder while an update is under way, so that the next run finds it wherever
// it was going.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "shell/RunningPrograms.h"
#include "shell/UpdateJournal.h"

// A file the update brings into the folder.
struct TUpdateFile {
  std::wstring Source;  // full path
  std::wstring Name;    // its name in the folder
};

// Values the update writes under one key of the current user's root.
struct TUpdateKey {
  std::wstring Path;
  std::vector<std::wstring> Values;
};

// Everything the update may change, known before it begins.
struct TUpdatePlan {
  std::wstring Folder;  // full path, without a trailing backslash
  std::vector<TUpdateFile> Files;
  std::wstring Database;          // the name of a database made new; "" for none
  bool DatabaseReplacesEmpty = false;  // it replaces an empty file of that name
  std::wstring DatabaseTemplate;  // the new database's first contents; "": made from nothing
  std::vector<TUpdateKey> Keys;
  std::wstring GroupFolder;  // where the links go; "" for none
  std::vector<std::wstring> GroupLinks;
};

// The names of the update's own files in the folder.
inline constexpr wchar_t StagedSuffix[] = L".setup-new";
inline constexpr wchar_t KeptSuffix[] = L".setup-old";
inline constexpr wchar_t UpdateJournalName[] = L"TWSetup.journal";

// What a name in an installation folder is to an update: none of its own, a staged file
// (or the store's journal beside a staged database), a kept old file, or the journal.
enum class TUpdateFileKind { None, Staged, Kept, Journal };
TUpdateFileKind UpdateFileKind(const std::wstring& name);

// Clears the read-only attribute of an existing file; nothing else of its attributes.
void ClearReadOnly(const std::wstring& file);

// The size of a file in bytes; 0 when it cannot be asked.
ULONGLONG FileSize(const std::wstring& file);

// Removes a named alternate data stream of a file: 0, or the system's error (a file without
// the stream gives ERROR_FILE_NOT_FOUND). Wine has no such streams: a test puts a stand-in
// in place (null: the system's again); answers the one it replaced.
using TStreamRemover = DWORD (*)(const std::wstring& file, const std::wstring& stream);
TStreamRemover SetStreamRemover(TStreamRemover remover);

class TFileUpdate {
 public:
  // `whenInUse` decides what happens when another program holds a file to be replaced.
  TFileUpdate(TUpdatePlan plan, TInUsePolicy whenInUse);
  // Undoes an update that was begun and neither committed nor undone.
  ~TFileUpdate();
  TFileUpdate(const TFileUpdate&) = delete;
  TFileUpdate& operator=(const TFileUpdate&) = delete;

  // Notes in the registry that the folder is being updated, before anything else changes.
  bool NoteUpdate();
  // Creates the folder with its missing parents.
  bool MakeFolder();
  // Writes the journal: the plan and the registry values as they are now.
  bool Begin();
  // Copies each file, and the new database's template, under its temporary name: not
  // read-only, without the mark of a download, on the disk where it replaces a file and for
  // the database.
  bool StageFiles();
  // Each staged file replaces its namesake in one step; the namesake is kept until Commit.
  bool PutFilesInPlace();
  // The journal notes that the registry values, or the links, are being written now.
  bool StartRegistry();
  bool StartLinks();
  // True when the plan makes a new database; StagedDatabase is its temporary name, to be
  // seeded there.
  bool MakesDatabase() const { return !Plan_.Database.empty(); }
  std::wstring StagedDatabase() const;
  // Puts the seeded database in place, whole, once the store's last write returned.
  bool PutDatabaseInPlace();
  // Marks the update done; then the kept files and the journal go (what cannot go yet is
  // left for the next run). True once it is marked.
  bool Commit();
  // Puts back what was replaced and removes what was added, the registry values and the
  // links included. True when everything is as it was; otherwise the journal stays for the
  // next run, and FailedItem says what could not be put back.
  bool Undo();

  // What the last failure was about (a file, or a registry value) and the system's error.
  const std::wstring& FailedItem() const { return FailedItem_; }
  DWORD Error() const { return Error_; }

 private:
  bool Failed(const std::wstring& item, DWORD error);
  std::wstring JournalPath() const;
  // The journal as the plan and the registry are now.
  void PlanJournal();
  // Appends a line of progress to the journal, on the disk before it answers.
  bool Note(const char* line);
  // Puts the staged file `name` in place; a failure is reported on `shownAs`.
  bool PutInPlace(const std::wstring& name, bool replacesOld, const std::wstring& shownAs);

  TUpdatePlan Plan_;
  TInUsePolicy WhenInUse_;
  TUpdateJournal Journal_;
  std::wstring Made_;  // the outermost folder this update created; "" for none
  bool Noted_ = false;  // the registry names this update
  bool Open_ = false;   // begun, and neither committed nor undone; or its undoing failed
  std::wstring FailedItem_;
  DWORD Error_ = 0;
};

// Finishes (when it was committed) or undoes (when it was not) the update that an
// interrupted setup left in `folder`, and the one the registry's note names. True when
// there was none, or it is finished or undone; otherwise what stays is in the run's log.
bool RecoverInterruptedUpdate(const std::wstring& folder, const TInUsePolicy& whenInUse = {});
