// The malloc family defined here takes precedence over glibc's for every library the
// benchmark loads (dynamic symbol interposition), so zlib's and SQLite's allocations are
// counted as well as operator new's. Each call forwards to glibc's own entry points.
// The benchmark runs on one thread; the counters are plain integers.
#include "bench/HeapCounter.h"

#include <malloc.h>

#include <unistd.h>

#include <cerrno>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {
size_t held = 0;
size_t peak = 0;

void* Counted(void* block) {
  if (block) {
    held += malloc_usable_size(block);
    if (held > peak) peak = held;
  }
  return block;
}

void Uncount(void* block) {
  if (block) held -= malloc_usable_size(block);
}
}  // namespace

namespace heap {
size_t Current() { return held; }
void ResetPeak() { peak = held; }
size_t Peak() { return peak; }
}  // namespace heap

extern "C" {
void* malloc(size_t size) { return Counted(__libc_malloc(size)); }

void* calloc(size_t count, size_t size) { return Counted(__libc_calloc(count, size)); }

void free(void* block) {
  Uncount(block);
  __libc_free(block);
}

void* realloc(void* block, size_t size) {
  const size_t old = block ? malloc_usable_size(block) : 0;
  void* moved = __libc_realloc(block, size);
  // A failed realloc leaves the old block in place; a realloc to 0 frees it.
  if (!moved && size != 0) return nullptr;
  held -= old;
  return Counted(moved);
}

void* memalign(size_t alignment, size_t size) {
  return Counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

void* valloc(size_t size) { return memalign(static_cast<size_t>(getpagesize()), size); }

void* pvalloc(size_t size) {
  const size_t page = static_cast<size_t>(getpagesize());
  return memalign(page, (size + page - 1) / page * page);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
  void* block = memalign(alignment, size);
  if (!block) return ENOMEM;
  *result = block;
  return 0;
}
}
