// The client database store: one file of variable-length blocks holding a tree of named,
// zlib-compressed entries. Every entry operation opens the file exclusively, walks the
// index tree, works, writes every change and closes the file before it returns.
//
// Layout: a 46-byte header (38-byte magic, anchor offset, end offset), blocks up to the end
// offset (each a 4-byte length prefix, prefix included, then data), and the free-list record
// at the end offset. All integers are 32-bit signed little-endian; -1 means "none".
//
// Status codes: 0 none, 1 write error, 2 read error (also: the file is damaged), 3 seek
// error (also: the entry path or name is not acceptable). Callers test them for zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/Text.h"

// Database file paths: wide on Windows (opened with CreateFileW), bytes elsewhere.
#ifdef _WIN32
using FilePath = std::wstring;
#else
using FilePath = std::string;
#endif

enum : int32_t { StatusNone = 0, StatusWrite = 1, StatusRead = 2, StatusSeek = 3 };

// "No error!", "Fatal write error!", "Fatal read error!", "Fatal seek error!" or
// "Unknown FATAL error!".
std::string StatusText(int32_t code);

// ---------------------------------------------------------------------------------------
// Errors and reports

// Raised only when the database file cannot be opened ("Cannot open file <name>") or
// created ("Cannot create file <name>"). On Windows the name in what() is UTF-8; Path keeps
// the name as given.
class EStoreFileError : public std::runtime_error {
 public:
  EStoreFileError(const std::string& message, FilePath path)
      : std::runtime_error(message), Path(std::move(path)) {}
  FilePath Path;
};

// Where the store's two kinds of complaint go: the "Inflate Error" box (text from
// TDataBuf::ErrorText) and the fatal block-file report ("Block: <op>, <status text>").
// The default writes both to stderr.
class TStoreReporter {
 public:
  virtual ~TStoreReporter() = default;
  virtual void InflateError(const std::string& text);
  virtual void FatalError(const std::string& text);
};

// Installs `reporter` (null restores the default) and returns the one it replaces. The
// reporter is not owned and must outlive its installation.
TStoreReporter* SetStoreReporter(TStoreReporter* reporter);
TStoreReporter& StoreReporter();

// ---------------------------------------------------------------------------------------
// Byte streams under the block file

class TStoreStream {
 public:
  virtual ~TStoreStream() = default;
  virtual int64_t Size() = 0;
  virtual int64_t Position() const = 0;
  // True when the stream is now positioned exactly at `offset`.
  virtual bool Seek(int64_t offset) = 0;
  // Number of bytes actually read or written at the current position, which advances by it.
  // Writing past the end extends the stream (any gap reads as zero bytes).
  virtual size_t Read(void* target, size_t count) = 0;
  virtual size_t Write(const void* source, size_t count) = 0;
};

enum class TOpenMode {
  ReadWrite,  // open, or create when missing; exclusive
  ReadOnly,   // open an existing file for reading only; exclusive; never creates
  Replace,    // create, or empty an existing file; exclusive
};

// A database file held exclusively while the object lives: CreateFileW with no sharing on
// Windows, open + flock(LOCK_EX | LOCK_NB) elsewhere. Raises EStoreFileError.
class TFileStream final : public TStoreStream {
 public:
  explicit TFileStream(const FilePath& path, TOpenMode mode = TOpenMode::ReadWrite);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Size() override;
  int64_t Position() const override { return Position_; }
  bool Seek(int64_t offset) override;
  size_t Read(void* target, size_t count) override;
  size_t Write(const void* source, size_t count) override;

 private:
  struct Handle;
  std::unique_ptr<Handle> File_;
  int64_t Position_ = 0;
};

// A stream over bytes in memory.
class TMemoryStream final : public TStoreStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : Bytes(std::move(bytes)) {}

  int64_t Size() override { return static_cast<int64_t>(Bytes.size()); }
  int64_t Position() const override { return Position_; }
  bool Seek(int64_t offset) override;
  size_t Read(void* target, size_t count) override;
  size_t Write(const void* source, size_t count) override;

  std::string Bytes;

 private:
  int64_t Position_ = 0;
};

// Passes every call to another stream, except that call number `failAt` (counted from 1
// over seeks, reads and writes together, or over the calls of kind `only`) fails without
// touching the inner stream: a failed seek leaves the position, a failed read or write
// transfers nothing. 0 never fails.
class TFaultStream final : public TStoreStream {
 public:
  enum class TCall { Seek, Read, Write };

  TFaultStream(TStoreStream& inner, int failAt, std::optional<TCall> only = std::nullopt)
      : Inner_(inner), FailAt_(failAt), Only_(only) {}

  int64_t Size() override { return Inner_.Size(); }
  int64_t Position() const override { return Inner_.Position(); }
  bool Seek(int64_t offset) override;
  size_t Read(void* target, size_t count) override;
  size_t Write(const void* source, size_t count) override;

  // Calls counted so far.
  int Calls() const { return Calls_; }
  // The kind of the call that failed, if it has happened.
  std::optional<TCall> Failed() const { return Failed_; }

 private:
  bool FailsNow(TCall call);

  TStoreStream& Inner_;
  int FailAt_;
  std::optional<TCall> Only_;
  int Calls_ = 0;
  std::optional<TCall> Failed_;
};

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
  static constexpr int32_t MagicLength = 38;
  static constexpr int32_t HeaderLength = MagicLength + 8;
  static const char Magic[MagicLength + 1];

  // Opens the named file (creating it in ReadWrite mode); raises EStoreFileError.
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
  // Checks a block about to be read: InBlocks and clear of the free extents. Marks the file
  // damaged when it is not.
  bool CheckBlock(int32_t dataOffset, int32_t blockLength, int32_t minData);
  // CheckBlock, and clear of every block this operation has claimed (a block named twice is
  // damage too); then claims it.
  bool ClaimBlock(int32_t dataOffset, int32_t blockLength, int32_t minData);

  // Ends an operation and gives its status. When it failed after writing, every byte it
  // changed in the file as opened is written back first, so that a failed operation
  // leaves the file as it found it.
  int32_t Finish();

 private:
  struct TExtent {
    int64_t Offset;
    int64_t Length;
  };
  struct TSaved {
    int64_t Offset;
    std::string Bytes;
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
  int32_t KeepOriginal(int64_t position, int64_t count);
  void Fail(int32_t status);
  void ReportFatal(int32_t code);

  std::unique_ptr<TStoreStream> OwnedStream_;
  TStoreStream* Stream_ = nullptr;
  TFreeList FreeList_;
  int32_t AnchorOffset_ = -1;
  int32_t EndOffset_ = HeaderLength;
  int32_t LastError_ = 0;
  int32_t Status_ = 0;
  int32_t Operation_ = 0;
  FilePath FileName_;
  TOpenMode Mode_;
  bool Wrote_ = false;
  bool Stopped_ = false;
  bool Damaged_ = false;
  int64_t DamageOffset_ = -1;
  std::string DamageText_;
  // Blocks this operation uses (anchor, indexes on its path, entries it touched or made).
  std::vector<TExtent> Claimed_;
  // The file as opened: where its meaningful bytes end, its free extents, and the bytes
  // that this operation's writes replaced (to put back when the operation fails).
  int64_t OpenedLimit_ = 0;
  TFreeList OpenedFree_;
  std::vector<TSaved> Journal_;
};

// ---------------------------------------------------------------------------------------
// Payload buffer: the in-memory form of one stored payload record
// (Kind, two reserved bytes, Compressed, Length, OriginalLength, payload).

class TDataBuf {
 public:
  enum : uint8_t { KindIndex = 1, KindEntry = 2 };

  TDataBuf() = default;
  TDataBuf(const void* source, int32_t count);
  explicit TDataBuf(std::string_view text);
  ~TDataBuf();
  TDataBuf(const TDataBuf&) = delete;
  TDataBuf& operator=(const TDataBuf&) = delete;

  // Replaces the payload by a copy of `count` bytes ("0" characters without a source);
  // header bytes 0, both lengths `count`, wiping on Clear from now on.
  void SetData(const void* source, int32_t count);
  // Replaces the payload without wiping the old one; OriginalLength and the header stay.
  void ReplaceData(const void* source, int32_t count);
  // Header bytes 0, payload (wiped when WipeOnClear) freed, lengths 0.
  void Clear();

  bool IsCompressed() const { return Compressed == 1; }
  bool IsEmpty() const { return Length_ == 0; }
  // 0 on success, else the zlib code that stopped the work (also sent to the reporter's
  // InflateError); the buffer is then left as it was.
  int Compress();
  // Fails (Z_DATA_ERROR) as well when the stream inflates to fewer bytes than recorded.
  int Decompress();
  static std::string ErrorText(int code);

  bool LoadFromFile(const FilePath& path);
  bool SaveToFile(const FilePath& path) const;
  std::string AsString() const;
  std::string_view View() const {
    return {Data_.get() ? Data_.get() : "", static_cast<size_t>(Length_)};
  }

  // The payload, followed by a zero byte; null when there is none.
  const char* Data() const { return Data_.get(); }
  int32_t Length() const { return Length_; }
  int32_t OriginalLength() const { return OriginalLength_; }
  bool WipeOnClear() const { return WipeOnClear_; }

  uint8_t Kind = 0;
  uint8_t Compressed = 0;

 private:
  friend class TFMindex;
  // Takes ownership of a buffer of at least count + 1 bytes holding the payload.
  void Adopt(std::unique_ptr<char[]> bytes, int32_t count);
  void FreePayload(bool wipe);

  std::unique_ptr<char[]> Data_;
  int32_t Length_ = 0;
  int32_t OriginalLength_ = 0;
  bool WipeOnClear_ = false;
};

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
  int32_t BlockOffset() const { return BlockOffset_; }
  // Length prefix of the block loaded or last written (0 while there is none).
  int32_t BlockLength() const { return BlockLength_; }
  TFMindex* Parent() const { return Parent_; }
  // The parent names an entry block here, not an index: the index stays empty, and a write
  // through it is refused.
  bool IsEntry() const { return IsEntry_; }

  int Count() const { return static_cast<int>(Children_.size()); }
  // Valid until the next change of the index.
  std::string_view ChildName(int i) const;
  int32_t ChildOffset(int i) const { return Children_[static_cast<size_t>(i)].Offset; }
  // Position of the first child named `name`, or -1.
  int IndexOf(std::string_view name) const;

  int32_t Lookup(std::string_view name) const;
  int32_t SetChild(std::string_view name, int32_t offset);
  int32_t SetChildAndFlush(std::string_view name, int32_t offset);
  // Appends a child without looking for one of the same name; false (and nothing added)
  // for a name a block cannot store.
  bool AppendChild(std::string_view name, int32_t offset);
  void RemoveChild(int i);
  // Before the blocks of the children at `positions` are released: checks that each is
  // named by no other child, lies inside the blocks area clear of free space and of the
  // blocks in use, and claims it. Marks the file damaged otherwise.
  bool ClaimChildBlocks(const std::vector<int>& positions);
  // False (and nothing changed) for a name a block cannot store.
  bool RenameChild(int i, std::string_view newName);

  int32_t WriteBlock();
  int32_t Flush();

  const char* ReadChild(std::string_view name, TDataBuf* buffer);
  int32_t WriteChild(std::string_view name, TDataBuf* buffer, bool flush);
  int32_t ChildLength(std::string_view name);
  // Kind byte of the child's record; 255 when there is no such child or block.
  uint8_t ChildKind(std::string_view name);
  // One line per child: name, five blanks, block offset, line feed.
  std::string ShowContents() const;

  // Child names that a block can store: no carriage return, line feed or zero byte.
  static bool StorableName(std::string_view name);

 private:
  struct TChild {
    uint32_t NameStart;  // into Names_ and Lowered_
    int32_t Offset;
  };
  bool FindRoot();
  bool Load();
  void SplitNames();
  int FindLowered(std::string_view lowered) const;
  void AddName(std::string_view name, int32_t offset);
  std::string IndexText() const;
  bool WriteRecord(int32_t dataOffset, const TDataBuf& buffer);

  TFileManager& Manager_;
  TFMindex* Parent_;
  std::string Name_;
  int32_t BlockOffset_ = -1;
  int32_t BlockLength_ = 0;  // length prefix of the block loaded or written
  bool IsEntry_ = false;
  bool Detached_ = false;
  // Every name followed by CR LF, and the same text lower-cased, so that a lookup
  // lower-cases only the name it looks for. Names renamed or removed leave their bytes
  // behind until the index object goes; while none has, Names_ is the index text itself.
  std::string Names_;
  std::string Lowered_;
  bool InOrder_ = true;
  std::vector<TChild> Children_;
};

// ---------------------------------------------------------------------------------------
// Entry operations. An entry path is components separated by the byte 0xFF; empty
// components are skipped; the last names the entry, those before it sub-indexes below the
// root. At most 16 components. Each call opens and closes the database file once.

// The entry of name=value settings lines that GetInitValue and SetInitValue work on.
inline constexpr std::string_view InitEntryName = "Initialization";

int WriteEntry(std::string_view entryPath, TDataBuf* buffer, const FilePath& database);
int ReadEntry(std::string_view entryPath, TDataBuf& buffer, const FilePath& database);
int ReadEntryLines(TStringList& lines, std::string_view entryPath, const FilePath& database);
int WriteEntryLines(std::string_view entryPath, const TStringList* lines, const FilePath& database);
std::string GetInitValue(std::string_view name, std::string_view fallback,
                         const FilePath& database);
int SetInitValue(std::string_view name, std::string_view value, const FilePath& database);
bool ReadEntryBuffer(std::string_view entryPath, TDataBuf* buffer, const FilePath& database);
bool EntryHasLines(std::string_view entryPath, TStringList* lines, const FilePath& database);
int RenameEntry(std::string_view entryPath, std::string_view newName, const FilePath& database);
// As above, after trimming blanks and control characters from both ends of the caller's
// own path string.
int RenameEntry(std::string* entryPath, std::string_view newName, const FilePath& database);

// The same on a database stream that the caller holds open (tests, tools).
int WriteEntry(std::string_view entryPath, TDataBuf* buffer, TStoreStream& database);
int ReadEntry(std::string_view entryPath, TDataBuf& buffer, TStoreStream& database);
int RenameEntry(std::string_view entryPath, std::string_view newName, TStoreStream& database);

// The mailbox operations work on the program's own database (see SetProgramDatabasePath)
// or on the one given. `selection`: null takes every child; otherwise child p (from 1) is
// taken when byte p - 1 exists and is not zero. Both return the number of children taken.
int DeleteMailboxEntries(std::string_view mailbox, const std::string* selection);
int DeleteMailboxEntries(std::string_view mailbox, const std::string* selection,
                         const FilePath& database);
int MoveMailboxEntries(std::string_view mailbox, const std::string* selection,
                       std::string_view destination);
int MoveMailboxEntries(std::string_view mailbox, const std::string* selection,
                       std::string_view destination, const FilePath& database);
// The database the mailbox operations use by default (empty until set: then they do nothing).
void SetProgramDatabasePath(FilePath path);
const FilePath& ProgramDatabasePath();

// ---------------------------------------------------------------------------------------
// Read-only inspection, for tools: never creates, initialises or writes the file.

struct TStoreChild {
  std::string Name;
  int32_t Offset = -1;      // data offset of the child's block, -1 for none
  int32_t BlockLength = 0;  // the block's length prefix (0 when unreadable)
  uint8_t Kind = 255;       // 1 index, 2 entry, 255 when there is no readable record
  uint8_t Compressed = 0;
  int32_t StoredLength = 0;  // L, the payload bytes in the record
  int32_t PlainLength = 0;   // the plain length before compression
};

class TStoreInspector {
 public:
  // Opens an existing database for reading; raises EStoreFileError.
  explicit TStoreInspector(const FilePath& database);
  // Works on a stream the caller owns.
  explicit TStoreInspector(TStoreStream& stream);
  ~TStoreInspector();
  TStoreInspector(const TStoreInspector&) = delete;
  TStoreInspector& operator=(const TStoreInspector&) = delete;

  int64_t FileSize() { return Stream_->Size(); }
  int32_t AnchorOffset() const { return Opened_->GetAnchorOffset(); }
  int32_t EndOffset() const { return Opened_->GetEndOffset(); }
  // Data offset of the root index's block, -1 when there is none.
  int32_t RootOffset() const { return RootOffset_; }
  const TFreeList& FreeList() const { return Opened_->FreeList(); }
  // 0, or the status with which opening failed (2 when the file is damaged, and DamageText
  // says where).
  int32_t Status() const { return Opened_->Status(); }
  const std::string& DamageText() const { return Opened_->DamageText(); }

  // The children of the index at the end of `components` (the root when empty). False when
  // the components do not lead to an index or it cannot be read.
  bool List(const std::vector<std::string>& components, std::vector<TStoreChild>& children);
  // The plain bytes of the entry at the end of `components`; false when there is no such
  // entry or it cannot be read.
  bool ReadEntryBytes(const std::vector<std::string>& components, std::string& bytes);
  // Visits every child in the tree depth-first (depth 0 for the root's children), each block
  // once; indexes that cannot be read are skipped.
  void Walk(const std::function<void(int depth, const TStoreChild& child)>& visit);
  // Checks the header, the free list and every block, record and offset of the tree, and
  // that no two of them overlap. One line per problem, naming its offset; empty when sound.
  std::vector<std::string> Check();

 private:
  void FindRoot();
  // One query works like one store operation: a fresh manager over the open file.
  std::unique_ptr<TFileManager> Query();
  // The children of the index stored at `blockOffset`, with their records; false (and the
  // reason in `problem`) when the index cannot be read. Unreadable children get Kind 255
  // and a line in `problems`.
  bool Children(int32_t blockOffset, std::vector<TStoreChild>& children, int32_t* blockLength,
                std::string* problem, std::vector<std::string>* problems);

  std::unique_ptr<TStoreStream> OwnedStream_;
  TStoreStream* Stream_ = nullptr;
  std::unique_ptr<TFileManager> Opened_;
  int32_t RootOffset_ = -1;
};
