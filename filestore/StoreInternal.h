// The store's internals: the block file, its free list, the entry index and the helpers
// the parts of the store share. Not part of its interface (filestore/FileMan.h); tests and
// the store's own tools use them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filestore/FileMan.h"
#include "filestore/Format.h"

namespace store {

// Bytes that grow without being zero-filled first, always followed by a zero byte. Clearing
// or shrinking keeps the storage, so that a buffer kept from one operation to the next is
// set up only once.
class TBytes {
 public:
  TBytes() = default;
  TBytes(TBytes&&) noexcept = default;
  TBytes& operator=(TBytes&&) noexcept = default;
  TBytes(const TBytes&) = delete;
  TBytes& operator=(const TBytes&) = delete;

  const char* Data() const { return Storage_ ? Storage_.get() : ""; }
  char* Data() { return Storage_.get(); }
  size_t Size() const { return Size_; }
  bool Empty() const { return Size_ == 0; }
  size_t Capacity() const { return Capacity_; }
  std::string_view View() const { return {Data(), Size_}; }

  void Clear() { Resize(0); }
  // Makes the size `size` and answers the bytes: those below the old size are kept, any
  // further ones hold whatever the storage held, for the caller to write.
  char* Resize(size_t size);
  void Append(std::string_view bytes);
  void Erase(size_t at, size_t count);
  void Replace(size_t at, size_t count, std::string_view bytes);

 private:
  void Reserve(size_t capacity);

  std::unique_ptr<char[]> Storage_;  // Capacity_ + 1 bytes
  size_t Size_ = 0;
  size_t Capacity_ = 0;
};

// The storage of one index's names and offsets (TFMindex).
struct TIndexStorage {
  TBytes Names;
  std::vector<int32_t> Offsets;
  std::vector<uint32_t> Starts;
  bool Lent = false;
};

// What an operation needs in proportion to the size of an index or a payload, kept from one
// operation to the next, as the zlib states are: setting it up afresh (and, with glibc's
// heap trimming or Windows' decommitting, faulting its pages in again) cost more than the
// work it holds. Each buffer keeps the largest size it has held. One for the process: the
// store is single-threaded.
struct TScratch {
  TBytes Block;    // a block's bytes as read: an index's record and offsets, a payload
  TBytes Packed;   // deflate's output
  TBytes Journal;  // the journal of the write being committed
  TBytes Written;  // the bytes that write puts in the database, range after range
  std::vector<int32_t> Sorted;  // an index's block offsets, sorted for a check
  // Storage for a write plan's extents, and for the indexes of a path as long as the
  // longest (and a few more); beyond that an index has storage of its own.
  std::array<TBytes, 8> Spare;
  std::array<TIndexStorage, 20> Indexes;
};
TScratch& Scratch();

// The spare storage of at least `size` bytes that fits best, or new storage; and back.
TBytes TakeBytes(size_t size);
void GiveBytes(TBytes&& bytes);

// An index's storage, lent by the scratch for as long as the index lives.
class TIndexLoan {
 public:
  TIndexLoan();
  ~TIndexLoan() { Storage_->Lent = false; }
  TIndexLoan(const TIndexLoan&) = delete;
  TIndexLoan& operator=(const TIndexLoan&) = delete;
  TIndexStorage& operator*() const { return *Storage_; }

 private:
  TIndexStorage Own_;  // when the scratch has none left to lend
  TIndexStorage* Storage_;
};

}  // namespace store

// ---------------------------------------------------------------------------------------
// Free list: the released extents before the end offset, ascending by offset.
// Record on disk: N, then N offsets, then N lengths.

class TFreeList {
 public:
  std::vector<int32_t> Offsets;
  std::vector<int32_t> Lengths;

  int Count() const { return static_cast<int>(Offsets.size()); }

  // Joins the extent to a neighbour it touches, otherwise inserts it in order. Always true.
  bool AddExtent(int32_t offset, int32_t length);
  bool MergeExtent(int32_t offset, int32_t length);
  void InsertExtent(int32_t offset, int32_t length);
  // Takes `length` bytes from the low end of the first extent long enough; -1 when none is.
  int32_t TakeFirstFit(int32_t length);
  // True when [offset, offset + length) shares a byte with some extent.
  bool Overlaps(int64_t offset, int64_t length) const;

  // Read or write the record at the stream's position; false on a short transfer. A count
  // larger than the rest of the stream can hold is a short read and allocates nothing.
  bool ReadFrom(TStoreStream& stream);
  bool WriteTo(TStoreStream& stream) const;
};

// ---------------------------------------------------------------------------------------
// Block file

class TFileManager {
 public:
  static constexpr int32_t MagicLength = store::MagicLength;
  static constexpr int32_t HeaderLength = store::HeaderLength;
  static const char Magic[MagicLength + 1];

  // Opens the named file (creating it in ReadWrite mode) and puts back an unfinished write;
  // when either fails, the manager stops with StatusOpen and OpenError says why.
  explicit TFileManager(const FilePath& fileName, TOpenMode mode = TOpenMode::ReadWrite);
  // Works on a stream the caller owns and keeps open.
  explicit TFileManager(TStoreStream& stream, TOpenMode mode = TOpenMode::ReadWrite);
  ~TFileManager();
  TFileManager(const TFileManager&) = delete;
  TFileManager& operator=(const TFileManager&) = delete;

  // Positioned primitives; each resets LastError first and sets it on failure.
  bool Seek(int32_t offset);
  bool WriteBytes(const void* source, int32_t count);
  bool ReadBytes(void* target, int32_t count);

  int32_t GetAnchorOffset() const { return AnchorOffset_; }
  int32_t GetEndOffset() const { return EndOffset_; }
  // Data offset of a new block with room for `size` data bytes, or -1.
  int32_t Allocate(int32_t size);
  // Returns the block at `dataOffset` to the free space (never the anchor block).
  void Release(int32_t dataOffset);

  // Status of the most recent primitive.
  int32_t LastError() const { return LastError_; }
  // The first non-zero status since opening (0 when every primitive succeeded): what the
  // entry operations return.
  int32_t Status() const { return Status_; }
  int32_t Operation() const { return Operation_; }
  const FilePath& FileName() const { return FileName_; }
  const std::string& OpenError() const { return OpenError_; }
  const TFreeList& FreeList() const { return FreeList_; }
  bool ReadOnly() const { return Mode_ == TOpenMode::ReadOnly; }

  // Consistency guards, used by the index. Once the file is found damaged, or the
  // operation is refused or failed before its first write, every later primitive fails with
  // status 2 and nothing more is written.
  bool Stopped() const { return Stopped_; }
  bool Damaged() const { return Damaged_; }
  // Offset and description of the first damage found ("" while none).
  int64_t DamageOffset() const { return DamageOffset_; }
  const std::string& DamageText() const { return DamageText_; }
  // Records the damage (the first one only), stops with status 2 and sends the fatal
  // report.
  void MarkDamaged(int64_t offset, std::string text);
  // Stops all further I/O, giving `status` unless an earlier failure set the status.
  void Refuse(int32_t status);
  // True when a block of `blockLength` bytes (prefix included) at `dataOffset` lies inside
  // the blocks area with at least `minData` data bytes.
  bool InBlocks(int32_t dataOffset, int32_t blockLength, int32_t minData) const;
  // True when `dataOffset` may name a block at all: room for a record, not in free space.
  bool PlausibleBlock(int32_t dataOffset) const;
  // What is wrong with a block of `blockLength` bytes at `dataOffset`: outside the blocks
  // area, shorter than `minData` data bytes, or overlapping a free extent; "" when nothing.
  std::string BlockProblem(int32_t dataOffset, int32_t blockLength, int32_t minData) const;
  // Checks a block about to be read (BlockProblem). Marks the file damaged when it fails.
  bool CheckBlock(int32_t dataOffset, int32_t blockLength, int32_t minData);
  // True when the block overlaps none of the blocks this operation has claimed (except
  // itself, when `sameAllowed`); marks the file damaged otherwise.
  bool ClearOfClaimed(int32_t dataOffset, int32_t blockLength, bool sameAllowed);
  // CheckBlock, and clear of every block this operation has claimed (a block named twice is
  // damage too); then claims it.
  bool ClaimBlock(int32_t dataOffset, int32_t blockLength, int32_t minData);

  // Ends an operation and gives its status; nothing reads or writes through the manager
  // afterwards. The entry operations write through a TWritePlan, which drops the
  // operation's writes when it failed.
  int32_t Finish();

 private:
  struct TExtent {
    int64_t Offset;
    int64_t Length;
  };
  void Open();
  bool InterruptedStart(int64_t size);
  bool Initialise();
  bool ReadHeaderFields();
  bool CheckHeaderFields(int64_t size);
  bool ReadFreeList();
  bool WriteHeaderFields();
  bool WriteFreeList();
  int32_t TakeFromFreeList(int32_t total);
  int32_t AppendAtEnd(int32_t total);
  void ReleaseExtent(int32_t offset, int32_t length);
  bool Unclaim(int32_t dataOffset, int32_t blockLength);
  bool InsideFile(int32_t count) const;
  bool Put(const void* source, int32_t count);
  void Fail(int32_t status);
  void ReportFatal(int32_t code);

  std::unique_ptr<TFileStream> OwnedStream_;
  TStoreStream* Stream_ = nullptr;
  TFreeList FreeList_;
  int32_t AnchorOffset_ = store::NoOffset;
  int32_t EndOffset_ = HeaderLength;
  int32_t LastError_ = 0;
  int32_t Status_ = 0;
  int32_t Operation_ = 0;
  FilePath FileName_;
  std::string OpenError_;
  TOpenMode Mode_;
  bool Wrote_ = false;
  bool Stopped_ = false;
  bool Damaged_ = false;
  int64_t DamageOffset_ = -1;
  std::string DamageText_;
  // Blocks this operation uses (anchor, indexes on its path, entries it touched or made).
  std::vector<TExtent> Claimed_;
};

namespace store {
struct TBlockHead;
}

// ---------------------------------------------------------------------------------------
// Write plan: what one operation writes, kept in memory until the operation has done all
// its work, then applied to the database at once under the protection of its journal.

class TWritePlan final : public TStoreStream {
 public:
  explicit TWritePlan(TStoreFile& database);
  ~TWritePlan() override;
  TWritePlan(const TWritePlan&) = delete;
  TWritePlan& operator=(const TWritePlan&) = delete;

  // Reads see the database with the planned bytes in place.
  int64_t Size() override { return PlannedSize_; }
  int64_t Position() const override { return Position_; }
  bool Seek(int64_t offset) override;
  size_t Read(void* target, size_t count) override;
  size_t Write(const void* source, size_t count) override;

  // Applies the plan: writes the journal (the original length and the original bytes of
  // every range about to change, and a check value of what the write puts there) and
  // flushes it, writes the ranges, flushes the database and marks the journal empty (the
  // flushes unless FlushWrites() is off). Answers 0, or the status of the call that failed;
  // the database is then put back as it was (or, when even that fails, the journal stays
  // for the next opening to put back).
  int32_t Commit();

 private:
  // A range of the database the write changes, and where the journal holds its original
  // bytes (those below the database's original size).
  struct TRun {
    int64_t Start;
    int64_t End;
    const char* Original = nullptr;
    size_t OriginalLength = 0;
  };
  std::vector<TRun> GatherRuns() const;
  int32_t Prepare(std::vector<TRun>& runs);
  void FillRun(const TRun& run, char* out) const;
  int32_t Apply(const std::vector<TRun>& runs);
  void Undo(const std::vector<TRun>& runs);

  TStoreFile& Database_;
  // Disjoint and apart: a write that touches an extent joins it. Their storage comes from
  // the scratch and goes back to it.
  std::map<int64_t, store::TBytes> Planned_;
  int64_t OriginalSize_;
  int64_t PlannedSize_;
  int64_t Position_ = 0;
};

namespace store {

// The number of lines of an index text in the form the store writes (every line ended by
// CR LF, and no CR or LF otherwise); std::string::npos for a text in any other form.
size_t CrLfLineCount(std::string_view text);

// RestoreDatabase, naming `path` in its error.
bool Restore(TStoreFile& database, const FilePath& path, std::string& error);
// The same on a file just opened: its opening's error when it could not be opened.
bool RestoreOpened(TFileStream& file, const FilePath& path, std::string& error);

// Runs an operation's manager to its end: its status, and when that is 0 the plan applied.
int32_t FinishPlanned(TFileManager& manager, TWritePlan& plan);

// A range of a journal: where it lies, what the database held there (below its original
// size), and what the write puts there.
struct TJournalRange {
  int64_t Offset;
  std::string_view Original;
  std::string_view Written;
};

// The journal of a write that changes these ranges (ascending and apart) of a database of
// `originalSize` bytes: magic, original length, length after the write (8 bytes each),
// number of ranges, CRC-32 of the bytes written; each range its offset (8 bytes), written
// length, original length and original bytes; then the CRC-32 of all that. Exposed for
// the tests.
std::string JournalBytes(int64_t originalSize, const std::vector<TJournalRange>& ranges);

// True when the journal holds a write, finished or not: a write that found the journal so
// had not marked it empty.
bool JournalPending(TStoreJournal& journal);

}  // namespace store

// ---------------------------------------------------------------------------------------
// Entry index: one node of the tree in memory, a list of child names with the data offset
// of each child's block (-1 for a child without a block). Names match without regard to
// letter case (user locale); the first match wins.

class TFMindex {
 public:
  // Loads the index named `name` in `parent` (the root index when parent is null). In a file
  // without an anchor block the root allocates it. A block that does not hold a sound index
  // marks the file damaged and leaves the index empty.
  TFMindex(TFileManager& manager, TFMindex* parent, std::string_view name);
  // Loads the index stored in the block at `blockOffset`, for inspection: it has no parent
  // and refuses every write.
  TFMindex(TFileManager& manager, int32_t blockOffset);
  ~TFMindex();
  TFMindex(const TFMindex&) = delete;
  TFMindex& operator=(const TFMindex&) = delete;

  const std::string& Name() const { return Name_; }
  TFileManager& Manager() const { return Manager_; }
  int32_t BlockOffset() const { return BlockOffset_; }
  // Length prefix of the block loaded or last written (0 while there is none).
  int32_t BlockLength() const { return BlockLength_; }
  TFMindex* Parent() const { return Parent_; }
  // The parent names an entry block here, not an index: the index stays empty, and a write
  // through it is refused.
  bool IsEntry() const { return IsEntry_; }

  int Count() const { return static_cast<int>(Offsets_.size()); }
  // Valid until the next change of the index.
  std::string_view ChildName(int i) const;
  int32_t ChildOffset(int i) const { return Offsets_[static_cast<size_t>(i)]; }
  // Position of the first child named `name`, or -1.
  int IndexOf(std::string_view name) const;

  int32_t Lookup(std::string_view name) const;
  int32_t SetChild(std::string_view name, int32_t offset);
  int32_t SetChildAndFlush(std::string_view name, int32_t offset);
  // Appends a child without looking for one of the same name; false (and nothing added)
  // for a name a block cannot store.
  bool AppendChild(std::string_view name, int32_t offset);
  void RemoveChild(int i);
  // Before the blocks of the children at `positions` are released: checks that each is a
  // sound block (inside the blocks area, clear of free space and of the blocks in use, its
  // length that of its record) and claims it; then CheckWritePath, with these blocks among
  // the path's. Marks the file damaged otherwise. A child that is an index is refused with
  // status 3: its release would drop every entry below it.
  bool ClaimChildBlocks(const std::vector<int>& positions);
  // Before a write through this index: no index from the root down to this one names a
  // block of the path (the anchor, the indexes' own blocks, the blocks about to be
  // released) other than through the one child that leads to it, or lies inside one; and
  // none has a Problem. Marks the file damaged otherwise. The cost grows with the children
  // of the indexes on the path only.
  bool CheckWritePath();
  // Damage a write could spread: a child offset where no block can be, a block longer than
  // its record and offsets, or one block named by two children. Such an index reads, but a
  // write through it is refused. "" when there is none. An empty name, or a name an earlier
  // child matches, is none of these: that child is hidden (no lookup reaches it) but keeps
  // its block through every write, and reads again once the earlier one is gone.
  std::string Problem() const;
  // False (and nothing changed) for a name a block cannot store.
  bool RenameChild(int i, std::string_view newName);

  int32_t WriteBlock();
  int32_t Flush();

  const char* ReadChild(std::string_view name, TDataBuf* buffer);
  // ReadChild when the child's record holds bytes (ChildLength above 0), with one read of
  // its block's head; otherwise the buffer stays as it was.
  const char* ReadStoredChild(std::string_view name, TDataBuf& buffer);
  int32_t WriteChild(std::string_view name, TDataBuf* buffer, bool flush);
  int32_t ChildLength(std::string_view name);
  // Kind byte of the child's record; KindNone when there is no such child or block.
  uint8_t ChildKind(std::string_view name);
  // One line per child: name, five blanks, block offset, line feed.
  std::string ShowContents() const;

 private:
  // A block a write through this index uses, and the child that names it (none for the
  // anchor and the root index's block).
  struct TPathBlock {
    int64_t Start;
    int64_t Length;
    const TFMindex* Namer;
    int Position;
  };
  bool CheckPath(std::vector<TPathBlock> blocks);
  bool FindRoot();
  bool Load();
  size_t CountNames();
  void Clear();
  // Position and start in Names_ of the first child whose name, lower-cased, is `lowered`;
  // -1 when there is none.
  std::pair<int, size_t> Find(std::string_view lowered) const;
  size_t NameStart(int i) const;
  void AddName(std::string_view name, int32_t offset);
  void NamesMoved(int i, int64_t shift);
  bool WriteRecord(int32_t dataOffset, const TDataBuf& buffer);
  void WriteOffsets();
  const char* ReadRecord(const store::TBlockHead& head, TDataBuf& buffer);

  TFileManager& Manager_;
  TFMindex* Parent_;
  std::string Name_;
  int32_t BlockOffset_ = -1;
  int32_t BlockLength_ = 0;  // length prefix of the block loaded or written
  bool IsEntry_ = false;
  bool Detached_ = false;
  // The storage below, lent by the scratch for the index's life.
  store::TIndexLoan Storage_;
  // The index text: every name followed by CR LF, in list order. A lookup lower-cases only
  // the name it looks for and runs through this text; where each name starts is worked out
  // only when a name is wanted by its position.
  store::TBytes& Names_ = (*Storage_).Names;
  std::vector<int32_t>& Offsets_ = (*Storage_).Offsets;
  std::vector<uint32_t>& Starts_ = (*Storage_).Starts;  // empty until wanted, and after a change
  // The last name looked for, as given, with its position and start (-1 when not found).
  mutable std::string LastQuery_;
  mutable int LastPosition_ = -1;
  mutable size_t LastStart_ = 0;
  mutable bool LastValid_ = false;
  bool Overlong_ = false;
  // This operation found no Problem here, and no damage on the path down to here.
  bool Checked_ = false;
  bool PathChecked_ = false;
};

namespace store {

// " at <offset>", the way the store's messages name a place in the file.
inline std::string At(int64_t offset) { return " at " + std::to_string(offset); }

// Deflate turns at most 1032 plain bytes into one byte (a 258-byte match coded in two bits),
// so no honest stream of `streamLength` bytes inflates to more than this.
inline int64_t MaxPlainLength(int32_t streamLength) {
  return streamLength <= 0 ? 0 : int64_t(streamLength) * 1032;
}

// Length prefix and payload record header of a block, read together.
struct TBlockHead {
  int32_t BlockLength;
  uint8_t Kind;
  uint8_t Compressed;
  int32_t Length;
  int32_t OriginalLength;
};

TBlockHead ParseBlockHead(const char* bytes);
// Reads the head of the block at `dataOffset` into `head`; false when the read failed. Then
// `problem` is "" when the block lies in the blocks area clear of free space and its record
// fits it, otherwise what is wrong.
bool ReadBlockHead(TFileManager& manager, int32_t dataOffset, TBlockHead& head,
                   std::string& problem);
// What is wrong with the record (unknown kind, payload longer than the block, lengths that
// disagree), or "" when nothing is.
std::string RecordProblem(const TBlockHead& head);

// A payload buffer of `count` bytes plus the terminating zero, left uninitialised.
inline std::unique_ptr<char[]> NewPayload(int64_t count) {
  auto bytes = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(count) + 1);
  bytes[static_cast<size_t>(count)] = '\0';
  return bytes;
}

// The Adler-32 check value of `length` bytes, as zlib's adler32 gives it from its start
// value 1.
uint32_t Adler32(const char* data, size_t length);

// Inflates a zlib stream into exactly `plainLength` bytes at `plain`. Answers 0 or the zlib
// code that stopped it; a stream that ends early gives Z_DATA_ERROR, one that would give
// more Z_BUF_ERROR, and a length no stream of this size can reach Z_DATA_ERROR before
// anything is done.
int InflateExact(const char* stream, int32_t streamLength, char* plain, int32_t plainLength);

// Deflates `length` bytes in one call with the store's settings. `packed` then shows the
// stream, which lies in the scratch until the next call. Answers 0 or the zlib
// code that stopped it.
int Deflate(const char* source, int32_t length, std::string_view& packed);

// The root index and the sub-indexes named by the first `depth` components below it (fewer
// when the manager stops on the way).
using TChain = std::vector<std::unique_ptr<TFMindex>>;
TChain BuildChain(TFileManager& manager, const std::vector<std::string>& components, size_t depth);

bool FileExists(const FilePath& path);

// "<database>-journal": where a database's rollback journal lies.
FilePath JournalPath(const FilePath& database);

// The path as it appears in messages (UTF-8 on Windows).
std::string PathText(const FilePath& path);

}  // namespace store
