// The rollback journal beside a database: what opening does with a journal it finds, on
// files and in memory.
#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

constexpr char kUnfinished[] =
    "the last write to this database did not finish; open it once with write access to "
    "restore it";

// A database of three entries; a write that overwrites 30 bytes at 40 and appends 300; the
// file as that write leaves it, and as it leaves it when it stops half way (the append
// done, 15 of the 30 bytes); and the journal of that write.
struct TornWrite {
  TornWrite() {
    TMemoryStream db;
    EXPECT_EQ(Put(db, "a", "first"), 0);
    EXPECT_EQ(Put(db, "b", std::string(2000, 'b')), 0);
    EXPECT_EQ(Put(db, "c", "third"), 0);
    Before = db.Bytes;
    After = Before;
    After.replace(40, 30, std::string(30, '#'));
    After += std::string(300, '!');
    Torn = After;
    Torn.replace(55, 15, Before.substr(55, 15));
    Journal = store::JournalBytes(int64_t(Before.size()),
                                  {{40, std::string_view(Before).substr(40, 30), std::string(30, '#')},
                                   {int64_t(Before.size()), "", std::string(300, '!')}});
  }
  std::string Before, After, Torn, Journal;
};

// A journal of the first form, which a write deleted once it was done: magic, original
// length, range count, each range's offset, length and original bytes, then the CRC-32.
std::string FirstFormJournal(int64_t originalSize, int64_t offset, std::string_view original) {
  const auto int64 = [](int64_t value) {
    return Int32(int32_t(uint64_t(value))) + Int32(int32_t(uint64_t(value) >> 32));
  };
  std::string bytes = "twdbjrn1" + int64(originalSize) + Int32(1) + int64(offset) +
                      Int32(int32_t(original.size())) + std::string(original);
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size()));
  return bytes + Int32(int32_t(crc));
}

}  // namespace

TEST(Journal, OpeningPutsBackAnUnfinishedWriteAndKeepsAFinishedOne) {
  const TornWrite write;
  {
    TMemoryStream db(write.Torn);
    db.JournalFile.Bytes = write.Journal;
    EXPECT_TRUE(RestoreDatabase(db));
    EXPECT_EQ(db.Bytes, write.Before);  // the original bytes and the original length
    EXPECT_FALSE(store::JournalPending(db.JournalFile));
    EXPECT_FALSE(RestoreDatabase(db));
  }
  // Every way in restores first: a read, a write, the inspector.
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    TMemoryStream db(write.Torn);
    db.JournalFile.Bytes = write.Journal;
    if (way == 0) {
      EXPECT_EQ(Get(db, "c"), "third");
    } else if (way == 1) {
      EXPECT_EQ(Put(db, "d", "fourth"), 0);
    } else {
      EXPECT_TRUE(TStoreInspector(db).Check().empty());
    }
    EXPECT_FALSE(store::JournalPending(db.JournalFile));
    EXPECT_EQ(Get(db, "a"), "first");
    EXPECT_EQ(Get(db, "b"), std::string(2000, 'b'));
  }
  // The whole write reached the database and only the marking of its journal was lost (a
  // power cut after the database's flush): the write stands.
  TMemoryStream finished(write.After);
  finished.JournalFile.Bytes = write.Journal;
  EXPECT_FALSE(RestoreDatabase(finished));
  EXPECT_EQ(finished.Bytes, write.After);
  EXPECT_FALSE(store::JournalPending(finished.JournalFile));
  // A journal of the first form always holds a write that did not finish.
  TMemoryStream first(write.Torn.substr(0, write.Before.size()));
  first.JournalFile.Bytes = FirstFormJournal(int64_t(write.Before.size()), 40,
                                             std::string_view(write.Before).substr(40, 30));
  EXPECT_TRUE(store::JournalPending(first.JournalFile));
  EXPECT_TRUE(RestoreDatabase(first));
  EXPECT_EQ(first.Bytes, write.Before);
}

TEST(Journal, AJournalThatIsNotCompleteOrNotOursIsMarkedAndNotApplied) {
  const TornWrite write;
  // Not complete: cut short, a byte changed; or not ours: a range outside its own length,
  // original bytes that do not match the lengths, ranges out of order. The write stopped
  // before it touched the database, which stays as it is.
  std::string flipped = write.Journal;
  flipped[30] ^= 1;
  const std::vector<std::string> incomplete = {
      write.Journal.substr(0, write.Journal.size() - 1), flipped, write.Journal + "x",
      store::JournalBytes(50, {{40, std::string(30, 'x'), std::string(30, 'y')}}),
      store::JournalBytes(int64_t(write.Before.size()), {{40, "short", std::string(30, 'y')}}),
      store::JournalBytes(int64_t(write.Before.size()),
                          {{100, "1", "1"}, {40, std::string(30, 'x'), std::string(30, 'y')}}),
      "twdbjrn2", "twdbjrn1"};
  for (const std::string& journal : incomplete) {
    TMemoryStream db(write.Before);
    db.JournalFile.Bytes = journal;
    EXPECT_FALSE(RestoreDatabase(db));
    EXPECT_FALSE(store::JournalPending(db.JournalFile));
    EXPECT_EQ(db.Bytes, write.Before);
  }
  // A journal longer than the database belongs to one deleted since: never applied.
  TMemoryStream fresh;
  fresh.JournalFile.Bytes = write.Journal;
  EXPECT_EQ(Put(fresh, "x", "y"), 0);
  EXPECT_EQ(Get(fresh, "x"), "y");
  EXPECT_EQ(Get(fresh, "a"), "");
  EXPECT_TRUE(Problems(fresh.Bytes).empty());
}

TEST(Journal, ADatabaseThatCannotBeWrittenIsNotReadHalfWritten) {
  const TornWrite write;
  TMemoryStream db(write.Torn);
  db.JournalFile.Bytes = write.Journal;
  TFaultStream readOnly(db, 1, TFaultStream::TCall::Write);
  {
    TStoreInspector inspector(readOnly);
    EXPECT_EQ(inspector.OpenError(), kUnfinished);
    EXPECT_EQ(inspector.Status(), StatusOpen);
    std::vector<TStoreChild> children;
    EXPECT_FALSE(inspector.List({}, children));  // nothing of the half-written file is read
  }
  EXPECT_TRUE(store::JournalPending(db.JournalFile));  // kept for an opening that can write
  EXPECT_TRUE(RestoreDatabase(db));
  EXPECT_EQ(db.Bytes, write.Before);
}

TEST(Journal, FilesKeepTheirJournalBesideThemMarkedEmptyBetweenWrites) {
  ScratchFolder folder;
  const FilePath path = folder.File("TW.dbc");
  const FilePath journal = folder.File("TW.dbc-journal");
  TStringList lines;
  lines.Add("Version=0.9b2");
  ASSERT_EQ(WriteEntryLines(InitEntryName, &lines, path), 0);
  ASSERT_TRUE(Exists(journal));
  EXPECT_FALSE(JournalPendingBeside(path));
  lines.Add("Host=smtp.example.org");
  ASSERT_EQ(WriteEntryLines(InitEntryName, &lines, path), 0);
  EXPECT_FALSE(JournalPendingBeside(path));
  TStringList read;
  EXPECT_EQ(ReadEntryLines(read, InitEntryName, path), 0);
  EXPECT_EQ(read.Text(), lines.Text());

  // As a crash leaves it; a reader opening the file restores it.
  const TornWrite write;
  WriteFileBytes(path, write.Torn);
  WriteFileBytes(journal, write.Journal);
  {
    TStoreInspector inspector(path);
    EXPECT_TRUE(inspector.Check().empty());
  }
  EXPECT_EQ(ReadFileBytes(path), write.Before);
  EXPECT_FALSE(JournalPendingBeside(path));

  WriteFileBytes(path, write.Torn);
  WriteFileBytes(journal, write.Journal);
  EXPECT_TRUE(RestoreDatabase(path));
  EXPECT_EQ(ReadFileBytes(path), write.Before);
  EXPECT_FALSE(RestoreDatabase(path));
  EXPECT_FALSE(RestoreDatabase(folder.File("absent.dbc")));
  EXPECT_FALSE(Exists(folder.File("absent.dbc")));

  // The file itself: written in place and ended where the bytes end, then marked empty.
  TFileStream file(path);
  TStoreJournal& kept = file.Journal();
  ASSERT_TRUE(kept.Write(write.Journal + std::string(3000, 'x')));
  ASSERT_TRUE(kept.Write(write.Journal));
  ASSERT_TRUE(kept.Flush());
  std::string bytes;
  ASSERT_TRUE(kept.Read(bytes, std::string::npos));
  EXPECT_EQ(bytes, write.Journal);
  EXPECT_TRUE(store::JournalPending(kept));
  ASSERT_TRUE(kept.MarkEmpty(std::string(8, '\0')));
  EXPECT_FALSE(store::JournalPending(kept));
  EXPECT_TRUE(kept.Exists());
}
