#include "shell/FileUpdate.h"

#include <optional>
#include <utility>

#include "base/Handles.h"
#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/FaultPoint.h"
#include "shell/Paths.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"
#include "shell/SysUtils.h"

namespace {

// The note that an update is under way: its folder, and the outermost folder it created.
const wchar_t kPendingKey[] = L"Software\\Tarnwhistle Setup";
const wchar_t kPendingFolder[] = L"Folder";
const wchar_t kPendingMade[] = L"Made";

// Windows marks a downloaded file with this stream; it would make the system warn at each
// start of the installed program.
const wchar_t kDownloadMark[] = L"Zone.Identifier";

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

DWORD SystemRemoveStream(const std::wstring& file, const std::wstring& stream) {
  return DeleteFileW((file + L":" + stream).c_str()) ? 0 : GetLastError();
}
TStreamRemover streamRemover = SystemRemoveStream;

std::wstring In(const std::wstring& folder, const std::wstring& name) {
  return AddBackslash(folder) + name;
}

DWORD Result(BOOL done) { return done ? 0 : GetLastError(); }

DWORD DeleteIfThere(const std::wstring& file) {
  if (!PathExists(file)) return 0;
  ClearReadOnly(file);
  DWORD error = InjectedFault(L"delete", file);
  if (!error) error = Result(DeleteFileW(file.c_str()));
  LogResult(L"delete " + file, error == 0, error);
  return error;
}

DWORD MoveInPlace(const std::wstring& from, const std::wstring& to, bool replace) {
  if (const DWORD fault = InjectedFault(L"move", to)) return fault;
  return Result(MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0));
}

// Writes the bytes to the file (created anew, or appended to) and waits for the disk.
DWORD WriteDurably(const std::wstring& path, std::string_view bytes, bool append) {
  if (const DWORD fault = InjectedFault(append ? L"append" : L"write", path)) return fault;
  UniqueHandle file(CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, 0,
                                nullptr, append ? OPEN_EXISTING : CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
    return GetLastError();
  if (written != bytes.size()) return ERROR_HANDLE_DISK_FULL;
  return Result(FlushFileBuffers(file.get()));
}

DWORD FlushFile(const std::wstring& path) {
  if (const DWORD fault = InjectedFault(L"flush", path)) return fault;
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  return file ? Result(FlushFileBuffers(file.get())) : GetLastError();
}

// Calls `take` with the file's bytes, a piece at a time; false when it cannot be read.
template <class Take>
bool ReadPieces(const std::wstring& path, Take take) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  std::string piece(1 << 16, '\0');
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), piece.data(), static_cast<DWORD>(piece.size()), &read, nullptr))
      return false;
    if (read == 0) return true;
    take(std::string_view(piece.data(), read));
  }
}

std::optional<TContentMark> MarkOfFile(const std::wstring& path) {
  TContentHasher hasher;
  if (!ReadPieces(path, [&](std::string_view bytes) { hasher.Add(bytes); })) return std::nullopt;
  return hasher.Mark();
}

// The journal's bytes; nothing when it cannot be read or is larger than any journal.
std::optional<std::string> ReadJournal(const std::wstring& path) {
  std::string bytes;
  const bool read = ReadPieces(path, [&](std::string_view piece) {
    if (bytes.size() <= MaxJournalBytes) bytes.append(piece.substr(0, MaxJournalBytes + 1 - bytes.size()));
  });
  if (!read || bytes.size() > MaxJournalBytes) return std::nullopt;
  return bytes;
}

// A copy under the staged name that is not read-only (a kit on a CD is) and carries no mark
// of a download. It is flushed when `durable`: where it replaces a file, whose old bytes go
// once the update is done, a power cut must find the new ones on the disk. A file that
// replaces nothing loses nothing: the next run copies it again.
DWORD Stage(const std::wstring& source, const std::wstring& staged, const std::wstring& shownAs,
            bool durable) {
  ClearReadOnly(staged);
  DWORD error = InjectedFault(L"copy", staged);
  if (!error) error = Result(CopyFileW(source.c_str(), staged.c_str(), FALSE));
  if (!error) {
    ClearReadOnly(staged);
    const DWORD mark = streamRemover(staged, kDownloadMark);
    if (mark && mark != ERROR_FILE_NOT_FOUND && mark != ERROR_PATH_NOT_FOUND)
      LogResult(L"remove the download mark of " + shownAs, false, mark);
    if (durable) error = FlushFile(staged);
  }
  LogResult(L"copy " + source + L" to " + shownAs, error == 0, error);
  return error;
}

// Keeps the file under a second name: a second link to it where the file system has them,
// otherwise a flushed copy.
DWORD Keep(const std::wstring& file, const std::wstring& kept) {
  ClearReadOnly(file);
  DWORD error = DeleteIfThere(kept);
  if (!error) error = InjectedFault(L"keep", file);
  if (!error) error = Result(CreateHardLinkW(kept.c_str(), file.c_str(), nullptr));
  if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) return error;
  error = Result(CopyFileW(file.c_str(), kept.c_str(), FALSE));
  return error ? error : FlushFile(kept);
}

// Replaces `target` by its staged copy in one step, the old file kept beside it; or puts
// the staged copy in place where nothing was before (and nothing has come since). A target
// that another program holds is waited for first, as the policy says: kept while held, it
// could not be let go of again.
DWORD Replace(const std::wstring& target, bool replacesOld, const TInUsePolicy& whenInUse) {
  const std::wstring staged = target + StagedSuffix;
  if (!replacesOld) return MoveInPlace(staged, target, false);
  DWORD error = WaitUntilFileFree(target, DELETE, kShareAll, whenInUse);
  if (!error) error = Keep(target, target + KeptSuffix);
  return error ? error : MoveInPlace(staged, target, true);
}

// Where putting things right failed first.
struct TRepair {
  std::wstring FailedItem;
  DWORD Error = 0;
  bool Check(const std::wstring& item, DWORD error) {
    if (error && !Error) {
      FailedItem = item;
      Error = error;
    }
    return error == 0;
  }
  bool Done() const { return Error == 0; }
};

// A file of the plan, undone from what lies on the disk: the staged copy goes; a kept old
// file goes back in its place if the new one replaced it, else it was only a second name;
// a file that replaced nothing goes.
void UndoFile(const std::wstring& folder, const TJournalFile& file, TRepair& repair,
              const TInUsePolicy& whenInUse) {
  const std::wstring target = In(folder, file.Name), staged = target + StagedSuffix,
                     kept = target + KeptSuffix;
  const bool wasStaged = PathExists(staged);
  if (!repair.Check(staged, DeleteIfThere(staged))) return;
  if (!PathExists(kept)) {
    if (!file.ReplacesOld && !wasStaged) repair.Check(target, DeleteIfThere(target));
    return;
  }
  if (wasStaged) {
    repair.Check(kept, DeleteIfThere(kept));
    return;
  }
  DWORD error = WaitUntilFileFree(target, DELETE, kShareAll, whenInUse);
  if (!error) error = MoveInPlace(kept, target, true);
  LogResult(L"put back " + target, error == 0, error);
  repair.Check(target, error);
}

// A file of a committed plan: a staged copy whose move was lost goes in place now, and the
// kept old file goes.
void FinishFile(const std::wstring& folder, const TJournalFile& file, TRepair& repair) {
  const std::wstring target = In(folder, file.Name), staged = target + StagedSuffix;
  if (PathExists(staged)) repair.Check(target, MoveInPlace(staged, target, true));
  repair.Check(target + KeptSuffix, DeleteIfThere(target + KeptSuffix));
}

// The store's journal beside a staged database.
std::wstring StagedStoreJournal(const std::wstring& database) {
  return database + StagedSuffix + L"-journal";
}

// The new database goes only while it holds exactly what the update wrote into it: once
// the client has written to it, it is the user's.
void UndoDatabase(const std::wstring& folder, const TUpdateJournal& journal, TRepair& repair,
                  const TInUsePolicy& whenInUse) {
  const std::wstring target = In(folder, journal.Database->Name), staged = target + StagedSuffix;
  repair.Check(staged, DeleteIfThere(StagedStoreJournal(target)));
  repair.Check(staged, DeleteIfThere(staged));
  const bool ours = journal.DatabaseContent && FileSize(target) == journal.DatabaseContent->Size &&
                    MarkOfFile(target) == journal.DatabaseContent;
  if (ours)
    UndoFile(folder, *journal.Database, repair, whenInUse);
  else
    repair.Check(target + KeptSuffix, DeleteIfThere(target + KeptSuffix));
}

void UndoRegistry(const std::vector<TJournalKey>& keys, TRepair& repair) {
  for (const TJournalKey& saved : keys) {
    const std::wstring item = L"HKCU\\" + saved.Path;
    if (!saved.Existed) {
      repair.Check(item, DeleteRegistryTree(saved.Path) ? 0 : ERROR_ACCESS_DENIED);
      continue;
    }
    TRegistryKey key = TRegistryKey::Open(saved.Path);
    for (const TJournalValue& value : saved.Values) {
      const bool put = value.Existed ? key.WriteValue(value.Name, value.Before) : key.DeleteValue(value.Name);
      repair.Check(item, put ? 0 : ERROR_ACCESS_DENIED);
    }
  }
}

// Links that a new group got, and the group folder when nothing else is in it: only link
// files, and only in a folder of the product's name.
void UndoLinks(const TUpdateJournal& journal, TRepair& repair) {
  const std::wstring& group = journal.GroupFolder;
  if (journal.GroupExisted || LocaleLower(ExtractFileName(group)) != LocaleLower(tw::ProductName))
    return;
  for (const std::wstring& link : journal.GroupLinks)
    if (LocaleLower(ChangeFileExt(link, std::wstring(L".lnk"))) == LocaleLower(link))
      repair.Check(In(group, link), DeleteIfThere(In(group, link)));
  if (!InjectedFault(L"remove folder", group)) RemoveDirectoryW(group.c_str());
}

bool RollBack(const std::wstring& folder, const TUpdateJournal& journal, TRepair& repair,
              const TInUsePolicy& whenInUse) {
  if (journal.LinksStarted) UndoLinks(journal, repair);
  if (journal.Database) UndoDatabase(folder, journal, repair, whenInUse);
  if (journal.RegistryStarted) UndoRegistry(journal.Keys, repair);
  for (auto file = journal.Files.rbegin(); file != journal.Files.rend(); ++file)
    UndoFile(folder, *file, repair, whenInUse);
  return repair.Done();
}

bool RollForward(const std::wstring& folder, const TUpdateJournal& journal, TRepair& repair) {
  for (const TJournalFile& file : journal.Files) FinishFile(folder, file, repair);
  if (journal.Database) {
    const std::wstring storeJournal = StagedStoreJournal(In(folder, journal.Database->Name));
    repair.Check(storeJournal, DeleteIfThere(storeJournal));
    FinishFile(folder, *journal.Database, repair);
  }
  return repair.Done();
}

// The folder and the levels above it up to `made`, each only while it is empty; a level
// that was never made (its creation failed) is passed.
void RemoveMadeFolders(const std::wstring& folder, const std::wstring& made) {
  const std::wstring top = AddBackslash(LocaleLower(StripBackslash(made)));
  if (top.size() < 2) return;
  for (std::wstring level = StripBackslash(folder);
       LocaleLower(AddBackslash(level)).rfind(top, 0) == 0;
       level = StripBackslash(ExtractFilePath(level)))
    if (FolderExists(level) &&
        (InjectedFault(L"remove folder", level) || !RemoveDirectoryW(level.c_str())))
      return;
}

// The outermost folder of the path that does not exist yet; "" when it exists.
std::wstring OutermostMissing(const std::wstring& folder) {
  std::wstring missing, level = folder;
  while (!level.empty() && !FolderExists(level)) {
    missing = level;
    const std::wstring parent = StripBackslash(ExtractFilePath(level));
    if (parent.empty() || parent.size() >= level.size() || parent.back() == L':') break;
    level = parent;
  }
  return missing;
}

bool CreateFolderPath(const std::wstring& folder) {
  if (folder.empty() || FolderExists(folder)) return !folder.empty();
  const std::wstring parent = StripBackslash(ExtractFilePath(folder));
  if (!parent.empty() && parent.size() < folder.size() && parent.back() != L':')
    CreateFolderPath(parent);
  if (!InjectedFault(L"create folder", folder)) CreateDirectoryW(folder.c_str(), nullptr);
  return FolderExists(folder);
}

// A journal read back may change only the product's own keys.
bool OwnKeysOnly(const TUpdateJournal& journal) {
  for (const TJournalKey& key : journal.Keys) {
    const std::wstring path = LocaleLower(key.Path);
    if (path != LocaleLower(tw::ProductKey) && path != LocaleLower(tw::UninstallEntryKey)) return false;
  }
  return true;
}

// Finishes or undoes the journal in `folder`; true when there is none afterwards.
bool RecoverFolder(const std::wstring& folder, const TInUsePolicy& whenInUse) {
  const std::wstring path = In(folder, UpdateJournalName);
  if (folder.empty() || !FileExists(path)) return true;
  const std::optional<std::string> bytes = ReadJournal(path);
  std::optional<TUpdateJournal> journal = bytes ? ParseJournal(*bytes) : std::nullopt;
  if (journal && !OwnKeysOnly(*journal)) journal.reset();
  if (!journal) {
    // Nothing in it can be trusted to act on; what it may have left is not touched.
    LogLine(L"the update journal " + path + L" cannot be read; it is removed");
  } else if (journal->Planned) {
    TRepair repair;
    const bool done = journal->Committed ? RollForward(folder, *journal, repair)
                                         : RollBack(folder, *journal, repair, whenInUse);
    LogResult((journal->Committed ? L"finish the update of " : L"undo the update of ") + folder,
              done, repair.Error);
    if (!done) return false;
  }
  return DeleteIfThere(path) == 0;
}

}  // namespace

TStreamRemover SetStreamRemover(TStreamRemover remover) {
  return std::exchange(streamRemover, remover ? remover : SystemRemoveStream);
}

TUpdateFileKind UpdateFileKind(const std::wstring& name) {
  const std::wstring lower = LocaleLower(name);
  const auto endsWith = [&](const std::wstring& end) {
    return lower.size() >= end.size() && lower.compare(lower.size() - end.size(), end.size(), end) == 0;
  };
  if (lower == LocaleLower(std::wstring(UpdateJournalName))) return TUpdateFileKind::Journal;
  if (endsWith(KeptSuffix)) return TUpdateFileKind::Kept;
  if (endsWith(StagedSuffix) || endsWith(std::wstring(StagedSuffix) + L"-journal"))
    return TUpdateFileKind::Staged;
  return TUpdateFileKind::None;
}

void ClearReadOnly(const std::wstring& file) {
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

ULONGLONG FileSize(const std::wstring& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

TFileUpdate::TFileUpdate(TUpdatePlan plan, TInUsePolicy whenInUse)
    : Plan_(std::move(plan)), WhenInUse_(whenInUse) {
  Plan_.Folder = StripBackslash(WithBackslashes(Plan_.Folder));
}

TFileUpdate::~TFileUpdate() {
  if (!Journal_.Committed && (Open_ || Noted_)) Undo();
}

bool TFileUpdate::Failed(const std::wstring& item, DWORD error) {
  FailedItem_ = item;
  Error_ = error;
  return false;
}

std::wstring TFileUpdate::JournalPath() const { return In(Plan_.Folder, UpdateJournalName); }

bool TFileUpdate::NoteUpdate() {
  Made_ = OutermostMissing(Plan_.Folder);
  TRegistryKey note = TRegistryKey::Create(kPendingKey);
  Noted_ = note.Valid();
  return (Noted_ && note.WriteString(kPendingFolder, Plan_.Folder) &&
          note.WriteString(kPendingMade, Made_)) ||
         Failed(L"HKCU\\" + std::wstring(kPendingKey), ERROR_ACCESS_DENIED);
}

bool TFileUpdate::MakeFolder() {
  return CreateFolderPath(Plan_.Folder) || Failed(Plan_.Folder, ERROR_PATH_NOT_FOUND);
}

void TFileUpdate::PlanJournal() {
  Journal_.Folder = Plan_.Folder;
  for (const TUpdateFile& file : Plan_.Files)
    Journal_.Files.push_back({file.Name, PathExists(In(Plan_.Folder, file.Name))});
  if (!Plan_.Database.empty()) Journal_.Database = TJournalFile{Plan_.Database, Plan_.DatabaseReplacesEmpty};
  for (const TUpdateKey& planned : Plan_.Keys) {
    const TRegistryKey key = TRegistryKey::OpenReadOnly(planned.Path);
    TJournalKey saved{planned.Path, key.Valid(), {}};
    for (const std::wstring& name : planned.Values) {
      const std::optional<TRegistryValue> value = key.ReadValue(name);
      saved.Values.push_back({name, value.has_value(), value.value_or(TRegistryValue())});
    }
    Journal_.Keys.push_back(std::move(saved));
  }
  Journal_.GroupFolder = Plan_.GroupFolder;
  Journal_.GroupExisted = FolderExists(Plan_.GroupFolder);
  Journal_.GroupLinks = Plan_.GroupLinks;
}

bool TFileUpdate::Begin() {
  PlanJournal();
  Open_ = true;
  Journal_.Planned = true;
  if (const DWORD error = WriteDurably(JournalPath(), JournalText(Journal_), false)) {
    Journal_.Planned = false;  // nothing changes on its strength
    return Failed(JournalPath(), error);
  }
  return true;
}

bool TFileUpdate::StageFiles() {
  for (size_t i = 0; i < Plan_.Files.size(); ++i) {
    const TUpdateFile& file = Plan_.Files[i];
    const std::wstring target = In(Plan_.Folder, file.Name);
    if (const DWORD error = Stage(file.Source, target + StagedSuffix, target, Journal_.Files[i].ReplacesOld))
      return Failed(file.Source, error);
  }
  if (Plan_.DatabaseTemplate.empty()) return true;
  // The user's mail will go into the database: it is on the disk before it is in place.
  const DWORD error = Stage(Plan_.DatabaseTemplate, StagedDatabase(), In(Plan_.Folder, Plan_.Database), true);
  return error == 0 || Failed(Plan_.DatabaseTemplate, error);
}

bool TFileUpdate::PutInPlace(const std::wstring& name, bool replacesOld, const std::wstring& shownAs) {
  const std::wstring target = In(Plan_.Folder, name);
  const DWORD error = Replace(target, replacesOld, WhenInUse_);
  if (!error) return true;
  LogResult(L"put in place " + target, false, error);
  return Failed(shownAs, error);
}

bool TFileUpdate::PutFilesInPlace() {
  for (size_t i = 0; i < Plan_.Files.size(); ++i)
    if (!PutInPlace(Plan_.Files[i].Name, Journal_.Files[i].ReplacesOld, Plan_.Files[i].Source))
      return false;
  return true;
}

bool TFileUpdate::Note(const char* line) {
  const DWORD error = WriteDurably(JournalPath(), line, true);
  return error == 0 || Failed(JournalPath(), error);
}

bool TFileUpdate::StartRegistry() { return Journal_.RegistryStarted = Note(JournalRegistryLine); }

bool TFileUpdate::StartLinks() { return Journal_.LinksStarted = Note(JournalLinksLine); }

std::wstring TFileUpdate::StagedDatabase() const {
  return In(Plan_.Folder, Plan_.Database) + StagedSuffix;
}

bool TFileUpdate::PutDatabaseInPlace() {
  const std::wstring staged = StagedDatabase();
  // The store may keep its journal beside the database between writes; it is no part of a
  // database whose every write has finished.
  if (const DWORD error = DeleteIfThere(StagedStoreJournal(In(Plan_.Folder, Plan_.Database))))
    return Failed(staged, error);
  const std::optional<TContentMark> mark = MarkOfFile(staged);
  if (!mark) return Failed(staged, GetLastError());
  if (!Note(JournalEntriesLine(*mark).c_str())) return false;
  Journal_.DatabaseContent = mark;
  return PutInPlace(Plan_.Database, Plan_.DatabaseReplacesEmpty, staged);
}

bool TFileUpdate::Commit() {
  if (!Note(JournalCommittedLine)) return false;
  Journal_.Committed = true;
  Open_ = false;
  TRepair repair;
  if (RollForward(Plan_.Folder, Journal_, repair) && DeleteIfThere(JournalPath()) == 0 &&
      DeleteRegistryTree(kPendingKey))
    Noted_ = false;
  else
    LogLine(L"the update is complete; what it kept is removed by the next run of setup");
  return true;
}

bool TFileUpdate::Undo() {
  TRepair repair;
  // The journal goes only once what it lists is put back: until then it is the next run's
  // guide.
  if ((!Open_ || !Journal_.Planned || RollBack(Plan_.Folder, Journal_, repair, WhenInUse_)))
    repair.Check(JournalPath(), DeleteIfThere(JournalPath()));
  const bool done = repair.Done();
  Open_ = !done;
  if (!done) {
    LogLine(L"the update could not be undone whole; the next run of setup finishes undoing it");
    return Failed(repair.FailedItem, repair.Error);
  }
  RemoveMadeFolders(Plan_.Folder, Made_);
  if (Noted_ && DeleteRegistryTree(kPendingKey)) Noted_ = false;
  return true;
}

bool RecoverInterruptedUpdate(const std::wstring& folder, const TInUsePolicy& whenInUse) {
  bool recovered = RecoverFolder(folder, whenInUse);
  const TRegistryKey note = TRegistryKey::OpenReadOnly(kPendingKey);
  if (!note.Valid()) return recovered;
  const std::wstring noted = note.ReadString(kPendingFolder).value_or(L"");
  if (RecoverFolder(noted, whenInUse))
    RemoveMadeFolders(noted, note.ReadString(kPendingMade).value_or(L""));
  else
    recovered = false;
  return recovered && DeleteRegistryTree(kPendingKey);
}
