// The rollback journal: an operation's writes are planned in memory and applied to the
// database at once, after the bytes they replace are safe in the journal beside it; and the
// restoring of a database whose last write did not finish.
#include <zlib.h>

#include <algorithm>
#include <optional>

#include "filestore/StoreInternal.h"

namespace {

constexpr std::string_view kJournalMagic = "twdbjrn1";
constexpr size_t kJournalHeaderLength = 8 + 8 + 4;  // magic, original length, range count
constexpr size_t kRangeHeaderLength = 8 + 4;        // offset, length
constexpr size_t kChecksumLength = 4;
// Changed ranges closer than this are written as one, the bytes between them rewritten as
// they are: a system call costs more than copying a page.
constexpr int64_t kGatherGap = 4096;

constexpr std::string_view kUnfinished =
    "the last write to this database did not finish; open it once with write access to "
    "restore it";

bool gFlushWrites = true;

// Little-endian, as the database's own numbers: 64-bit values as two 32-bit halves.
void AppendInt32(std::string& out, uint32_t value) {
  char bytes[4];
  store::PutInt32(bytes, static_cast<int32_t>(value));
  out.append(bytes, sizeof bytes);
}

void AppendInt64(std::string& out, int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  AppendInt32(out, static_cast<uint32_t>(bits));
  AppendInt32(out, static_cast<uint32_t>(bits >> 32));
}

int64_t GetInt64(const char* at) {
  const auto low = static_cast<uint32_t>(store::GetInt32(at));
  const auto high = static_cast<uint32_t>(store::GetInt32(at + 4));
  return static_cast<int64_t>(uint64_t{high} << 32 | low);
}

uint32_t Checksum(std::string_view bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (size_t done = 0; done < bytes.size();) {
    const auto chunk = static_cast<uInt>(std::min<size_t>(bytes.size() - done, 1u << 30));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + done), chunk);
    done += chunk;
  }
  return static_cast<uint32_t>(crc);
}

struct TJournalRange {
  int64_t Offset;
  std::string_view Original;
};

struct TJournal {
  int64_t OriginalSize;
  std::vector<TJournalRange> Ranges;
};

// The journal as written, or nothing when it is not complete: cut short, or its checksum
// failing. One whose ranges do not fit its own original length is no journal of ours.
std::optional<TJournal> ParseJournal(std::string_view bytes) {
  if (bytes.size() < kJournalHeaderLength + kChecksumLength ||
      bytes.substr(0, kJournalMagic.size()) != kJournalMagic)
    return std::nullopt;
  const size_t body = bytes.size() - kChecksumLength;
  if (Checksum(bytes.substr(0, body)) != static_cast<uint32_t>(store::GetInt32(bytes.data() + body)))
    return std::nullopt;
  TJournal journal{GetInt64(bytes.data() + 8), {}};
  const int32_t count = store::GetInt32(bytes.data() + 16);
  if (journal.OriginalSize < 0 || count < 0) return std::nullopt;
  size_t at = kJournalHeaderLength;
  for (int32_t i = 0; i < count; ++i) {
    if (body - at < kRangeHeaderLength) return std::nullopt;
    const int64_t offset = GetInt64(bytes.data() + at);
    const int32_t length = store::GetInt32(bytes.data() + at + 8);
    at += kRangeHeaderLength;
    if (offset < 0 || length < 0 || static_cast<size_t>(length) > body - at ||
        offset > journal.OriginalSize - length)
      return std::nullopt;
    journal.Ranges.push_back({offset, bytes.substr(at, static_cast<size_t>(length))});
    at += static_cast<size_t>(length);
  }
  if (at != body) return std::nullopt;
  return journal;
}

bool WriteAt(TStoreFile& database, int64_t offset, std::string_view bytes) {
  return database.Seek(offset) && database.Position() == offset &&
         database.Write(bytes.data(), bytes.size()) == bytes.size();
}

// The original bytes back, the original length, and all of it on the disk.
bool PutBack(TStoreFile& database, const TJournal& journal) {
  for (const TJournalRange& range : journal.Ranges)
    if (!WriteAt(database, range.Offset, range.Original)) return false;
  return (database.Size() == journal.OriginalSize || database.Truncate(journal.OriginalSize)) &&
         database.Flush();
}

std::string UnfinishedText(const FilePath& path) {
  return path.empty() ? std::string(kUnfinished) : store::PathText(path) + ": " + std::string(kUnfinished);
}

}  // namespace

void SetFlushWrites(bool flush) { gFlushWrites = flush; }

bool FlushWrites() { return gFlushWrites; }

std::string store::JournalBytes(int64_t originalSize,
                                const std::vector<std::pair<int64_t, std::string_view>>& ranges) {
  std::string bytes(kJournalMagic);
  AppendInt64(bytes, originalSize);
  AppendInt32(bytes, static_cast<uint32_t>(ranges.size()));
  for (const auto& [offset, original] : ranges) {
    AppendInt64(bytes, offset);
    AppendInt32(bytes, static_cast<uint32_t>(original.size()));
    bytes.append(original);
  }
  AppendInt32(bytes, Checksum(bytes));
  return bytes;
}

bool store::Restore(TStoreFile& database, const FilePath& path, std::string& error) {
  TStoreJournal& journal = database.Journal();
  if (!journal.Exists()) return false;
  std::string bytes;
  if (!journal.Read(bytes)) {
    error = UnfinishedText(path);
    return false;
  }
  const std::optional<TJournal> parsed = ParseJournal(bytes);
  // An incomplete journal was being written when the write stopped, before the database was
  // touched. One that is longer than the database belongs to a file deleted since.
  if (!parsed || database.Size() < parsed->OriginalSize) {
    journal.Remove();
    return false;
  }
  if (!PutBack(database, *parsed) || !journal.Remove()) {
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
                       extent->first + static_cast<int64_t>(extent->second.size()) >= end;
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
    const int64_t to = std::min(end, extent->first + static_cast<int64_t>(extent->second.size()));
    if (from < to)
      std::copy_n(extent->second.data() + (from - extent->first), to - from, out + (from - start));
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
      std::prev(first)->first + static_cast<int64_t>(std::prev(first)->second.size()) >= start)
    --first;
  auto last = first;
  int64_t from = start, to = end;
  for (; last != Planned_.end() && last->first <= end; ++last) {
    from = std::min(from, last->first);
    to = std::max(to, last->first + static_cast<int64_t>(last->second.size()));
  }
  if (first != last && std::next(first) == last && first->first == from) {
    // Within or at the end of one extent: in place.
    first->second.resize(size_t(to - from));
    std::copy_n(in, count, first->second.data() + (start - from));
  } else {
    std::string joined(size_t(to - from), '\0');
    for (auto extent = first; extent != last; ++extent)
      std::copy(extent->second.begin(), extent->second.end(), joined.data() + (extent->first - from));
    std::copy_n(in, count, joined.data() + (start - from));
    Planned_.erase(first, last);
    Planned_.emplace(from, std::move(joined));
  }
  PlannedSize_ = std::max(PlannedSize_, end);
  Position_ = end;
  return count;
}

// The planned extents joined into runs of the bytes to write, each with the bytes it
// replaces below the database's original size.
std::vector<TWritePlan::TRun> TWritePlan::GatherRuns(int32_t& status) {
  std::vector<TRun> runs;
  for (auto extent = Planned_.begin(); extent != Planned_.end();) {
    TRun run{extent->first, {}, {}};
    int64_t end = extent->first + static_cast<int64_t>(extent->second.size());
    auto last = std::next(extent);
    for (; last != Planned_.end() && last->first - end <= kGatherGap; ++last)
      end = last->first + static_cast<int64_t>(last->second.size());
    const int64_t originalEnd = std::min(end, OriginalSize_);
    if (run.Start < originalEnd) {
      run.Original.resize(size_t(originalEnd - run.Start));
      if (!Database_.Seek(run.Start) || Database_.Position() != run.Start) {
        status = StatusSeek;
        return {};
      }
      if (Database_.Read(run.Original.data(), run.Original.size()) != run.Original.size()) {
        status = StatusRead;
        return {};
      }
    }
    run.Bytes = run.Original;
    run.Bytes.resize(size_t(end - run.Start), '\0');
    for (; extent != last; ++extent)
      std::copy(extent->second.begin(), extent->second.end(), run.Bytes.data() + (extent->first - run.Start));
    runs.push_back(std::move(run));
  }
  return runs;
}

std::string TWritePlan::JournalImage(const std::vector<TRun>& runs) const {
  std::vector<std::pair<int64_t, std::string_view>> ranges;
  for (const TRun& run : runs)
    if (!run.Original.empty()) ranges.emplace_back(run.Start, run.Original);
  return store::JournalBytes(OriginalSize_, ranges);
}

int32_t TWritePlan::Apply(const std::vector<TRun>& runs) {
  for (const TRun& run : runs) {
    if (!Database_.Seek(run.Start) || Database_.Position() != run.Start) return StatusSeek;
    if (Database_.Write(run.Bytes.data(), run.Bytes.size()) != run.Bytes.size()) return StatusWrite;
  }
  return StatusNone;
}

// Puts back what Apply changed. When that fails too, the journal stays for the next opening.
void TWritePlan::Undo(const std::vector<TRun>& runs) {
  for (const TRun& run : runs)
    if (!run.Original.empty() && !WriteAt(Database_, run.Start, run.Original)) return;
  if (Database_.Size() != OriginalSize_ && !Database_.Truncate(OriginalSize_)) return;
  if (Database_.Flush()) Database_.Journal().Remove();
}

int32_t TWritePlan::Commit() {
  if (Planned_.empty()) return StatusNone;
  int32_t status = StatusNone;
  const std::vector<TRun> runs = GatherRuns(status);
  if (status != StatusNone) return status;
  TStoreJournal& journal = Database_.Journal();
  if (!journal.Create(JournalImage(runs)) || (FlushWrites() && !journal.Flush())) {
    journal.Remove();  // the database is untouched
    return StatusWrite;
  }
  status = Apply(runs);
  if (status == StatusNone && ((FlushWrites() && !Database_.Flush()) || !journal.Remove()))
    status = StatusWrite;
  if (status != StatusNone) {
    Undo(runs);
    return status;
  }
  Planned_.clear();
  return StatusNone;
}

int32_t store::FinishPlanned(TFileManager& manager, TWritePlan& plan) {
  const int32_t status = manager.Finish();
  return status != StatusNone ? status : plan.Commit();
}
