// The rollback journal: an operation's writes are planned in memory and applied to the
// database at once, after the bytes they replace are safe in the journal beside it; and the
// restoring of a database whose last write did not finish.
#include <zlib.h>

#include <algorithm>
#include <optional>

#include "filestore/StoreInternal.h"

namespace {

// The journal as it is since it stays from one write to the next. A journal of the first
// form ("twdbjrn1": no length after the write, no check value of what the write put in the
// database) was deleted once its write was done: one that is still there is put back.
constexpr std::string_view kJournalMagic = "twdbjrn2";
constexpr std::string_view kFirstMagic = "twdbjrn1";
// What marks a journal empty: its magic overwritten.
constexpr std::string_view kEmptyMagic("\0\0\0\0\0\0\0\0", 8);
// Magic, original length, length after the write, range count, check value of the bytes
// written; each range its offset, written length and original length.
constexpr size_t kHeaderLength = 8 + 8 + 8 + 4 + 4;
constexpr size_t kRangeHeaderLength = 8 + 4 + 4;
constexpr size_t kChecksumLength = 4;
// Changed ranges closer than this are written as one, the bytes between them rewritten as
// they are: a system call costs more than copying a page.
constexpr int64_t kGatherGap = 4096;

constexpr std::string_view kUnfinished =
    "the last write to this database did not finish; open it once with write access to "
    "restore it";

bool gFlushWrites = true;

// Little-endian, as the database's own numbers: 64-bit values as two 32-bit halves.
char* PutInt64(char* at, int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  store::PutInt32(at, static_cast<int32_t>(bits));
  store::PutInt32(at + 4, static_cast<int32_t>(bits >> 32));
  return at + 8;
}

char* PutInt32(char* at, uint32_t value) {
  store::PutInt32(at, static_cast<int32_t>(value));
  return at + 4;
}

// The CRC-32 of the bytes, going on from that of the bytes before them (0 for none).
uint32_t Crc32(std::string_view bytes, uLong crc = 0) {
  for (size_t done = 0; done < bytes.size();) {
    const auto chunk = static_cast<uInt>(std::min<size_t>(bytes.size() - done, 1u << 30));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + done), chunk);
    done += chunk;
  }
  return static_cast<uint32_t>(crc);
}

// Lays a journal out in `image`, whose length is known before it starts.
class TJournalWriter {
 public:
  TJournalWriter(store::TBytes& image, size_t rangeCount, size_t originalBytes,
                 int64_t originalSize, int64_t newSize)
      : Image_(image) {
    char* at = image.Resize(kHeaderLength + rangeCount * kRangeHeaderLength + originalBytes +
                            kChecksumLength);
    std::memcpy(at, kJournalMagic.data(), kJournalMagic.size());
    at = PutInt64(at + kJournalMagic.size(), originalSize);
    at = PutInt64(at, newSize);
    At_ = PutInt32(PutInt32(at, static_cast<uint32_t>(rangeCount)), 0);  // check value: Finish
  }

  // Adds a range; its `originalLength` original bytes go where the answer points.
  char* AddRange(int64_t offset, size_t written, size_t originalLength) {
    char* original = PutInt32(PutInt32(PutInt64(At_, offset), static_cast<uint32_t>(written)),
                              static_cast<uint32_t>(originalLength));
    At_ = original + originalLength;
    return original;
  }

  // Completes the journal with the check value of the bytes written in the ranges.
  std::string_view Finish(uint32_t writtenCheck) {
    PutInt32(Image_.Data() + kHeaderLength - 4, writtenCheck);
    const std::string_view body(Image_.Data(), Image_.Size() - kChecksumLength);
    PutInt32(At_, Crc32(body));
    return Image_.View();
  }

 private:
  store::TBytes& Image_;
  char* At_;
};

// Reads a journal's fields in order, each only when its bytes are there.
class TFields {
 public:
  explicit TFields(std::string_view bytes) : Bytes_(bytes) {}
  bool Int32(int32_t& value) {
    if (Bytes_.size() - At_ < 4) return false;
    value = store::GetInt32(Bytes_.data() + At_);
    At_ += 4;
    return true;
  }
  bool Int64(int64_t& value) {
    int32_t low = 0, high = 0;
    if (!Int32(low) || !Int32(high)) return false;
    value = static_cast<int64_t>(uint64_t{static_cast<uint32_t>(high)} << 32 | static_cast<uint32_t>(low));
    return true;
  }
  bool Bytes(int32_t count, std::string_view& bytes) {
    if (count < 0 || Bytes_.size() - At_ < static_cast<size_t>(count)) return false;
    bytes = Bytes_.substr(At_, static_cast<size_t>(count));
    At_ += static_cast<size_t>(count);
    return true;
  }
  bool AtEnd() const { return At_ == Bytes_.size(); }

 private:
  std::string_view Bytes_;
  size_t At_ = 0;
};

struct TSavedRange {
  int64_t Offset;
  int64_t Written;            // the length the write put there
  std::string_view Original;  // the bytes below the database's original size
};

struct TJournal {
  int64_t OriginalSize = 0;
  // The database's length after the write and the check value of what it wrote; -1 in a
  // journal of the first form.
  int64_t NewSize = -1;
  uint32_t WrittenCheck = 0;
  std::vector<TSavedRange> Ranges;
};

// The journal as written, or nothing when it is not complete: cut short, or its checksum
// failing. One whose ranges are not as this store writes them (in order, inside both
// lengths, with exactly the original bytes below the original length) is no journal of
// ours. A journal of the first form has the same ranges without their written lengths.
std::optional<TJournal> ParseJournal(std::string_view bytes) {
  if (bytes.size() < kFirstMagic.size() + kChecksumLength) return std::nullopt;
  const std::string_view body = bytes.substr(0, bytes.size() - kChecksumLength);
  if (Crc32(body) != static_cast<uint32_t>(store::GetInt32(body.data() + body.size())))
    return std::nullopt;
  const std::string_view magic = body.substr(0, kJournalMagic.size());
  const bool first = magic == kFirstMagic;
  if (!first && magic != kJournalMagic) return std::nullopt;
  TFields fields(body.substr(magic.size()));
  TJournal journal;
  int64_t newSize = 0;
  int32_t count = 0, check = 0;
  if (!fields.Int64(journal.OriginalSize) || (!first && !fields.Int64(newSize)) ||
      !fields.Int32(count) || (!first && !fields.Int32(check)) || journal.OriginalSize < 0 ||
      (!first && newSize < journal.OriginalSize))
    return std::nullopt;
  const int64_t limit = first ? journal.OriginalSize : newSize;
  int64_t end = 0, furthest = journal.OriginalSize;
  for (int32_t i = 0; i < count; ++i) {
    TSavedRange range{};
    int32_t written = 0, original = 0;
    if (!fields.Int64(range.Offset) || (!first && !fields.Int32(written)) ||
        !fields.Int32(original) || !fields.Bytes(original, range.Original))
      return std::nullopt;
    range.Written = first ? original : written;
    if (range.Offset < end || range.Written < 0 || range.Offset > limit - range.Written ||
        original != std::clamp<int64_t>(journal.OriginalSize - range.Offset, 0, range.Written))
      return std::nullopt;
    end = range.Offset + range.Written;
    furthest = std::max(furthest, end);
    journal.Ranges.push_back(range);
  }
  if (!fields.AtEnd()) return std::nullopt;
  if (!first) {
    // The write never made the database longer than its last range.
    if (newSize != furthest) return std::nullopt;
    journal.NewSize = newSize;
    journal.WrittenCheck = static_cast<uint32_t>(check);
  }
  return journal;
}

bool WriteAt(TStoreFile& database, int64_t offset, std::string_view bytes) {
  return database.Seek(offset) && database.Position() == offset &&
         database.Write(bytes.data(), bytes.size()) == bytes.size();
}

// True when the database holds the whole write: the length after it, and in every range
// the bytes it wrote there. Only the marking of its journal was lost then.
bool HoldsWrite(TStoreFile& database, const TJournal& journal) {
  if (journal.NewSize < 0 || database.Size() != journal.NewSize) return false;
  uint32_t check = 0;
  constexpr size_t kChunk = 16384;
  char* chunk = store::Scratch().Block.Resize(kChunk);
  for (const TSavedRange& range : journal.Ranges) {
    for (int64_t done = 0; done < range.Written;) {
      const auto count = static_cast<size_t>(std::min<int64_t>(range.Written - done, kChunk));
      if (!database.Seek(range.Offset + done) || database.Read(chunk, count) != count) return false;
      check = Crc32(std::string_view(chunk, count), check);
      done += static_cast<int64_t>(count);
    }
  }
  return check == journal.WrittenCheck;
}

// The original bytes back, the original length, and all of it on the disk.
bool PutBack(TStoreFile& database, const TJournal& journal) {
  for (const TSavedRange& range : journal.Ranges)
    if (!WriteAt(database, range.Offset, range.Original)) return false;
  return (database.Size() == journal.OriginalSize || database.Truncate(journal.OriginalSize)) &&
         database.Flush();
}

// Marking a journal empty needs no flush: a journal found holding a write whose bytes are
// all in the database is marked again (HoldsWrite).
bool MarkEmpty(TStoreJournal& journal) { return journal.MarkEmpty(kEmptyMagic); }

std::string UnfinishedText(const FilePath& path) {
  return path.empty() ? std::string(kUnfinished) : store::PathText(path) + ": " + std::string(kUnfinished);
}

}  // namespace

void SetFlushWrites(bool flush) { gFlushWrites = flush; }

bool FlushWrites() { return gFlushWrites; }

std::string store::JournalBytes(int64_t originalSize, const std::vector<TJournalRange>& ranges) {
  int64_t newSize = originalSize;
  size_t originals = 0;
  uint32_t check = 0;
  for (const TJournalRange& range : ranges) {
    newSize = std::max(newSize, range.Offset + static_cast<int64_t>(range.Written.size()));
    originals += range.Original.size();
    check = Crc32(range.Written, check);
  }
  TBytes image;
  TJournalWriter writer(image, ranges.size(), originals, originalSize, newSize);
  for (const TJournalRange& range : ranges)
    std::memcpy(writer.AddRange(range.Offset, range.Written.size(), range.Original.size()),
                range.Original.data(), range.Original.size());
  return std::string(writer.Finish(check));
}

// A journal that is there but cannot be read may hold a write: Restore then says it cannot
// put it back.
bool store::JournalPending(TStoreJournal& journal) {
  std::string magic;
  if (!journal.Read(magic, kJournalMagic.size())) return journal.Exists();
  return magic == kJournalMagic || magic == kFirstMagic;
}

bool store::Restore(TStoreFile& database, const FilePath& path, std::string& error) {
  TStoreJournal& journal = database.Journal();
  if (!JournalPending(journal)) return false;
  std::string bytes;
  if (!journal.Read(bytes, std::string::npos)) {
    error = UnfinishedText(path);
    return false;
  }
  const std::optional<TJournal> parsed = ParseJournal(bytes);
  // An incomplete journal was being written when the write stopped, before the database was
  // touched. One that is longer than the database belongs to a file deleted since.
  if (!parsed || database.Size() < parsed->OriginalSize || HoldsWrite(database, *parsed)) {
    MarkEmpty(journal);
    return false;
  }
  if (!PutBack(database, *parsed) || !MarkEmpty(journal)) {
    error = UnfinishedText(path);
    return false;
  }
  return true;
}

bool store::RestoreOpened(TFileStream& file, const FilePath& path, std::string& error) {
  if (file.IsOpen()) return Restore(file, path, error);
  error = file.OpenError();
  return false;
}

bool RestoreDatabase(TStoreFile& database, std::string* error) {
  std::string unfinished;
  const bool restored = store::Restore(database, {}, unfinished);
  if (error) *error = std::move(unfinished);
  return restored;
}

bool RestoreDatabase(const FilePath& database, std::string* error) {
  if (!store::FileExists(database)) return false;
  TFileStream file(database, TOpenMode::ReadOnly);
  std::string failure;
  const bool restored = store::RestoreOpened(file, database, failure);
  if (error) *error = std::move(failure);
  return restored;
}

// ---------------------------------------------------------------------------------------
// Write plan

TWritePlan::TWritePlan(TStoreFile& database)
    : Database_(database), OriginalSize_(database.Size()), PlannedSize_(OriginalSize_) {}

// The planned extents' storage back to the scratch.
TWritePlan::~TWritePlan() {
  for (auto& [offset, bytes] : Planned_) store::GiveBytes(std::move(bytes));
}

// The database follows, so that a seek that fails there fails here.
bool TWritePlan::Seek(int64_t offset) {
  if (offset < 0 || !Database_.Seek(offset) || Database_.Position() != offset) return false;
  Position_ = offset;
  return true;
}

size_t TWritePlan::Read(void* target, size_t count) {
  if (Position_ >= PlannedSize_) return 0;
  const int64_t start = Position_;
  const int64_t end = start + std::min<int64_t>(static_cast<int64_t>(count), PlannedSize_ - start);
  char* out = static_cast<char*>(target);
  auto extent = Planned_.upper_bound(start);
  if (extent != Planned_.begin()) --extent;
  const bool planned = extent != Planned_.end() && extent->first <= start &&
                       extent->first + static_cast<int64_t>(extent->second.Size()) >= end;
  if (!planned) {
    // From the database as it is, zero bytes past its end, the planned bytes on top.
    const int64_t fromFile = std::max<int64_t>(0, std::min(end, OriginalSize_) - start);
    if (fromFile > 0 &&
        ((Database_.Position() != start && (!Database_.Seek(start) || Database_.Position() != start)) ||
         Database_.Read(out, size_t(fromFile)) != size_t(fromFile)))
      return 0;
    std::fill(out + fromFile, out + (end - start), '\0');
  }
  for (; extent != Planned_.end() && extent->first < end; ++extent) {
    const int64_t from = std::max(start, extent->first);
    const int64_t to = std::min(end, extent->first + static_cast<int64_t>(extent->second.Size()));
    if (from < to)
      std::copy_n(extent->second.Data() + (from - extent->first), to - from, out + (from - start));
  }
  Position_ = end;
  return size_t(end - start);
}

size_t TWritePlan::Write(const void* source, size_t count) {
  const char* in = static_cast<const char*>(source);
  const int64_t start = Position_, end = start + static_cast<int64_t>(count);
  // The extents this write touches or overlaps, from `first` up to `last`.
  auto first = Planned_.upper_bound(start);
  if (first != Planned_.begin() &&
      std::prev(first)->first + static_cast<int64_t>(std::prev(first)->second.Size()) >= start)
    --first;
  auto last = first;
  int64_t from = start, to = end;
  for (; last != Planned_.end() && last->first <= end; ++last) {
    from = std::min(from, last->first);
    to = std::max(to, last->first + static_cast<int64_t>(last->second.Size()));
  }
  // The write and the extents it touches cover [from, to) without a gap: what grows is
  // written at once.
  if (first != last && std::next(first) == last && first->first == from) {
    // Within or at the end of one extent: in place.
    std::memcpy(first->second.Resize(size_t(to - from)) + (start - from), in, count);
  } else {
    store::TBytes joined = store::TakeBytes(size_t(to - from));
    char* out = joined.Resize(size_t(to - from));
    for (auto extent = first; extent != last; ++extent) {
      std::memcpy(out + (extent->first - from), extent->second.Data(), extent->second.Size());
      store::GiveBytes(std::move(extent->second));
    }
    std::memcpy(out + (start - from), in, count);
    Planned_.erase(first, last);
    Planned_.emplace(from, std::move(joined));
  }
  PlannedSize_ = std::max(PlannedSize_, end);
  Position_ = end;
  return count;
}

// The planned extents joined into the ranges the write changes.
std::vector<TWritePlan::TRun> TWritePlan::GatherRuns() const {
  std::vector<TRun> runs;
  for (const auto& [offset, bytes] : Planned_) {
    const int64_t end = offset + static_cast<int64_t>(bytes.Size());
    if (!runs.empty() && offset - runs.back().End <= kGatherGap)
      runs.back().End = end;
    else
      runs.push_back({offset, end});
  }
  return runs;
}

// Lays out the journal and the bytes to write in the scratch: the original bytes
// are read straight into the journal, and each run's bytes are put together from them and
// the planned extents.
int32_t TWritePlan::Prepare(std::vector<TRun>& runs) {
  size_t originals = 0, written = 0;
  for (TRun& run : runs) {
    run.OriginalLength = size_t(std::clamp<int64_t>(OriginalSize_ - run.Start, 0, run.End - run.Start));
    originals += run.OriginalLength;
    written += size_t(run.End - run.Start);
  }
  store::TScratch& scratch = store::Scratch();
  TJournalWriter journal(scratch.Journal, runs.size(), originals, OriginalSize_, PlannedSize_);
  char* out = scratch.Written.Resize(written);
  for (TRun& run : runs) {
    char* original = journal.AddRange(run.Start, size_t(run.End - run.Start), run.OriginalLength);
    if (run.OriginalLength > 0) {
      if (!Database_.Seek(run.Start) || Database_.Position() != run.Start) return StatusSeek;
      if (Database_.Read(original, run.OriginalLength) != run.OriginalLength) return StatusRead;
    }
    run.Original = original;
    FillRun(run, out);
    out += run.End - run.Start;
  }
  journal.Finish(Crc32(scratch.Written.View()));
  return StatusNone;
}

// The run's bytes as the write leaves them: the planned extents, and between them what the
// database holds (zero bytes past its original end).
void TWritePlan::FillRun(const TRun& run, char* out) const {
  int64_t at = run.Start;
  const auto keep = [&](int64_t to) {
    const int64_t kept = std::clamp<int64_t>(OriginalSize_ - at, 0, to - at);
    std::memcpy(out + (at - run.Start), run.Original + (at - run.Start), size_t(kept));
    std::memset(out + (at + kept - run.Start), 0, size_t(to - at - kept));
    at = to;
  };
  for (auto extent = Planned_.lower_bound(run.Start); extent != Planned_.end() && extent->first < run.End;
       ++extent) {
    keep(extent->first);
    std::memcpy(out + (at - run.Start), extent->second.Data(), extent->second.Size());
    at += static_cast<int64_t>(extent->second.Size());
  }
}

int32_t TWritePlan::Apply(const std::vector<TRun>& runs) {
  const char* bytes = store::Scratch().Written.Data();
  for (const TRun& run : runs) {
    const auto length = size_t(run.End - run.Start);
    if (!Database_.Seek(run.Start) || Database_.Position() != run.Start) return StatusSeek;
    if (Database_.Write(bytes, length) != length) return StatusWrite;
    bytes += length;
  }
  return StatusNone;
}

// Puts back what Apply changed. When that fails too, the journal stays for the next opening.
void TWritePlan::Undo(const std::vector<TRun>& runs) {
  for (const TRun& run : runs)
    if (!WriteAt(Database_, run.Start, std::string_view(run.Original, run.OriginalLength))) return;
  if (Database_.Size() != OriginalSize_ && !Database_.Truncate(OriginalSize_)) return;
  if (Database_.Flush()) MarkEmpty(Database_.Journal());
}

int32_t TWritePlan::Commit() {
  if (Planned_.empty()) return StatusNone;
  std::vector<TRun> runs = GatherRuns();
  if (const int32_t status = Prepare(runs)) return status;
  TStoreJournal& journal = Database_.Journal();
  if (!journal.Write(store::Scratch().Journal.View()) || (FlushWrites() && !journal.Flush())) {
    MarkEmpty(journal);  // the database is untouched
    return StatusWrite;
  }
  int32_t status = Apply(runs);
  if (status == StatusNone && FlushWrites() && !Database_.Flush()) status = StatusWrite;
  if (status != StatusNone) {
    Undo(runs);
    return status;
  }
  // When the marking fails, or a power cut takes it, the next opening finds that the
  // database holds the whole write and marks the journal then.
  MarkEmpty(journal);
  return StatusNone;
}

int32_t store::FinishPlanned(TFileManager& manager, TWritePlan& plan) {
  const int32_t status = manager.Finish();
  return status != StatusNone ? status : plan.Commit();
}
