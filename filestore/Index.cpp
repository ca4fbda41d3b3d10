// The entry index: one node of the tree, loaded from its block, written back into a new
// block whenever it changes, and the reads and writes of the entries below it.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <tuple>

#include "filestore/StoreInternal.h"

#ifdef _WIN32
#include <windows.h>
#endif

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

// How names compare without regard to letter case: each byte of a stored name through this
// table, against the name looked for, lower-cased whole. A code page of more than one byte
// per character lower-cases characters, not bytes: there each stored name of the right
// length is lower-cased whole instead.
struct TFolding {
  std::array<unsigned char, 256> Lower;
  // True for a byte that no other byte lower-cases to (digits, punctuation): a stored name
  // matches there only with that very byte.
  std::array<bool, 256> Alone;
  bool ByteWise;
};

const TFolding& Folding() {
  static const TFolding folding = [] {
    TFolding made{};
    for (size_t c = 0; c < made.Lower.size(); ++c)
      made.Lower[c] = static_cast<unsigned char>(LocaleLower(std::string(1, char(c)))[0]);
    made.Alone.fill(true);
    for (size_t c = 0; c < made.Lower.size(); ++c)
      if (made.Lower[c] != c) made.Alone[made.Lower[c]] = false;
#ifdef _WIN32
    CPINFO codePage;
    made.ByteWise = GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize == 1;
#else
    made.ByteWise = true;
#endif
    return made;
  }();
  return folding;
}

// True when the `lowered.size()` bytes at `name` lower-case to `lowered`. From the last byte
// on, where numbered names differ.
bool FoldsTo(const char* name, std::string_view lowered) {
  const TFolding& folding = Folding();
  if (!folding.ByteWise) return LocaleLower(std::string(name, lowered.size())) == lowered;
  for (size_t i = lowered.size(); i-- > 0;)
    if (folding.Lower[static_cast<unsigned char>(name[i])] != static_cast<unsigned char>(lowered[i]))
      return false;
  return true;
}

// 0x01 in each byte of `word` that equals `byte`, 0 in the others.
inline uint64_t BytesEqual(uint64_t word, unsigned char byte) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const uint64_t x = word ^ (0x0101010101010101ull * byte);
  return ~(((x & kLow7) + kLow7) | x | kLow7) >> 7;
}

// Position of the first CR at or after `start` (the text's size when there is none), eight
// bytes at a time: names are short, and a call of memchr per name costs more.
size_t ReturnAt(std::string_view text, size_t start) {
  size_t i = start;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    if (const uint64_t returns = BytesEqual(word, '\r'))
      return i + static_cast<size_t>(__builtin_ctzll(returns)) / 8;
  }
  while (i < text.size() && text[i] != '\r') ++i;
  return i;
}

// Sixteen bytes at once: SSE2 or NEON where the target has them, plain words elsewhere.
typedef signed char TSixteen __attribute__((vector_size(16)));

// The matches counted in `counts`, where each comparison that matched added -1 to its lane.
size_t LaneSum(TSixteen counts) {
  size_t sum = 0;
  for (int lane = 0; lane < 16; ++lane) sum += static_cast<size_t>(-counts[lane]);
  return sum;
}

// How many of the last bytes of a lower-cased name (one or two) no other byte lower-cases
// to; 0 where folding is not byte by byte. Two leave about one name in a hundred to look
// at closely where the last two bytes are digits.
size_t ExactTail(std::string_view lowered) {
  const TFolding& folding = Folding();
  size_t tail = 0;
  while (folding.ByteWise && tail < std::min<size_t>(lowered.size(), 2) &&
         folding.Alone[static_cast<unsigned char>(lowered[lowered.size() - 1 - tail])])
    ++tail;
  return tail;
}

// Position and start of the first name in `names` (each followed by CR LF) that lower-cases
// to `lowered`, whose last `tail` bytes (one or two) match only themselves. Numbered names
// end so: sixteen places at a time, the candidates are the CRs right after those bytes, and
// the line feeds before them give the position.
std::pair<int, size_t> FindByTail(std::string_view names, std::string_view lowered, size_t tail) {
  const char* const text = names.data();
  const size_t size = names.size();
  const size_t wanted = lowered.size();
  // The name that the CR at `end` closes, when it starts a line and matches.
  const auto matches = [&](size_t end) {
    const size_t start = end - wanted;
    return (start == 0 || text[start - 1] == '\n') && FoldsTo(text + start, lowered);
  };
  TSixteen before[2];
  for (size_t k = 0; k < tail; ++k)
    before[k] = TSixteen{} + static_cast<signed char>(lowered[wanted - 1 - k]);
  const TSixteen carriageReturn = TSixteen{} + '\r', lineFeed = TSixteen{} + '\n';
  // No name of that length ends earlier; the line feeds before there, counted as the
  // search goes, are the names before the one found.
  size_t end = std::min(wanted, size);
  size_t lineFeeds = static_cast<size_t>(std::count(text, text + end, '\n'));
  while (end + 16 <= size) {
    TSixteen counted{};
    for (int round = 0; round < 127 && end + 16 <= size; ++round, end += 16) {
      TSixteen word;
      std::memcpy(&word, text + end, sizeof word);
      TSixteen hits = word == carriageReturn;
      for (size_t k = 0; k < tail; ++k) {
        TSixteen earlier;
        std::memcpy(&earlier, text + end - 1 - k, sizeof earlier);
        hits &= earlier == before[k];
      }
      uint64_t halves[2];
      std::memcpy(halves, &hits, sizeof halves);
      if ((halves[0] | halves[1]) != 0)
        for (size_t lane = 0; lane < 16; ++lane)
          if (hits[lane] && matches(end + lane))
            return {static_cast<int>(lineFeeds + LaneSum(counted) +
                                     static_cast<size_t>(std::count(text + end, text + end + lane, '\n'))),
                    end + lane - wanted};
      counted += word == lineFeed;
    }
    lineFeeds += LaneSum(counted);
  }
  for (; end < size; ++end) {
    if (text[end] == '\r' && matches(end)) return {static_cast<int>(lineFeeds), end - wanted};
    lineFeeds += text[end] == '\n';
  }
  return {-1, 0};
}

// Sorts values that mostly ascend already, as the block offsets of an index do (children
// are added at the end, and one that is rewritten moves): a few ascending runs are merged
// in turn, any other order sorted.
void SortMostlyAscending(std::vector<int32_t>& values) {
  constexpr size_t kMostRuns = 8;
  std::vector<size_t> runStarts;
  for (size_t i = 1; i < values.size(); ++i) {
    if (values[i] >= values[i - 1]) continue;
    if (runStarts.size() == kMostRuns) {
      std::sort(values.begin(), values.end());
      return;
    }
    runStarts.push_back(i);
  }
  for (size_t k = 0; k < runStarts.size(); ++k) {
    const size_t end = k + 1 < runStarts.size() ? runStarts[k + 1] : values.size();
    std::inplace_merge(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(runStarts[k]),
                       values.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

}  // namespace

// In the form the store writes, a byte is a line feed exactly where the byte before it is
// a carriage return: sixteen bytes at a time, the two comparisons must agree everywhere.
size_t store::CrLfLineCount(std::string_view text) {
  if (text.empty()) return 0;
  if (!text.ends_with("\r\n") || text[0] == '\n') return std::string::npos;
  const char* const bytes = text.data();
  const size_t size = text.size();
  const TSixteen lineFeed = TSixteen{} + '\n', carriageReturn = TSixteen{} + '\r';
  size_t lineFeeds = 0;
  TSixteen unpaired{};
  size_t i = 1;  // every byte from here on has one before it
  while (i + 16 <= size) {
    // A comparison gives -1 in each lane that matches: 127 rounds keep every lane in range.
    TSixteen counted{};
    for (int k = 0; k < 127 && i + 16 <= size; ++k, i += 16) {
      TSixteen word, before;
      std::memcpy(&word, bytes + i, sizeof word);
      std::memcpy(&before, bytes + i - 1, sizeof before);
      const TSixteen isLineFeed = word == lineFeed;
      counted += isLineFeed;
      unpaired |= isLineFeed ^ (before == carriageReturn);
    }
    lineFeeds += LaneSum(counted);
  }
  uint64_t halves[2];
  std::memcpy(halves, &unpaired, sizeof halves);
  if ((halves[0] | halves[1]) != 0) return std::string::npos;
  for (; i < size; ++i) {
    if ((bytes[i] == '\n') != (bytes[i - 1] == '\r')) return std::string::npos;
    lineFeeds += bytes[i] == '\n';
  }
  return lineFeeds;
}

bool StorableName(std::string_view name) {
  return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

TFMindex::TFMindex(TFileManager& manager, TFMindex* parent, std::string_view name)
    : Manager_(manager), Parent_(parent), Name_(name) {
  if (parent)
    BlockOffset_ = parent->Lookup(name);
  else if (!FindRoot())
    return;
  if (BlockOffset_ != NoOffset && !Load()) Clear();
}

TFMindex::TFMindex(TFileManager& manager, int32_t blockOffset)
    : Manager_(manager), Parent_(nullptr), BlockOffset_(blockOffset), Detached_(true) {
  if (BlockOffset_ != NoOffset && !Load()) Clear();
}

TFMindex::~TFMindex() = default;

void TFMindex::Clear() {
  Names_.Clear();
  Offsets_.clear();
  Starts_.clear();
  LastValid_ = false;
}

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
  char* bytes = store::Scratch().Block.Resize(static_cast<size_t>(rest));
  if (!Manager_.ReadBytes(bytes, rest)) return false;
  if (head.Compressed == 1) {
    // Inflated straight into the name store; the record head bounds the plain length.
    char* text = Names_.Resize(static_cast<size_t>(head.OriginalLength));
    const int result = store::InflateExact(bytes, head.Length, text, head.OriginalLength);
    if (result != 0) {
      StoreReporter().InflateError(TDataBuf::ErrorText(result));
      Manager_.MarkDamaged(BlockOffset_, "index" + At(BlockOffset_) + " does not inflate");
      return false;
    }
  } else {
    Names_.Append(std::string_view(bytes, static_cast<size_t>(head.Length)));
  }
  Names_.Resize(std::min(Names_.Size(), Names_.View().find('\0')));  // the text ends at a zero byte
  const size_t count = CountNames();
  const int64_t offsetsEnd = int64_t(head.Length) + Int32Size * int64_t(count);
  if (offsetsEnd > rest) {
    Manager_.MarkDamaged(BlockOffset_, "index" + At(BlockOffset_) + " names " +
                                           std::to_string(count) +
                                           " children but holds fewer offsets");
    return false;
  }
  Overlong_ = offsetsEnd < rest;
  const char* offsets = bytes + head.Length;
  Offsets_.reserve(count);
  for (size_t i = 0; i < count; ++i) Offsets_.push_back(GetInt32(offsets + Int32Size * i));
  return true;
}

// The store keeps every name followed by CR LF, the form in which index texts are written;
// a text in any other form is rewritten in that one. Answers the number of names.
size_t TFMindex::CountNames() {
  if (const size_t count = store::CrLfLineCount(Names_.View()); count != std::string::npos)
    return count;
  // Lines end at CR, LF or CR LF; the list's text form puts CR LF after every one.
  TStringList lines;
  lines.SetText(Names_.View());
  Names_.Clear();
  Names_.Append(lines.Text());
  return static_cast<size_t>(lines.Count());
}

// ---------------------------------------------------------------------------------------
// Children

std::string_view TFMindex::ChildName(int i) const {
  const size_t start = NameStart(i);
  const std::string_view names = Names_.View();
  return names.substr(start, names.find('\r', start) - start);
}

size_t TFMindex::NameStart(int i) const {
  if (LastValid_ && LastPosition_ == i) return LastStart_;
  if (Starts_.size() != Offsets_.size()) {
    Starts_.clear();
    Starts_.reserve(Offsets_.size());
    const std::string_view names = Names_.View();
    for (size_t start = 0; start < names.size(); start = names.find('\n', start) + 1)
      Starts_.push_back(static_cast<uint32_t>(start));
  }
  return Starts_[static_cast<size_t>(i)];
}

std::pair<int, size_t> TFMindex::Find(std::string_view lowered) const {
  if (const size_t tail = ExactTail(lowered)) return FindByTail(Names_.View(), lowered, tail);
  const char* const text = Names_.Data();  // followed by a zero byte
  const size_t size = Names_.Size();
  const size_t wanted = lowered.size();
  int position = 0;
  for (size_t start = 0; start < size; ++position) {
    // Every name is followed by CR LF and holds neither. A name as long as the one wanted
    // shows as a CR right after it and none before.
    size_t length = 0;
    uint64_t word = 0;
    if (wanted - 1 < 8 && start + 8 <= size && text[start + wanted] == '\r' &&
        (std::memcpy(&word, text + start, sizeof word),
         (BytesEqual(word, '\r') & (~uint64_t{0} >> (64 - 8 * wanted))) == 0))
      length = wanted;
    else
      length = ReturnAt(Names_.View(), start) - start;
    if (length == wanted && FoldsTo(text + start, lowered)) return {position, start};
    start += length + 2;
  }
  return {-1, 0};
}

int TFMindex::IndexOf(std::string_view name) const {
  // An operation looks for the same name several times (the path down, the checks, the
  // flush back up).
  if (LastValid_ && LastQuery_ == name) return LastPosition_;
  // No stored name holds a line end or a zero byte, so none matches a name with one.
  std::tie(LastPosition_, LastStart_) = StorableName(name)
                                            ? Find(LocaleLower(std::string(name)))
                                            : std::pair<int, size_t>(-1, 0);
  LastQuery_.assign(name);
  LastValid_ = true;
  return LastPosition_;
}

int32_t TFMindex::Lookup(std::string_view name) const {
  const int i = IndexOf(name);
  return i == -1 ? NoOffset : ChildOffset(i);
}

void TFMindex::AddName(std::string_view name, int32_t offset) {
  if (Starts_.size() == Offsets_.size()) Starts_.push_back(static_cast<uint32_t>(Names_.Size()));
  Names_.Append(name);
  Names_.Append("\r\n");
  Offsets_.push_back(offset);
  // A name found stays the first match; one not found may be this one.
  if (LastPosition_ == -1) LastValid_ = false;
}

// The names from position `i` on moved by `shift` bytes.
void TFMindex::NamesMoved(int i, int64_t shift) {
  LastValid_ = false;
  if (Starts_.size() != Offsets_.size()) {
    Starts_.clear();
    return;
  }
  for (size_t k = static_cast<size_t>(i); k < Starts_.size(); ++k)
    Starts_[k] = static_cast<uint32_t>(Starts_[k] + shift);
}

int32_t TFMindex::SetChild(std::string_view name, int32_t offset) {
  if (name.empty() || !StorableName(name)) return -1;
  const int i = IndexOf(name);
  if (i == -1)
    AddName(name, offset);
  else
    Offsets_[static_cast<size_t>(i)] = offset;
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
  const size_t start = NameStart(i);
  const size_t line = Names_.View().find('\n', start) + 1 - start;
  const bool split = Starts_.size() == Offsets_.size();
  Names_.Erase(start, line);
  Offsets_.erase(Offsets_.begin() + i);
  if (split) Starts_.erase(Starts_.begin() + i);
  NamesMoved(i, -static_cast<int64_t>(line));
}

bool TFMindex::RenameChild(int i, std::string_view newName) {
  if (!StorableName(newName)) return false;
  const size_t start = NameStart(i);
  const size_t length = Names_.View().find('\r', start) - start;
  Names_.Replace(start, length, newName);
  NamesMoved(i + 1, static_cast<int64_t>(newName.size()) - static_cast<int64_t>(length));
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

int32_t TFMindex::WriteBlock() {
  if (Manager_.Stopped()) return BlockOffset_;
  if (IsEntry_ || Detached_) {
    Manager_.Refuse(StatusRead);  // an entry is never rewritten as an index
    return BlockOffset_;
  }
  if (BlockOffset_ != NoOffset) Manager_.Release(BlockOffset_);
  // The plain payload is the text and the zero byte after it, which the buffer keeps.
  const std::string_view text = Names_.View();
  const auto plainLength = static_cast<int32_t>(text.size() + 1);
  std::string_view packed;
  const int result = store::Deflate(text.data(), plainLength, packed);
  if (result != 0) {
    StoreReporter().InflateError(TDataBuf::ErrorText(result));
    packed = std::string_view(text.data(), size_t(plainLength));  // stored plain
  }
  const auto length = static_cast<int32_t>(packed.size());
  const int64_t size = RecordHeaderLength + int64_t(length) + Int32Size * int64_t(Count());
  BlockOffset_ = size > INT32_MAX - store::PrefixLength
                     ? NoOffset
                     : Manager_.Allocate(static_cast<int32_t>(size));
  BlockLength_ = BlockOffset_ == NoOffset ? 0 : static_cast<int32_t>(size) + store::PrefixLength;
  if (BlockOffset_ == NoOffset) return BlockOffset_;
  char header[RecordHeaderLength];
  PutRecordHeader(header, TDataBuf::KindIndex, result == 0, length, plainLength);
  if (Manager_.Seek(BlockOffset_) && Manager_.WriteBytes(header, RecordHeaderLength) &&
      Manager_.WriteBytes(packed.data(), length))
    WriteOffsets();
  return BlockOffset_;
}

// The child offsets, in list order, at the current position.
void TFMindex::WriteOffsets() {
  const auto count = static_cast<int32_t>(Offsets_.size());
  if constexpr (std::endian::native == std::endian::little) {
    Manager_.WriteBytes(Offsets_.data(), Int32Size * count);
  } else {
    char* bytes = store::Scratch().Block.Resize(size_t(Int32Size) * Offsets_.size());
    for (size_t i = 0; i < Offsets_.size(); ++i) PutInt32(bytes + Int32Size * i, Offsets_[i]);
    Manager_.WriteBytes(bytes, Int32Size * count);
  }
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
  const std::string where = "index" + At(BlockOffset_);
  for (size_t i = 0; i < Offsets_.size(); ++i) {
    // Such a child fails when it is read; its siblings still read.
    if (Offsets_[i] != NoOffset && !Manager_.PlausibleBlock(Offsets_[i]))
      return "child " + std::to_string(i) + " of " + where + " names offset " +
             std::to_string(Offsets_[i]) + ", where no block can be";
  }
  // Releasing a block longer than its contents would release the blocks after it too.
  if (Overlong_) return where + " has a block longer than its record and offsets";
  std::vector<int32_t>& offsets = store::Scratch().Sorted;
  offsets.clear();
  for (const int32_t offset : Offsets_)
    if (offset != NoOffset) offsets.push_back(offset);
  SortMostlyAscending(offsets);
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
    Offsets_[static_cast<size_t>(i)] = result;
  }
  if (flush) Flush();
  return result;
}

const char* TFMindex::ReadChild(std::string_view name, TDataBuf* buffer) {
  const int32_t offset = buffer ? Lookup(name) : NoOffset;
  TBlockHead head;
  if (offset == NoOffset || !LoadBlockHead(Manager_, offset, true, head)) return nullptr;
  return ReadRecord(head, *buffer);
}

const char* TFMindex::ReadStoredChild(std::string_view name, TDataBuf& buffer) {
  const int32_t offset = Lookup(name);
  TBlockHead head;
  if (offset == NoOffset || !LoadBlockHead(Manager_, offset, true, head) || head.Length <= 0)
    return nullptr;
  return ReadRecord(head, buffer);
}

// Reads the payload of the record whose head was just read into the buffer: a stream
// through the scratch and inflated straight into the buffer's new payload, plain
// bytes straight into it.
const char* TFMindex::ReadRecord(const TBlockHead& head, TDataBuf& buffer) {
  const bool compressed = head.Compressed == 1;
  const int32_t length = compressed ? head.OriginalLength : head.Length;
  auto payload = store::NewPayload(length);
  char* read = compressed ? store::Scratch().Block.Resize(size_t(head.Length)) : payload.get();
  if (!Manager_.ReadBytes(read, head.Length)) return nullptr;
  if (compressed) {
    if (const int result = store::InflateExact(read, head.Length, payload.get(), length)) {
      // A stream that does not inflate to its recorded length is a failed read.
      StoreReporter().InflateError(TDataBuf::ErrorText(result));
      buffer.Clear();
      Manager_.Refuse(StatusRead);
      return nullptr;
    }
  }
  buffer.Adopt(std::move(payload), length);
  buffer.Kind = head.Kind;
  buffer.Compressed = 0;
  buffer.OriginalLength_ = length;
  return buffer.Data();
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
