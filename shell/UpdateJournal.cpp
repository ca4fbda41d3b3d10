#include "shell/UpdateJournal.h"

#include "base/WideText.h"

namespace {

const char kMagic[] = "TWSetup journal 1\n";
const char kHexDigits[] = "0123456789abcdef";

void AddField(std::string& line, std::string_view field) {
  line += '\t';
  line += field;
}

void AddField(std::string& line, const std::wstring& field) { AddField(line, Utf8FromWide(field)); }

void AddFlag(std::string& line, bool old) { line += old ? "\told\n" : "\tnew\n"; }

std::string Hex(std::string_view bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    text += kHexDigits[c >> 4];
    text += kHexDigits[c & 15];
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool FromHex(std::string_view text, std::string& bytes) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

bool Number(std::string_view text, unsigned base, uint64_t& value) {
  if (text.empty() || text.size() > (base == 16 ? 16u : 19u)) return false;
  value = 0;
  for (char c : text) {
    const int digit = base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (digit < 0) return false;
    value = value * base + static_cast<unsigned>(digit);
  }
  return true;
}

bool OldFlag(std::string_view text, bool& old) {
  old = text == "old";
  return old || text == "new";
}

// A path or name field: not empty, no control characters (no path or name holds one).
bool TextField(std::string_view field, std::wstring& text) {
  if (field.empty()) return false;
  for (char c : field)
    if (static_cast<unsigned char>(c) < 32) return false;
  text = WideFromUtf8(field);
  return true;
}

bool NameField(std::string_view field, std::wstring& name) {
  return TextField(field, name) && IsPlainName(name);
}

// The fields of one line, split at tabs.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (size_t tab; (tab = line.find('\t')) != std::string_view::npos; line.remove_prefix(tab + 1))
    fields.push_back(line.substr(0, tab));
  fields.push_back(line);
  return fields;
}

// A file of the plan, or its one new database.
bool ReadFileRecord(const std::vector<std::string_view>& f, TUpdateJournal& journal, bool database) {
  TJournalFile file;
  if (f.size() != 3 || (database && journal.Database) || !NameField(f[1], file.Name) ||
      !OldFlag(f[2], file.ReplacesOld))
    return false;
  if (database)
    journal.Database = file;
  else
    journal.Files.push_back(file);
  return true;
}

bool ReadKey(const std::vector<std::string_view>& f, TUpdateJournal& journal) {
  TJournalKey key;
  return f.size() == 3 && TextField(f[1], key.Path) && OldFlag(f[2], key.Existed) &&
         (journal.Keys.push_back(key), true);
}

// A value belongs to the key named just before it: "-" when it was not there, else its
// type and bytes.
bool ReadValue(const std::vector<std::string_view>& f, TUpdateJournal& journal) {
  TJournalValue value;
  std::wstring path;
  uint64_t type = 0;
  if (f.size() < 4 || journal.Keys.empty() || !TextField(f[1], path) ||
      path != journal.Keys.back().Path || !TextField(f[2], value.Name))
    return false;
  value.Existed = f.size() == 5;
  if (value.Existed ? !Number(f[3], 10, type) || type > 0xFFFFFFFFu || !FromHex(f[4], value.Before.Bytes)
                    : f.size() != 4 || f[3] != "-")
    return false;
  value.Before.Type = static_cast<DWORD>(type);
  journal.Keys.back().Values.push_back(value);
  return true;
}

bool ReadGroup(const std::vector<std::string_view>& f, TUpdateJournal& journal) {
  return f.size() == 3 && journal.GroupFolder.empty() && TextField(f[1], journal.GroupFolder) &&
         OldFlag(f[2], journal.GroupExisted);
}

bool ReadLink(const std::vector<std::string_view>& f, TUpdateJournal& journal) {
  std::wstring name;
  return f.size() == 2 && !journal.GroupFolder.empty() && NameField(f[1], name) &&
         (journal.GroupLinks.push_back(name), true);
}

bool ReadPlan(const std::vector<std::string_view>& f, TUpdateJournal& journal) {
  const std::string_view tag = f[0];
  if (tag == "folder") return f.size() == 2 && journal.Folder.empty() && TextField(f[1], journal.Folder);
  if (tag == "file" || tag == "database") return ReadFileRecord(f, journal, tag == "database");
  if (tag == "key") return ReadKey(f, journal);
  if (tag == "value") return ReadValue(f, journal);
  if (tag == "group") return ReadGroup(f, journal);
  if (tag == "link") return ReadLink(f, journal);
  return tag == "planned" && f.size() == 1 && (journal.Planned = true);
}

// A progress record, in the order the update makes them; nothing follows "committed".
bool ReadProgress(const std::vector<std::string_view>& f, TUpdateJournal& journal) {
  const std::string_view tag = f[0];
  uint64_t hash = 0, size = 0;
  if (journal.Committed) return false;
  if (tag == "entries")
    return f.size() == 3 && journal.Database && !journal.DatabaseContent &&
           Number(f[1], 16, hash) && Number(f[2], 10, size) &&
           (journal.DatabaseContent = TContentMark{hash, size}, true);
  if (f.size() != 1) return false;
  if (tag == "registry") return journal.RegistryStarted = true;
  if (tag == "links") return journal.LinksStarted = true;
  return tag == "committed" && (journal.Committed = true);
}

}  // namespace

bool TUpdateJournal::operator==(const TUpdateJournal& other) const {
  return Folder == other.Folder && Files == other.Files && Database == other.Database &&
         Keys == other.Keys && GroupFolder == other.GroupFolder &&
         GroupExisted == other.GroupExisted && GroupLinks == other.GroupLinks &&
         Planned == other.Planned && RegistryStarted == other.RegistryStarted &&
         DatabaseContent == other.DatabaseContent && LinksStarted == other.LinksStarted &&
         Committed == other.Committed;
}

std::string JournalText(const TUpdateJournal& journal) {
  std::string text = kMagic;
  text += "folder";
  AddField(text, journal.Folder);
  text += '\n';
  for (const TJournalFile& file : journal.Files) {
    text += "file";
    AddField(text, file.Name);
    AddFlag(text, file.ReplacesOld);
  }
  if (journal.Database) {
    text += "database";
    AddField(text, journal.Database->Name);
    AddFlag(text, journal.Database->ReplacesOld);
  }
  for (const TJournalKey& key : journal.Keys) {
    text += "key";
    AddField(text, key.Path);
    AddFlag(text, key.Existed);
    for (const TJournalValue& value : key.Values) {
      text += "value";
      AddField(text, key.Path);
      AddField(text, value.Name);
      if (!value.Existed) {
        text += "\t-\n";
        continue;
      }
      AddField(text, DecimalText(value.Before.Type));
      AddField(text, Hex(value.Before.Bytes));
      text += '\n';
    }
  }
  if (!journal.GroupFolder.empty()) {
    text += "group";
    AddField(text, journal.GroupFolder);
    AddFlag(text, journal.GroupExisted);
    for (const std::wstring& link : journal.GroupLinks) {
      text += "link";
      AddField(text, link);
      text += '\n';
    }
  }
  return text + "planned\n";
}

std::string JournalEntriesLine(const TContentMark& content) {
  std::string line = "entries\t";
  for (int shift = 60; shift >= 0; shift -= 4) line += kHexDigits[(content.Hash >> shift) & 15];
  AddField(line, DecimalText(content.Size));
  return line + '\n';
}

std::optional<TUpdateJournal> ParseJournal(std::string_view bytes) {
  const std::string_view magic = kMagic;
  if (bytes.size() > MaxJournalBytes || bytes.substr(0, magic.size()) != magic) return std::nullopt;
  bytes.remove_prefix(magic.size());
  TUpdateJournal journal;
  // Only whole lines count: the last one, cut off by a crash, is no record.
  for (size_t end; (end = bytes.find('\n')) != std::string_view::npos; bytes.remove_prefix(end + 1)) {
    const std::vector<std::string_view> fields = Fields(bytes.substr(0, end));
    if (!(journal.Planned ? ReadProgress(fields, journal) : ReadPlan(fields, journal)))
      return std::nullopt;
  }
  if (journal.Folder.empty()) return std::nullopt;
  return journal;
}

bool IsPlainName(std::wstring_view name) {
  if (name.empty() || name == L"." || name == L".." || name.size() > MAX_PATH) return false;
  for (wchar_t c : name)
    if (c < 32 || c == L'\\' || c == L'/' || c == L':') return false;
  return true;
}

void TContentHasher::Add(std::string_view bytes) {
  for (unsigned char c : bytes) Mark_.Hash = (Mark_.Hash ^ c) * 0x100000001b3ull;
  Mark_.Size += bytes.size();
}
