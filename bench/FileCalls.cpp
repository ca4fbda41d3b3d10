#include "bench/FileCalls.h"

#include <stdexcept>

#include "filestore/Format.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bench {

namespace {

void Require(bool done, const char* what) {
  if (!done) throw std::runtime_error(std::string("file calls: ") + what + " failed");
}

// One file, opened with no one else let in, each transfer at the file pointer.
#ifdef _WIN32
class RawFile {
 public:
  RawFile(const std::filesystem::path& path, bool write, bool create)
      : File_(CreateFileW(path.c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                          create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    Require(File_ != INVALID_HANDLE_VALUE, "opening");
  }
  ~RawFile() { CloseHandle(File_); }
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  int64_t Size() {
    LARGE_INTEGER size;
    Require(GetFileSizeEx(File_, &size), "taking the size");
    return size.QuadPart;
  }
  void Read(char* to, size_t count) {
    DWORD done = 0;
    Require(ReadFile(File_, to, DWORD(count), &done, nullptr) && done == count, "reading");
  }
  void Write(const char* from, size_t count) {
    DWORD done = 0;
    Require(WriteFile(File_, from, DWORD(count), &done, nullptr) && done == count, "writing");
  }
  void MoveTo(int64_t position) {
    LARGE_INTEGER at;
    at.QuadPart = position;
    Require(SetFilePointerEx(File_, at, nullptr, FILE_BEGIN), "moving");
  }
  void CutHere() { Require(SetEndOfFile(File_), "cutting"); }
  void Flush() { Require(FlushFileBuffers(File_), "flushing"); }

 private:
  HANDLE File_;
};
#else
class RawFile {
 public:
  RawFile(const std::filesystem::path& path, bool write, bool create)
      : Fd_(open(path.c_str(), (write ? O_RDWR : O_RDONLY) | (create ? O_CREAT : 0) | O_CLOEXEC, 0666)) {
    Require(Fd_ >= 0, "opening");
    Require(flock(Fd_, LOCK_EX | LOCK_NB) == 0, "locking");
  }
  ~RawFile() { close(Fd_); }
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  int64_t Size() {
    struct stat about;
    Require(fstat(Fd_, &about) == 0, "taking the size");
    return about.st_size;
  }
  void Read(char* to, size_t count) { Require(read(Fd_, to, count) == ssize_t(count), "reading"); }
  void Write(const char* from, size_t count) {
    Require(write(Fd_, from, count) == ssize_t(count), "writing");
  }
  void MoveTo(int64_t position) { Require(lseek(Fd_, position, SEEK_SET) == position, "moving"); }
  void CutHere() { Require(ftruncate(Fd_, lseek(Fd_, 0, SEEK_CUR)) == 0, "cutting"); }
  void Flush() { Require(fdatasync(Fd_) == 0, "flushing"); }

 private:
  int Fd_;
};
#endif

// The header, then each stream on the path in turn, one read each.
void ReadPath(RawFile& file, const StoreFixture& db, std::string& bytes) {
  Require(file.Size() > 0, "a database of bytes");
  bytes.resize(store::HeaderLength);
  file.Read(bytes.data(), bytes.size());
  for (const StoredStream& index : db.IndexStreams) {
    bytes.resize(index.Stream.size());
    file.Read(bytes.data(), bytes.size());
  }
  bytes.resize(db.EntryRecord.Stream.size());
  file.Read(bytes.data(), bytes.size());
}

}  // namespace

FileCalls::FileCalls(const StoreFixture& database, const std::filesystem::path& scratch)
    : Db_(database), Copy_(scratch), Journal_(std::filesystem::path(scratch) += "-journal") {
  // Removed first: MinGW's copy_file refuses to overwrite.
  std::filesystem::remove(Copy_);
  std::filesystem::copy_file(database.Path, Copy_);
}

void FileCalls::Read() {
  RawFile file(Db_.Path, false, false);
  ReadPath(file, Db_, Bytes_);
}

void FileCalls::Write() {
  RawFile file(Copy_, true, false);
  ReadPath(file, Db_, Bytes_);
  RawFile journal(Journal_, true, true);
  for (const StoredStream& index : Db_.IndexStreams) journal.Write(index.Stream.data(), index.Stream.size());
  journal.CutHere();
  file.MoveTo(store::HeaderLength);
  file.Write(Bytes_.data(), Bytes_.size());
  for (const StoredStream& index : Db_.IndexStreams) file.Write(index.Stream.data(), index.Stream.size());
  journal.MoveTo(0);
  journal.CutHere();
}

}  // namespace bench
