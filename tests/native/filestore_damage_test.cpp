// Damaged and foreign files: reads give status 2 and their defaults, writes give status 2
// and change no byte, and nothing is read, written or allocated outside the file.
#include <functional>

#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

// Root children a, b, sub (an index holding c), in that order, and one free extent left by
// a deleted entry.
std::string BaseImage() {
  TMemoryStream db;
  std::string filler;
  for (int i = 0; i < 400; ++i) filler += std::to_string(i * 7919 % 1000) + " ";
  EXPECT_EQ(Put(db, "gone", filler), 0);
  EXPECT_EQ(Put(db, "a", "alpha text"), 0);
  EXPECT_EQ(Put(db, "b", "beta text"), 0);
  EXPECT_EQ(Put(db, Path({"sub", "c"}), "gamma text"), 0);
  EXPECT_EQ(WriteEntry("gone", nullptr, db), 0);
  return db.Bytes;
}

struct Layout {
  explicit Layout(const std::string& image) {
    Root = Int32At(image, 50);
    RootLength = Int32At(image, size_t(Root) + 4);
    End = Int32At(image, 42);
    FreeOffset = Int32At(image, size_t(End) + 4);
  }
  size_t ChildSlot(int i) const { return size_t(Root) + 12 + size_t(RootLength) + 4 * size_t(i); }
  int32_t Root, RootLength, End, FreeOffset;
};

enum Child { A = 0, B = 1, Sub = 2 };

struct Case {
  const char* What;
  std::function<void(std::string& image, const Layout& at)> Damage;
  std::string ReadPath;
  int ReadStatus;
  std::string WritePath;
  int WriteStatus;
};

int32_t ChildOffset(const std::string& image, const Layout& at, int child) {
  return Int32At(image, at.ChildSlot(child));
}

}  // namespace

TEST(Damage, DamagedFilesAreReadErrorsAndWritesChangeNothing) {
  const std::string base = BaseImage();
  ASSERT_TRUE(Problems(base).empty());
  ASSERT_GE(Int32At(base, size_t(Layout(base).End)), 1) << "the base image needs a free extent";

  const std::vector<Case> cases = {
      {"root offset past the end",
       [](std::string& m, const Layout& at) { PutInt32At(m, 50, at.End + 100); }, "a", 2, "new", 2},
      {"root offset names the anchor block",
       [](std::string& m, const Layout&) { PutInt32At(m, 50, 50); }, "a", 2, "new", 2},
      {"root block too short for its offsets",
       [](std::string& m, const Layout& at) {
         PutInt32At(m, size_t(at.Root) - 4, Int32At(m, size_t(at.Root) - 4) - 4);
       },
       "a", 2, "new", 2},
      {"unknown record kind", [](std::string& m, const Layout& at) { m[size_t(at.Root)] = 7; }, "a",
       2, "new", 2},
      {"payload longer than its block",
       [](std::string& m, const Layout& at) { PutInt32At(m, size_t(at.Root) + 4, 0x7FFFFFF0); },
       "a", 2, "new", 2},
      {"plain length no stream can reach",
       [](std::string& m, const Layout& at) { PutInt32At(m, size_t(at.Root) + 8, 1 << 30); }, "a",
       2, "new", 2},
      {"index stream fails its check",
       [](std::string& m, const Layout& at) {
         PutInt32At(m, size_t(at.Root) + 12 + size_t(at.RootLength) - 4, 0);
       },
       "a", 2, "new", 2},
      {"index stream shorter than recorded",
       [](std::string& m, const Layout& at) {
         PutInt32At(m, size_t(at.Root) + 8, Int32At(m, size_t(at.Root) + 8) + 1);
       },
       "a", 2, "new", 2},
      {"child in free space",
       [](std::string& m, const Layout& at) { PutInt32At(m, at.ChildSlot(A), at.FreeOffset + 4); },
       "a", 2, "new", 2},
      {"child in the header",
       [](std::string& m, const Layout& at) { PutInt32At(m, at.ChildSlot(B), 10); }, "b", 2, "new",
       2},
      {"sub-index is the root itself (cycle)",
       [](std::string& m, const Layout& at) { PutInt32At(m, at.ChildSlot(Sub), at.Root); },
       Path({"sub", "c"}), 2, Path({"sub", "new"}), 2},
      {"two children share a block",
       [](std::string& m, const Layout& at) {
         PutInt32At(m, at.ChildSlot(B), ChildOffset(m, at, A));
       },
       "a", 0, "a", 2},
      {"sub-index names an entry block",
       [](std::string& m, const Layout& at) {
         PutInt32At(m, at.ChildSlot(Sub), ChildOffset(m, at, A));
       },
       Path({"sub", "c"}), 0, Path({"sub", "new"}), 2},
      {"entry overlaps the root block",
       [](std::string& m, const Layout& at) { PutInt32At(m, at.ChildSlot(A), at.Root + 8); }, "a",
       2, "a", 2},
      {"entry payload longer than its block",
       [](std::string& m, const Layout& at) {
         PutInt32At(m, size_t(ChildOffset(m, at, A)) + 4, 5000);
       },
       "a", 2, "a", 2},
      {"entry stream fails its check",
       [](std::string& m, const Layout& at) {
         const size_t a = size_t(ChildOffset(m, at, A));
         PutInt32At(m, a + 12 + size_t(Int32At(m, a + 4)) - 4, 0);
       },
       "a", 2, "b", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    CapturedReports reports;
    std::string damaged = base;
    c.Damage(damaged, Layout(base));
    EXPECT_FALSE(Problems(damaged).empty());

    TMemoryStream reader(damaged);
    TDataBuf read("untouched");
    EXPECT_EQ(ReadEntry(c.ReadPath, read, reader), c.ReadStatus);
    if (c.ReadStatus != 0) {
      EXPECT_TRUE(read.IsEmpty() || read.AsString() == "untouched");
    } else {
      EXPECT_EQ(reader.Bytes, damaged);
    }

    for (const bool deleting : {false, true}) {
      TMemoryStream writer(damaged);
      TDataBuf text("new text");
      EXPECT_EQ(WriteEntry(c.WritePath, deleting ? nullptr : &text, writer), c.WriteStatus);
      if (c.WriteStatus != 0) {
        EXPECT_EQ(writer.Bytes, damaged) << "deleting " << deleting;
      } else if (!deleting) {
        EXPECT_EQ(Get(writer, c.WritePath), "new text");
      }
    }
  }
}

TEST(Damage, ForeignFilesAreNeverWritten) {
  CapturedReports reports;
  for (const std::string& foreign :
       {std::string("-----BEGIN PGP MESSAGE-----\n") + std::string(500, 'Q'),
        std::string(3, '\0')}) {
    TMemoryStream db(foreign);
    EXPECT_EQ(Put(db, "x", "y"), StatusRead);
    EXPECT_EQ(db.Bytes, foreign);
    EXPECT_EQ(reports.Fatal.back(), "Block: 11, Fatal read error!");
  }
  // The beginning of a fresh file is a creation that was cut short: created afresh.
  for (const std::string& cut : {Magic(), Magic() + Int32(-1)}) {
    TMemoryStream db(cut);
    EXPECT_EQ(Put(db, "x", "y"), 0);
    EXPECT_EQ(Get(db, "x"), "y");
  }
}

// Every byte of a small database changed in turn: no crash (the sanitizer build watches
// for reads and writes out of bounds), reads fail or succeed cleanly, a refused write
// leaves the file alone, and a write to a file that was sound leaves it sound.
TEST(Damage, EveryChangedByteIsHandledSafely) {
  CapturedReports reports;
  const std::string base = BaseImage();
  const std::vector<std::string> paths = {"a", "b", Path({"sub", "c"}), "missing"};
  for (size_t at = 0; at < base.size(); ++at) {
    for (const unsigned char change : {0x01, 0x80, 0xFF}) {
      std::string damaged = base;
      damaged[at] = static_cast<char>(damaged[at] ^ change);
      const bool sound = Problems(damaged).empty();
      for (const auto& path : paths) {
        TMemoryStream reader(damaged);
        int status = -1;
        Get(reader, path, &status);
        ASSERT_TRUE(status == 0 || status == StatusRead) << at;
      }
      for (const auto& path : {std::string("a"), Path({"sub", "new"})}) {
        TMemoryStream writer(damaged);
        const int status = Put(writer, path, "written");
        if (status != 0) {
          ASSERT_EQ(writer.Bytes, damaged) << "byte " << at << " path " << path;
        } else if (sound) {
          ASSERT_TRUE(Problems(writer.Bytes).empty()) << "byte " << at << " path " << path;
          ASSERT_EQ(Get(writer, path), "written");
        }
      }
    }
  }
}
