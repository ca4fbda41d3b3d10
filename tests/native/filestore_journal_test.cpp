// The rollback journal beside a database: what opening does with a journal it finds, on
// files and in memory.
#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

constexpr char kUnfinished[] =
    "the last write to this database did not finish; open it once with write access to "
    "restore it";

// A database of three entries, and the same file torn by a write that stopped half way,
// with the journal that write left.
struct TornWrite {
  TornWrite() {
    TMemoryStream db;
    EXPECT_EQ(Put(db, "a", "first"), 0);
    EXPECT_EQ(Put(db, "b", std::string(2000, 'b')), 0);
    EXPECT_EQ(Put(db, "c", "third"), 0);
    Before = db.Bytes;
    Torn = Before;
    Torn.replace(40, 30, std::string(30, '#'));
    Torn += std::string(300, '!');
    Journal = store::JournalBytes(int64_t(Before.size()), {{40, std::string_view(Before).substr(40, 30)}});
  }
  std::string Before, Torn, Journal;
};

}  // namespace

TEST(Journal, OpeningPutsBackACompleteJournalAndDropsAnIncompleteOne) {
  const TornWrite write;
  {
    TMemoryStream db(write.Torn);
    db.JournalFile.Bytes = write.Journal;
    EXPECT_TRUE(RestoreDatabase(db));
    EXPECT_EQ(db.Bytes, write.Before);  // the original bytes and the original length
    EXPECT_FALSE(db.JournalFile.Exists());
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
    EXPECT_FALSE(db.JournalFile.Exists());
    EXPECT_EQ(Get(db, "a"), "first");
    EXPECT_EQ(Get(db, "b"), std::string(2000, 'b'));
  }
  // Not complete: cut short, a byte changed, or ranges outside its own length. The write
  // stopped before it touched the database, which stays as it is.
  std::string flipped = write.Journal;
  flipped[30] ^= 1;
  const std::vector<std::string> incomplete = {
      write.Journal.substr(0, write.Journal.size() - 1), flipped,
      store::JournalBytes(50, {{40, std::string(30, 'x')}}), "", "twdbjrn1"};
  for (const std::string& journal : incomplete) {
    TMemoryStream db(write.Before);
    db.JournalFile.Bytes = journal;
    EXPECT_FALSE(RestoreDatabase(db));
    EXPECT_FALSE(db.JournalFile.Exists());
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
  EXPECT_TRUE(db.JournalFile.Exists());  // kept for an opening that can write
  EXPECT_TRUE(RestoreDatabase(db));
  EXPECT_EQ(db.Bytes, write.Before);
}

TEST(Journal, FilesGetTheirJournalBesideThemAndLoseItWhenTheWriteIsDone) {
  ScratchFolder folder;
  const FilePath path = folder.File("TW.dbc");
  const FilePath journal = folder.File("TW.dbc-journal");
  const TStringList lines = [] {
    TStringList list;
    list.Add("Version=0.9b2");
    return list;
  }();
  ASSERT_EQ(WriteEntryLines(InitEntryName, &lines, path), 0);
  EXPECT_FALSE(Exists(journal));

  // As a crash leaves it; a reader opening the file restores it.
  const TornWrite write;
  WriteFileBytes(path, write.Torn);
  WriteFileBytes(journal, write.Journal);
  {
    TStoreInspector inspector(path);
    EXPECT_TRUE(inspector.Check().empty());
  }
  EXPECT_EQ(ReadFileBytes(path), write.Before);
  EXPECT_FALSE(Exists(journal));

  WriteFileBytes(path, write.Torn);
  WriteFileBytes(journal, write.Journal);
  EXPECT_TRUE(RestoreDatabase(path));
  EXPECT_EQ(ReadFileBytes(path), write.Before);
  EXPECT_FALSE(RestoreDatabase(path));
  EXPECT_FALSE(RestoreDatabase(folder.File("absent.dbc")));
  EXPECT_FALSE(Exists(folder.File("absent.dbc")));
}
