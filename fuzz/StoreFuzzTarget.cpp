// Fuzz target: the input is a whole database image, opened through a memory stream.
// It is inspected read-only (check, walk, every entry read), every entry is read through the
// entry operations, and entries are written through them. Besides
// crashes and sanitizer reports, it aborts when the store breaks one of its promises:
// - a sound image (no problem found by the check) has every entry readable;
// - every write ends refused with no byte changed, or accepted with the written entry
//   reading back;
// - a write accepted into a sound image leaves it sound, with every entry that read before
//   reading the same;
// - so does a new entry at the root of any image: every reader walks through the root
//   block, so no entry can share the blocks such a write releases.
// (A write deeper into a damaged image is checked along its own path only: an index off
// the path that names a block the write releases is found by the whole-file check, which
// writers run first.)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "filestore/FileMan.h"

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

std::vector<EntryPath> EntryPaths(TStoreInspector& inspector, std::vector<EntryPath>* indexes) {
  std::vector<EntryPath> entries;
  EntryPath path;
  inspector.Walk([&](int depth, const TStoreChild& child) {
    path.resize(static_cast<size_t>(depth));
    path.push_back(child.Name);
    if (child.Kind == TDataBuf::KindEntry) entries.push_back(path);
    if (child.Kind == TDataBuf::KindIndex && indexes) indexes->push_back(path);
  });
  return entries;
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

// What the entry operations read from every addressable entry of the image.
Contents ReadAll(const std::string& image, const std::vector<EntryPath>& entries) {
  Contents contents;
  for (const auto& path : entries) {
    if (!Addressable(path)) continue;
    TMemoryStream stream(image);
    TDataBuf buffer;
    if (ReadEntry(Joined(path), buffer, stream) == 0) contents[Joined(path)] = buffer.AsString();
  }
  return contents;
}

struct Inspection {
  bool Sound = false;       // no problem in the blocks (what writers check)
  bool WhollySound = false;  // nor in any entry's compressed contents
  std::vector<EntryPath> Entries;
  std::vector<EntryPath> Indexes;
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
    result.Entries = EntryPaths(inspector, &result.Indexes);
    for (const auto& path : result.Entries) {
      std::string bytes;
      const bool read = inspector.ReadEntryBytes(path, bytes);
      Require(read || !result.WhollySound, "every entry of a sound image is readable");
    }
  }
  Require(stream.Bytes == image, "inspection never writes");
  return result;
}

std::string ProbeBytes(const std::string& image) {
  return image.substr(image.size() > 40 ? image.size() - 40 : 0);
}

// The path of a new entry in the index at `parent`: a name none of its entries or indexes
// holds.
EntryPath NewEntryIn(const EntryPath& parent, const Inspection& image) {
  EntryPath path = parent;
  path.push_back("FuzzProbe");
  for (bool taken = true; taken;) {
    taken = false;
    for (const auto* list : {&image.Entries, &image.Indexes})
      for (const auto& other : *list)
        taken = taken || (other.size() == path.size() &&
                          std::equal(parent.begin(), parent.end(), other.begin()) &&
                          SameTextLocale(other.back(), path.back()));
    if (taken) path.back() += "~";
  }
  return path;
}

// Writes `bytes` at `path` into a copy of the image and holds the outcome to the promises.
// `keepsOthers`: every entry that read before must read the same afterwards.
void WriteAndCheck(const std::string& image, const Inspection& before, const Contents& contents,
                   const EntryPath& path, bool keepsOthers) {
  const std::string bytes = ProbeBytes(image);
  TMemoryStream stream(image);
  TDataBuf buffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  const int status = WriteEntry(Joined(path), &buffer, stream);
  if (status != 0) {
    Require(stream.Bytes == image, "a refused write changes no byte");
    Require(!before.Sound, "a sound image accepts every write");
    return;
  }
  TDataBuf read;
  Require(ReadEntry(Joined(path), read, stream) == 0 && read.AsString() == bytes,
          "an accepted write stores exactly the bytes written");
  if (before.Sound)
    Require(!CheckDatabase(stream).has_value(), "a write into a sound image leaves it sound");
  if (!keepsOthers && !before.Sound) return;
  for (const auto& [entry, value] : contents) {
    if (entry == Joined(path)) continue;
    TDataBuf again;
    Require(ReadEntry(entry, again, stream) == 0 && again.AsString() == value,
            "an accepted write keeps every entry that read before");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentReporter silent;
  SetStoreReporter(&silent);
  const std::string image(reinterpret_cast<const char*>(data), size);

  const Inspection before = InspectImage(image);
  const Contents contents = ReadAll(image, before.Entries);

  // A new entry at the root, which no damage elsewhere may turn into a loss.
  WriteAndCheck(image, before, contents, NewEntryIn({}, before), true);
  // The first entry replaced, and a new entry in the first index below the root.
  for (const auto& path : before.Entries) {
    if (!Addressable(path)) continue;
    WriteAndCheck(image, before, contents, path, false);
    break;
  }
  for (const auto& path : before.Indexes) {
    if (!Addressable(path) || path.size() > 15) continue;
    WriteAndCheck(image, before, contents, NewEntryIn(path, before), false);
    break;
  }
  return 0;
}
