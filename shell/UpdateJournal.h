// The journal of an update of an installation folder: what the update will change, written
// whole before it changes anything, and how far it got, appended as it goes. It lies in the
// folder it is about, as text: one record a line, its fields separated by tabs.
//
//   TWSetup journal 1
//   folder  <the installation folder>
//   file    <name> new|old          a file copied in; "old": it replaces a namesake
//   database <name> new|old         a database made new; "old": it replaces an empty one
//   key     <registry key> new|old  "new": the key was not there before
//   value   <key> <name> -          a value written that was not there before
//   value   <key> <name> <type> <hex bytes>     a value written, as it was before
//   group   <folder> new|old        the Start-menu group the links go into
//   link    <name>                  a link written into it
//   planned                         the plan is complete; changes begin after it
//   registry                        the registry values are being written
//   entries <hash> <size>           the new database, seeded, is going into place
//   links                           the group's links are being written
//   committed                       the update is complete; what it kept may go
//
// Every byte read back is untrusted: a journal that does not parse is refused whole, and a
// last line without its line feed (an append cut off) does not count.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/Registry.h"

struct TJournalFile {
  std::wstring Name;
  bool ReplacesOld = false;
  bool operator==(const TJournalFile& other) const {
    return Name == other.Name && ReplacesOld == other.ReplacesOld;
  }
};

struct TJournalValue {
  std::wstring Name;
  bool Existed = false;
  TRegistryValue Before;  // as it was, when it was there
  bool operator==(const TJournalValue& other) const {
    return Name == other.Name && Existed == other.Existed && Before == other.Before;
  }
};

struct TJournalKey {
  std::wstring Path;
  bool Existed = false;
  std::vector<TJournalValue> Values;
  bool operator==(const TJournalKey& other) const {
    return Path == other.Path && Existed == other.Existed && Values == other.Values;
  }
};

// What a new database holds as it goes into place: its size and a hash of its bytes.
struct TContentMark {
  uint64_t Hash = 0;
  uint64_t Size = 0;
  bool operator==(const TContentMark& other) const {
    return Hash == other.Hash && Size == other.Size;
  }
};

struct TUpdateJournal {
  // The plan.
  std::wstring Folder;
  std::vector<TJournalFile> Files;
  std::optional<TJournalFile> Database;
  std::vector<TJournalKey> Keys;
  std::wstring GroupFolder;
  bool GroupExisted = false;
  std::vector<std::wstring> GroupLinks;
  // The progress.
  bool Planned = false;
  bool RegistryStarted = false;
  std::optional<TContentMark> DatabaseContent;
  bool LinksStarted = false;
  bool Committed = false;

  bool operator==(const TUpdateJournal& other) const;
};

// The plan's text, "planned" included.
std::string JournalText(const TUpdateJournal& journal);

// The progress lines.
inline constexpr char JournalRegistryLine[] = "registry\n";
inline constexpr char JournalLinksLine[] = "links\n";
inline constexpr char JournalCommittedLine[] = "committed\n";
std::string JournalEntriesLine(const TContentMark& content);

// The journal the bytes hold; nothing when they are not one.
std::optional<TUpdateJournal> ParseJournal(std::string_view bytes);

// The largest journal read back: a plan of a few hundred files and two keys is far below it.
inline constexpr size_t MaxJournalBytes = 1 << 20;

// True for a name that stands for one entry directly in a folder: not empty, not "." or
// "..", no separator, colon or control character.
bool IsPlainName(std::wstring_view name);

// The mark of bytes given piece by piece: their size and their 64-bit FNV-1a hash.
class TContentHasher {
 public:
  void Add(std::string_view bytes);
  TContentMark Mark() const { return Mark_; }

 private:
  TContentMark Mark_{0xcbf29ce484222325ull, 0};
};
