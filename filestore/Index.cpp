// The entry index: one node of the tree, loaded from its block, written back into a new
// block whenever it changes, and the reads and writes of the entries below it.
#include <algorithm>
#include <cstring>

#include "filestore/StoreInternal.h"

using store::At;
using store::BlockHeadLength;
using store::BlockStart;
using store::GetInt32;
using store::Int32Size;
using store::NoOffset;
using store::PutInt32;
using store::RecordHeaderLength;
using store::TBlockHead;

TBlockHead store::ParseBlockHead(const char* bytes) {
  const char* record = bytes + PrefixLength;
  return {GetInt32(bytes), static_cast<uint8_t>(record[RecordKindAt]),
          static_cast<uint8_t>(record[RecordCompressedAt]), GetInt32(record + RecordLengthAt),
          GetInt32(record + RecordPlainLengthAt)};
}

std::string store::RecordProblem(const TBlockHead& head) {
  if (head.Kind != TDataBuf::KindIndex && head.Kind != TDataBuf::KindEntry)
    return "unknown kind " + std::to_string(head.Kind);
  if (head.Length < 0 || int64_t(head.Length) + BlockHeadLength > head.BlockLength)
    return "payload length " + std::to_string(head.Length) + " does not fit the block";
  const bool lengthsAgree = head.Compressed == 0
                                ? head.OriginalLength == head.Length
                                : head.Compressed == 1 && head.OriginalLength >= 0 &&
                                      head.OriginalLength <= store::MaxPlainLength(head.Length);
  if (!lengthsAgree)
    return "plain length " + std::to_string(head.OriginalLength) + " does not fit payload length " +
           std::to_string(head.Length);
  return {};
}

bool store::ReadBlockHead(TFileManager& manager, int32_t dataOffset, TBlockHead& head,
                          std::string& problem) {
  if (!manager.PlausibleBlock(dataOffset)) {
    problem = "offset " + std::to_string(dataOffset) + " names no block";
    return true;
  }
  char bytes[BlockHeadLength];
  if (!manager.Seek(static_cast<int32_t>(BlockStart(dataOffset))) ||
      !manager.ReadBytes(bytes, BlockHeadLength)) {
    problem = "block" + At(dataOffset) + " cannot be read";
    return false;
  }
  head = ParseBlockHead(bytes);
  problem = manager.BlockProblem(dataOffset, head.BlockLength, RecordHeaderLength);
  if (problem.empty()) {
    problem = RecordProblem(head);
    if (!problem.empty()) problem = "payload record" + At(dataOffset) + ": " + problem;
  }
  return true;
}

namespace {

void PutRecordHeader(char* at, uint8_t kind, uint8_t compressed, int32_t length,
                     int32_t originalLength) {
  std::memset(at, 0, RecordHeaderLength);  // the reserved bytes are 0
  at[store::RecordKindAt] = static_cast<char>(kind);
  at[store::RecordCompressedAt] = static_cast<char>(compressed);
  PutInt32(at + store::RecordLengthAt, length);
  PutInt32(at + store::RecordPlainLengthAt, originalLength);
}

// Reads and checks the head of the block at `dataOffset` (store::ReadBlockHead), marking the
// file damaged when it fails; then claims the block when asked. Unclaimed, it must still lie
// clear of the blocks in use, so that what reads now reads the same after a write.
bool LoadBlockHead(TFileManager& manager, int32_t dataOffset, bool claim, TBlockHead& head) {
  std::string problem;
  if (!store::ReadBlockHead(manager, dataOffset, head, problem)) return false;
  if (!problem.empty()) {
    manager.MarkDamaged(BlockStart(dataOffset), problem);
    return false;
  }
  return claim ? manager.ClaimBlock(dataOffset, head.BlockLength, RecordHeaderLength)
               : manager.ClearOfClaimed(dataOffset, head.BlockLength, true);
}

}  // namespace

bool StorableName(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

TFMindex::TFMindex(TFileManager& manager, TFMindex* parent, std::string_view name)
    : Manager_(manager), Parent_(parent), Name_(name) {
  if (parent)
    BlockOffset_ = parent->Lookup(name);
  else if (!FindRoot())
    return;
  if (BlockOffset_ != NoOffset && !Load()) Children_.clear();
}

TFMindex::TFMindex(TFileManager& manager, int32_t blockOffset)
    : Manager_(manager), Parent_(nullptr), BlockOffset_(blockOffset), Detached_(true) {
  if (BlockOffset_ != NoOffset && !Load()) Children_.clear();
}

TFMindex::~TFMindex() = default;

// The root's block offset is kept in the anchor block; a file without one gets it now.
bool TFMindex::FindRoot() {
  const int32_t anchor = Manager_.GetAnchorOffset();
  if (anchor == NoOffset) {
    if (Manager_.Stopped() || Manager_.ReadOnly()) return false;
    const int32_t block = Manager_.Allocate(Int32Size);
    char none[Int32Size];
    PutInt32(none, NoOffset);
    if (block != NoOffset && Manager_.Seek(block)) Manager_.WriteBytes(none, Int32Size);
    return false;
  }
  char bytes[store::AnchorBlockLength];
  if (!Manager_.Seek(static_cast<int32_t>(BlockStart(anchor))) ||
      !Manager_.ReadBytes(bytes, store::AnchorBlockLength))
    return false;
  if (GetInt32(bytes) != store::AnchorBlockLength) {
    Manager_.MarkDamaged(BlockStart(anchor), "anchor block" + At(anchor) + " is not " +
                                                 std::to_string(Int32Size) + " bytes long");
    return false;
  }
  if (!Manager_.ClaimBlock(anchor, store::AnchorBlockLength, Int32Size)) return false;
  BlockOffset_ = GetInt32(bytes + store::PrefixLength);
  return true;
}

// Reads the index from its block; false when it cannot be read or the file is damaged.
bool TFMindex::Load() {
  for (const TFMindex* above = Parent_; above; above = above->Parent_) {
    if (above->BlockOffset_ == BlockOffset_) {
      Manager_.MarkDamaged(BlockOffset_, "index" + At(BlockOffset_) + " lies inside itself");
      return false;
    }
  }
  TBlockHead head;
  if (!LoadBlockHead(Manager_, BlockOffset_, true, head)) return false;
  if (head.Kind == TDataBuf::KindEntry) {
    // Below the root this is a path that runs through an entry; the root must be an index.
    if (!Parent_)
      Manager_.MarkDamaged(BlockOffset_, "index" + At(BlockOffset_) + " holds an entry");
    IsEntry_ = Parent_ != nullptr;
    return IsEntry_;
  }
  BlockLength_ = head.BlockLength;
  // Payload and child offsets in one read; the block lies inside the file.
  const int32_t rest = head.BlockLength - BlockHeadLength;
  auto bytes = store::NewPayload(rest);
  if (!Manager_.ReadBytes(bytes.get(), rest)) return false;
  if (head.Compressed == 1) {
    // Inflated straight into the name store; the record head bounds the plain length.
    Names_.resize(static_cast<size_t>(head.OriginalLength));
    const int result =
        store::InflateExact(bytes.get(), head.Length, Names_.data(), head.OriginalLength);
    if (result != 0) {
      StoreReporter().InflateError(TDataBuf::ErrorText(result));
      Manager_.MarkDamaged(BlockOffset_, "index" + At(BlockOffset_) + " does not inflate");
      return false;
    }
  } else {
    Names_.assign(bytes.get(), static_cast<size_t>(head.Length));
  }
  Names_.resize(std::min(Names_.size(), Names_.find('\0')));  // the text ends at a zero byte
  SplitNames();
  const int64_t offsetsEnd = int64_t(head.Length) + Int32Size * int64_t(Children_.size());
  if (offsetsEnd > rest) {
    Manager_.MarkDamaged(BlockOffset_, "index" + At(BlockOffset_) + " names " +
                                           std::to_string(Children_.size()) +
                                           " children but holds fewer offsets");
    return false;
  }
  Overlong_ = offsetsEnd < rest;
  const char* offsets = bytes.get() + head.Length;
  for (size_t i = 0; i < Children_.size(); ++i) {
    const int32_t offset = GetInt32(offsets + Int32Size * i);
    // Such a child fails when it is read; its siblings still read.
    if (offset != NoOffset && !Manager_.PlausibleBlock(offset) && BadChild_.empty())
      BadChild_ = "child " + std::to_string(i) + " of index" + At(BlockOffset_) +
                  " names offset " + std::to_string(offset) + ", where no block can be";
    Children_[i].Offset = offset;
  }
  bytes.reset();
  Lowered_ = LocaleLower(Names_);
  return true;
}

// The store keeps every name followed by CR LF, the form in which index texts are written;
// a text in any other form is rewritten in that one.
void TFMindex::SplitNames() {
  const auto lineFeeds = static_cast<size_t>(std::count(Names_.begin(), Names_.end(), '\n'));
  Children_.reserve(lineFeeds);
  bool usual = (Names_.empty() || Names_.ends_with("\r\n")) &&
               lineFeeds == static_cast<size_t>(std::count(Names_.begin(), Names_.end(), '\r'));
  // With as many CRs as line feeds, every line feed after a CR means the usual form.
  for (size_t i = 0; usual && i < Names_.size();) {
    const size_t end = Names_.find('\n', i);
    usual = end > i && Names_[end - 1] == '\r';
    Children_.push_back({static_cast<uint32_t>(i), -1});
    i = end + 1;
  }
  if (usual) return;
  // Lines end at CR, LF or CR LF; the list's text form puts CR LF after every one.
  TStringList lines;
  lines.SetText(Names_);
  Names_ = lines.Text();
  Children_.clear();
  for (size_t i = 0; i < Names_.size(); i = Names_.find('\n', i) + 1)
    Children_.push_back({static_cast<uint32_t>(i), -1});
}

// ---------------------------------------------------------------------------------------
// Children

std::string_view TFMindex::ChildName(int i) const {
  const size_t start = Children_[static_cast<size_t>(i)].NameStart;
  return std::string_view(Names_).substr(start, Names_.find('\r', start) - start);
}

int TFMindex::FindLowered(std::string_view lowered) const {
  // A name matches when its lower-cased bytes equal the query and its line end follows.
  const size_t size = lowered.size();
  for (size_t i = 0; i < Children_.size(); ++i) {
    const size_t start = Children_[i].NameStart;
    if (start + size < Lowered_.size() && Lowered_[start + size] == '\r' &&
        std::memcmp(Lowered_.data() + start, lowered.data(), size) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

int TFMindex::IndexOf(std::string_view name) const {
  return FindLowered(LocaleLower(std::string(name)));
}

int32_t TFMindex::Lookup(std::string_view name) const {
  const int i = IndexOf(name);
  return i == -1 ? NoOffset : ChildOffset(i);
}

void TFMindex::AddName(std::string_view name, int32_t offset) {
  Children_.push_back({static_cast<uint32_t>(Names_.size()), offset});
  Names_.append(name).append("\r\n");
  Lowered_.append(LocaleLower(std::string(name))).append("\r\n");
}

int32_t TFMindex::SetChild(std::string_view name, int32_t offset) {
  if (name.empty() || !StorableName(name)) return -1;
  const int i = IndexOf(name);
  if (i == -1)
    AddName(name, offset);
  else
    Children_[static_cast<size_t>(i)].Offset = offset;
  return offset;
}

int32_t TFMindex::SetChildAndFlush(std::string_view name, int32_t offset) {
  const int32_t result = SetChild(name, offset);
  Flush();
  return result;
}

bool TFMindex::AppendChild(std::string_view name, int32_t offset) {
  if (!StorableName(name)) return false;
  AddName(name, offset);
  return true;
}

void TFMindex::RemoveChild(int i) {
  const size_t start = Children_[static_cast<size_t>(i)].NameStart;
  const bool last = static_cast<size_t>(i) + 1 == Children_.size();
  Children_.erase(Children_.begin() + i);
  if (last && InOrder_) {
    Names_.resize(start);  // the name store still holds exactly the children, in order
    Lowered_.resize(start);
  } else {
    InOrder_ = false;
  }
}

bool TFMindex::RenameChild(int i, std::string_view newName) {
  if (!StorableName(newName)) return false;
  Children_[static_cast<size_t>(i)].NameStart = static_cast<uint32_t>(Names_.size());
  Names_.append(newName).append("\r\n");
  Lowered_.append(LocaleLower(std::string(newName))).append("\r\n");
  InOrder_ = false;
  return true;
}

std::string TFMindex::ShowContents() const {
  std::string text;
  for (int i = 0; i < Count(); ++i)
    text.append(ChildName(i)).append("     ").append(std::to_string(ChildOffset(i))).append("\n");
  return text;
}

// ---------------------------------------------------------------------------------------
// Writing the index

// Every name followed by CR LF, in list order. While the name store holds just that, it
// is the text itself.
std::string TFMindex::IndexText() const {
  if (InOrder_) return Names_;
  std::string text;
  for (int i = 0; i < Count(); ++i) text.append(ChildName(i)).append("\r\n");
  return text;
}

int32_t TFMindex::WriteBlock() {
  if (Manager_.Stopped()) return BlockOffset_;
  if (IsEntry_ || Detached_) {
    Manager_.Refuse(StatusRead);  // an entry is never rewritten as an index
    return BlockOffset_;
  }
  if (BlockOffset_ != NoOffset) Manager_.Release(BlockOffset_);
  // The plain payload is the text and the zero byte after it, which a string keeps.
  std::string rebuilt;
  const std::string& text = InOrder_ ? Names_ : (rebuilt = IndexText());
  const auto plainLength = static_cast<int32_t>(text.size() + 1);
  std::unique_ptr<char[]> packed;
  int32_t length = 0;
  const int result = store::Deflate(text.data(), plainLength, packed, length);
  if (result != 0) {
    StoreReporter().InflateError(TDataBuf::ErrorText(result));
    length = plainLength;  // stored plain
  }
  const int64_t size = RecordHeaderLength + int64_t(length) + Int32Size * int64_t(Count());
  BlockOffset_ = size > INT32_MAX - store::PrefixLength
                     ? NoOffset
                     : Manager_.Allocate(static_cast<int32_t>(size));
  BlockLength_ = BlockOffset_ == NoOffset ? 0 : static_cast<int32_t>(size) + store::PrefixLength;
  if (BlockOffset_ == NoOffset) return BlockOffset_;
  std::string data(static_cast<size_t>(size), '\0');
  PutRecordHeader(data.data(), TDataBuf::KindIndex, result == 0, length, plainLength);
  std::memcpy(data.data() + RecordHeaderLength, result == 0 ? packed.get() : text.data(),
              static_cast<size_t>(length));
  packed.reset();
  char* offsets = data.data() + RecordHeaderLength + length;
  for (size_t i = 0; i < Children_.size(); ++i)
    PutInt32(offsets + Int32Size * i, Children_[i].Offset);
  if (Manager_.Seek(BlockOffset_)) Manager_.WriteBytes(data.data(), static_cast<int32_t>(size));
  return BlockOffset_;
}

int32_t TFMindex::Flush() {
  if (Manager_.Stopped()) return BlockOffset_;
  WriteBlock();
  if (Parent_) {
    Parent_->SetChildAndFlush(Name_, BlockOffset_);
  } else {
    char offset[Int32Size];
    PutInt32(offset, BlockOffset_);
    if (Manager_.Seek(Manager_.GetAnchorOffset())) Manager_.WriteBytes(offset, Int32Size);
  }
  return BlockOffset_;
}

// ---------------------------------------------------------------------------------------
// Entries

bool TFMindex::ClaimChildBlocks(const std::vector<int>& positions) {
  std::vector<TPathBlock> released;
  for (const int i : positions) {
    const int32_t offset = ChildOffset(i);
    if (offset == NoOffset) continue;
    TBlockHead head;
    if (!LoadBlockHead(Manager_, offset, true, head)) return false;
    // Releasing an index's block would drop every entry below it.
    if (head.Kind == TDataBuf::KindIndex) {
      Manager_.Refuse(StatusSeek);
      return false;
    }
    // An entry block is exactly as long as its record: a longer length would release the
    // blocks after it too.
    if (head.Kind == TDataBuf::KindEntry && head.BlockLength != BlockHeadLength + head.Length) {
      Manager_.MarkDamaged(BlockStart(offset), "entry block" + At(offset) + " (length " +
                                                   std::to_string(head.BlockLength) +
                                                   ") is longer than its record");
      return false;
    }
    released.push_back({BlockStart(offset), head.BlockLength, this, i});
  }
  return CheckPath(std::move(released));
}

bool TFMindex::CheckWritePath() { return CheckPath({}); }

bool TFMindex::CheckPath(std::vector<TPathBlock> blocks) {
  if (Manager_.Stopped()) return false;
  // The store's own changes keep the path sound: once checked, only blocks about to be
  // released need a look.
  if (PathChecked_ && blocks.empty()) return true;
  std::vector<const TFMindex*> path;
  for (const TFMindex* index = this; index; index = index->Parent_) path.push_back(index);
  if (Manager_.GetAnchorOffset() != NoOffset)
    blocks.push_back({BlockStart(Manager_.GetAnchorOffset()), store::AnchorBlockLength, nullptr, -1});
  for (TFMindex* index = this; index; index = index->Parent_) {
    if (index->Checked_) continue;
    if (const std::string problem = index->Problem(); !problem.empty()) {
      Manager_.MarkDamaged(index->BlockOffset_, problem);
      return false;
    }
    index->Checked_ = true;
  }
  for (const TFMindex* index : path) {
    if (index->BlockOffset_ == NoOffset) continue;
    const TFMindex* parent = index->Parent_;
    blocks.push_back({BlockStart(index->BlockOffset_), index->BlockLength_, parent,
                      parent ? parent->IndexOf(index->Name_) : -1});
  }
  // The path's blocks were claimed one by one, so they do not overlap each other.
  std::sort(blocks.begin(), blocks.end(),
            [](const TPathBlock& a, const TPathBlock& b) { return a.Start < b.Start; });
  // For each block of the path, the start of the child block nearest before it.
  std::vector<int64_t> before(blocks.size(), -1);
  for (const TFMindex* index : path) {
    for (int i = 0; i < index->Count(); ++i) {
      const int32_t offset = index->ChildOffset(i);
      if (offset == NoOffset) continue;
      const int64_t start = BlockStart(offset);
      auto after = std::upper_bound(blocks.begin(), blocks.end(), start,
                                    [](int64_t at, const TPathBlock& b) { return at < b.Start; });
      if (after != blocks.end()) {
        int64_t& nearest = before[size_t(after - blocks.begin())];
        nearest = std::max(nearest, start);
      }
      if (after == blocks.begin()) continue;
      const TPathBlock& block = *(after - 1);
      if (start >= block.Start + block.Length) continue;
      if (block.Namer == index && block.Position == i && start == block.Start) continue;
      Manager_.MarkDamaged(index->BlockOffset_,
                           "child \"" + std::string(index->ChildName(i)) + "\" of index" +
                               At(index->BlockOffset_) + " names offset " +
                               std::to_string(offset) + ", inside the block at " +
                               std::to_string(store::DataOffsetAt(block.Start)) +
                               " that this write uses");
      return false;
    }
  }
  // A block that the write releases or rewrites must not lie under a child's block that
  // runs into it.
  for (size_t k = 0; k < blocks.size(); ++k) {
    if (before[k] == -1) continue;
    char prefix[store::PrefixLength];
    if (!Manager_.Seek(static_cast<int32_t>(before[k])) ||
        !Manager_.ReadBytes(prefix, store::PrefixLength))
      return false;
    if (before[k] + GetInt32(prefix) > blocks[k].Start) {
      Manager_.MarkDamaged(before[k], "block" + At(store::DataOffsetAt(before[k])) +
                                          " runs into the block at " +
                                          std::to_string(store::DataOffsetAt(blocks[k].Start)) +
                                          " that this write uses");
      return false;
    }
  }
  PathChecked_ = true;
  return true;
}

std::string TFMindex::Problem() const {
  if (!BadChild_.empty()) return BadChild_;
  const std::string where = "index" + At(BlockOffset_);
  // Releasing a block longer than its contents would release the blocks after it too.
  if (Overlong_) return where + " has a block longer than its record and offsets";
  std::vector<int32_t> offsets;
  for (const TChild& child : Children_)
    if (child.Offset != NoOffset) offsets.push_back(child.Offset);
  std::sort(offsets.begin(), offsets.end());
  if (const auto same = std::adjacent_find(offsets.begin(), offsets.end()); same != offsets.end())
    return where + " names the block at " + std::to_string(*same) + " twice";
  return {};
}

bool TFMindex::WriteRecord(int32_t dataOffset, const TDataBuf& buffer) {
  char header[RecordHeaderLength];
  PutRecordHeader(header, buffer.Kind, buffer.Compressed, buffer.Length(), buffer.OriginalLength());
  return Manager_.Seek(dataOffset) && Manager_.WriteBytes(header, RecordHeaderLength) &&
         Manager_.WriteBytes(buffer.Data(), buffer.Length());
}

int32_t TFMindex::WriteChild(std::string_view name, TDataBuf* buffer, bool flush) {
  if (Manager_.Stopped()) return -1;
  if (name.empty() || !StorableName(name)) {
    Manager_.Refuse(StatusSeek);
    return -1;
  }
  if (IsEntry_ || Detached_) {
    Manager_.Refuse(StatusRead);  // a write through an entry changes nothing
    return -1;
  }
  int i = IndexOf(name);
  if (i == -1) {
    AddName(name, -1);
    i = Count() - 1;
  }
  const int32_t old = ChildOffset(i);
  // Checked before the release, so that a damaged file is refused before any write.
  if (!(old == NoOffset ? CheckWritePath() : ClaimChildBlocks({i}))) return -1;
  if (old != NoOffset) Manager_.Release(old);
  int32_t result = old;
  if (!buffer) {
    RemoveChild(i);
  } else {
    buffer->Kind = TDataBuf::KindEntry;
    buffer->Compressed = 0;
    buffer->Compress();  // stored plain when compression fails
    const int32_t length = buffer->Length();
    result = length > INT32_MAX - BlockHeadLength ? NoOffset
                                                  : Manager_.Allocate(RecordHeaderLength + length);
    if (result != NoOffset) WriteRecord(result, *buffer);
    Children_[static_cast<size_t>(i)].Offset = result;
  }
  if (flush) Flush();
  return result;
}

const char* TFMindex::ReadChild(std::string_view name, TDataBuf* buffer) {
  const int32_t offset = buffer ? Lookup(name) : NoOffset;
  TBlockHead head;
  if (offset == NoOffset || !LoadBlockHead(Manager_, offset, true, head)) return nullptr;
  auto bytes = store::NewPayload(head.Length);
  if (!Manager_.ReadBytes(bytes.get(), head.Length)) return nullptr;
  buffer->Adopt(std::move(bytes), head.Length);
  buffer->Kind = head.Kind;
  buffer->Compressed = head.Compressed;
  buffer->OriginalLength_ = head.OriginalLength;
  if (buffer->IsCompressed() && buffer->Decompress() != 0) {
    // A stream that does not inflate to its recorded length is a failed read.
    buffer->Clear();
    Manager_.Refuse(StatusRead);
    return nullptr;
  }
  return buffer->Data();
}

int32_t TFMindex::ChildLength(std::string_view name) {
  const int32_t offset = Lookup(name);
  TBlockHead head;
  return offset != NoOffset && LoadBlockHead(Manager_, offset, false, head) ? head.Length : 0;
}

uint8_t TFMindex::ChildKind(std::string_view name) {
  const int32_t offset = Lookup(name);
  TBlockHead head;
  if (offset == NoOffset || !LoadBlockHead(Manager_, offset, false, head)) return TDataBuf::KindNone;
  return head.Kind;
}

store::TChain store::BuildChain(TFileManager& manager, const std::vector<std::string>& components,
                                size_t depth) {
  TChain chain;
  chain.push_back(std::make_unique<TFMindex>(manager, nullptr, ""));
  for (size_t k = 0; k < depth && k < components.size() && !manager.Stopped(); ++k)
    chain.push_back(std::make_unique<TFMindex>(manager, chain.back().get(), components[k]));
  return chain;
}
