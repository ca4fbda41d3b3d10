// The free extents of a database file, kept in ascending order of offset.
#include <algorithm>

#include "filestore/StoreInternal.h"

using store::Int32Size;

bool TFreeList::AddExtent(int32_t offset, int32_t length) {
  if (!MergeExtent(offset, length)) InsertExtent(offset, length);
  return true;
}

bool TFreeList::MergeExtent(int32_t offset, int32_t length) {
  for (size_t i = 0; i < Offsets.size(); ++i) {
    if (offset == Offsets[i] + Lengths[i]) {
      Lengths[i] += length;
      // The new extent may close the gap to the next one.
      if (i + 1 < Offsets.size() && Offsets[i] + Lengths[i] == Offsets[i + 1]) {
        Lengths[i] += Lengths[i + 1];
        Offsets.erase(Offsets.begin() + static_cast<ptrdiff_t>(i + 1));
        Lengths.erase(Lengths.begin() + static_cast<ptrdiff_t>(i + 1));
      }
      return true;
    }
    if (offset + length == Offsets[i]) {
      // A join with extent i - 1 would already have matched above.
      Offsets[i] = offset;
      Lengths[i] += length;
      return true;
    }
  }
  return false;
}

void TFreeList::InsertExtent(int32_t offset, int32_t length) {
  const auto at = std::upper_bound(Offsets.begin(), Offsets.end(), offset);
  const auto i = at - Offsets.begin();
  Offsets.insert(at, offset);
  Lengths.insert(Lengths.begin() + i, length);
}

int32_t TFreeList::TakeFirstFit(int32_t length) {
  for (size_t i = 0; i < Offsets.size(); ++i) {
    if (Lengths[i] < length) continue;
    const int32_t result = Offsets[i];
    Lengths[i] -= length;
    if (Lengths[i] != 0) {
      Offsets[i] += length;  // the extent keeps its high end
    } else {
      Offsets.erase(Offsets.begin() + static_cast<ptrdiff_t>(i));
      Lengths.erase(Lengths.begin() + static_cast<ptrdiff_t>(i));
    }
    return result;
  }
  return -1;
}

namespace {

// First extent that ends after `offset`; extents are ordered and apart, so their ends are
// ordered too.
size_t FirstEndingAfter(const TFreeList& list, int64_t offset) {
  size_t low = 0, high = list.Offsets.size();
  while (low < high) {
    const size_t mid = (low + high) / 2;
    if (int64_t(list.Offsets[mid]) + list.Lengths[mid] > offset)
      high = mid;
    else
      low = mid + 1;
  }
  return low;
}

}  // namespace

bool TFreeList::Overlaps(int64_t offset, int64_t length) const {
  if (length <= 0) return false;
  const size_t i = FirstEndingAfter(*this, offset);
  return i < Offsets.size() && Offsets[i] < offset + length;
}

bool TFreeList::ReadFrom(TStoreStream& stream) {
  unsigned char head[Int32Size];
  if (stream.Read(head, Int32Size) != Int32Size) return false;
  const int32_t count = store::GetInt32(head);
  Offsets.clear();
  Lengths.clear();
  if (count <= 0) return true;
  // A count the rest of the stream cannot hold is a short read: nothing is allocated for it.
  const int64_t bytes = store::FreeListRecordLength(count) - Int32Size;
  if (bytes > stream.Size() - stream.Position()) return false;
  std::string record(static_cast<size_t>(bytes), '\0');
  if (stream.Read(record.data(), record.size()) != record.size()) return false;
  Offsets.resize(static_cast<size_t>(count));
  Lengths.resize(static_cast<size_t>(count));
  for (size_t i = 0; i < Offsets.size(); ++i) {
    Offsets[i] = store::GetInt32(record.data() + Int32Size * i);
    Lengths[i] = store::GetInt32(record.data() + Int32Size * (Offsets.size() + i));
  }
  return true;
}

bool TFreeList::WriteTo(TStoreStream& stream) const {
  std::string record(static_cast<size_t>(store::FreeListRecordLength(Count())), '\0');
  store::PutInt32(record.data(), Count());
  char* offsets = record.data() + Int32Size;
  char* lengths = offsets + Int32Size * Offsets.size();
  for (size_t i = 0; i < Offsets.size(); ++i) {
    store::PutInt32(offsets + Int32Size * i, Offsets[i]);
    store::PutInt32(lengths + Int32Size * i, Lengths[i]);
  }
  return stream.Write(record.data(), record.size()) == record.size();
}
