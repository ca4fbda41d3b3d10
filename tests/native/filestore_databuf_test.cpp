#include <cstring>

#include "tests/native/filestore_support.h"

using namespace storetest;

TEST(DataBuf, SetDataKeepsBothLengthsAndATerminatingZero) {
  TDataBuf buffer;
  EXPECT_EQ(buffer.Data(), nullptr);
  EXPECT_TRUE(buffer.IsEmpty());
  EXPECT_FALSE(buffer.WipeOnClear());

  buffer.SetData("abc\0def", 7);
  EXPECT_EQ(buffer.Length(), 7);
  EXPECT_EQ(buffer.OriginalLength(), 7);
  EXPECT_EQ(buffer.Data()[7], '\0');
  EXPECT_EQ(buffer.AsString(), std::string("abc\0def", 7));
  EXPECT_TRUE(buffer.WipeOnClear());
  EXPECT_EQ(buffer.Kind, 0);

  buffer.SetData(nullptr, 4);  // no source: the character "0"
  EXPECT_EQ(buffer.AsString(), "0000");

  buffer.Kind = TDataBuf::KindEntry;
  buffer.Clear();
  EXPECT_EQ(buffer.Data(), nullptr);
  EXPECT_EQ(buffer.Kind, 0);
  EXPECT_EQ(buffer.Length(), 0);
  EXPECT_EQ(buffer.OriginalLength(), 0);
}

TEST(DataBuf, ReplaceDataKeepsHeaderAndOriginalLength) {
  TDataBuf buffer("hello world");
  buffer.Kind = TDataBuf::KindIndex;
  // The source may be the buffer's own bytes.
  buffer.ReplaceData(buffer.Data() + 6, 5);
  EXPECT_EQ(buffer.AsString(), "world");
  EXPECT_EQ(buffer.Length(), 5);
  EXPECT_EQ(buffer.OriginalLength(), 11);
  EXPECT_EQ(buffer.Kind, TDataBuf::KindIndex);
  EXPECT_EQ(buffer.Data()[5], '\0');
}

TEST(DataBuf, CompressAndDecompressGiveTheSameBytesBack) {
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i % 97) + "\r\n";
  std::string binary(70000, '\0');
  std::mt19937 random(7);
  for (char& c : binary) c = static_cast<char>(random());
  for (const std::string& plain : {std::string(), std::string("x\r\n"), big, binary}) {
    TDataBuf buffer(plain);
    ASSERT_EQ(buffer.Compress(), 0);
    EXPECT_TRUE(buffer.IsCompressed());
    EXPECT_EQ(buffer.OriginalLength(), static_cast<int32_t>(plain.size()));
    EXPECT_EQ(buffer.AsString(), ZlibStream(plain));  // the library's own stream
    ASSERT_EQ(buffer.Decompress(), 0);
    EXPECT_FALSE(buffer.IsCompressed());
    EXPECT_EQ(buffer.Length(), buffer.OriginalLength());
    EXPECT_EQ(buffer.AsString(), plain);
    EXPECT_EQ(buffer.Data()[buffer.Length()], '\0');
  }
}

namespace {

// A buffer holding `stream` as a compressed payload of `plainLength` bytes, as read.
void LoadCompressed(TDataBuf& buffer, const std::string& plain, const std::string& stream) {
  buffer.SetData(plain.data(), static_cast<int32_t>(plain.size()));
  buffer.ReplaceData(stream.data(), static_cast<int32_t>(stream.size()));
  buffer.Compressed = 1;
}

}  // namespace

TEST(DataBuf, FailedDecompressionReportsAndKeepsTheCompressedBytes) {
  CapturedReports reports;
  const std::string plain = "some text that compresses some text that compresses";
  std::string damaged = ZlibStream(plain);
  damaged[2] = static_cast<char>(0xFF);  // an invalid block type
  TDataBuf buffer;
  LoadCompressed(buffer, plain, damaged);
  EXPECT_EQ(buffer.Decompress(), Z_DATA_ERROR);
  EXPECT_EQ(reports.Inflate, std::vector<std::string>{"Decompression Error: -3"});
  EXPECT_TRUE(buffer.IsCompressed());
  EXPECT_EQ(buffer.AsString(), damaged);
}

TEST(DataBuf, StreamMustInflateToExactlyTheRecordedLength) {
  CapturedReports reports;
  const std::string plain(1000, 'a');
  const std::string stream = ZlibStream(plain);

  TDataBuf shortRecord(std::string(999, 'a'));  // inflates to more than recorded
  shortRecord.ReplaceData(stream.data(), static_cast<int32_t>(stream.size()));
  shortRecord.Compressed = 1;
  EXPECT_EQ(shortRecord.Decompress(), Z_BUF_ERROR);

  TDataBuf shorter;  // inflates to fewer than recorded: a failed read, not a partial one
  shorter.SetData(nullptr, 1001);
  shorter.ReplaceData(stream.data(), static_cast<int32_t>(stream.size()));
  shorter.Compressed = 1;
  EXPECT_EQ(shorter.Decompress(), Z_DATA_ERROR);
  EXPECT_TRUE(shorter.IsCompressed());

  EXPECT_EQ(reports.Inflate, (std::vector<std::string>{"Decompression Error: Z_BUF_ERROR",
                                                       "Decompression Error: -3"}));
}

// The store checks a stream's Adler-32 itself: the same value as zlib's for every length
// (the sums' lanes and their reduction, at the largest byte value too), and a stream whose
// text or check value changed fails as zlib's own check fails.
TEST(DataBuf, StreamCheckValueAgreesWithZlib) {
  std::string bytes(40000, '\xFF');
  uint32_t seed = 12345;
  for (size_t i = 20000; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
  for (size_t length : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{255},
                        size_t{5552}, size_t{16383}, size_t{16384}, size_t{16400}, size_t{20000},
                        size_t{39999}})
    for (size_t from : {size_t{0}, size_t{1}, bytes.size() - length}) {
      const char* data = bytes.data() + from;
      EXPECT_EQ(store::Adler32(data, length),
                adler32(1, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(length)))
          << length << " bytes from " << from;
    }

  CapturedReports reports;
  const std::string plain = bytes.substr(19000, 2000);
  const std::string stream = ZlibStream(plain);
  std::string plainOut(plain.size(), '\0');
  EXPECT_EQ(store::InflateExact(stream.data(), static_cast<int32_t>(stream.size()), plainOut.data(),
                                static_cast<int32_t>(plainOut.size())),
            Z_OK);
  EXPECT_EQ(plainOut, plain);
  for (size_t at : {stream.size() - 4, stream.size() - 1}) {
    std::string damaged = stream;
    damaged[at] = static_cast<char>(damaged[at] ^ 1);
    EXPECT_EQ(store::InflateExact(damaged.data(), static_cast<int32_t>(damaged.size()),
                                  plainOut.data(), static_cast<int32_t>(plainOut.size())),
              Z_DATA_ERROR)
        << "check value byte " << at;
  }
  // Kept plain inside the stream, a changed byte of the text reaches the output unnoticed
  // by anything but the check value.
  std::string stored(compressBound(static_cast<uLong>(plain.size())), '\0');
  uLongf storedLength = static_cast<uLongf>(stored.size());
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(stored.data()), &storedLength,
                      reinterpret_cast<const Bytef*>(plain.data()), static_cast<uLong>(plain.size()),
                      Z_NO_COMPRESSION),
            Z_OK);
  stored.resize(storedLength);
  stored[stored.size() - 10] = static_cast<char>(stored[stored.size() - 10] ^ 1);
  EXPECT_EQ(store::InflateExact(stored.data(), static_cast<int32_t>(stored.size()), plainOut.data(),
                                static_cast<int32_t>(plainOut.size())),
            Z_DATA_ERROR);
}

TEST(DataBuf, ErrorTextNamesTheKnownCodes) {
  EXPECT_EQ(TDataBuf::ErrorText(Z_STREAM_ERROR), "Decompression Error: Z_STREAM_ERROR");
  EXPECT_EQ(TDataBuf::ErrorText(Z_MEM_ERROR), "Decompression Error: Z_MEM_ERROR");
  EXPECT_EQ(TDataBuf::ErrorText(Z_BUF_ERROR), "Decompression Error: Z_BUF_ERROR");
  EXPECT_EQ(TDataBuf::ErrorText(Z_VERSION_ERROR), "Decompression Error: Z_VERSION_ERROR");
  EXPECT_EQ(TDataBuf::ErrorText(Z_DATA_ERROR), "Decompression Error: -3");
  EXPECT_EQ(TDataBuf::ErrorText(7), "Decompression Error: 7");
}

TEST(DataBuf, SavesAndLoadsFiles) {
  ScratchFolder folder;
  const FilePath file = folder.File("payload.bin");
  TDataBuf buffer;
  EXPECT_FALSE(buffer.LoadFromFile(file));
  EXPECT_TRUE(buffer.IsEmpty());

  TDataBuf source(std::string("bytes\0\xFF", 7));
  ASSERT_TRUE(source.SaveToFile(file));
  EXPECT_EQ(ReadFileBytes(file), std::string("bytes\0\xFF", 7));
  ASSERT_TRUE(buffer.LoadFromFile(file));
  EXPECT_EQ(buffer.AsString(), source.AsString());
  EXPECT_EQ(buffer.OriginalLength(), 7);

  // Overwriting a longer file leaves nothing of it behind.
  ASSERT_TRUE(TDataBuf(std::string_view("xy")).SaveToFile(file));
  EXPECT_EQ(ReadFileBytes(file), "xy");
}
