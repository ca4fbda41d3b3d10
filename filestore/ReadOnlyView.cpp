// Read-only inspection of a database for tools: listing, reading, walking and checking the
// whole tree without ever writing the file.
#include <algorithm>
#include <unordered_set>

#include "filestore/StoreInternal.h"

using store::At;
using store::BlockStart;

namespace {

// Reads the record head of a child's block without claiming it; false (and why) when the
// block or its record does not fit the file.
bool ReadRecord(TFileManager& manager, TStoreChild& child, std::string& problem) {
  store::TBlockHead head;
  if (!store::ReadBlockHead(manager, child.Offset, head, problem) || !problem.empty())
    return false;
  child.BlockLength = head.BlockLength;
  child.Kind = head.Kind;
  child.Compressed = head.Compressed;
  child.StoredLength = head.Length;
  child.PlainLength = head.OriginalLength;
  return true;
}

// The children of a loaded index, with their records.
void Describe(TFileManager& manager, const TFMindex& index, std::vector<TStoreChild>& children,
              std::vector<TStoreProblem>* problems) {
  children.clear();
  for (int i = 0; i < index.Count(); ++i) {
    TStoreChild child;
    child.Name = std::string(index.ChildName(i));
    child.Offset = index.ChildOffset(i);
    std::string problem;
    if (child.Offset != store::NoOffset && !ReadRecord(manager, child, problem) && problems)
      problems->push_back({BlockStart(child.Offset), "child \"" + child.Name + "\" of index" +
                                                          At(index.BlockOffset()) + ": " + problem});
    children.push_back(std::move(child));
  }
}

// True when an entry's payload reads and, if compressed, inflates to its recorded length;
// the plain bytes go to `plain` when given.
bool ReadPayload(TFileManager& manager, const TStoreChild& entry, std::string* plain) {
  std::string bytes(static_cast<size_t>(entry.StoredLength), '\0');
  if (!manager.Seek(entry.Offset + store::RecordHeaderLength) ||
      !manager.ReadBytes(bytes.data(), entry.StoredLength))
    return false;
  if (entry.Compressed == 0) {
    if (plain) *plain = std::move(bytes);
    return true;
  }
  // The record head was checked: the plain length is one this stream can reach.
  std::string inflated(static_cast<size_t>(entry.PlainLength), '\0');
  const int result =
      store::InflateExact(bytes.data(), entry.StoredLength, inflated.data(), entry.PlainLength);
  if (result != 0) return false;
  if (plain) *plain = std::move(inflated);
  return true;
}

struct TExtentUse {
  int64_t Start;
  int64_t Length;
  std::string What;
};

}  // namespace

TStoreInspector::TStoreInspector(const FilePath& database) {
  auto file = std::make_unique<TFileStream>(database, TOpenMode::ReadOnly);
  store::RestoreOpened(*file, database, OpenError_);
  OwnedStream_ = std::move(file);
  Open();
}

TStoreInspector::TStoreInspector(TStoreFile& stream) : Stream_(&stream) {
  RestoreDatabase(stream, &OpenError_);
  Open();
}

// A database that could not be opened, or not put back, is not read at all: the inspector
// then shows an empty file.
void TStoreInspector::Open() {
  if (!OpenError_.empty()) OwnedStream_ = std::make_unique<TMemoryStream>();
  if (OwnedStream_) Stream_ = OwnedStream_.get();
  FindRoot();
}

TStoreInspector::~TStoreInspector() = default;

int32_t TStoreInspector::AnchorOffset() const { return Opened_->GetAnchorOffset(); }

int32_t TStoreInspector::EndOffset() const { return Opened_->GetEndOffset(); }

std::vector<TStoreExtent> TStoreInspector::FreeExtents() const {
  const TFreeList& free = Opened_->FreeList();
  std::vector<TStoreExtent> extents;
  for (int i = 0; i < free.Count(); ++i)
    extents.push_back({free.Offsets[size_t(i)], free.Lengths[size_t(i)]});
  return extents;
}

int32_t TStoreInspector::Status() const {
  return OpenError_.empty() ? Opened_->Status() : StatusOpen;
}

const std::string& TStoreInspector::DamageText() const { return Opened_->DamageText(); }

void TStoreInspector::FindRoot() {
  Opened_ = Query();
  const int32_t anchor = Opened_->GetAnchorOffset();
  char bytes[store::Int32Size];
  if (!Opened_->Stopped() && anchor != store::NoOffset && Opened_->Seek(anchor) &&
      Opened_->ReadBytes(bytes, store::Int32Size))
    RootOffset_ = store::GetInt32(bytes);
}

std::unique_ptr<TFileManager> TStoreInspector::Query() {
  return std::make_unique<TFileManager>(*Stream_, TOpenMode::ReadOnly);
}

bool TStoreInspector::Children(int32_t blockOffset, std::vector<TStoreChild>& children,
                               int32_t* blockLength, std::vector<TStoreProblem>* problems) {
  const auto manager = Query();
  const TFMindex index(*manager, blockOffset);
  if (manager->Status() != 0) {
    if (problems)
      problems->push_back(manager->Damaged()
                              ? TStoreProblem{manager->DamageOffset(), manager->DamageText()}
                              : TStoreProblem{BlockStart(blockOffset),
                                              "index" + At(blockOffset) + " cannot be read"});
    return false;
  }
  if (const std::string problem = index.Problem(); !problem.empty() && problems)
    problems->push_back({BlockStart(blockOffset), problem});
  if (blockLength) *blockLength = index.BlockLength();
  Describe(*manager, index, children, problems);
  return true;
}

bool TStoreInspector::List(const std::vector<std::string>& components,
                           std::vector<TStoreChild>& children) {
  const auto manager = Query();
  const store::TChain chain = store::BuildChain(*manager, components, components.size());
  if (manager->Status() != 0 || chain.size() != components.size() + 1 ||
      std::any_of(chain.begin(), chain.end(), [](const auto& index) { return index->IsEntry(); }))
    return false;
  // A component that names no child leads nowhere.
  for (size_t k = 0; k < components.size(); ++k)
    if (chain[k]->IndexOf(components[k]) == -1) return false;
  Describe(*manager, *chain.back(), children, nullptr);
  return true;
}

bool TStoreInspector::ReadEntryBytes(const std::vector<std::string>& components,
                                     std::string& bytes) {
  if (components.empty()) return false;
  const auto manager = Query();
  const store::TChain chain = store::BuildChain(*manager, components, components.size() - 1);
  if (manager->Status() != 0 || chain.size() != components.size() ||
      std::any_of(chain.begin(), chain.end(), [](const auto& index) { return index->IsEntry(); }))
    return false;
  TFMindex& index = *chain.back();
  const std::string& name = components.back();
  TDataBuf buffer;
  if (index.ChildKind(name) != TDataBuf::KindEntry || !index.ReadChild(name, &buffer) ||
      manager->Status() != 0)
    return false;
  bytes = buffer.AsString();
  return true;
}

bool TStoreInspector::ReadChildBytes(const TStoreChild& entry, std::string& bytes) {
  const auto manager = Query();
  // The record is read again from the file, not taken from the caller.
  TStoreChild read;
  read.Offset = entry.Offset;
  std::string problem;
  if (manager->Status() != 0 || read.Offset == store::NoOffset ||
      !ReadRecord(*manager, read, problem) || read.Kind != TDataBuf::KindEntry)
    return false;
  return ReadPayload(*manager, read, &bytes);
}

void TStoreInspector::Walk(const std::function<void(int depth, const TStoreChild& child)>& visit) {
  struct TFrame {
    std::vector<TStoreChild> Children;
    size_t Next;
  };
  std::unordered_set<int32_t> seen{RootOffset_};
  std::vector<TFrame> stack;
  TFrame root{{}, 0};
  if (RootOffset_ == store::NoOffset || !Children(RootOffset_, root.Children, nullptr, nullptr))
    return;
  stack.push_back(std::move(root));
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    if (frame.Next == frame.Children.size()) {
      stack.pop_back();
      continue;
    }
    const TStoreChild child = frame.Children[frame.Next++];
    visit(static_cast<int>(stack.size()) - 1, child);
    TFrame below{{}, 0};
    if (child.Kind == TDataBuf::KindIndex && seen.insert(child.Offset).second &&
        Children(child.Offset, below.Children, nullptr, nullptr))
      stack.push_back(std::move(below));
  }
}

std::vector<TStoreProblem> TStoreInspector::Check(TCheckDepth depth) {
  if (!OpenError_.empty()) return {TStoreProblem{0, OpenError_}};
  if (Opened_->Status() != 0)
    return {Opened_->Damaged() ? TStoreProblem{Opened_->DamageOffset(), Opened_->DamageText()}
                               : TStoreProblem{0, "the file cannot be read"}};
  std::vector<TStoreProblem> problems;
  std::vector<TExtentUse> uses;
  for (const TStoreExtent& extent : FreeExtents())
    uses.push_back({extent.Offset, extent.Length, "free extent"});
  const int32_t anchor = AnchorOffset();
  if (anchor != store::NoOffset) {
    char prefix[store::PrefixLength];
    if (!Opened_->Seek(static_cast<int32_t>(BlockStart(anchor))) ||
        !Opened_->ReadBytes(prefix, store::PrefixLength) ||
        store::GetInt32(prefix) != store::AnchorBlockLength)
      problems.push_back({BlockStart(anchor), "anchor block" + At(anchor) + " is not " +
                                                  std::to_string(store::Int32Size) +
                                                  " bytes long"});
    uses.push_back({BlockStart(anchor), store::AnchorBlockLength, "anchor block"});
  }

  std::unordered_set<int32_t> seen{RootOffset_};
  std::vector<int32_t> indexes;
  if (RootOffset_ != store::NoOffset) indexes.push_back(RootOffset_);
  while (!indexes.empty()) {
    const int32_t offset = indexes.back();
    indexes.pop_back();
    std::vector<TStoreChild> children;
    int32_t length = 0;
    if (!Children(offset, children, &length, &problems)) continue;
    uses.push_back({BlockStart(offset), length, "index block"});
    const auto manager = Query();
    for (const TStoreChild& child : children) {
      if (child.Offset == store::NoOffset || child.Kind == TDataBuf::KindNone) continue;
      if (!seen.insert(child.Offset).second) {
        problems.push_back({BlockStart(child.Offset), "block" + At(child.Offset) +
                                                          " is named twice (\"" + child.Name +
                                                          "\"): shared or cyclic"});
        continue;
      }
      if (child.Kind == TDataBuf::KindIndex) {
        indexes.push_back(child.Offset);
        continue;
      }
      uses.push_back({BlockStart(child.Offset), child.BlockLength, "entry block"});
      // A write releases exactly the block's length, which must then be the record's.
      if (child.BlockLength != store::BlockHeadLength + child.StoredLength)
        problems.push_back({BlockStart(child.Offset), "entry block" + At(child.Offset) +
                                                          " is longer than its record"});
      if (depth == TCheckDepth::Payloads && !ReadPayload(*manager, child, nullptr))
        problems.push_back({BlockStart(child.Offset),
                            "entry \"" + child.Name + "\"" + At(child.Offset) +
                                " does not inflate to its recorded length"});
    }
  }

  std::sort(uses.begin(), uses.end(),
            [](const auto& a, const auto& b) { return a.Start < b.Start; });
  // Against the use reaching furthest so far, which catches one extent covering several.
  size_t furthest = 0;
  for (size_t i = 1; i < uses.size(); ++i) {
    const TExtentUse& before = uses[furthest];
    if (before.Start + before.Length > uses[i].Start)
      problems.push_back({uses[i].Start, before.What + At(before.Start) + " overlaps " +
                                             uses[i].What + At(uses[i].Start)});
    if (uses[i].Start + uses[i].Length > before.Start + before.Length) furthest = i;
  }
  return problems;
}

std::vector<TStoreHiddenChild> TStoreInspector::HiddenChildren() {
  std::vector<TStoreHiddenChild> hidden;
  std::vector<std::string> path;
  // Per depth, the lower-cased names of the index being walked there, met so far.
  std::vector<std::unordered_set<std::string>> met;
  size_t hiddenAt = SIZE_MAX;  // the depth of the hidden index being walked below
  Walk([&](int depth, const TStoreChild& child) {
    const auto level = static_cast<size_t>(depth);
    path.resize(level);
    path.push_back(child.Name);
    if (level == met.size())
      met.emplace_back();  // the first child of an index
    else
      met.resize(level + 1);
    if (level <= hiddenAt) hiddenAt = SIZE_MAX;
    const bool namesake = !met[level].insert(LocaleLower(child.Name)).second;
    if (hiddenAt != SIZE_MAX || !(child.Name.empty() || namesake)) return;
    hidden.push_back({path, child});
    hiddenAt = level;
  });
  return hidden;
}

namespace {
std::optional<TStoreProblem> FirstProblem(TStoreInspector& inspector) {
  std::vector<TStoreProblem> problems = inspector.Check(TCheckDepth::Blocks);
  if (problems.empty()) return std::nullopt;
  return std::move(problems.front());
}
}  // namespace

std::optional<TStoreProblem> CheckDatabase(TStoreFile& database) {
  TStoreInspector inspector(database);
  return FirstProblem(inspector);
}

std::optional<TStoreProblem> CheckDatabase(const FilePath& database) {
  if (!store::FileExists(database)) return std::nullopt;
  TStoreInspector inspector(database);
  return FirstProblem(inspector);
}
