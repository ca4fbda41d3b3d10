// Preloaded into a program (LD_PRELOAD), ends it at the k-th call that changes a file, as a
// crash would: write, pwrite, fsync, fdatasync, ftruncate and unlink are counted from 1.
//   TW_CRASH_AT=k     the call that ends the process with exit status 77 (0 or unset: none)
//   TW_CRASH_HALF=1   that call, when it writes, first writes half of its bytes
//   TW_CRASH_COUNT=f  at a normal exit, the number of calls counted goes to file f, and
//                     after it the number of those that were fsync or fdatasync
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

enum { kCrashedExit = 77 };

static long calls;
static long flushes;

static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

// True when this call is the one that ends the process; `half` then says whether it writes
// half of its bytes first.
static int EndsHere(int* half) {
  const char* at = getenv("TW_CRASH_AT");
  ++calls;
  const char* halfText = getenv("TW_CRASH_HALF");
  *half = halfText && strcmp(halfText, "1") == 0;
  return at && atol(at) == calls;
}

ssize_t write(int fd, const void* bytes, size_t count) {
  ssize_t (*real)(int, const void*, size_t) = Next("write");
  int half;
  if (EndsHere(&half)) {
    if (half) real(fd, bytes, count / 2);
    _exit(kCrashedExit);
  }
  return real(fd, bytes, count);
}

static ssize_t PositionedWrite(const char* name, int fd, const void* bytes, size_t count, off_t at) {
  ssize_t (*real)(int, const void*, size_t, off_t) = Next(name);
  int half;
  if (EndsHere(&half)) {
    if (half) real(fd, bytes, count / 2, at);
    _exit(kCrashedExit);
  }
  return real(fd, bytes, count, at);
}

ssize_t pwrite(int fd, const void* bytes, size_t count, off_t at) {
  return PositionedWrite("pwrite", fd, bytes, count, at);
}

ssize_t pwrite64(int fd, const void* bytes, size_t count, off_t at) {
  return PositionedWrite("pwrite64", fd, bytes, count, at);
}

#define ENDING_CALL(name, type, argument)     \
  int name(type argument) {                   \
    int (*real)(type) = Next(#name);          \
    int half;                                 \
    if (EndsHere(&half)) _exit(kCrashedExit); \
    return real(argument);                    \
  }

// Waiting for the disk.
#define FLUSHING_CALL(name)                   \
  int name(int fd) {                          \
    int (*real)(int) = Next(#name);           \
    int half;                                 \
    if (EndsHere(&half)) _exit(kCrashedExit); \
    ++flushes;                                \
    return real(fd);                          \
  }

FLUSHING_CALL(fsync)
FLUSHING_CALL(fdatasync)
ENDING_CALL(unlink, const char*, path)

int ftruncate(int fd, off_t length) {
  int (*real)(int, off_t) = Next("ftruncate");
  int half;
  if (EndsHere(&half)) _exit(kCrashedExit);
  return real(fd, length);
}

int ftruncate64(int fd, off_t length) {
  int (*real)(int, off_t) = Next("ftruncate64");
  int half;
  if (EndsHere(&half)) _exit(kCrashedExit);
  return real(fd, length);
}

__attribute__((destructor)) static void ReportCount(void) {
  const char* file = getenv("TW_CRASH_COUNT");
  if (!file) return;
  FILE* out = fopen(file, "w");
  if (!out) return;
  const long counted = calls, flushed = flushes;  // the report's own write is not one of them
  fprintf(out, "%ld %ld\n", counted, flushed);
  fclose(out);
}
