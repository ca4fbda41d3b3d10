// The block file: header, blocks handed out and taken back, the free list kept at the end
// offset, and the checks that keep a damaged file from being read or written out of bounds.
#include <algorithm>
#include <cstdio>

#include "filestore/StoreInternal.h"

using store::BlockStart;
using store::DataOffsetAt;
using store::FreeListRecordLength;
using store::GetInt32;
using store::Int32Size;
using store::PrefixLength;
using store::PutInt32;

namespace {

// Operation codes: what the manager was doing when a primitive failed.
enum : int32_t {
  OpOpen = 0,
  OpReadFreeList = 1,
  OpWriteFreeList = 2,
  OpAllocate = 3,
  OpTakeFromFreeList = 4,
  OpAppendAtEnd = 5,
  OpRelease = 6,
  OpReleaseExtent = 7,
  OpWriteMagic = 9,
  OpWriteHeader = 10,
  OpReadHeader = 11,
};

constexpr int64_t kMaxOffset = INT32_MAX;

// Magic, anchor -1, end offset at the header's end, empty free list: a fresh file.
std::string FreshImage() {
  std::string image(TFileManager::Magic, store::MagicLength);
  image.resize(store::FreshLength);
  PutInt32(image.data() + store::AnchorField, store::NoOffset);
  PutInt32(image.data() + store::EndField, store::HeaderLength);
  PutInt32(image.data() + store::HeaderLength, 0);
  return image;
}

std::string Text(int64_t value) { return std::to_string(value); }

// Writes without the printf family, which the shipped program does not link.
void WriteLine(std::string_view prefix, const std::string& text) {
  std::fwrite(prefix.data(), 1, prefix.size(), stderr);
  std::fputs(text.c_str(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace

const char TFileManager::Magic[MagicLength + 1] = "twdb1xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n";

std::string StatusText(int32_t code) {
  switch (code) {
    case StatusNone:
      return "No error!";
    case StatusWrite:
      return "Fatal write error!";
    case StatusRead:
      return "Fatal read error!";
    case StatusSeek:
      return "Fatal seek error!";
    default:
      return "Unknown FATAL error!";
  }
}

// ---------------------------------------------------------------------------------------
// Reporter

void TStoreReporter::InflateError(const std::string& text) { WriteLine("Inflate Error: ", text); }

void TStoreReporter::FatalError(const std::string& text) { WriteLine("", text); }

namespace {
TStoreReporter gDefaultReporter;
TStoreReporter* gReporter = &gDefaultReporter;
}  // namespace

TStoreReporter* SetStoreReporter(TStoreReporter* reporter) {
  TStoreReporter* previous = gReporter;
  gReporter = reporter ? reporter : &gDefaultReporter;
  return previous;
}

TStoreReporter& StoreReporter() { return *gReporter; }

// ---------------------------------------------------------------------------------------
// Opening

TFileManager::TFileManager(const FilePath& fileName, TOpenMode mode)
    : OwnedStream_(std::make_unique<TFileStream>(fileName, mode)),
      Stream_(OwnedStream_.get()),
      FileName_(fileName),
      Mode_(mode) {
  store::RestoreOpened(*OwnedStream_, fileName, OpenError_);
  if (OpenError_.empty())
    Open();
  else
    Refuse(StatusOpen);
}

TFileManager::TFileManager(TStoreStream& stream, TOpenMode mode) : Stream_(&stream), Mode_(mode) {
  Open();
}

TFileManager::~TFileManager() = default;

void TFileManager::Open() {
  Operation_ = OpOpen;
  LastError_ = 0;
  AnchorOffset_ = -1;
  EndOffset_ = HeaderLength;
  const int64_t size = Stream_->Size();
  if (size == 0 || InterruptedStart(size)) {
    if (ReadOnly())
      MarkDamaged(0, "no database: the file is empty or its creation was cut short");
    else
      Initialise();
  } else if (!Stopped_) {
    ReadHeaderFields() && CheckHeaderFields(size) && ReadFreeList();
  }
  if (LastError_ != 0 && !Damaged_) {
    ReportFatal(LastError_);
    Stopped_ = true;
  }
}

// A file shorter than a fresh one that holds its first bytes is one whose creation was cut
// short; it is created afresh.
bool TFileManager::InterruptedStart(int64_t size) {
  if (size >= store::FreshLength) return false;
  std::string head(static_cast<size_t>(size), '\0');
  if (!Seek(0) || !ReadBytes(head.data(), static_cast<int32_t>(size))) return false;
  return FreshImage().compare(0, head.size(), head) == 0;
}

bool TFileManager::Initialise() {
  Operation_ = OpWriteMagic;
  return Seek(0) && WriteBytes(Magic, MagicLength) && WriteHeaderFields() && WriteFreeList();
}

bool TFileManager::ReadHeaderFields() {
  Operation_ = OpReadHeader;
  char header[HeaderLength];
  if (!Seek(0) || !ReadBytes(header, HeaderLength)) {
    if (LastError_ == StatusRead) MarkDamaged(0, "no database: shorter than its header");
    return false;
  }
  if (std::string_view(header, MagicLength) != std::string_view(Magic, MagicLength)) {
    MarkDamaged(0, "no database: the file does not begin with the magic text");
    return false;
  }
  AnchorOffset_ = GetInt32(header + store::AnchorField);
  EndOffset_ = GetInt32(header + store::EndField);
  return true;
}

bool TFileManager::CheckHeaderFields(int64_t size) {
  if (EndOffset_ < HeaderLength || int64_t(EndOffset_) + FreeListRecordLength(0) > size) {
    MarkDamaged(store::EndField,
                "end offset " + Text(EndOffset_) + " outside the file (size " + Text(size) + ")");
    return false;
  }
  if (AnchorOffset_ == store::NoOffset
          ? EndOffset_ != HeaderLength
          : BlockStart(AnchorOffset_) < HeaderLength ||
                int64_t(AnchorOffset_) + Int32Size > EndOffset_) {
    MarkDamaged(store::AnchorField, "anchor offset " + Text(AnchorOffset_) + " does not fit end offset " +
                                 Text(EndOffset_));
    return false;
  }
  return true;
}

// Reads the free list and checks that its extents are in order, apart and among the blocks.
bool TFileManager::ReadFreeList() {
  Operation_ = OpReadFreeList;
  if (!Seek(EndOffset_)) return false;
  if (!FreeList_.ReadFrom(*Stream_)) {
    MarkDamaged(EndOffset_, "free-list record cut short");
    return false;
  }
  int64_t previousEnd = HeaderLength;
  for (int i = 0; i < FreeList_.Count(); ++i) {
    const int64_t start = FreeList_.Offsets[size_t(i)], length = FreeList_.Lengths[size_t(i)];
    if (length <= 0 || start < previousEnd || start + length > EndOffset_) {
      MarkDamaged(EndOffset_, "free extent " + Text(i) + " (" + Text(start) + ", " + Text(length) +
                                  ") out of order or outside the blocks");
      return false;
    }
    previousEnd = start + length;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Status

void TFileManager::Fail(int32_t status) {
  LastError_ = status;
  if (Status_ == 0) Status_ = status;
  // Before the first write nothing has changed: a failed read or seek ends the operation
  // there, rather than going on with what could not be read and writing it back.
  if (!Wrote_) Stopped_ = true;
}

void TFileManager::Refuse(int32_t status) {
  Fail(status);
  Stopped_ = true;
}

void TFileManager::MarkDamaged(int64_t offset, std::string text) {
  if (Damaged_) return;
  Damaged_ = true;
  DamageOffset_ = offset;
  DamageText_ = std::move(text);
  Refuse(StatusRead);
  ReportFatal(StatusRead);
}

void TFileManager::ReportFatal(int32_t code) {
  StoreReporter().FatalError("Block: " + std::to_string(Operation_) + ", " + StatusText(code));
}

// ---------------------------------------------------------------------------------------
// Positioned primitives

bool TFileManager::Seek(int32_t offset) {
  LastError_ = 0;
  if (Stopped_) {
    Fail(StatusRead);
    return false;
  }
  if (offset < 0 || !Stream_->Seek(offset) || Stream_->Position() != offset) {
    Fail(StatusSeek);
    return false;
  }
  return true;
}

// Every legitimate transfer ends at or before the free-list record at the end offset.
bool TFileManager::InsideFile(int32_t count) const {
  return Stream_->Position() + count <= int64_t(EndOffset_) + FreeListRecordLength(FreeList_.Count());
}

bool TFileManager::ReadBytes(void* target, int32_t count) {
  LastError_ = 0;
  if (Stopped_ || count < 0 || !InsideFile(count)) {
    Refuse(StatusRead);
    return false;
  }
  if (count == 0) return true;
  if (Stream_->Read(target, static_cast<size_t>(count)) != static_cast<size_t>(count)) {
    Fail(StatusRead);
    return false;
  }
  return true;
}

bool TFileManager::WriteBytes(const void* source, int32_t count) {
  LastError_ = 0;
  if (Stopped_) {
    Fail(StatusRead);
    return false;
  }
  if (ReadOnly() || count < 0 || !InsideFile(count)) {
    Refuse(StatusWrite);
    return false;
  }
  return count == 0 || Put(source, count);
}

// Writes at the current position.
bool TFileManager::Put(const void* source, int32_t count) {
  Wrote_ = true;
  if (Stream_->Write(source, static_cast<size_t>(count)) != static_cast<size_t>(count)) {
    Fail(StatusWrite);
    return false;
  }
  return true;
}

int32_t TFileManager::Finish() {
  Stopped_ = true;
  return Status_;
}

bool TFileManager::WriteHeaderFields() {
  Operation_ = OpWriteHeader;
  char fields[HeaderLength - store::AnchorField];
  PutInt32(fields, AnchorOffset_);
  PutInt32(fields + (store::EndField - store::AnchorField), EndOffset_);
  return Seek(store::AnchorField) && WriteBytes(fields, sizeof fields);
}

bool TFileManager::WriteFreeList() {
  Operation_ = OpWriteFreeList;
  TMemoryStream record;
  FreeList_.WriteTo(record);
  return Seek(EndOffset_) &&
         WriteBytes(record.Bytes.data(), static_cast<int32_t>(record.Bytes.size()));
}

// ---------------------------------------------------------------------------------------
// Blocks

int32_t TFileManager::Allocate(int32_t size) {
  Operation_ = OpAllocate;
  if (size == 0) return -1;
  LastError_ = 0;
  if (Stopped_ || size < 0 || size > INT32_MAX - PrefixLength) {
    Fail(Stopped_ ? StatusRead : StatusWrite);
    return -1;
  }
  const int32_t total = size + PrefixLength;
  int32_t result = TakeFromFreeList(total);
  if (result == -1) result = AppendAtEnd(total);
  if (LastError_ != 0) return -1;  // space taken from the free list stays lost
  if (AnchorOffset_ == store::NoOffset) {
    AnchorOffset_ = result;
    WriteHeaderFields();
  }
  if (LastError_ == 0) WriteFreeList();
  if (LastError_ != 0) ReportFatal(LastError_);
  Claimed_.push_back({BlockStart(result), total});
  return result;
}

int32_t TFileManager::TakeFromFreeList(int32_t total) {
  Operation_ = OpTakeFromFreeList;
  LastError_ = 0;
  const int32_t offset = FreeList_.TakeFirstFit(total);
  if (offset == -1) return -1;
  char prefix[PrefixLength];
  PutInt32(prefix, total);
  // The free list is written once the whole allocation is done; a failed seek or write
  // shows in LastError.
  if (Seek(offset)) WriteBytes(prefix, PrefixLength);
  return offset + PrefixLength;
}

int32_t TFileManager::AppendAtEnd(int32_t total) {
  Operation_ = OpAppendAtEnd;
  LastError_ = 0;
  // Offsets are 32-bit: the block and the free-list record after it must stay addressable.
  if (int64_t(EndOffset_) + total + FreeListRecordLength(FreeList_.Count()) > kMaxOffset) {
    Fail(StatusWrite);
    return -1;
  }
  const int32_t result = EndOffset_ + PrefixLength;
  char prefix[PrefixLength];
  PutInt32(prefix, total);
  if (Seek(EndOffset_) && WriteBytes(prefix, PrefixLength)) {
    EndOffset_ += total;
    WriteHeaderFields();
  }
  return result;
}

void TFileManager::Release(int32_t dataOffset) {
  Operation_ = OpRelease;
  LastError_ = 0;
  if (dataOffset == store::NoOffset || dataOffset == AnchorOffset_) return;
  if (Stopped_) {
    Fail(StatusRead);
    return;
  }
  const int32_t start = static_cast<int32_t>(BlockStart(dataOffset));
  char prefix[PrefixLength];
  if (!Seek(start) || !ReadBytes(prefix, PrefixLength)) {
    ReportFatal(LastError_);
    return;
  }
  const int32_t length = GetInt32(prefix);
  if (!BlockProblem(dataOffset, length, 0).empty() || !Unclaim(dataOffset, length)) {
    MarkDamaged(start, "block " + Text(dataOffset) + " cannot be released");
    return;
  }
  ReleaseExtent(start, length);
  if (LastError_ == 0) WriteFreeList();
  if (LastError_ != 0) ReportFatal(LastError_);
}

void TFileManager::ReleaseExtent(int32_t offset, int32_t length) {
  Operation_ = OpReleaseExtent;
  LastError_ = 0;
  if (length == 0) return;
  if (offset + length < EndOffset_) {
    FreeList_.AddExtent(offset, length);
  } else {
    // The last block in use: the logical end moves back to it.
    EndOffset_ = offset;
    WriteHeaderFields();
  }
}

// ---------------------------------------------------------------------------------------
// Checks

bool TFileManager::InBlocks(int32_t dataOffset, int32_t blockLength, int32_t minData) const {
  const int64_t start = BlockStart(dataOffset);
  return start >= HeaderLength && blockLength >= PrefixLength + int64_t(minData) &&
         start + blockLength <= EndOffset_;
}

bool TFileManager::PlausibleBlock(int32_t dataOffset) const {
  return InBlocks(dataOffset, store::BlockHeadLength, store::RecordHeaderLength) &&
         !FreeList_.Overlaps(BlockStart(dataOffset), PrefixLength);
}

std::string TFileManager::BlockProblem(int32_t dataOffset, int32_t blockLength,
                                       int32_t minData) const {
  const std::string where = "block" + store::At(dataOffset) + " (length " + Text(blockLength) + ")";
  if (!InBlocks(dataOffset, blockLength, minData)) return where + " runs outside the blocks area";
  if (FreeList_.Overlaps(BlockStart(dataOffset), blockLength))
    return where + " overlaps a free extent";
  return {};
}

bool TFileManager::CheckBlock(int32_t dataOffset, int32_t blockLength, int32_t minData) {
  if (Stopped_) return false;
  const std::string problem = BlockProblem(dataOffset, blockLength, minData);
  if (problem.empty()) return true;
  MarkDamaged(BlockStart(dataOffset), problem);
  return false;
}

bool TFileManager::ClearOfClaimed(int32_t dataOffset, int32_t blockLength, bool sameAllowed) {
  const int64_t start = BlockStart(dataOffset);
  for (const TExtent& claimed : Claimed_) {
    if (sameAllowed && claimed.Offset == start && claimed.Length == blockLength) continue;
    if (claimed.Offset < start + blockLength && start < claimed.Offset + claimed.Length) {
      MarkDamaged(start, "block " + Text(dataOffset) + " overlaps the block at " +
                             Text(DataOffsetAt(claimed.Offset)) + ", or is named twice");
      return false;
    }
  }
  return true;
}

bool TFileManager::ClaimBlock(int32_t dataOffset, int32_t blockLength, int32_t minData) {
  if (!CheckBlock(dataOffset, blockLength, minData) ||
      !ClearOfClaimed(dataOffset, blockLength, false))
    return false;
  Claimed_.push_back({BlockStart(dataOffset), blockLength});
  return true;
}

bool TFileManager::Unclaim(int32_t dataOffset, int32_t blockLength) {
  const int64_t start = BlockStart(dataOffset);
  for (size_t i = 0; i < Claimed_.size(); ++i) {
    const TExtent& claimed = Claimed_[i];
    if (claimed.Offset == start && claimed.Length == blockLength) {
      Claimed_.erase(Claimed_.begin() + static_cast<ptrdiff_t>(i));
      return true;
    }
    if (claimed.Offset < start + blockLength && start < claimed.Offset + claimed.Length)
      return false;
  }
  return true;
}
