// The payload buffer: one stored payload in memory, compressed and decompressed in place.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "filestore/StoreInternal.h"

namespace {

// The library checks only the major version; the store has always asked for this one.
constexpr char kZlibVersion[] = "1.0.4";

// The payload bytes, or the character "0" repeated when there is no source.
void FillPayload(char* target, const void* source, int32_t count) {
  if (source)
    std::memcpy(target, source, static_cast<size_t>(count));
  else
    std::memset(target, '0', static_cast<size_t>(count));
}

// Zero-fills memory that is about to be freed; the barrier keeps the compiler from dropping
// the stores as dead.
void Wipe(char* bytes, size_t count) {
  std::memset(bytes, 0, count);
  asm volatile("" : : "r"(bytes) : "memory");
}

#ifdef __SSE2__
constexpr uint32_t kAdlerBase = 65521;

// The sum of the four lanes.
uint64_t LaneTotal(__m128i lanes) {
  alignas(16) uint32_t values[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(values), lanes);
  return uint64_t{values[0]} + values[1] + values[2] + values[3];
}

// Adds `count` bytes (a multiple of 16, at most 16 KB) to the two Adler-32 sums. Per
// sixteen bytes: their sum goes to `bytes`, the sum so far to `earlier` (each earlier byte
// counts sixteen more times), and each byte weighted by the places left in its sixteen to
// `weighted`. No lane can overflow within 16 KB.
void AddSixteens(const unsigned char* data, size_t count, uint32_t& s1, uint32_t& s2) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i weightsLow = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i weightsHigh = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  __m128i bytes = zero, earlier = zero, weighted = zero;
  for (size_t i = 0; i < count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    earlier = _mm_add_epi32(earlier, bytes);
    bytes = _mm_add_epi32(bytes, _mm_sad_epu8(v, zero));
    weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), weightsLow));
    weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), weightsHigh));
  }
  const uint64_t sum2 = uint64_t{s2} + count * uint64_t{s1} + 16 * LaneTotal(earlier) +
                        LaneTotal(weighted);
  s1 = static_cast<uint32_t>((s1 + LaneTotal(bytes)) % kAdlerBase);
  s2 = static_cast<uint32_t>(sum2 % kAdlerBase);
}
#endif

// The Adler-32 value stored big-endian at `at`.
uint32_t StoredAdler32(const char* at) {
  const auto* b = reinterpret_cast<const unsigned char*>(at);
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

}  // namespace

uint32_t store::Adler32(const char* data, size_t length) {
#ifdef __SSE2__
  constexpr size_t kRound = 16384;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  uint32_t s1 = 1, s2 = 0;
  size_t done = 0;
  while (length - done >= 16) {
    const size_t count = std::min(kRound, (length - done) & ~size_t{15});
    AddSixteens(bytes + done, count, s1, s2);
    done += count;
  }
  for (; done < length; ++done) {  // fewer than sixteen left: the sums stay far below 2^32
    s1 += bytes[done];
    s2 += s1;
  }
  return (s2 % kAdlerBase) << 16 | (s1 % kAdlerBase);
#else
  return static_cast<uint32_t>(
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data), static_cast<uInt>(length)));
#endif
}

int store::InflateExact(const char* stream, int32_t streamLength, char* plain,
                        int32_t plainLength) {
  if (streamLength < 0 || plainLength < 0 || plainLength > MaxPlainLength(streamLength))
    return Z_DATA_ERROR;
  z_stream z{};
  int result = inflateInit2_(&z, 15, kZlibVersion, static_cast<int>(sizeof(z_stream)));
  if (result != Z_OK) return result;
  // zlib checks the stream's Adler-32 a byte at a time; Adler32 is several times faster, so
  // the check is made here, on the whole result, once the stream has ended.
  inflateValidate(&z, 0);
  char none = 0;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream ? stream : &none));
  z.avail_in = static_cast<uInt>(streamLength);
  z.next_out = reinterpret_cast<Bytef*>(plainLength ? plain : &none);
  z.avail_out = static_cast<uInt>(plainLength);
  const int status = inflate(&z, Z_FINISH);
  if (status != Z_STREAM_END)
    result = status == Z_OK ? Z_BUF_ERROR : status;
  else if (z.total_out != static_cast<uLong>(plainLength))
    result = Z_DATA_ERROR;  // shorter than recorded: a failed read, not a partial one
  else if (StoredAdler32(reinterpret_cast<const char*>(z.next_in) - 4) !=
           Adler32(plainLength ? plain : &none, static_cast<size_t>(plainLength)))
    result = Z_DATA_ERROR;  // the stream's last four bytes, the check value
  const int ended = inflateEnd(&z);
  return result == Z_OK ? ended : result;
}

namespace {

// One deflate state for the process (the store is single-threaded), reset between
// payloads. Setting a state up (some 384 KB at the store's parameters, most of it zeroed)
// costs more than deflating a small payload, and a reset state gives exactly the bytes a
// new one gives. An inflate state is set up for each stream: some 7 KB, little zeroed.
class TDeflater {
 public:
  TDeflater() = default;
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  ~TDeflater() {
    if (Ready_) deflateEnd(&Stream_);
  }

  // The state, ready for a new payload; nullptr with `result` set when zlib refuses.
  z_stream* Fresh(int& result) {
    if (Ready_) {
      result = deflateReset(&Stream_);
    } else {
      Stream_ = z_stream{};
      result = deflateInit2_(&Stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9,
                             Z_DEFAULT_STRATEGY, kZlibVersion, static_cast<int>(sizeof(z_stream)));
      Ready_ = result == Z_OK;
    }
    return result == Z_OK ? &Stream_ : nullptr;
  }

 private:
  z_stream Stream_{};
  bool Ready_ = false;
};

}  // namespace

int store::Deflate(const char* source, int32_t length, std::string_view& packed) {
  static TDeflater deflater;
  int result = Z_OK;
  z_stream* z = deflater.Fresh(result);
  if (!z) return result;
  // Always enough for one-call deflate: the worst case adds a few bytes per 16 KB.
  const auto capacity = static_cast<size_t>(length * 1.2 + 16);
  TBytes& out = Scratch().Packed;
  char none = 0;
  z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(source ? source : &none));
  z->avail_in = static_cast<uInt>(length);
  z->next_out = reinterpret_cast<Bytef*>(out.Resize(capacity));
  z->avail_out = static_cast<uInt>(capacity);
  const int status = deflate(z, Z_FINISH);
  if (status != Z_STREAM_END) return status == Z_OK ? Z_BUF_ERROR : status;
  packed = std::string_view(out.Data(), z->total_out);
  return Z_OK;
}

TDataBuf::TDataBuf(const void* source, int32_t count) {
  if (source) SetData(source, count);
}

TDataBuf::TDataBuf(std::string_view text) {
  SetData(text.data(), static_cast<int32_t>(text.size()));
}

TDataBuf::~TDataBuf() {
  if (Data_) Clear();
}

void TDataBuf::SetData(const void* source, int32_t count) {
  Clear();
  if (count < 0) count = 0;
  auto bytes = store::NewPayload(count);
  FillPayload(bytes.get(), source, count);
  Data_ = std::move(bytes);
  Length_ = OriginalLength_ = count;
  WipeOnClear_ = true;
}

void TDataBuf::ReplaceData(const void* source, int32_t count) {
  if (count < 0) count = 0;
  // Copied before the old bytes go: the source may lie inside them.
  auto bytes = store::NewPayload(count);
  FillPayload(bytes.get(), source, count);
  Adopt(std::move(bytes), count);
}

void TDataBuf::Adopt(std::unique_ptr<char[]> bytes, int32_t count) {
  FreePayload(false);
  Data_ = std::move(bytes);
  Length_ = count;
}

void TDataBuf::FreePayload(bool wipe) {
  if (Data_ && wipe) Wipe(Data_.get(), static_cast<size_t>(Length_));
  Data_.reset();
}

void TDataBuf::Clear() {
  Kind = 0;
  Compressed = 0;
  FreePayload(WipeOnClear_);
  Length_ = OriginalLength_ = 0;
}

int TDataBuf::Compress() {
  OriginalLength_ = Length_;
  std::string_view packed;
  const int result = store::Deflate(Data_.get(), Length_, packed);
  if (result == Z_OK) {
    // The stream is kept in a block of its own size, not in the larger working area.
    auto bytes = store::NewPayload(static_cast<int64_t>(packed.size()));
    std::memcpy(bytes.get(), packed.data(), packed.size());
    Adopt(std::move(bytes), static_cast<int32_t>(packed.size()));
    Compressed = 1;
  } else {
    StoreReporter().InflateError(ErrorText(result));
  }
  return result;
}

int TDataBuf::Decompress() {
  int result = Z_DATA_ERROR;
  if (OriginalLength_ >= 0 && OriginalLength_ <= store::MaxPlainLength(Length_)) {
    auto plain = store::NewPayload(OriginalLength_);
    result = store::InflateExact(Data_.get(), Length_, plain.get(), OriginalLength_);
    if (result == Z_OK) {
      Adopt(std::move(plain), OriginalLength_);
      Compressed = 0;
    }
  }
  if (result != Z_OK) StoreReporter().InflateError(ErrorText(result));
  return result;
}

std::string TDataBuf::ErrorText(int code) {
  switch (code) {
    case Z_STREAM_ERROR:
      return "Decompression Error: Z_STREAM_ERROR";
    case Z_MEM_ERROR:
      return "Decompression Error: Z_MEM_ERROR";
    case Z_BUF_ERROR:
      return "Decompression Error: Z_BUF_ERROR";
    case Z_VERSION_ERROR:
      return "Decompression Error: Z_VERSION_ERROR";
    default:
      return "Decompression Error: " + std::to_string(code);
  }
}

bool TDataBuf::LoadFromFile(const FilePath& path) {
  if (!store::FileExists(path)) return false;
  TFileStream file(path, TOpenMode::ReadOnly);
  if (!file.IsOpen()) return false;
  const int64_t size = file.Size();
  if (size < 0 || size > INT32_MAX) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (file.Read(bytes.data(), bytes.size()) != bytes.size()) return false;
  SetData(bytes.data(), static_cast<int32_t>(size));
  return true;
}

bool TDataBuf::SaveToFile(const FilePath& path) const {
  TFileStream file(path, TOpenMode::Replace);
  const size_t length = static_cast<size_t>(Length_);
  return file.IsOpen() && file.Write(Data_ ? Data_.get() : "", length) == length;
}

std::string TDataBuf::AsString() const { return std::string(View()); }
