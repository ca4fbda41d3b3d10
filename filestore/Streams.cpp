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

[[noreturn]] void ThrowCannotOpen(const FilePath& path) {
  throw EStoreFileError("Cannot open file " + store::PathText(path), path);
}

[[noreturn]] void ThrowCannotCreate(const FilePath& path) {
  throw EStoreFileError("Cannot create file " + store::PathText(path), path);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// File stream. Reads and writes are positioned (pread/pwrite, or an OVERLAPPED offset), so
// a seek costs no system call.

#ifdef _WIN32

struct TFileStream::Handle {
  UniqueHandle File;
};

namespace {

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// No sharing: a second opener, in this process or another, fails while we hold it.
HANDLE OpenExclusive(const FilePath& path, DWORD access, DWORD disposition) {
  return CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

OVERLAPPED OverlappedAt(int64_t position) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(position));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
  return at;
}

constexpr size_t kChunk = 1u << 30;

}  // namespace

TFileStream::TFileStream(const FilePath& path, TOpenMode mode) : File_(std::make_unique<Handle>()) {
  const DWORD access = mode == TOpenMode::ReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  if (mode == TOpenMode::Replace) {
    File_->File.reset(OpenExclusive(path, access, CREATE_ALWAYS));
    if (!File_->File) ThrowCannotCreate(path);
    return;
  }
  File_->File.reset(OpenExclusive(path, access, OPEN_EXISTING));
  if (File_->File) return;
  if (mode == TOpenMode::ReadOnly || !Missing(GetLastError())) ThrowCannotOpen(path);
  File_->File.reset(OpenExclusive(path, access, CREATE_NEW));
  if (!File_->File) ThrowCannotCreate(path);
}

TFileStream::~TFileStream() = default;

int64_t TFileStream::Size() {
  LARGE_INTEGER size;
  return GetFileSizeEx(File_->File.get(), &size) ? size.QuadPart : 0;
}

size_t TFileStream::Read(void* target, size_t count) {
  size_t done = 0;
  while (done < count) {
    OVERLAPPED at = OverlappedAt(Position_);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min(count - done, kChunk));
    if (!ReadFile(File_->File.get(), static_cast<char*>(target) + done, want, &got, &at) ||
        got == 0)
      break;
    done += got;
    Position_ += got;
  }
  return done;
}

size_t TFileStream::Write(const void* source, size_t count) {
  size_t done = 0;
  while (done < count) {
    OVERLAPPED at = OverlappedAt(Position_);
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min(count - done, kChunk));
    if (!WriteFile(File_->File.get(), static_cast<const char*>(source) + done, want, &put, &at) ||
        put == 0)
      break;
    done += put;
    Position_ += put;
  }
  return done;
}

#else

struct TFileStream::Handle {
  explicit Handle(int fd) : Fd(fd) {}
  ~Handle() { close(Fd); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  int Fd;
};

TFileStream::TFileStream(const FilePath& path, TOpenMode mode) {
  const int access = (mode == TOpenMode::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  int fd = open(path.c_str(), mode == TOpenMode::Replace ? access | O_CREAT : access, 0666);
  if (fd < 0) {
    if (mode == TOpenMode::Replace) ThrowCannotCreate(path);
    if (mode == TOpenMode::ReadOnly || errno != ENOENT) ThrowCannotOpen(path);
    fd = open(path.c_str(), access | O_CREAT | O_EXCL, 0666);
    if (fd < 0) ThrowCannotCreate(path);
  }
  File_ = std::make_unique<Handle>(fd);
  // Exclusive and non-blocking: a second opener fails at once while we hold the file.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) ThrowCannotOpen(path);
  // Emptied only once it is ours, never under another holder's feet.
  if (mode == TOpenMode::Replace && ftruncate(fd, 0) != 0) ThrowCannotCreate(path);
}

TFileStream::~TFileStream() = default;

int64_t TFileStream::Size() {
  struct stat info;
  return fstat(File_->Fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

size_t TFileStream::Read(void* target, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t got =
        pread(File_->Fd, static_cast<char*>(target) + done, count - done, Position_);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
    Position_ += got;
  }
  return done;
}

size_t TFileStream::Write(const void* source, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t put =
        pwrite(File_->Fd, static_cast<const char*>(source) + done, count - done, Position_);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<size_t>(put);
    Position_ += put;
  }
  return done;
}

#endif

bool TFileStream::Seek(int64_t offset) {
  if (offset < 0) return false;
  Position_ = offset;
  return true;
}

// ---------------------------------------------------------------------------------------
// Memory stream

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
