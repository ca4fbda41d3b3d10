// Fuzz target: the input is a whole database image, opened through a memory stream.
// It is inspected read-only (check, walk, every entry read), then opened read-write, walked
// with the index objects the entry operations use, and one entry is written. Besides
// crashes and sanitizer reports, it aborts when the store breaks one of its promises:
// - a sound image (no problem found by the check) has every entry readable;
// - a successful write into a sound image leaves it sound and holding what was written;
// - a write that ends with the read status (a damaged file) changes no byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filestore/StoreInternal.h"

namespace {

using EntryPath = std::vector<std::string>;

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

std::vector<EntryPath> EntryPaths(TStoreInspector& inspector) {
  std::vector<EntryPath> entries;
  EntryPath path;
  inspector.Walk([&](int depth, const TStoreChild& child) {
    path.resize(static_cast<size_t>(depth));
    path.push_back(child.Name);
    if (child.Kind == TDataBuf::KindEntry) entries.push_back(path);
  });
  return entries;
}

// Inspects the image read-only; true when the check finds it sound.
bool InspectImage(const std::string& image) {
  TMemoryStream stream(image);
  TStoreInspector inspector(stream);
  const bool sound = inspector.Status() == 0 && inspector.Check().empty();
  std::vector<TStoreChild> children;
  inspector.List({}, children);
  for (const auto& path : EntryPaths(inspector)) {
    std::string bytes;
    const bool read = inspector.ReadEntryBytes(path, bytes);
    Require(read || !sound, "every entry of a sound image is readable");
  }
  Require(stream.Bytes == image, "inspection never writes");
  return sound;
}

// Reads every entry below `index` the way the entry operations do, descending into
// sub-indexes no deeper than an entry path may reach.
void ReadTree(TFileManager& manager, TFMindex& index, int depth) {
  for (int i = 0; i < index.Count(); ++i) {
    const std::string name(index.ChildName(i));
    if (index.ChildKind(name) == TDataBuf::KindIndex) {
      if (depth + 1 < 16) {
        TFMindex child(manager, &index, name);
        ReadTree(manager, child, depth + 1);
      }
      continue;
    }
    if (index.ChildLength(name) > 0) {
      TDataBuf buffer;
      index.ReadChild(name, &buffer);
    }
  }
}

const char kProbeName[] = "FuzzProbe";

std::string ProbeBytes(const std::string& image) {
  return image.substr(image.size() > 40 ? image.size() - 40 : 0);
}

struct ProbeWrite {
  std::string Written;  // the image afterwards
  int32_t Status = 0;
  // Replacing an index of that name by an entry strands the blocks below it.
  bool ReplacedIndex = false;
};

// Walks and reads the image read-write, then writes one entry into the root index.
ProbeWrite WriteProbe(const std::string& image) {
  ProbeWrite result;
  TMemoryStream stream(image);
  {
    TFileManager manager(stream);
    TFMindex root(manager, nullptr, "");
    ReadTree(manager, root, 0);
    result.ReplacedIndex = root.ChildKind(kProbeName) == TDataBuf::KindIndex;
    const std::string probe = ProbeBytes(image);
    TDataBuf buffer(probe.data(), static_cast<int32_t>(probe.size()));
    root.WriteChild(kProbeName, &buffer, true);
    result.Status = manager.Status();
  }
  result.Written = std::move(stream.Bytes);
  return result;
}

void CheckWrittenImage(const std::string& written, const std::string& probe) {
  TMemoryStream stream(written);
  TStoreInspector inspector(stream);
  Require(inspector.Status() == 0 && inspector.Check().empty(),
          "a successful write into a sound image leaves it sound");
  std::string bytes;
  Require(inspector.ReadEntryBytes({kProbeName}, bytes) && bytes == probe,
          "a successful write stores exactly the bytes written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentReporter silent;
  SetStoreReporter(&silent);
  const std::string image(reinterpret_cast<const char*>(data), size);

  const bool sound = InspectImage(image);
  const ProbeWrite probe = WriteProbe(image);
  if (probe.Status == StatusRead) Require(probe.Written == image, "a refused write changes no byte");
  if (sound && probe.Status == 0 && !probe.ReplacedIndex)
    CheckWrittenImage(probe.Written, ProbeBytes(image));
  return 0;
}
