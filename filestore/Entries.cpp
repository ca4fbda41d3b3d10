// The store's entry points: each opens the database, walks the index tree along an entry
// path, reads, writes, renames or deletes, and closes the file again.
#include <algorithm>
#include <unordered_set>

#include "filestore/StoreInternal.h"

namespace {

constexpr std::string_view kSeparator = "\xFF";
// The chain of indexes has room for the root and 15 sub-indexes.
constexpr int kMaxComponents = 16;
constexpr std::string_view kMailboxesName = "Mailboxes";

enum class TAccess { Read, Write };

// A name that an entry path can reach: not empty, without the separator 0xFF, and one a
// block can store.
bool Addressable(std::string_view name) {
  return !name.empty() && name.find(kSeparator) == std::string_view::npos && StorableName(name);
}

// The non-empty components of an entry path. 0, or 3 for a path of more than 16 components
// or with a component that a block cannot store.
int SplitPath(std::string_view path, std::vector<std::string>& components) {
  for (int k = 0;; ++k) {
    std::string component = GetField(k, path, kSeparator, "");
    if (component.empty()) return StatusNone;
    if (k == kMaxComponents || !StorableName(component)) return StatusSeek;
    components.push_back(std::move(component));
  }
}

using store::BuildChain;
using store::TChain;

bool RunsThroughEntry(const TChain& chain) {
  return std::any_of(chain.begin(), chain.end(),
                     [](const auto& index) { return index->IsEntry(); });
}

// Why the last operation answered StatusOpen.
std::string& OpenFailure() {
  static std::string text;
  return text;
}

// Runs `work` on the database: the named file, opened (or created) for reading and writing,
// or the one the caller holds open. Answers `failed` when the file cannot be opened.
template <class Work>
int OnDatabase(const FilePath& database, int failed, Work&& work) {
  TFileStream file(database);
  if (!file.IsOpen()) {
    OpenFailure() = file.OpenError();
    return failed;
  }
  return work(file, database);
}

template <class Work>
int OnDatabase(TStoreFile& database, int, Work&& work) {
  return work(database, FilePath());
}

// Puts back the database as it was when its last write did not finish; false when it
// cannot, and then nothing may read or write it.
bool ReadyForUse(TStoreFile& database, const FilePath& name) {
  std::string error;
  store::Restore(database, name, error);
  if (error.empty()) return true;
  OpenFailure() = std::move(error);
  return false;
}

// Restores the database when its last write did not finish (StatusOpen when it cannot),
// walks to the index that holds the entry and runs `leaf` on it with the entry's
// name; then applies what it planned to write. A path that runs through an entry finds
// nothing when reading and is refused (status 2, nothing written) when writing. Answers the
// operation's status.
template <class Database, class Leaf>
int OnEntry(std::string_view path, Database& database, TAccess access, Leaf&& leaf) {
  std::vector<std::string> components;
  if (const int status = SplitPath(path, components)) return status;
  return OnDatabase(database, StatusOpen, [&](TStoreFile& file, const FilePath& name) {
    if (!ReadyForUse(file, name)) return static_cast<int>(StatusOpen);
    TWritePlan plan(file);
    TFileManager manager(plan);
    const TChain chain =
        BuildChain(manager, components, components.empty() ? 0 : components.size() - 1);
    if (!components.empty() && !manager.Stopped()) {
      if (!RunsThroughEntry(chain))
        leaf(*chain.back(), components.back());
      else if (access == TAccess::Write)
        manager.Refuse(StatusRead);
    }
    return store::FinishPlanned(manager, plan);
  });
}

// Position of the first "name=value" line for `name` (letter case ignored), or -1.
int FindSetting(const TStringList& lines, std::string_view name) {
  for (int i = 0; i < lines.Count(); ++i) {
    const size_t equals = lines[i].find('=');
    if (equals != std::string::npos &&
        SameTextLocale(std::string_view(lines[i]).substr(0, equals), name))
      return i;
  }
  return -1;
}

FilePath& ProgramDatabase() {
  static FilePath path;
  return path;
}

}  // namespace

namespace {

template <class Database>
int WriteEntryTo(std::string_view entryPath, TDataBuf* buffer, Database& database) {
  return OnEntry(
      entryPath, database, TAccess::Write,
      [&](TFMindex& index, const std::string& name) { index.WriteChild(name, buffer, true); });
}

template <class Database>
int ReadEntryFrom(std::string_view entryPath, TDataBuf& buffer, Database& database) {
  return OnEntry(entryPath, database, TAccess::Read, [&](TFMindex& index, const std::string& name) {
    index.ReadStoredChild(name, buffer);
  });
}

template <class Database>
int RenameEntryIn(std::string_view entryPath, std::string_view newName, Database& database) {
  // A name with a line break would split into two names in the stored index; an empty one,
  // or one holding the path separator, could never be found again.
  if (!Addressable(newName)) return StatusSeek;
  return OnEntry(entryPath, database, TAccess::Write,
                 [&](TFMindex& index, const std::string& name) {
                   const int i = index.IndexOf(name);
                   if (i == -1) return;
                   // A second child of the new name would hide one of the two for good.
                   const int clash = index.IndexOf(newName);
                   if (clash != -1 && clash != i) {
                     index.Manager().Refuse(StatusSeek);
                     return;
                   }
                   if (!index.CheckWritePath()) return;
                   index.RenameChild(i, newName);
                   index.Flush();
                 });
}

}  // namespace

int WriteEntry(std::string_view entryPath, TDataBuf* buffer, const FilePath& database) {
  return WriteEntryTo(entryPath, buffer, database);
}

int WriteEntry(std::string_view entryPath, TDataBuf* buffer, TStoreFile& database) {
  return WriteEntryTo(entryPath, buffer, database);
}

int ReadEntry(std::string_view entryPath, TDataBuf& buffer, const FilePath& database) {
  if (!store::FileExists(database)) return StatusNone;
  return ReadEntryFrom(entryPath, buffer, database);
}

int ReadEntry(std::string_view entryPath, TDataBuf& buffer, TStoreFile& database) {
  return ReadEntryFrom(entryPath, buffer, database);
}

namespace {

template <class Database>
int ReadLinesFrom(TStringList& lines, std::string_view entryPath, Database& database) {
  lines.Clear();
  TDataBuf buffer;
  const int status = ReadEntry(entryPath, buffer, database);
  const std::string_view text = buffer.View();
  lines.SetText(text.substr(0, text.find('\0')));
  return status;
}

template <class Database>
int WriteLinesTo(std::string_view entryPath, const TStringList* lines, Database& database) {
  if (!lines) return WriteEntry(entryPath, nullptr, database);
  TDataBuf buffer(lines->Text());
  return WriteEntry(entryPath, &buffer, database);
}

template <class Database>
int SetInitValueIn(std::string_view name, std::string_view value, Database& database) {
  TStringList lines;
  // Settings that could not be read are not overwritten with the one line set here.
  if (const int status = ReadLinesFrom(lines, InitEntryName, database)) return status;
  const int i = FindSetting(lines, name);
  if (!value.empty()) {
    std::string line = std::string(name) + "=" + std::string(value);
    if (i == -1)
      lines.Add(std::move(line));
    else
      lines[i] = std::move(line);
  } else if (i != -1) {
    lines.Lines.erase(lines.Lines.begin() + i);
  }
  return WriteLinesTo(InitEntryName, &lines, database);
}

}  // namespace

int ReadEntryLines(TStringList& lines, std::string_view entryPath, const FilePath& database) {
  return ReadLinesFrom(lines, entryPath, database);
}

int WriteEntryLines(std::string_view entryPath, const TStringList* lines,
                    const FilePath& database) {
  return WriteLinesTo(entryPath, lines, database);
}

std::string GetInitValue(std::string_view name, std::string_view fallback,
                         const FilePath& database) {
  TStringList lines;
  ReadEntryLines(lines, InitEntryName, database);
  const int i = FindSetting(lines, name);
  const std::string value = i == -1 ? std::string() : lines[i].substr(lines[i].find('=') + 1);
  return value.empty() ? std::string(fallback) : value;
}

int SetInitValue(std::string_view name, std::string_view value, const FilePath& database) {
  return SetInitValueIn(name, value, database);
}

int SetInitValue(std::string_view name, std::string_view value, TStoreFile& database) {
  return SetInitValueIn(name, value, database);
}

bool ReadEntryBuffer(std::string_view entryPath, TDataBuf* buffer, const FilePath& database) {
  TDataBuf read;
  ReadEntry(entryPath, read, database);
  if (buffer) buffer->SetData(read.Data(), read.Length());
  return read.Length() != 0;
}

bool EntryHasLines(std::string_view entryPath, TStringList* lines, const FilePath& database) {
  TStringList read;
  ReadEntryLines(read, entryPath, database);
  if (lines) lines->Lines = read.Lines;
  return read.Count() > 0;
}

int RenameEntry(std::string_view entryPath, std::string_view newName, const FilePath& database) {
  return RenameEntryIn(entryPath, newName, database);
}

int RenameEntry(std::string_view entryPath, std::string_view newName, TStoreFile& database) {
  return RenameEntryIn(entryPath, newName, database);
}

int RenameEntry(std::string* entryPath, std::string_view newName, const FilePath& database) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  const auto first = std::find_if_not(entryPath->begin(), entryPath->end(), blank);
  const auto last = std::find_if_not(entryPath->rbegin(), entryPath->rend(), blank).base();
  *entryPath = first < last ? std::string(first, last) : std::string();
  return RenameEntry(std::string_view(*entryPath), newName, database);
}

// ---------------------------------------------------------------------------------------
// Mailboxes

namespace {

bool Selected(const std::string* selection, int position) {
  return !selection || (static_cast<size_t>(position) < selection->size() &&
                        (*selection)[static_cast<size_t>(position)] != 0);
}

bool Usable(const FilePath& database) { return store::FileExists(database); }
bool Usable(TStoreFile&) { return true; }

// Takes the selected children out of a mailbox of the open database: deletes them, or moves
// them to `destination` when one is given. Answers the number of children taken.
int TakeFrom(std::string_view mailbox, const std::string* selection,
             const std::string_view* destination, TStoreFile& database, const FilePath& name) {
  if (!ReadyForUse(database, name)) return 0;
  TWritePlan plan(database);
  TFileManager manager(plan);
  TFMindex root(manager, nullptr, "");
  TFMindex mailboxes(manager, &root, kMailboxesName);
  TFMindex source(manager, &mailboxes, mailbox);
  std::unique_ptr<TFMindex> target;
  if (destination) target = std::make_unique<TFMindex>(manager, &mailboxes, *destination);
  if (manager.Stopped() || mailboxes.IsEntry() || source.IsEntry() ||
      (target && target->IsEntry()))
    return 0;

  std::vector<int> taken;  // last position first
  std::unordered_set<std::string> arriving;  // lower-cased names moved so far
  for (int i = source.Count() - 1; i >= 0; --i) {
    if (!Selected(selection, i)) continue;
    // A child whose name the destination holds already, or one of the same name moved just
    // before it, stays where it is: a second child of one name could never be found. So
    // does a child that no path reaches (an empty name, in a file written elsewhere).
    const std::string_view name = source.ChildName(i);
    if (target && (!Addressable(name) || target->IndexOf(name) != -1 ||
                   !arriving.insert(LocaleLower(std::string(name))).second))
      continue;
    taken.push_back(i);
  }
  const bool sound = target ? source.CheckWritePath() && target->CheckWritePath()
                            : source.ClaimChildBlocks(taken);
  if (!sound) return 0;
  for (const int i : taken) {
    if (target)
      target->AppendChild(source.ChildName(i), source.ChildOffset(i));
    else
      manager.Release(source.ChildOffset(i));
    source.RemoveChild(i);
  }
  if (target) target->Flush();
  source.Flush();
  // A failed operation changes nothing: nothing was taken.
  return store::FinishPlanned(manager, plan) == 0 ? static_cast<int>(taken.size()) : 0;
}

// Deletes the selected children of a mailbox, or moves them to `destination` when one is
// given. Answers the number of children taken.
template <class Database>
int TakeMailboxEntries(std::string_view mailbox, const std::string* selection,
                       const std::string_view* destination, Database& database) {
  if (!Usable(database) || !Addressable(mailbox)) return 0;
  // Moving a mailbox onto itself would release its block twice.
  if (destination && (!Addressable(*destination) || SameTextLocale(mailbox, *destination)))
    return 0;
  return OnDatabase(database, 0, [&](TStoreFile& file, const FilePath& name) {
    return TakeFrom(mailbox, selection, destination, file, name);
  });
}

}  // namespace

const std::string& LastOpenError() { return OpenFailure(); }

void SetProgramDatabasePath(FilePath path) { ProgramDatabase() = std::move(path); }

const FilePath& ProgramDatabasePath() { return ProgramDatabase(); }

int DeleteMailboxEntries(std::string_view mailbox, const std::string* selection) {
  return DeleteMailboxEntries(mailbox, selection, ProgramDatabase());
}

int DeleteMailboxEntries(std::string_view mailbox, const std::string* selection,
                         const FilePath& database) {
  return TakeMailboxEntries(mailbox, selection, nullptr, database);
}

int MoveMailboxEntries(std::string_view mailbox, const std::string* selection,
                       std::string_view destination) {
  return MoveMailboxEntries(mailbox, selection, destination, ProgramDatabase());
}

int MoveMailboxEntries(std::string_view mailbox, const std::string* selection,
                       std::string_view destination, const FilePath& database) {
  return TakeMailboxEntries(mailbox, selection, &destination, database);
}

int DeleteMailboxEntries(std::string_view mailbox, const std::string* selection,
                         TStoreFile& database) {
  return TakeMailboxEntries(mailbox, selection, nullptr, database);
}

int MoveMailboxEntries(std::string_view mailbox, const std::string* selection,
                       std::string_view destination, TStoreFile& database) {
  return TakeMailboxEntries(mailbox, selection, &destination, database);
}
