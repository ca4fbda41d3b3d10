// The client database store: one file of variable-length blocks holding a tree of named,
// zlib-compressed entries. Every entry operation opens the file exclusively, walks the
// index tree, works, writes every change and closes the file before it returns.
//
// This is the store's interface: the entry operations, the payload buffer, the read-only
// inspector, the reporter and the errors. The file format and the block file, free list and
// index behind them are in filestore/StoreInternal.h.
//
// Status codes: 0 none, 1 write error, 2 read error (also: the file is damaged), 3 seek
// error (also: the entry path or name is not acceptable), 4 the database file could not be
// opened (LastOpenError says why). Callers test them for zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

enum : int32_t { StatusNone = 0, StatusWrite = 1, StatusRead = 2, StatusSeek = 3, StatusOpen = 4 };

// "No error!", "Fatal write error!", "Fatal read error!", "Fatal seek error!" or
// "Unknown FATAL error!".
std::string StatusText(int32_t code);

// ---------------------------------------------------------------------------------------
// Errors and reports

// Why the last entry operation on a named database answered StatusOpen: "Cannot open file
// <name>" (held by another program, or not there to read), "Cannot create file <name>", or
// "<name>: the last write to this database did not finish; open it once with write access to
// restore it". On Windows the name is UTF-8. The store is single-threaded.
const std::string& LastOpenError();

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

// The rollback journal beside a database ("<database>-journal" for a file). A write keeps
// in it the database's original length and the original bytes of every range it is about
// to change, with a check value of what it writes there, until the database holds the
// change; then it marks the journal empty. The file stays from one write to the next, so
// that a write waits for the disk only for the journal's bytes, never for its name in the
// folder (but for the first one). The next opening puts back a journal that still
// holds a write that did not finish (filestore/Journal.cpp).
class TStoreJournal {
 public:
  virtual ~TStoreJournal() = default;
  virtual bool Exists() = 0;
  // Up to `count` bytes from the journal's start; false when it cannot be read.
  virtual bool Read(std::string& bytes, size_t count) = 0;
  // Makes the journal these bytes, creating it when there is none.
  virtual bool Write(std::string_view bytes) = 0;
  // Afterwards the journal holds no write: `head` written over its start in place, or the
  // journal cut to nothing; without a flush. False when there is none.
  virtual bool MarkEmpty(std::string_view head) = 0;
  // Pushes what Write wrote to the disk, and the journal's name in its folder when Write
  // created it.
  virtual bool Flush() = 0;
};

// A database as it is kept: a stream that can be pushed to the disk and cut back to a
// length, with its journal beside it.
class TStoreFile : public TStoreStream {
 public:
  // Returns once every byte written has reached the disk.
  virtual bool Flush() = 0;
  virtual bool Truncate(int64_t size) = 0;
  virtual TStoreJournal& Journal() = 0;
};

enum class TOpenMode {
  ReadWrite,  // open, or create when missing; exclusive
  ReadOnly,   // open an existing file for reading only; exclusive; never creates
  Replace,    // create, or empty an existing file; exclusive
};

// A database file held exclusively while the object lives: CreateFileW with no sharing on
// Windows, open + flock(LOCK_EX | LOCK_NB) elsewhere. When the file cannot be opened or
// created, the stream holds none, every read and write fails and OpenError says why
// ("Cannot open file <name>", "Cannot create file <name>"). Opened for reading with a journal
// beside it that holds a write, it takes write access too where it can, so that the journal
// can be put back.
class TFileStream final : public TStoreFile {
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
  bool Flush() override;
  bool Truncate(int64_t size) override;
  TStoreJournal& Journal() override;

  const FilePath& Path() const { return Path_; }
  bool IsOpen() const { return OpenError_.empty(); }
  const std::string& OpenError() const { return OpenError_; }

 private:
  struct Handle;
  class FileJournal;
  void Fail(const char* what);

  FilePath Path_;
  std::string OpenError_;
  std::unique_ptr<Handle> File_;
  std::unique_ptr<FileJournal> Journal_;
  int64_t Position_ = 0;
};

// A journal in memory; `Bytes` holds nothing while there is none.
class TMemoryJournal final : public TStoreJournal {
 public:
  bool Exists() override { return Bytes.has_value(); }
  bool Read(std::string& bytes, size_t count) override;
  bool Write(std::string_view bytes) override;
  bool MarkEmpty(std::string_view head) override;
  bool Flush() override { return true; }

  std::optional<std::string> Bytes;
};

// A stream over bytes in memory, with a journal in memory beside it.
class TMemoryStream final : public TStoreFile {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : Bytes(std::move(bytes)) {}

  int64_t Size() override { return static_cast<int64_t>(Bytes.size()); }
  int64_t Position() const override { return Position_; }
  bool Seek(int64_t offset) override;
  size_t Read(void* target, size_t count) override;
  size_t Write(const void* source, size_t count) override;
  bool Flush() override { return true; }
  bool Truncate(int64_t size) override;
  TStoreJournal& Journal() override { return JournalFile; }

  std::string Bytes;
  TMemoryJournal JournalFile;

 private:
  int64_t Position_ = 0;
};

// Whether a write waits for the disk, first for its journal and then for the database,
// before it returns: on unless turned off. Without the waits a killed process still leaves
// a database that the next opening restores, but a power cut may not.
void SetFlushWrites(bool flush);
bool FlushWrites();

// Puts back the database as it was before a write that did not finish, when its journal
// still holds that write; true when it did. Marks empty a journal that was never completed
// (the database was not touched then) or whose write the database holds whole (only the
// marking was lost). False, with `error` set, when the database cannot be
// opened, or cannot be written to put the journal back ("... the last write to this
// database did not finish; open it once with write access to restore it"): nothing may
// read it then. Every operation on a database does this first.
bool RestoreDatabase(const FilePath& database, std::string* error = nullptr);
bool RestoreDatabase(TStoreFile& database, std::string* error = nullptr);

// ---------------------------------------------------------------------------------------
// Payload buffer: the in-memory form of one stored payload record
// (Kind, two reserved bytes, Compressed, Length, OriginalLength, payload).

class TDataBuf {
 public:
  // The record's Kind byte; KindNone is never stored: it stands for "no readable record".
  enum : uint8_t { KindIndex = 1, KindEntry = 2, KindNone = 255 };

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
// Entry operations. An entry path is components separated by the byte 0xFF; empty
// components are skipped; the last names the entry, those before it sub-indexes below the
// root. At most 16 components. Each call opens and closes the database file once.

// Names that a block can store: no carriage return, line feed or zero byte.
bool StorableName(std::string_view name);

// The entry of name=value settings lines that GetInitValue and SetInitValue work on.
inline constexpr std::string_view InitEntryName = "Initialization";

// Writes (or with a null buffer deletes) the entry. Refused with status 3 when the path names
// an index, which would drop every entry below it; with status 2 and no byte changed when
// the write meets damage on its own path.
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

// The same on a database that the caller holds open (tests, tools).
int WriteEntry(std::string_view entryPath, TDataBuf* buffer, TStoreFile& database);
int ReadEntry(std::string_view entryPath, TDataBuf& buffer, TStoreFile& database);
int RenameEntry(std::string_view entryPath, std::string_view newName, TStoreFile& database);
int SetInitValue(std::string_view name, std::string_view value, TStoreFile& database);

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
// The same on a database that the caller holds open.
int DeleteMailboxEntries(std::string_view mailbox, const std::string* selection,
                         TStoreFile& database);
int MoveMailboxEntries(std::string_view mailbox, const std::string* selection,
                       std::string_view destination, TStoreFile& database);
// The database the mailbox operations use by default (empty until set: then they do nothing).
void SetProgramDatabasePath(FilePath path);
const FilePath& ProgramDatabasePath();

// ---------------------------------------------------------------------------------------
// Read-only inspection, for tools: never creates or initialises the file, and writes it only
// to put back a write that did not finish (RestoreDatabase), as every opening does.

class TFileManager;

struct TStoreChild {
  std::string Name;
  int32_t Offset = -1;      // data offset of the child's block, -1 for none
  int32_t BlockLength = 0;  // the block's length prefix (0 when unreadable)
  uint8_t Kind = TDataBuf::KindNone;  // KindIndex, KindEntry, or none readable
  uint8_t Compressed = 0;
  int32_t StoredLength = 0;  // L, the payload bytes in the record
  int32_t PlainLength = 0;   // the plain length before compression
};

// A free extent: where a released block began (at its prefix) and its length.
struct TStoreExtent {
  int32_t Offset;
  int32_t Length;
};

// A problem the whole-file check found, and the offset in the file where it lies.
struct TStoreProblem {
  int64_t Offset;
  std::string Text;
};

// A child that no entry path reaches: its name is empty, or an earlier child of the same
// index matches it (letter case aside), and every lookup finds that one first. This is no
// damage: every write keeps the child and its block, and once the earlier child is
// removed it reads again. The store's own writes never make one; other writers of the
// format do.
struct TStoreHiddenChild {
  std::vector<std::string> Path;  // the names from the root's child down to this child
  TStoreChild Child;
};

// How far the whole-file check goes: the blocks, records, offsets, names and free extents
// of the whole tree; or these and every entry's compressed contents as well.
enum class TCheckDepth { Blocks, Payloads };

class TStoreInspector {
 public:
  // Opens an existing database for reading, after RestoreDatabase; when either fails,
  // OpenError says why and nothing reads.
  explicit TStoreInspector(const FilePath& database);
  // Works on a database the caller owns, after RestoreDatabase.
  explicit TStoreInspector(TStoreFile& stream);
  ~TStoreInspector();
  TStoreInspector(const TStoreInspector&) = delete;
  TStoreInspector& operator=(const TStoreInspector&) = delete;

  int64_t FileSize() { return Stream_->Size(); }
  int32_t AnchorOffset() const;
  int32_t EndOffset() const;
  // Data offset of the root index's block, -1 when there is none.
  int32_t RootOffset() const { return RootOffset_; }
  // The free extents in ascending order of offset.
  std::vector<TStoreExtent> FreeExtents() const;
  // 0, or the status with which opening failed (2 when the file is damaged, and DamageText
  // says where; StatusOpen when it could not be opened, and OpenError says why).
  int32_t Status() const;
  const std::string& OpenError() const { return OpenError_; }
  const std::string& DamageText() const;

  // The children of the index at the end of `components` (the root when empty). False when
  // the components do not lead to an index or it cannot be read.
  bool List(const std::vector<std::string>& components, std::vector<TStoreChild>& children);
  // The plain bytes of the entry at the end of `components`; false when there is no such
  // entry or it cannot be read.
  bool ReadEntryBytes(const std::vector<std::string>& components, std::string& bytes);
  // The plain bytes of the entry block a child of List or Walk names, whether or not a
  // path reaches it; false when it names no readable entry.
  bool ReadChildBytes(const TStoreChild& entry, std::string& bytes);
  // Visits every child in the tree depth-first (depth 0 for the root's children), each block
  // once; indexes that cannot be read are skipped.
  void Walk(const std::function<void(int depth, const TStoreChild& child)>& visit);
  // Checks the header, the free list and every block, record and offset of the tree, and
  // that no two blocks overlap, in the order it finds them; empty when sound. Hidden
  // children are no damage: HiddenChildren lists them.
  std::vector<TStoreProblem> Check(TCheckDepth depth = TCheckDepth::Payloads);
  // The hidden children in the order of Walk; the children below a hidden index are hidden
  // with it and not listed again.
  std::vector<TStoreHiddenChild> HiddenChildren();

 private:
  void Open();
  void FindRoot();
  // One query works like one store operation: a fresh manager over the open file.
  std::unique_ptr<TFileManager> Query();
  // The children of the index stored at `blockOffset`, with their records; false when the
  // index cannot be read. What is wrong with it goes to `problems`; unreadable children get
  // KindNone.
  bool Children(int32_t blockOffset, std::vector<TStoreChild>& children, int32_t* blockLength,
                std::vector<TStoreProblem>* problems);

  std::unique_ptr<TStoreFile> OwnedStream_;
  TStoreFile* Stream_ = nullptr;
  std::string OpenError_;
  std::unique_ptr<TFileManager> Opened_;
  int32_t RootOffset_ = -1;
};

// The whole-file check for a writer to run first: the inspector's check of the blocks (not of
// the entries' compressed contents, which no write elsewhere can make worse). The first
// problem, or nothing when the file is sound; hidden children are no problem. Writes only
// to put back an unfinished write; a missing file has no problem (a write creates it).
// A file that cannot be opened is a problem too: nothing may be written into it.
std::optional<TStoreProblem> CheckDatabase(const FilePath& database);
std::optional<TStoreProblem> CheckDatabase(TStoreFile& database);
