#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

std::string Utf8(const FilePath& path) {
  const std::u8string text = std::filesystem::path(path).u8string();
  return std::string(text.begin(), text.end());
}

std::string FreshImage() { return Magic() + Int32(-1) + Int32(46) + Int32(0); }

// An image with the anchor block and three 10-byte blocks A, B and C after it.
struct ThreeBlocks {
  ThreeBlocks() {
    TFileManager manager(Stream);
    EXPECT_EQ(manager.Allocate(4), 50);
    A = manager.Allocate(10);
    B = manager.Allocate(10);
    C = manager.Allocate(10);
  }
  TMemoryStream Stream;
  int32_t A, B, C;
};

}  // namespace

TEST(FileManager, FreshFileIsMagicHeaderAndEmptyFreeList) {
  TMemoryStream stream;
  TFileManager manager(stream);
  EXPECT_EQ(stream.Bytes, FreshImage());
  EXPECT_EQ(stream.Bytes.size(), 50u);
  EXPECT_EQ(manager.GetAnchorOffset(), -1);
  EXPECT_EQ(manager.GetEndOffset(), 46);
  EXPECT_EQ(manager.Status(), 0);
}

TEST(FileManager, FirstAllocationBecomesTheAnchor) {
  TMemoryStream stream;
  TFileManager manager(stream);
  const std::string before = stream.Bytes;
  EXPECT_EQ(manager.Allocate(0), -1);
  EXPECT_EQ(stream.Bytes, before);

  EXPECT_EQ(manager.Allocate(4), 50);
  EXPECT_EQ(Int32At(stream.Bytes, 46), 8);
  EXPECT_EQ(Int32At(stream.Bytes, 38), 50);
  EXPECT_EQ(Int32At(stream.Bytes, 42), 54);
  EXPECT_EQ(Int32At(stream.Bytes, 54), 0);
  EXPECT_EQ(stream.Bytes.size(), 58u);
  EXPECT_EQ(manager.GetAnchorOffset(), 50);

  EXPECT_EQ(manager.Allocate(1), 58);  // later allocations leave the anchor alone
  EXPECT_EQ(Int32At(stream.Bytes, 38), 50);
  EXPECT_EQ(Int32At(stream.Bytes, 42), 59);
}

TEST(FileManager, ReleasingTheLastBlockMovesTheEndBack) {
  ThreeBlocks file;
  {
    TFileManager manager(file.Stream);
    manager.Release(file.C);
    EXPECT_EQ(manager.GetEndOffset(), file.C - 4);
    EXPECT_EQ(manager.FreeList().Count(), 0);
    manager.Release(file.A);  // not at the end: a free extent
    ASSERT_EQ(manager.FreeList().Count(), 1);
    EXPECT_EQ(manager.FreeList().Offsets[0], file.A - 4);
    EXPECT_EQ(manager.FreeList().Lengths[0], 14);
    EXPECT_EQ(manager.Status(), 0);
  }
  // The header and free list reached the file.
  EXPECT_EQ(Int32At(file.Stream.Bytes, 42), file.C - 4);
  EXPECT_EQ(Int32At(file.Stream.Bytes, file.C - 4), 1);
  TFileManager reopened(file.Stream);
  EXPECT_EQ(reopened.GetEndOffset(), file.C - 4);
  ASSERT_EQ(reopened.FreeList().Count(), 1);
  EXPECT_EQ(reopened.Allocate(10), file.A);  // the freed extent is used first
  EXPECT_EQ(reopened.FreeList().Count(), 0);
}

TEST(FileManager, ReleaseOfNoneAndOfTheAnchorDoNothing) {
  ThreeBlocks file;
  const std::string before = file.Stream.Bytes;
  TFileManager manager(file.Stream);
  manager.Release(-1);
  manager.Release(50);
  EXPECT_EQ(file.Stream.Bytes, before);
  EXPECT_EQ(manager.FreeList().Count(), 0);
}

TEST(FileManager, LastErrorDescribesTheLatestPrimitiveOnly) {
  ThreeBlocks file;
  TFaultStream faulty(file.Stream, 1, TFaultStream::TCall::Write);
  TFileManager manager(faulty);
  ASSERT_TRUE(manager.Seek(file.A));
  EXPECT_FALSE(manager.WriteBytes("x", 1));
  EXPECT_EQ(manager.LastError(), StatusWrite);
  EXPECT_TRUE(manager.Seek(file.B));
  EXPECT_EQ(manager.LastError(), 0);
  EXPECT_EQ(manager.Status(), StatusWrite);  // the operation still failed
}

TEST(FileManager, FailedFreeListWriteIsReportedWithItsOperation) {
  ThreeBlocks file;
  CapturedReports reports;
  // Appending writes the prefix, the header and then the free list.
  TFaultStream faulty(file.Stream, 3, TFaultStream::TCall::Write);
  TFileManager manager(faulty);
  const int32_t block = manager.Allocate(20);
  EXPECT_EQ(block, file.C + 14);  // the block is handed out all the same
  EXPECT_EQ(faulty.Failed(), TFaultStream::TCall::Write);
  EXPECT_EQ(manager.LastError(), StatusWrite);
  EXPECT_EQ(reports.Fatal, std::vector<std::string>{"Block: 2, Fatal write error!"});
  EXPECT_EQ(StatusText(0), "No error!");
  EXPECT_EQ(StatusText(2), "Fatal read error!");
  EXPECT_EQ(StatusText(3), "Fatal seek error!");
  EXPECT_EQ(StatusText(9), "Unknown FATAL error!");
}

TEST(FileManager, DamagedHeadersAreReadErrorsAndNothingIsWritten) {
  const std::string good = ThreeBlocks().Stream.Bytes;
  auto with = [&](size_t at, int32_t value) {
    std::string image = good;
    PutInt32At(image, at, value);
    return image;
  };
  const int32_t end = Int32At(good, 42);
  std::string notMagic = good;
  notMagic[5] = 'y';
  const std::vector<std::pair<std::string, std::string>> images = {
      {"foreign magic", notMagic},
      {"shorter than a header", std::string(30, 'q')},
      {"end offset past the file", with(42, end + 100)},
      {"end offset inside the header", with(42, 20)},
      {"blocks without an anchor", with(38, -1)},
      {"anchor past the end", with(38, end + 8)},
      {"huge free-list count", with(size_t(end), 0x40000000)},
      {"free extent past the end", with(size_t(end), 1) + Int32(end - 4) + Int32(8)},
      {"free extent in the header", with(size_t(end), 1) + Int32(40) + Int32(8)},
      {"empty free extent", with(size_t(end), 1) + Int32(60) + Int32(0)},
      {"free extents out of order",
       with(size_t(end), 2) + Int32(70) + Int32(58) + Int32(4) + Int32(4)},
  };
  for (const auto& [what, image] : images) {
    SCOPED_TRACE(what);
    CapturedReports reports;
    TMemoryStream stream(image);
    TFileManager manager(stream);
    EXPECT_EQ(manager.Status(), StatusRead);
    EXPECT_TRUE(manager.Damaged());
    EXPECT_FALSE(manager.DamageText().empty());
    EXPECT_EQ(reports.Fatal.size(), 1u);
    EXPECT_EQ(manager.Allocate(10), -1);
    manager.Release(62);
    EXPECT_EQ(stream.Bytes, image);
  }
}

TEST(FileManager, InterruptedCreationStartsAfresh) {
  TMemoryStream cut(Magic());
  {
    TFileManager manager(cut);
    EXPECT_EQ(manager.Status(), 0);
  }
  EXPECT_EQ(cut.Bytes, FreshImage());

  // Read-only opening never writes: an empty file is no database.
  CapturedReports reports;
  TMemoryStream empty;
  TFileManager reader(empty, TOpenMode::ReadOnly);
  EXPECT_EQ(reader.Status(), StatusRead);
  EXPECT_TRUE(empty.Bytes.empty());
}

TEST(FileManager, FileIsHeldExclusivelyAndOpeningErrorsNameIt) {
  ScratchFolder folder;
  const FilePath path = folder.File("TW.dbc");
  {
    TFileManager first(path);
    TFileManager second(path);
    EXPECT_EQ(second.OpenError(), "Cannot open file " + Utf8(path));
    EXPECT_EQ(second.Status(), StatusOpen);
    EXPECT_TRUE(second.Stopped());
    // The path-based operations answer the same, and say why.
    TDataBuf entry("x");
    EXPECT_EQ(WriteEntry("a", &entry, path), StatusOpen);
    EXPECT_EQ(LastOpenError(), "Cannot open file " + Utf8(path));
    EXPECT_EQ(DeleteMailboxEntries("Inbox", nullptr, path), 0);
    EXPECT_EQ(CheckDatabase(path)->Text, "Cannot open file " + Utf8(path));
  }
  EXPECT_EQ(ReadFileBytes(path), FreshImage());
  TFileManager again(path);  // released when the first manager went
  EXPECT_EQ(again.Status(), 0);
  EXPECT_TRUE(again.OpenError().empty());

  const FilePath nowhere = folder.File("missing-folder/TW.dbc");
  EXPECT_EQ(TFileManager(nowhere).OpenError(), "Cannot create file " + Utf8(nowhere));
  TDataBuf nothing;
  EXPECT_FALSE(nothing.SaveToFile(nowhere));
  EXPECT_EQ(TFileManager(folder.File("absent.dbc"), TOpenMode::ReadOnly).Status(), StatusOpen);
  EXPECT_FALSE(Exists(folder.File("absent.dbc")));
}
