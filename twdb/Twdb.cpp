#include "twdb/Twdb.h"

#include <filesystem>
#include <istream>
#include <iterator>
#include <limits>
#include <optional>
#include <ostream>
#include <span>

#include "base/Text.h"
#include "twdb/Usage.h"

namespace {

// Ends a command with a one-line message on the error stream.
struct Failure {
  int Exit;
  std::string Message;
};

[[noreturn]] void Fail(std::string message) { throw Failure{ExitFailed, std::move(message)}; }
[[noreturn]] void Refuse(std::string message) { throw Failure{ExitDamaged, std::move(message)}; }
[[noreturn]] void Misuse(std::string message) { throw Failure{ExitUsage, std::move(message)}; }

// Keeps the store's complaints (inflate errors, fatal block-file reports) for the error
// line instead of letting them reach the terminal on their own.
class CollectingReporter final : public TStoreReporter {
 public:
  void InflateError(const std::string& text) override { Texts.push_back(text); }
  void FatalError(const std::string& text) override { Texts.push_back(text); }
  std::vector<std::string> Texts;
};

class ReporterInstalled {
 public:
  explicit ReporterInstalled(TStoreReporter& reporter) : Previous(SetStoreReporter(&reporter)) {}
  ~ReporterInstalled() { SetStoreReporter(Previous); }
  ReporterInstalled(const ReporterInstalled&) = delete;
  ReporterInstalled& operator=(const ReporterInstalled&) = delete;

 private:
  TStoreReporter* Previous;
};

// Whether writes wait for the disk, for the time of one command.
class FlushingSet {
 public:
  explicit FlushingSet(bool flush) : Previous(FlushWrites()) { SetFlushWrites(flush); }
  ~FlushingSet() { SetFlushWrites(Previous); }
  FlushingSet(const FlushingSet&) = delete;
  FlushingSet& operator=(const FlushingSet&) = delete;

 private:
  bool Previous;
};

using Components = std::span<const std::string>;

std::string DisplayPath(const FilePath& path) {
  const std::u8string text = std::filesystem::path(path).u8string();
  return std::string(text.begin(), text.end());
}

std::string DisplayEntry(Components components) {
  std::string text;
  for (const auto& component : components) text += (text.empty() ? "" : "/") + component;
  return text.empty() ? "the root index" : text;
}

// The store's form of an entry path: the components separated by the byte 0xFF.
std::string EntryPath(Components components) {
  std::string path;
  for (const auto& component : components) path += (path.empty() ? "" : "\xFF") + component;
  return path;
}

// A name a block can hold and a path can carry: not empty, no line end, zero byte or the
// path separator 0xFF (which would split it into two components).
void RequireStorableName(const std::string& name) {
  if (name.empty()) Misuse("empty name");
  if (name.find('\xFF') != std::string::npos || !StorableName(name))
    Misuse("the name \"" + name + "\" holds a line end, a zero byte or the byte 0xFF");
}

void RequireStorablePath(Components components) {
  for (const auto& component : components) RequireStorableName(component);
}

// Setting lines are "name=value" in a line list, so neither part may break a line and the
// name may not hold the "=" that ends it.
void RequireSettingText(const std::string& name, const std::string* value) {
  if (name.empty()) Misuse("empty setting name");
  if (name.find_first_of("=\r\n") != std::string::npos)
    Misuse("a setting name may not hold \"=\" or a line end");
  if (value && value->find_first_of("\r\n") != std::string::npos)
    Misuse("a setting value may not hold a line end");
}

std::string WhyFailed(int status) {
  switch (status) {
    case StatusWrite: return "write error";
    case StatusRead: return "read error or damaged file";
    case StatusSeek: return "seek error or an entry path the store does not accept";
    case StatusOpen: return LastOpenError();
    default: return StatusText(status);
  }
}

class Command {
 public:
  Command(const TwdbCommandLine& line, std::istream& in, std::ostream& out)
      : Line(line), In(in), Out(out), Database(line.Database) {}

  void Ls();
  void Get();
  void Put();
  void Rm();
  void Rename();
  void GetSetting();
  void SetSetting();
  void Check();
  void Dump();
  // Before a command writes: refuses a damaged file, unless --force was given.
  void RequireSoundFile() const;

  CollectingReporter Reporter;

 private:
  bool DatabaseExists() const;
  void RequireDatabase() const;
  // Opens the existing file for reading and refuses it when opening found it damaged.
  std::unique_ptr<TStoreInspector> OpenSound() const;
  std::string Unreadable(const TStoreInspector& store) const;
  // The child `components` name, or nothing when it (or an index on the way) is missing.
  // Fails when the path runs through an entry or the file is damaged.
  std::optional<TStoreChild> Locate(TStoreInspector& store, Components components) const;
  // Fails when the child found is an index: the command works on entries only.
  static void RefuseIndex(const std::optional<TStoreChild>& child, Components components);
  std::vector<TStoreChild> ListIndex(TStoreInspector& store, Components components) const;
  // Ends with a failure when a store operation gave a status other than 0.
  void RequireDone(int status, const std::string& what) const;
  std::string StoreComplaint() const;

  const TwdbCommandLine& Line;
  std::istream& In;
  std::ostream& Out;
  const FilePath& Database;
};

bool Command::DatabaseExists() const {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(Database), error);
}

void Command::RequireDatabase() const {
  if (!DatabaseExists()) Fail(DisplayPath(Database) + ": no such file");
}

std::string Command::Unreadable(const TStoreInspector& store) const {
  if (!store.OpenError().empty()) return store.OpenError();
  return DisplayPath(Database) + " is damaged or not a database: " + store.DamageText();
}

std::unique_ptr<TStoreInspector> Command::OpenSound() const {
  RequireDatabase();
  auto store = std::make_unique<TStoreInspector>(Database);
  if (store->Status() != 0) Fail(Unreadable(*store));
  return store;
}

const TStoreChild* FindChild(const std::vector<TStoreChild>& children, const std::string& name) {
  for (const auto& child : children)
    if (SameTextLocale(child.Name, name)) return &child;
  return nullptr;
}

void Command::RefuseIndex(const std::optional<TStoreChild>& child, Components components) {
  if (child && child->Kind == TDataBuf::KindIndex)
    Fail(DisplayEntry(components) + " is an index, not an entry");
}

std::optional<TStoreChild> Command::Locate(TStoreInspector& store, Components components) const {
  std::vector<TStoreChild> children;
  for (size_t depth = 0; depth < components.size(); ++depth) {
    if (!store.List({components.begin(), components.begin() + depth}, children))
      Fail(Unreadable(store));
    const TStoreChild* child = FindChild(children, components[depth]);
    if (!child) return std::nullopt;
    if (depth + 1 == components.size()) return *child;
    if (child->Kind != TDataBuf::KindIndex)
      Fail(DisplayEntry(components.first(depth + 1)) + " is an entry, not an index");
  }
  return std::nullopt;
}

std::vector<TStoreChild> Command::ListIndex(TStoreInspector& store, Components components) const {
  if (!components.empty()) {
    const auto index = Locate(store, components);
    if (!index) Fail("no index " + DisplayEntry(components));
    if (index->Kind != TDataBuf::KindIndex) Fail(DisplayEntry(components) + " is not an index");
  }
  std::vector<TStoreChild> children;
  if (!store.List({components.begin(), components.end()}, children)) Fail(Unreadable(store));
  return children;
}

std::string Command::StoreComplaint() const {
  return Reporter.Texts.empty() ? "" : " (" + Reporter.Texts.front() + ")";
}

void Command::RequireDone(int status, const std::string& what) const {
  if (status != 0) Fail(what + ": " + WhyFailed(status) + StoreComplaint());
}

const char* KindName(uint8_t kind) {
  switch (kind) {
    case TDataBuf::KindIndex: return "index";
    case TDataBuf::KindEntry: return "entry";
    default: return "empty";
  }
}

void Command::Ls() {
  const auto store = OpenSound();
  for (const auto& child : ListIndex(*store, Line.Operands))
    Out << child.Name << '\t' << KindName(child.Kind) << '\t' << child.StoredLength << '\n';
}

void Command::Get() {
  const Components path = Line.Operands;
  const auto store = OpenSound();
  const auto entry = Locate(*store, path);
  if (!entry) Fail("no entry " + DisplayEntry(path));
  RefuseIndex(entry, path);
  std::string bytes;
  if (entry->Offset != -1 && !store->ReadEntryBytes(Line.Operands, bytes))
    Fail("cannot read " + DisplayEntry(path) + StoreComplaint());
  Out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadAll(std::istream& in) {
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Command::Put() {
  const Components path = Line.Operands;
  RequireStorablePath(path);
  if (DatabaseExists()) {
    // Found here, these give a clearer message than the store's bare status code.
    const auto store = OpenSound();
    RefuseIndex(Locate(*store, path), path);
  }
  const std::string data = ReadAll(In);
  if (data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2))
    Fail("the data is too long for one entry");
  TDataBuf buffer(data.data(), static_cast<int32_t>(data.size()));
  RequireDone(WriteEntry(EntryPath(path), &buffer, Database), "cannot write " + DisplayEntry(path));
}

void Command::Rm() {
  const Components path = Line.Operands;
  {
    const auto store = OpenSound();
    const auto entry = Locate(*store, path);
    if (!entry) Fail("no entry " + DisplayEntry(path));
    RefuseIndex(entry, path);  // deleting an index would strand every block below it
  }
  RequireDone(WriteEntry(EntryPath(path), nullptr, Database), "cannot delete " + DisplayEntry(path));
}

void Command::Rename() {
  const Components path = Components(Line.Operands).first(Line.Operands.size() - 1);
  const std::string& newName = Line.Operands.back();
  RequireStorableName(newName);
  {
    const auto store = OpenSound();
    const auto child = Locate(*store, path);
    if (!child) Fail("no entry " + DisplayEntry(path));
    // The store renames in place without looking for the new name; two children of one
    // name would hide the second for good.
    const auto siblings = ListIndex(*store, path.first(path.size() - 1));
    const TStoreChild* clash = FindChild(siblings, newName);
    if (clash && clash->Offset != child->Offset)
      Fail("\"" + newName + "\" is already present beside " + DisplayEntry(path));
  }
  RequireDone(RenameEntry(EntryPath(path), newName, Database), "cannot rename " + DisplayEntry(path));
}

void Command::GetSetting() {
  const std::string& name = Line.Operands[0];
  const std::string* fallback = Line.Operands.size() > 1 ? &Line.Operands[1] : nullptr;
  RequireSettingText(name, nullptr);
  {
    const auto store = OpenSound();
    ListIndex(*store, {});
  }
  const std::string value = GetInitValue(name, fallback ? *fallback : "", Database);
  if (value.empty() && !fallback) Fail("no setting " + name);
  Out << value << '\n';
}

void Command::SetSetting() {
  const std::string& name = Line.Operands[0];
  const std::string& value = Line.Operands[1];
  RequireSettingText(name, &value);
  if (DatabaseExists()) OpenSound();
  RequireDone(SetInitValue(name, value, Database), "cannot set " + name);
}

std::string Describe(const TStoreProblem& problem) {
  return problem.Text + " (offset " + std::to_string(problem.Offset) + ")";
}

void Command::RequireSoundFile() const {
  if (Line.Force) return;
  if (const auto problem = CheckDatabase(Database))
    Refuse(DisplayPath(Database) + " is damaged, nothing written: " + Describe(*problem) +
           "; " + kForceOption + " writes anyway");
}

// A hidden child's path, its empty name shown as "".
std::string DisplayHidden(const std::vector<std::string>& path) {
  std::string text;
  for (const auto& name : path) text += (text.empty() ? "" : "/") + (name.empty() ? "\"\"" : name);
  return text;
}

void PrintHidden(std::ostream& out, const TStoreHiddenChild& hidden) {
  out << "hidden child " << DisplayHidden(hidden.Path) << ": " << KindName(hidden.Child.Kind)
      << " at offset " << hidden.Child.Offset << ", "
      << (hidden.Child.Name.empty() ? "its name is empty"
                                    : "an earlier child of the same name comes first")
      << '\n';
}

void Command::Check() {
  RequireDatabase();
  TStoreInspector store(Database);
  if (!store.OpenError().empty()) Fail(store.OpenError());
  const std::vector<TStoreProblem> problems = store.Check();
  for (const auto& problem : problems) Out << Describe(problem) << '\n';
  const std::vector<TStoreHiddenChild> hidden = store.HiddenChildren();
  for (const auto& child : hidden) PrintHidden(Out, child);
  if (!problems.empty())
    Fail(DisplayPath(Database) + " is damaged: " + std::to_string(problems.size()) + " problem(s)");
  Out << DisplayPath(Database) << ": sound";
  if (!hidden.empty())
    Out << "; hidden children: " << hidden.size()
        << " (no path reaches them; every write keeps them)";
  Out << '\n';
}

void PrintChild(std::ostream& out, int depth, const TStoreChild& child) {
  out << std::string(2 * static_cast<size_t>(depth) + 2, ' ') << child.Name << "  "
      << KindName(child.Kind) << "  block " << child.Offset << " length " << child.BlockLength;
  if (child.Kind != 255)
    out << "  stored " << child.StoredLength << (child.Compressed == 1 ? " zlib" : " uncompressed")
        << "  plain length " << child.PlainLength;
  out << '\n';
}

void Command::Dump() {
  const auto store = OpenSound();
  Out << "file " << DisplayPath(Database) << ": " << store->FileSize() << " bytes, anchor block "
      << store->AnchorOffset() << ", root index block " << store->RootOffset()
      << ", end offset " << store->EndOffset() << '\n';
  const std::vector<TStoreExtent> free = store->FreeExtents();
  Out << "free list at " << store->EndOffset() << ": " << free.size() << " extent(s)\n";
  for (const TStoreExtent& extent : free)
    Out << "  extent " << extent.Offset << " length " << extent.Length << '\n';
  Out << "tree:\n";
  store->Walk([this](int depth, const TStoreChild& child) { PrintChild(Out, depth, child); });
  if (store->Status() != 0) Fail(Unreadable(*store));
}

struct CommandSpec {
  const char* Name;
  size_t MinOperands;
  size_t MaxOperands;
  bool Writes;
  void (Command::*Run)();
};

constexpr size_t kAny = std::numeric_limits<size_t>::max();

constexpr CommandSpec kCommands[] = {
    {"ls", 0, kAny, false, &Command::Ls},
    {"get", 1, kAny, false, &Command::Get},
    {"put", 1, kAny, true, &Command::Put},
    {"rm", 1, kAny, true, &Command::Rm},
    {"rename", 2, kAny, true, &Command::Rename},
    {"get-setting", 1, 2, false, &Command::GetSetting},
    {"set-setting", 2, 2, true, &Command::SetSetting},
    {"check", 0, 0, false, &Command::Check},
    {"dump", 0, 0, false, &Command::Dump},
};

const CommandSpec& FindCommand(const TwdbCommandLine& line) {
  for (const auto& spec : kCommands) {
    if (line.Command != spec.Name) continue;
    if (!line.HasDatabase) Misuse(line.Command + ": no database file given");
    if (line.Operands.size() < spec.MinOperands || line.Operands.size() > spec.MaxOperands)
      Misuse(line.Command + ": wrong number of arguments");
    if (line.Force && !spec.Writes)
      Misuse(line.Command + " does not write: " + kForceOption + " does not apply");
    if (line.NoSync && !spec.Writes)
      Misuse(line.Command + " does not write: " + kNoSyncOption + " does not apply");
    return spec;
  }
  Misuse(line.Command.empty() ? "no command given" : "unknown command \"" + line.Command + "\"");
}

}  // namespace

int RunTwdb(const TwdbCommandLine& line, std::istream& in, std::ostream& out, std::ostream& err) {
  if (line.Command == "--help" || line.Command == "-h") {
    out << kUsageText;
    return ExitOk;
  }
  try {
    const CommandSpec& spec = FindCommand(line);
    Command command(line, in, out);
    ReporterInstalled installed(command.Reporter);
    FlushingSet flushing(!line.NoSync);
    std::string unopened;
    if (RestoreDatabase(line.Database, &unopened))
      err << "twdb: " << DisplayPath(line.Database)
          << ": restored as it was before a write that did not finish\n";
    if (!unopened.empty()) Fail(unopened);
    if (spec.Writes) command.RequireSoundFile();
    (command.*spec.Run)();
    return ExitOk;
  } catch (const Failure& failure) {
    err << "twdb: " << failure.Message
        << (failure.Exit == ExitUsage ? " (see \"twdb --help\")\n" : "\n");
    return failure.Exit;
  }
}
