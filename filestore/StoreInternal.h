// Helpers shared by the parts of the store; not part of its interface.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filestore/FileMan.h"

namespace store {

// Integers in the file are 32-bit little-endian.
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

// Deflate turns at most 1032 plain bytes into one byte (a 258-byte match coded in two bits),
// so no honest stream of `streamLength` bytes inflates to more than this.
inline int64_t MaxPlainLength(int32_t streamLength) {
  return streamLength <= 0 ? 0 : int64_t(streamLength) * 1032;
}

// Payload record header: Kind, two reserved bytes, Compressed, L, OriginalLength.
constexpr int32_t RecordHeaderLength = 12;

// Length prefix and payload record header of a block, read together.
struct TBlockHead {
  int32_t BlockLength;
  uint8_t Kind;
  uint8_t Compressed;
  int32_t Length;
  int32_t OriginalLength;
};
constexpr int32_t BlockHeadLength = 4 + RecordHeaderLength;

TBlockHead ParseBlockHead(const char* bytes);
// What is wrong with the record (unknown kind, payload longer than the block, lengths that
// disagree), or "" when nothing is.
std::string RecordProblem(const TBlockHead& head);

// A payload buffer of `count` bytes plus the terminating zero, left uninitialised.
inline std::unique_ptr<char[]> NewPayload(int64_t count) {
  auto bytes = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(count) + 1);
  bytes[static_cast<size_t>(count)] = '\0';
  return bytes;
}

// Inflates a zlib stream into exactly `plainLength` bytes at `plain`. Answers 0 or the zlib
// code that stopped it; a stream that ends early gives Z_DATA_ERROR, one that would give
// more Z_BUF_ERROR, and a length no stream of this size can reach Z_DATA_ERROR before
// anything is done.
int InflateExact(const char* stream, int32_t streamLength, char* plain, int32_t plainLength);

// Deflates `length` bytes in one call with the store's settings into `packed` (exactly
// `packedLength` bytes plus a zero). Answers 0 or the zlib code that stopped it.
int Deflate(const char* source, int32_t length, std::unique_ptr<char[]>& packed,
            int32_t& packedLength);

// The root index and the sub-indexes named by the first `depth` components below it (fewer
// when the manager stops on the way).
using TChain = std::vector<std::unique_ptr<TFMindex>>;
TChain BuildChain(TFileManager& manager, const std::vector<std::string>& components, size_t depth);

bool FileExists(const FilePath& path);

// The path as it appears in messages (UTF-8 on Windows).
std::string PathText(const FilePath& path);

}  // namespace store
