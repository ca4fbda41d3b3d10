// Each seek, read and write of a store operation failing in turn: no crash, the status of
// the failed call, and the file as it was before the operation (which also means that no
// byte changed outside the header, the free-list record and the blocks the operation
// allocated, and that the file still opens).
#include <algorithm>
#include <functional>

#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

struct Operation {
  const char* What;
  std::function<int(TStoreFile&)> Run;
};

// The bytes of a database image that mean something: everything up to the end of the
// free-list record, with the free extents (whose bytes are stale) blanked out.
std::string Meaningful(const std::string& bytes, const std::string& image) {
  const int32_t end = Int32At(image, 42);
  const int32_t extents = Int32At(image, size_t(end));
  std::string kept = bytes.substr(0, size_t(end) + 4 + 8 * size_t(extents));
  for (int32_t i = 0; i < extents; ++i) {
    const size_t at = size_t(end) + 4 + 4 * size_t(i);
    const int32_t offset = Int32At(image, at), length = Int32At(image, at + 4 * size_t(extents));
    kept.replace(size_t(offset), size_t(length), size_t(length), '\0');
  }
  return kept;
}

// Offset of the first byte in which two images differ, or -1.
long FirstDifference(const std::string& a, const std::string& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return at.first == a.end() && at.second == b.end() ? -1 : long(at.first - a.begin());
}

int ExpectedStatus(TFaultStream::TCall call) {
  switch (call) {
    case TFaultStream::TCall::Seek:
      return StatusSeek;
    case TFaultStream::TCall::Read:
      return StatusRead;
    case TFaultStream::TCall::Write:
      return StatusWrite;
    case TFaultStream::TCall::Mark:
      return StatusNone;
  }
  return -1;
}

std::string Settings() { return "Version=0.9b2\r\nHost=smtp.example.org\r\n"; }

std::string BaseImage() {
  TMemoryStream db;
  std::string big;
  for (int i = 0; big.size() < 6000; ++i) big += "line " + std::to_string(i * 31 % 977) + "\r\n";
  EXPECT_EQ(Put(db, "Initialization", Settings()), 0);
  EXPECT_EQ(Put(db, Path({"default", "message"}), "From: a@example.org\r\n"), 0);
  EXPECT_EQ(Put(db, Path({"default", "article"}), "Newsgroups: alt.test\r\n"), 0);
  EXPECT_EQ(Put(db, Path({"Mailboxes", "In", "m1"}), "first message"), 0);
  EXPECT_EQ(Put(db, "big", big), 0);
  EXPECT_EQ(Put(db, "trash", "x"), 0);
  EXPECT_EQ(WriteEntry("trash", nullptr, db), 0);  // leaves free space behind
  return db.Bytes;
}

void RunWithEveryFault(const std::string& image, const Operation& op) {
  SCOPED_TRACE(op.What);
  CapturedReports reports;
  TMemoryStream clean(image);
  TFaultStream counter(clean, 0);
  ASSERT_EQ(op.Run(counter), 0);
  // A failed operation is undone: the original image (or, for a file it created, an empty
  // database) is what any other operation finds afterwards.
  const std::string before = image.empty() ? TMemoryStream().Bytes : image;
  for (int k = 1; k <= counter.Calls(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k));
    TMemoryStream target(image);
    TFaultStream faulty(target, k);
    const int status = op.Run(faulty);
    ASSERT_TRUE(faulty.Failed().has_value());
    EXPECT_EQ(status, ExpectedStatus(*faulty.Failed()));
    if (*faulty.Failed() == TFaultStream::TCall::Mark) {
      // The database held the whole write when the journal was to be marked empty: the write
      // stands, and the next opening marks the journal.
      EXPECT_EQ(target.Bytes, clean.Bytes);
      EXPECT_TRUE(store::JournalPending(target.JournalFile));
      EXPECT_FALSE(RestoreDatabase(target));
      EXPECT_FALSE(store::JournalPending(target.JournalFile));
      EXPECT_EQ(target.Bytes, clean.Bytes);
      continue;
    }
    if (image.empty()) {
      // Either the creation was cut short (and starts afresh) or an empty database is left.
      TFileManager reopened(target);
      EXPECT_EQ(reopened.Status(), 0);
      EXPECT_TRUE(Problems(target.Bytes).empty());
      EXPECT_EQ(Get(target, "first"), "");
      continue;
    }
    ASSERT_EQ(FirstDifference(Meaningful(target.Bytes, image), Meaningful(image, image)), -1);
    EXPECT_TRUE(Problems(target.Bytes).empty());
    EXPECT_EQ(Get(target, "Initialization"), Settings());
  }
}

}  // namespace

TEST(Faults, OperationsFailingAtEveryCallLeaveTheFileAsItWas) {
  const std::string base = BaseImage();
  ASSERT_TRUE(Problems(base).empty());
  const std::vector<Operation> operations = {
      {"new entry in a sub-index",
       [](TStoreFile& db) {
         TDataBuf b("note text");
         return WriteEntry(Path({"default", "note"}), &b, db);
       }},
      {"longer replacement",
       [](TStoreFile& db) {
         TDataBuf b(std::string(3000, 'm'));
         return WriteEntry(Path({"default", "message"}), &b, db);
       }},
      {"shorter replacement at the top",
       [](TStoreFile& db) {
         TDataBuf b("small");
         return WriteEntry("big", &b, db);
       }},
      {"deletion",
       [](TStoreFile& db) {
         return WriteEntry(Path({"default", "article"}), nullptr, db);
       }},
      {"rename three levels down",
       [](TStoreFile& db) {
         return RenameEntry(Path({"Mailboxes", "In", "m1"}), "m9", db);
       }},
      {"read",
       [](TStoreFile& db) {
         TDataBuf b;
         return ReadEntry("big", b, db);
       }},
  };
  for (const Operation& op : operations) RunWithEveryFault(base, op);
}

TEST(Faults, CreatingADatabaseFailingAtEveryCall) {
  RunWithEveryFault("", {"first entry", [](TStoreFile& db) {
                           TDataBuf b("text");
                           return WriteEntry("first", &b, db);
                         }});
}
