// Fuzz target: the input is a whole database image, opened through a memory stream.
// It is inspected read-only (check, walk, every entry read), every entry is read through the
// entry operations, and entries are written through them. Besides
// crashes and sanitizer reports, it aborts when the store breaks one of its promises:
// - every child of a sound image (no problem found by the check) is either readable by its
//   path or hidden (an empty name, or behind an earlier child of the same name), and every
//   entry, hidden or not, reads from its block;
// - every write ends refused with no byte changed, or accepted with the written entry
//   reading back;
// - a write accepted into a sound image leaves it sound, and loses no child of either kind:
//   every other entry reads the same from its block, every index is still one;
// - a new entry at the root of any image keeps every entry that read before reading the
//   same: every reader walks through the root block, so no entry can share the blocks such
//   a write releases;
// - an accepted write stopped at one of its writes (the image chooses which, and whether as
//   a crash, half written, or as a power cut that loses what the disk was not told to keep)
//   leaves, once the store opens the image again, exactly the image before it or exactly
//   the one after it, byte for byte, and no journal that holds a write.
// (A write deeper into a damaged image is checked along its own path only: an index off
// the path that names a block the write releases is found by the whole-file check, which
// writers run first.)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "filestore/FileMan.h"
#include "filestore/StoreInternal.h"
#include "tests/native/filestore_crash_stream.h"

namespace {

using EntryPath = std::vector<std::string>;
using Contents = std::map<std::string, std::string>;  // entry path (0xFF-separated), bytes

// The store's complaints about damaged images are expected here by the thousand.
class SilentReporter final : public TStoreReporter {
 public:
  void InflateError(const std::string&) override {}
  void FatalError(const std::string&) override {}
};

void Require(bool holds, const char* promise) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

// One child of the tree as the walk meets it. Its address tells namesakes apart: per level,
// the lower-cased name and how many earlier children of that index match it.
struct TreeChild {
  EntryPath Path;
  std::string Address;
  bool Hidden = false;  // it, or an index above it, has an empty name or an earlier namesake
  bool HiddenHere = false;  // by its own name, below no hidden index
  uint8_t Kind = TDataBuf::KindNone;
  bool Read = false;  // entries: read from their block, into Bytes
  std::string Bytes;
};

std::string AddressOf(const EntryPath& path, const std::vector<int>& ranks) {
  std::string address;
  for (size_t k = 0; k < path.size(); ++k)
    address += LocaleLower(path[k]) + '\0' + std::to_string(ranks[k]) + '\1';
  return address;
}

std::vector<TreeChild> Tree(TStoreInspector& inspector) {
  std::vector<TreeChild> tree;
  EntryPath path;
  std::vector<int> ranks;
  std::vector<bool> hidden;
  std::vector<std::map<std::string, int>> met;  // per depth: the names met so far, how often
  inspector.Walk([&](int depth, const TStoreChild& child) {
    const auto level = static_cast<size_t>(depth);
    if (level == met.size()) met.emplace_back();  // the first child of an index
    met.resize(level + 1);
    path.resize(level);
    ranks.resize(level);
    hidden.resize(level);
    path.push_back(child.Name);
    ranks.push_back(met[level][LocaleLower(child.Name)]++);
    const bool above = level > 0 && hidden[level - 1];
    const bool here = child.Name.empty() || ranks.back() > 0;
    hidden.push_back(above || here);
    TreeChild node{path, AddressOf(path, ranks), above || here, here && !above, child.Kind,
                   false, {}};
    if (child.Kind == TDataBuf::KindEntry) node.Read = inspector.ReadChildBytes(child, node.Bytes);
    tree.push_back(std::move(node));
  });
  return tree;
}

std::string Joined(const EntryPath& path) {
  std::string joined;
  for (const auto& component : path) joined += (joined.empty() ? "" : "\xFF") + component;
  return joined;
}

// An entry path reaches exactly the child it names when no component is empty or holds the
// separator, and it is no deeper than a walk may go.
bool Addressable(const EntryPath& path) {
  if (path.empty() || path.size() > 16) return false;
  for (const auto& component : path)
    if (component.empty() || component.find('\xFF') != std::string::npos) return false;
  return true;
}

// What the entry operations read through the path of every entry that a path reaches (the
// path of a hidden one reaches an earlier namesake).
Contents ReadAll(const std::string& image, const std::vector<TreeChild>& tree) {
  Contents contents;
  for (const auto& child : tree) {
    if (child.Kind != TDataBuf::KindEntry || child.Hidden || !Addressable(child.Path)) continue;
    TMemoryStream stream(image);
    TDataBuf buffer;
    if (ReadEntry(Joined(child.Path), buffer, stream) == 0)
      contents[Joined(child.Path)] = buffer.AsString();
  }
  return contents;
}

struct Inspection {
  bool Sound = false;       // no problem in the blocks (what writers check)
  bool WhollySound = false;  // nor in any entry's compressed contents
  std::vector<TreeChild> Tree;
};

// Inspects the image read-only.
Inspection InspectImage(const std::string& image) {
  Inspection result;
  TMemoryStream stream(image);
  {
    TStoreInspector inspector(stream);
    result.Sound = !CheckDatabase(stream);
    result.WhollySound = result.Sound && inspector.Check().empty();
    std::vector<TStoreChild> children;
    inspector.List({}, children);
    result.Tree = Tree(inspector);
    std::vector<EntryPath> listed, expected;
    for (const auto& hidden : inspector.HiddenChildren()) listed.push_back(hidden.Path);
    for (const auto& child : result.Tree)
      if (child.HiddenHere) expected.push_back(child.Path);
    Require(listed == expected, "the inspector lists every hidden child once");
  }
  Require(stream.Bytes == image, "inspection never writes");
  return result;
}

// In a sound image every entry reads from its block, and every child that is not hidden
// reads through its path: an index lists, an entry gives the same bytes.
void RequireReadable(const std::string& image, const Inspection& inspection) {
  if (!inspection.WhollySound) return;
  for (const auto& child : inspection.Tree) {
    if (child.Kind == TDataBuf::KindEntry)
      Require(child.Read, "every entry of a sound image reads from its block");
    if (child.Hidden || !Addressable(child.Path)) continue;
    if (child.Kind == TDataBuf::KindIndex) {
      TMemoryStream stream(image);
      TStoreInspector inspector(stream);
      std::vector<TStoreChild> children;
      Require(inspector.List(child.Path, children),
              "every index of a sound image that is not hidden lists through its path");
    }
    if (child.Kind != TDataBuf::KindEntry) continue;
    TMemoryStream stream(image);
    TDataBuf buffer;
    Require(ReadEntry(Joined(child.Path), buffer, stream) == 0 && buffer.AsString() == child.Bytes,
            "every child of a sound image that is not hidden reads through its path");
  }
}

std::string ProbeBytes(const std::string& image) {
  return image.substr(image.size() > 40 ? image.size() - 40 : 0);
}

// The path of a new entry in the index at `parent`: a name none of its children holds.
EntryPath NewEntryIn(const EntryPath& parent, const Inspection& image) {
  EntryPath path = parent;
  path.push_back("FuzzProbe");
  for (bool taken = true; taken;) {
    taken = false;
    for (const auto& other : image.Tree)
      taken = taken || (other.Path.size() == path.size() &&
                        std::equal(parent.begin(), parent.end(), other.Path.begin()) &&
                        SameTextLocale(other.Path.back(), path.back()));
    if (taken) path.back() += "~";
  }
  return path;
}

// After a write into a sound image at `written`: every other child is still there, each
// entry reading the same from its block and each index still one.
void RequireNothingLost(const Inspection& before, TMemoryStream& stream, const EntryPath& written) {
  TStoreInspector inspector(stream);
  std::map<std::string, const TreeChild*> after;
  const std::vector<TreeChild> tree = Tree(inspector);
  for (const auto& child : tree) after[child.Address] = &child;
  const std::string writtenAddress = AddressOf(written, std::vector<int>(written.size(), 0));
  for (const auto& child : before.Tree) {
    if (child.Address == writtenAddress) continue;
    const auto found = after.find(child.Address);
    Require(found != after.end(), "a write into a sound image loses no child, hidden or not");
    if (child.Kind == TDataBuf::KindIndex)
      Require(found->second->Kind == TDataBuf::KindIndex, "a write keeps every index an index");
    if (child.Kind == TDataBuf::KindEntry)
      Require(found->second->Kind == TDataBuf::KindEntry && found->second->Read == child.Read &&
                  found->second->Bytes == child.Bytes,
              "a write keeps every other entry, hidden or not, as it was");
  }
}

// The write of `bytes` at `path` into the image, which made `writes` writes and left
// `after`, stopped at the write the image chooses.
void CrashAndCheck(const std::string& image, const EntryPath& path, const std::string& bytes,
                   const std::string& after, int writes) {
  uint32_t choice = 0;
  for (const char byte : image) choice = choice * 131 + static_cast<uint8_t>(byte);
  const int crashAt = 1 + static_cast<int>(choice % static_cast<uint32_t>(writes));
  const auto how = static_cast<storetest::TCrash>(
      choice / static_cast<uint32_t>(writes) % (static_cast<uint32_t>(storetest::TCrash::PowerCut) + 1));
  TMemoryStream stream(image);
  storetest::TCrashStream crashing(stream, crashAt, how);
  TDataBuf buffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  WriteEntry(Joined(path), &buffer, crashing);
  Require(crashing.Dead(), "a write makes the same writes every time");
  { TStoreInspector reopened(stream); }
  Require(!store::JournalPending(stream.JournalFile) && (stream.Bytes == image || stream.Bytes == after),
          "a write stopped at any of its writes leaves the image as before or as after");
}

// Writes `bytes` at `path` into a copy of the image and holds the outcome to the promises.
// `keepsOthers`: every entry that read before through its path must read the same afterwards.
void WriteAndCheck(const std::string& image, const Inspection& before, const Contents& contents,
                   const EntryPath& path, bool keepsOthers) {
  const std::string bytes = ProbeBytes(image);
  TMemoryStream stream(image);
  storetest::TCrashStream counted(stream, 0, storetest::TCrash::Stop);
  TDataBuf buffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  const int status = WriteEntry(Joined(path), &buffer, counted);
  if (status != 0) {
    Require(stream.Bytes == image && !stream.JournalFile.Bytes,
            "a refused write changes no byte");
    Require(!before.Sound, "a sound image accepts every write");
    return;
  }
  CrashAndCheck(image, path, bytes, stream.Bytes, counted.Writes());
  TDataBuf read;
  Require(ReadEntry(Joined(path), read, stream) == 0 && read.AsString() == bytes,
          "an accepted write stores exactly the bytes written");
  if (before.Sound) {
    Require(!CheckDatabase(stream).has_value(), "a write into a sound image leaves it sound");
    RequireNothingLost(before, stream, path);
  }
  if (!keepsOthers && !before.Sound) return;
  for (const auto& [entry, value] : contents) {
    if (entry == Joined(path)) continue;
    TDataBuf again;
    Require(ReadEntry(entry, again, stream) == 0 && again.AsString() == value,
            "an accepted write keeps every entry that read before");
  }
}

// The first child of `kind` that a path reaches, if any.
const TreeChild* FirstReachable(const Inspection& image, uint8_t kind, size_t maxDepth) {
  for (const auto& child : image.Tree)
    if (child.Kind == kind && !child.Hidden && Addressable(child.Path) &&
        child.Path.size() <= maxDepth)
      return &child;
  return nullptr;
}

// The index that holds the first hidden child, when it lies below the root and a path
// reaches it. It does: the walk meets a hidden index before the children hidden with it.
std::optional<EntryPath> IndexOfFirstHidden(const Inspection& image) {
  for (const auto& child : image.Tree) {
    if (!child.Hidden) continue;
    EntryPath parent(child.Path.begin(), child.Path.end() - 1);
    if (parent.empty() || !Addressable(parent) || parent.size() > 15) return std::nullopt;
    return parent;
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentReporter silent;
  SetStoreReporter(&silent);
  const std::string image(reinterpret_cast<const char*>(data), size);

  const Inspection before = InspectImage(image);
  RequireReadable(image, before);
  const Contents contents = ReadAll(image, before.Tree);

  // A new entry at the root, which no damage elsewhere may turn into a loss.
  WriteAndCheck(image, before, contents, NewEntryIn({}, before), true);
  // The first entry that a path reaches replaced, a new entry in the first such index, and
  // one beside the first hidden child.
  if (const TreeChild* entry = FirstReachable(before, TDataBuf::KindEntry, 16))
    WriteAndCheck(image, before, contents, entry->Path, false);
  if (const TreeChild* index = FirstReachable(before, TDataBuf::KindIndex, 15))
    WriteAndCheck(image, before, contents, NewEntryIn(index->Path, before), false);
  if (const auto index = IndexOfFirstHidden(before))
    WriteAndCheck(image, before, contents, NewEntryIn(*index, before), false);
  return 0;
}
