// The numbers of the database file format, and the codec of its integers. Internal to the
// store.
//
//   0            magic (MagicLength bytes)
//   AnchorField  data offset of the anchor block, -1 while there is none
//   EndField     end offset: just past the last block in use
//   HeaderLength blocks, each a length prefix (its value counts the prefix too), then data
//   end offset   free-list record: count N, N offsets, N lengths
//
// Blocks are named by their data offset, the offset just after their prefix.
#pragma once

#include <cstdint>

namespace store {

// Every integer in the file is 32-bit signed little-endian; -1 means "none".
constexpr int32_t Int32Size = 4;
constexpr int32_t NoOffset = -1;

constexpr int32_t MagicLength = 38;
constexpr int32_t AnchorField = MagicLength;
constexpr int32_t EndField = AnchorField + Int32Size;
constexpr int32_t HeaderLength = EndField + Int32Size;

constexpr int32_t PrefixLength = Int32Size;
// Where the block named by `dataOffset` begins: at its length prefix.
constexpr int64_t BlockStart(int64_t dataOffset) { return dataOffset - PrefixLength; }
// The data offset of the block whose prefix lies at `start`.
constexpr int64_t DataOffsetAt(int64_t start) { return start + PrefixLength; }

// The anchor block holds one offset, the root index's block.
constexpr int32_t AnchorBlockLength = PrefixLength + Int32Size;

// Payload record: Kind, two reserved bytes, Compressed, L (stored length), plain length,
// then the L payload bytes.
constexpr int32_t RecordKindAt = 0;
constexpr int32_t RecordCompressedAt = 3;
constexpr int32_t RecordLengthAt = 4;
constexpr int32_t RecordPlainLengthAt = 8;
constexpr int32_t RecordHeaderLength = 12;
// The length prefix and the record header, read together.
constexpr int32_t BlockHeadLength = PrefixLength + RecordHeaderLength;

// Free-list record: the count, then the offsets, then the lengths.
constexpr int64_t FreeListRecordLength(int64_t count) { return Int32Size + 2 * Int32Size * count; }

// Magic, anchor -1, end offset HeaderLength, an empty free list.
constexpr int32_t FreshLength = HeaderLength + static_cast<int32_t>(FreeListRecordLength(0));

inline int32_t GetInt32(const void* at) {
  const auto* b = static_cast<const unsigned char*>(at);
  return static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                              uint32_t(b[3]) << 24);
}

inline void PutInt32(void* at, int32_t value) {
  auto* b = static_cast<unsigned char*>(at);
  const auto v = static_cast<uint32_t>(value);
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
  b[2] = static_cast<unsigned char>(v >> 16);
  b[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace store
