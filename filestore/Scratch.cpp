// The buffers an operation needs in proportion to its indexes and payloads, kept from one
// operation to the next.
#include <algorithm>
#include <utility>

#include "filestore/StoreInternal.h"

namespace store {

void TBytes::Reserve(size_t capacity) {
  if (capacity <= Capacity_ && Storage_) return;
  auto storage = std::make_unique_for_overwrite<char[]>(capacity + 1);
  if (Size_) std::memcpy(storage.get(), Storage_.get(), Size_);
  Storage_ = std::move(storage);
  Capacity_ = capacity;
}

char* TBytes::Resize(size_t size) {
  // Growing bytes at a time (names appended one by one) costs one copy per doubling.
  if (size > Capacity_ || !Storage_) Reserve(std::max(size, Size_ ? 2 * Capacity_ : size));
  Size_ = size;
  Storage_[size] = '\0';
  return Storage_.get();
}

void TBytes::Append(std::string_view bytes) {
  // The bytes may lie in this buffer's storage, which growing moves.
  const bool own = Storage_ && bytes.data() >= Storage_.get() && bytes.data() <= Storage_.get() + Size_;
  const size_t from = own ? size_t(bytes.data() - Storage_.get()) : 0;
  const size_t at = Size_;
  char* storage = Resize(at + bytes.size());
  std::memcpy(storage + at, own ? storage + from : bytes.data(), bytes.size());
}

void TBytes::Erase(size_t at, size_t count) {
  std::memmove(Storage_.get() + at, Storage_.get() + at + count, Size_ - at - count);
  Resize(Size_ - count);
}

// Into new storage, so that the bytes may lie in this buffer's own.
void TBytes::Replace(size_t at, size_t count, std::string_view bytes) {
  TBytes replaced;
  char* out = replaced.Resize(Size_ - count + bytes.size());
  std::memcpy(out, Data(), at);
  std::memcpy(out + at, bytes.data(), bytes.size());
  std::memcpy(out + at + bytes.size(), Data() + at + count, Size_ - at - count);
  *this = std::move(replaced);
}

TScratch& Scratch() {
  static TScratch scratch;
  return scratch;
}

TBytes TakeBytes(size_t size) {
  // The smallest that holds `size`: big storage stays for big extents.
  TBytes* best = &Scratch().Spare[0];
  for (TBytes& spare : Scratch().Spare)
    if (spare.Capacity() >= size && (best->Capacity() < size || spare.Capacity() < best->Capacity()))
      best = &spare;
  best->Clear();
  return std::exchange(*best, TBytes());  // the slot left with no storage, and saying so
}

// In place of the smallest spare, when it is smaller.
void GiveBytes(TBytes&& bytes) {
  TBytes* smallest = &Scratch().Spare[0];
  for (TBytes& spare : Scratch().Spare)
    if (spare.Capacity() < smallest->Capacity()) smallest = &spare;
  if (smallest->Capacity() < bytes.Capacity()) *smallest = std::move(bytes);
}

TIndexLoan::TIndexLoan() : Storage_(&Own_) {
  for (TIndexStorage& storage : Scratch().Indexes) {
    if (storage.Lent) continue;
    storage.Lent = true;
    storage.Names.Clear();
    storage.Offsets.clear();
    storage.Starts.clear();
    Storage_ = &storage;
    return;
  }
}

}  // namespace store
