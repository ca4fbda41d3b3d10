// The byte streams under the block file: the database file itself (held exclusively) and
// bytes in memory.
#include <algorithm>
#include <cstring>

#include "filestore/StoreInternal.h"

#ifdef _WIN32
#include <windows.h>

#include "base/Handles.h"
#include "base/WideText.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace store {

#ifdef _WIN32
bool FileExists(const FilePath& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string PathText(const FilePath& path) { return Utf8FromWide(path); }
#else
bool FileExists(const FilePath& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string PathText(const FilePath& path) { return path; }
#endif

}  // namespace store

namespace {

const char kCannotOpen[] = "Cannot open file ";
const char kCannotCreate[] = "Cannot create file ";

}  // namespace

FilePath store::JournalPath(const FilePath& database) {
#ifdef _WIN32
  return database + L"-journal";
#else
  return database + "-journal";
#endif
}

// ---------------------------------------------------------------------------------------
// File stream

namespace {

// Small reads are served from two windows of the file, each filled by one read: an
// operation reads a block's head and then its record right after it, the header and then
// the anchor block, and the blocks that a write appended together (an entry and the indexes
// above it, the free list) from the last back to the first; a check reads the heads of
// blocks that lie side by side. Writes and truncation through the file's handle keep the
// windows true; no one else writes while the file is held.
class TReadWindows {
 public:
  // Up to `count` bytes at `position`, fewer only at the end of the file. `readOnce(target,
  // count, position)` fills a window with one call to the system, which near the end of
  // the file gives what there is; `readAll` reads a larger piece from the file itself.
  template <class ReadOnce, class ReadAll>
  size_t Read(char* target, size_t count, int64_t position, const ReadOnce& readOnce,
              const ReadAll& readAll) {
    if (count <= WindowLength - ReachBack) {
      if (!Windows_[Recent_].Holds(position, count)) {
        Recent_ = 1 - Recent_;
        TWindow& window = Windows_[Recent_];
        if (!window.Holds(position, count)) {
          window.At = std::max<int64_t>(0, position - ReachBack);
          window.Length = static_cast<int64_t>(readOnce(window.Bytes, WindowLength, window.At));
        }
      }
      const TWindow& window = Windows_[Recent_];
      if (window.Holds(position, count)) {
        std::memcpy(target, window.Bytes + (position - window.At), count);
        return count;
      }
    }
    return readAll(target, count, position);
  }

  // Bytes written at `position` replace those in the windows there; a truncation drops them.
  void Wrote(const char* bytes, size_t count, int64_t position) {
    for (TWindow& window : Windows_) {
      const int64_t from = std::max(position, window.At);
      const int64_t to = std::min(position + static_cast<int64_t>(count), window.At + window.Length);
      if (from < to)
        std::memcpy(window.Bytes + (from - window.At), bytes + (from - position),
                    static_cast<size_t>(to - from));
    }
  }
  void Truncated() {
    for (TWindow& window : Windows_) window.Length = 0;
  }

 private:
  static constexpr size_t WindowLength = 4096;
  static constexpr int64_t ReachBack = 512;

  struct TWindow {
    bool Holds(int64_t position, size_t count) const {
      return position >= At && position + static_cast<int64_t>(count) <= At + Length;
    }
    char Bytes[WindowLength];
    int64_t At = 0;
    int64_t Length = 0;
  };

  TWindow Windows_[2];
  int Recent_ = 0;  // the window that served the last small read
};

}  // namespace

#ifdef _WIN32

struct TFileStream::Handle {
  UniqueHandle File;
  int64_t Pointer = 0;  // where the file pointer is; -1 when not known
  TReadWindows Windows;
};

namespace {

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// No sharing unless asked: a second opener, in this process or another, fails while we
// hold it.
HANDLE OpenExclusive(const FilePath& path, DWORD access, DWORD disposition, DWORD share = 0) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

constexpr size_t kChunk = 1u << 30;

// Reads and writes go through the file pointer, moved only when it is elsewhere: Wine
// serves a transfer at an OVERLAPPED offset through its server, one at the pointer in the
// calling process, several times faster.
bool MoveTo(HANDLE file, int64_t& pointer, int64_t position) {
  if (pointer == position) return true;
  LARGE_INTEGER at;
  at.QuadPart = position;
  pointer = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ? position : -1;
  return pointer == position;
}

// The number of bytes read (`out`) or written at `position`: all of them unless the file
// ends or a call fails.
size_t TransferAt(HANDLE file, int64_t& pointer, int64_t position, char* out, const char* in,
                  size_t count) {
  if (!MoveTo(file, pointer, position)) return 0;
  size_t done = 0;
  while (done < count) {
    DWORD moved = 0;
    const DWORD want = static_cast<DWORD>(std::min(count - done, kChunk));
    if (!(out ? ReadFile(file, out + done, want, &moved, nullptr)
              : WriteFile(file, in + done, want, &moved, nullptr))) {
      pointer = -1;
      return done;
    }
    if (moved == 0) break;
    done += moved;
  }
  pointer = position + static_cast<int64_t>(done);
  return done;
}

// One read of up to `count` bytes at `position` (fewer near the end of the file).
size_t ReadOnceAt(HANDLE file, int64_t& pointer, int64_t position, char* out, size_t count) {
  DWORD moved = 0;
  if (!MoveTo(file, pointer, position) || !ReadFile(file, out, static_cast<DWORD>(count), &moved, nullptr)) {
    pointer = -1;
    return 0;
  }
  pointer = position + moved;
  return moved;
}

}  // namespace

class TFileStream::FileJournal final : public TStoreJournal {
 public:
  explicit FileJournal(FilePath path) : Path_(std::move(path)) {}

  bool Exists() override { return store::FileExists(Path_); }

  // A journal marked empty is cut to nothing, which its size shows without opening it.
  bool Read(std::string& bytes, size_t count) override {
    WIN32_FILE_ATTRIBUTE_DATA about;
    if (!GetFileAttributesExW(Path_.c_str(), GetFileExInfoStandard, &about)) return false;
    const uint64_t size = uint64_t{about.nFileSizeHigh} << 32 | about.nFileSizeLow;
    bytes.assign(static_cast<size_t>(std::min<uint64_t>(size, count)), '\0');
    if (bytes.empty()) return true;
    UniqueHandle file(OpenExclusive(Path_, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE));
    int64_t pointer = 0;
    return file && TransferAt(file.get(), pointer, 0, bytes.data(), nullptr, bytes.size()) == bytes.size();
  }

  // Written in place, and ended there: cut back when it was longer.
  bool Write(std::string_view bytes) override {
    return Open(OPEN_ALWAYS) &&
           TransferAt(File_.get(), Pointer_, 0, nullptr, bytes.data(), bytes.size()) == bytes.size() &&
           SetEndOfFile(File_.get());
  }

  // Cut to nothing rather than written over: an opening can then tell from the size alone
  // that it holds no write, and Wine serves every opening of a file through its server.
  bool MarkEmpty(std::string_view) override {
    return Open(OPEN_EXISTING) && MoveTo(File_.get(), Pointer_, 0) && SetEndOfFile(File_.get());
  }

  // Windows has no call that flushes a folder: FlushFileBuffers is all there is.
  bool Flush() override { return File_ && FlushFileBuffers(File_.get()); }

 private:
  // Others may read it meanwhile, never write it.
  bool Open(DWORD disposition) {
    if (!File_) {
      File_.reset(OpenExclusive(Path_, GENERIC_WRITE, disposition, FILE_SHARE_READ));
      Pointer_ = 0;
    }
    return static_cast<bool>(File_);
  }

  FilePath Path_;
  UniqueHandle File_;
  int64_t Pointer_ = 0;
};

TFileStream::TFileStream(const FilePath& path, TOpenMode mode)
    : Path_(path), File_(std::make_unique<Handle>()), Journal_(std::make_unique<FileJournal>(store::JournalPath(path))) {
  const DWORD access = mode == TOpenMode::ReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  if (mode == TOpenMode::ReadOnly && store::JournalPending(*Journal_)) {
    File_->File.reset(OpenExclusive(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING));
    if (File_->File) return;
  }
  if (mode == TOpenMode::Replace) {
    File_->File.reset(OpenExclusive(path, access, CREATE_ALWAYS));
    if (!File_->File) Fail(kCannotCreate);
    return;
  }
  File_->File.reset(OpenExclusive(path, access, OPEN_EXISTING));
  if (File_->File) return;
  if (mode == TOpenMode::ReadOnly || !Missing(GetLastError())) {
    Fail(kCannotOpen);
    return;
  }
  File_->File.reset(OpenExclusive(path, access, CREATE_NEW));
  if (!File_->File) Fail(kCannotCreate);
}

void TFileStream::Fail(const char* what) {
  File_->File.reset();
  OpenError_ = what + store::PathText(Path_);
}

TFileStream::~TFileStream() = default;

int64_t TFileStream::Size() {
  LARGE_INTEGER size;
  return GetFileSizeEx(File_->File.get(), &size) ? size.QuadPart : 0;
}

size_t TFileStream::Read(void* target, size_t count) {
  Handle& file = *File_;
  const auto once = [&file](char* to, size_t want, int64_t at) {
    return ReadOnceAt(file.File.get(), file.Pointer, at, to, want);
  };
  const auto all = [&file](char* to, size_t want, int64_t at) {
    return TransferAt(file.File.get(), file.Pointer, at, to, nullptr, want);
  };
  const size_t done = file.Windows.Read(static_cast<char*>(target), count, Position_, once, all);
  Position_ += static_cast<int64_t>(done);
  return done;
}

size_t TFileStream::Write(const void* source, size_t count) {
  const size_t done = TransferAt(File_->File.get(), File_->Pointer, Position_, nullptr,
                                 static_cast<const char*>(source), count);
  File_->Windows.Wrote(static_cast<const char*>(source), done, Position_);
  Position_ += static_cast<int64_t>(done);
  return done;
}

bool TFileStream::Flush() { return FlushFileBuffers(File_->File.get()) != 0; }

bool TFileStream::Truncate(int64_t size) {
  File_->Windows.Truncated();
  return MoveTo(File_->File.get(), File_->Pointer, size) && SetEndOfFile(File_->File.get());
}


#else

namespace {

// Repeats a positioned read or write until `count` bytes are moved, the file ends or the
// call fails; `move(done)` moves the bytes after the first `done`.
template <class Move>
size_t TransferAll(size_t count, Move move) {
  size_t done = 0;
  while (done < count) {
    const ssize_t moved = move(done);
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) break;
    done += static_cast<size_t>(moved);
  }
  return done;
}

}  // namespace

struct TFileStream::Handle {
  explicit Handle(int fd) : Fd(fd) {}
  ~Handle() {
    if (Fd >= 0) close(Fd);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  // Up to `count` bytes at `position`, fewer only at the end of the file.
  size_t Read(char* target, size_t count, int64_t position) {
    const auto once = [this](char* to, size_t want, int64_t at) {
      ssize_t got;
      do got = pread(Fd, to, want, at);
      while (got < 0 && errno == EINTR);
      return static_cast<size_t>(std::max<ssize_t>(got, 0));
    };
    const auto all = [this](char* to, size_t want, int64_t at) {
      return TransferAll(want, [&](size_t done) {
        return pread(Fd, to + done, want - done, at + static_cast<int64_t>(done));
      });
    };
    return Windows.Read(target, count, position, once, all);
  }

  int Fd;
  TReadWindows Windows;
};

namespace {

size_t WriteAll(int fd, const char* bytes, size_t count, int64_t position) {
  return TransferAll(count, [&](size_t done) {
    return pwrite(fd, bytes + done, count - done, position + static_cast<int64_t>(done));
  });
}

// The data and the length; the name is in the folder since the file was created.
bool SyncData(int fd) {
#ifdef __linux__
  return fdatasync(fd) == 0;
#else
  return fsync(fd) == 0;
#endif
}

}  // namespace

size_t TFileStream::Write(const void* source, size_t count) {
  const size_t done = WriteAll(File_->Fd, static_cast<const char*>(source), count, Position_);
  File_->Windows.Wrote(static_cast<const char*>(source), done, Position_);
  Position_ += static_cast<int64_t>(done);
  return done;
}

bool TFileStream::Flush() { return SyncData(File_->Fd); }

bool TFileStream::Truncate(int64_t size) {
  File_->Windows.Truncated();
  return ftruncate(File_->Fd, size) == 0;
}

class TFileStream::FileJournal final : public TStoreJournal {
 public:
  explicit FileJournal(FilePath path) : Path_(std::move(path)) {}
  ~FileJournal() override {
    if (Fd_ >= 0) close(Fd_);
  }
  FileJournal(const FileJournal&) = delete;
  FileJournal& operator=(const FileJournal&) = delete;

  bool Exists() override { return store::FileExists(Path_); }

  bool Read(std::string& bytes, size_t count) override {
    const int fd = open(Path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool read = fstat(fd, &info) == 0;
    if (read) {
      bytes.assign(std::min(static_cast<size_t>(info.st_size), count), '\0');
      read = TransferAll(bytes.size(), [&](size_t done) {
               return pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
             }) == bytes.size();
    }
    close(fd);
    return read;
  }

  // Written in place; cut back to its new length when it was longer.
  bool Write(std::string_view bytes) override {
    struct stat info;
    return Open(true) && fstat(Fd_, &info) == 0 &&
           WriteAll(Fd_, bytes.data(), bytes.size(), 0) == bytes.size() &&
           (static_cast<size_t>(info.st_size) <= bytes.size() ||
            ftruncate(Fd_, static_cast<off_t>(bytes.size())) == 0);
  }

  // The head written over, in place: cutting the journal would make the next write's flush
  // wait for the file's new length and blocks too.
  bool MarkEmpty(std::string_view head) override {
    return Open(false) && WriteAll(Fd_, head.data(), head.size(), 0) == head.size();
  }

  // The name of a journal that Write created reaches the disk with its folder.
  bool Flush() override {
    if (Fd_ < 0 || !SyncData(Fd_) || (Created_ && !SyncFolder())) return false;
    Created_ = false;
    return true;
  }

 private:
  // Opens the journal for writing, creating it when asked and it is not there.
  bool Open(bool create) {
    if (Fd_ >= 0) return true;
    Fd_ = open(Path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (Fd_ < 0 && create && errno == ENOENT) {
      Fd_ = open(Path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      Created_ = Fd_ >= 0;
    }
    return Fd_ >= 0;
  }

  bool SyncFolder() const {
    const size_t slash = Path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : Path_.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
  }

  FilePath Path_;
  int Fd_ = -1;
  bool Created_ = false;
};

TFileStream::TFileStream(const FilePath& path, TOpenMode mode)
    : Path_(path), Journal_(std::make_unique<FileJournal>(store::JournalPath(path))) {
  const int access = (mode == TOpenMode::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  int fd = mode == TOpenMode::ReadOnly && store::JournalPending(*Journal_)
               ? open(path.c_str(), O_RDWR | O_CLOEXEC)
               : -1;
  if (fd < 0) fd = open(path.c_str(), mode == TOpenMode::Replace ? access | O_CREAT : access, 0666);
  if (fd < 0) {
    if (mode == TOpenMode::Replace) {
      Fail(kCannotCreate);
      return;
    }
    if (mode == TOpenMode::ReadOnly || errno != ENOENT) {
      Fail(kCannotOpen);
      return;
    }
    fd = open(path.c_str(), access | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
      Fail(kCannotCreate);
      return;
    }
  }
  File_ = std::make_unique<Handle>(fd);
  // Exclusive and non-blocking: a second opener fails at once while we hold the file.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    Fail(kCannotOpen);
    return;
  }
  // Emptied only once it is ours, never under another holder's feet.
  if (mode == TOpenMode::Replace && ftruncate(fd, 0) != 0) Fail(kCannotCreate);
}

// The stream then holds no file: every read and write fails.
void TFileStream::Fail(const char* what) {
  File_ = std::make_unique<Handle>(-1);
  OpenError_ = what + store::PathText(Path_);
}

TFileStream::~TFileStream() = default;

int64_t TFileStream::Size() {
  struct stat info;
  return fstat(File_->Fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

size_t TFileStream::Read(void* target, size_t count) {
  const size_t done = File_->Read(static_cast<char*>(target), count, Position_);
  Position_ += static_cast<int64_t>(done);
  return done;
}


#endif

TStoreJournal& TFileStream::Journal() { return *Journal_; }

bool TFileStream::Seek(int64_t offset) {
  if (offset < 0) return false;
  Position_ = offset;
  return true;
}

// ---------------------------------------------------------------------------------------
// Memory stream and journal

bool TMemoryJournal::Read(std::string& bytes, size_t count) {
  if (!Bytes) return false;
  bytes = Bytes->substr(0, count);
  return true;
}

bool TMemoryJournal::Write(std::string_view bytes) {
  Bytes = std::string(bytes);
  return true;
}

bool TMemoryJournal::MarkEmpty(std::string_view head) {
  if (!Bytes) return false;
  Bytes->replace(0, head.size(), head);  // all of it when it is shorter
  return true;
}

bool TMemoryStream::Truncate(int64_t size) {
  if (size < 0) return false;
  Bytes.resize(static_cast<size_t>(size));
  return true;
}

bool TMemoryStream::Seek(int64_t offset) {
  if (offset < 0) return false;
  Position_ = offset;
  return true;
}

size_t TMemoryStream::Read(void* target, size_t count) {
  const auto size = static_cast<int64_t>(Bytes.size());
  if (Position_ >= size) return 0;
  const size_t got = std::min(count, static_cast<size_t>(size - Position_));
  std::memcpy(target, Bytes.data() + Position_, got);
  Position_ += static_cast<int64_t>(got);
  return got;
}

size_t TMemoryStream::Write(const void* source, size_t count) {
  const auto end = static_cast<size_t>(Position_) + count;
  if (end > Bytes.size()) Bytes.resize(end, '\0');
  std::memcpy(Bytes.data() + Position_, source, count);
  Position_ = static_cast<int64_t>(end);
  return count;
}
