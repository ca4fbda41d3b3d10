// The crash sweep: every operation stopped at each of its writes in turn, as a crash, a
// killed process or a power cut would stop it; then the database is opened again through
// the store. Each time it must be sound and read exactly as before the operation or
// exactly as after it, every entry; and as after it once the operation had flushed the
// database, which is when it reports the write done.
#include <algorithm>
#include <functional>
#include <iostream>
#include <map>

#include "tests/native/filestore_crash_stream.h"
#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

using Contents = std::map<std::string, std::string>;  // entry path, bytes

struct Operation {
  const char* What;
  // One or more store calls, each true when it succeeded; the database may be in any
  // state between two of them.
  std::vector<std::function<bool(TStoreFile&)>> Calls;
};

// 30 entries at the root, 20 in the mailbox Inbox and 4 in Outbox, the settings and the
// default message and article: 57 entries at depths 1 to 3.
std::string BaseImage() {
  TMemoryStream db;
  EXPECT_EQ(Put(db, "Initialization", "Version=0.9b2\r\nCutmarks=-- cut --\r\n"), 0);
  EXPECT_EQ(Put(db, Path({"default", "message"}), "From: old@example.org\r\n"), 0);
  EXPECT_EQ(Put(db, Path({"default", "article"}), "Newsgroups: alt.test\r\n"), 0);
  for (int i = 0; i < 30; ++i)
    EXPECT_EQ(Put(db, "note" + std::to_string(i), MessageText(i, 300 + 40 * i)), 0);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(
        Put(db, Path({"Mailboxes", "Inbox", "m" + std::to_string(i)}), MessageText(100 + i, 900)),
        0);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(
        Put(db, Path({"Mailboxes", "Outbox", "o" + std::to_string(i)}), MessageText(200 + i, 500)),
        0);
  EXPECT_EQ(WriteEntry("note3", nullptr, db), 0);  // free space among the blocks
  EXPECT_EQ(Put(db, "note3", MessageText(3, 100)), 0);
  return db.Bytes;
}

// Every entry of the image as the store reads it, through a database opened afresh.
Contents ReadEverything(TMemoryStream& db) {
  Contents contents;
  TStoreInspector inspector(db);
  for (const std::string& joined : EntryPaths(inspector)) {
    int status = -1;
    contents[joined] = Get(db, joined, &status);
    EXPECT_EQ(status, 0) << joined;
  }
  return contents;
}

bool Store(TStoreFile& db, const std::string& path, const std::string& text) {
  TDataBuf buffer(text);
  return WriteEntry(path, &buffer, db) == 0;
}

std::vector<Operation> Operations() {
  const std::string inbox3 = Path({"Mailboxes", "Inbox", "m3"});
  return {
      {"put a longer entry, depth 1",
       {[](TStoreFile& db) { return Store(db, "note7", MessageText(7, 3000)); }}},
      {"put a new entry, depth 3", {[](TStoreFile& db) {
         return Store(db, Path({"Mailboxes", "Inbox", "m99"}), MessageText(99, 3000));
       }}},
      {"put over an entry, depth 3", {[](TStoreFile& db) {
         return Store(db, Path({"Mailboxes", "Inbox", "m5"}), MessageText(55, 1200));
       }}},
      {"delete, depth 1", {[](TStoreFile& db) { return WriteEntry("note11", nullptr, db) == 0; }}},
      {"delete, depth 3", {[=](TStoreFile& db) { return WriteEntry(inbox3, nullptr, db) == 0; }}},
      {"rename, depth 1",
       {[](TStoreFile& db) { return RenameEntry("note12", "renamed", db) == 0; }}},
      {"rename, depth 3", {[](TStoreFile& db) {
         return RenameEntry(Path({"Mailboxes", "Inbox", "m4"}), "m4-read", db) == 0;
       }}},
      {"set-setting (the settings entry lies at depth 1)",
       {[](TStoreFile& db) { return SetInitValue("SMTPHost", "mail.example.org", db) == 0; }}},
      {"mailbox move, depth 3", {[](TStoreFile& db) {
         const std::string everyOther = std::string("\1\0\1\0\1\0\1\0\1\0\1", 11);
         return MoveMailboxEntries("Inbox", &everyOther, "Archive", db) == 6;
       }}},
      {"mailbox delete, depth 3",
       {[](TStoreFile& db) { return DeleteMailboxEntries("Outbox", nullptr, db) == 4; }}},
      // What the setup wizard's seeding does: check the whole file, read the cut marks from
      // the settings, write the default message and the default article.
      {"setup seeding, depth 2",
       {[](TStoreFile& db) {
          if (CheckDatabase(db).has_value()) return false;
          TMemoryStream settings;
          if (Put(settings, "Initialization", "Cutmarks=-- cut --\r\n") != 0 ||
              Get(settings, "Initialization") != "Cutmarks=-- cut --\r\n")
            return false;
          return Store(db, Path({"default", "message"}),
                       "Fcc: outbox\r\nHost: smtp.example.org\r\nFrom: me@example.org\r\n"
                       "Chain: *,*,*,*; copies=1\r\nTo: \r\nSubject: \r\n\r\n-- cut --\r\n");
        },
        [](TStoreFile& db) {
          return Store(
              db, Path({"default", "article"}),
              "Fcc: outbox\r\nHost: smtp.example.org\r\nFrom: me@example.org\r\n"
              "Chain: *,*,*,*; copies=1\r\nTo: mail2news@dizum.com\r\nX-No-Archive: Yes\r\n"
              "Newsgroups: \r\nSubject: \r\n\r\n~~\r\n");
        }}},
  };
}

const char* CrashName(TCrash how) {
  switch (how) {
    case TCrash::Stop:
      return "stopped";
    case TCrash::Half:
      return "half written";
    case TCrash::JournalCacheLost:
      return "power cut, journal cache lost";
    case TCrash::DatabaseCacheLost:
      return "power cut, database cache lost";
    case TCrash::PowerCut:
      return "power cut, both caches lost";
  }
  return "";
}

// The states the database passes through: before the first call and after each one; and
// the numbers of the writes that flushed the database, one per call.
std::vector<Contents> States(const std::string& base, const Operation& op, int& writes,
                             std::vector<int>& flushes) {
  TMemoryStream db(base);
  std::vector<Contents> states{ReadEverything(db)};
  TCrashStream counter(db, 0, TCrash::Stop);
  for (const auto& call : op.Calls) {
    EXPECT_TRUE(call(counter));
    states.push_back(ReadEverything(db));
  }
  writes = counter.Writes();
  flushes = counter.DatabaseFlushes();
  EXPECT_EQ(flushes.size(), op.Calls.size());
  EXPECT_FALSE(store::JournalPending(db.JournalFile));
  return states;
}

}  // namespace

TEST(CrashSweep, EveryOperationStoppedAtEveryWriteReadsAsBeforeOrAfter) {
  const std::string base = BaseImage();
  {
    TMemoryStream db(base);
    ASSERT_TRUE(TStoreInspector(db).Check().empty());
    ASSERT_GE(ReadEverything(db).size(), 50u);
  }
  CapturedReports quiet;
  int crashPoints = 0;
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.What);
    int writes = 0;
    std::vector<int> flushes;
    const std::vector<Contents> states = States(base, op, writes, flushes);
    ASSERT_NE(states.front(), states.back());
    // The journal, its flush, the database's writes, its flush, the journal's marking.
    ASSERT_GE(writes, 5 * int(op.Calls.size()));
    std::cout << op.What << ": " << writes << " writes\n";
    for (int k = 1; k <= writes; ++k) {
      // The calls whose database flush returned before write k: their writes must last.
      const auto done = size_t(std::count_if(flushes.begin(), flushes.end(),
                                             [k](int flush) { return flush < k; }));
      for (TCrash how : {TCrash::Stop, TCrash::Half, TCrash::JournalCacheLost,
                         TCrash::DatabaseCacheLost, TCrash::PowerCut}) {
        SCOPED_TRACE(std::string(CrashName(how)) + " at write " + std::to_string(k));
        TMemoryStream db(base);
        TCrashStream crashing(db, k, how);
        {
          CapturedReports reports;
          for (const auto& call : op.Calls)
            if (!crashing.Dead()) call(crashing);
        }
        ASSERT_TRUE(crashing.Dead());
        ++crashPoints;
        // Opened again through the store: put back, sound, and one of the states.
        const auto problem = CheckDatabase(db);
        ASSERT_FALSE(problem.has_value()) << problem->Text;
        EXPECT_FALSE(store::JournalPending(db.JournalFile));
        EXPECT_TRUE(TStoreInspector(db).Check().empty());
        const Contents now = ReadEverything(db);
        const auto state = std::find(states.begin() + std::ptrdiff_t(done), states.end(), now);
        EXPECT_TRUE(state != states.end() && size_t(state - states.begin()) <= done + 1)
            << "after " << done << " calls done";
      }
    }
  }
  std::cout << "crash sweep: " << Operations().size() << " operations, " << crashPoints
            << " crash points\n";
}

TEST(CrashSweep, AWriteFlushesTwiceAndKeepsItsJournalMarkedEmpty) {
  TMemoryStream db(BaseImage());
  const std::string path = Path({"Mailboxes", "Inbox", "m7"});
  // The first write creates the journal; every later one writes it again in place.
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    TCrashStream counter(db, 0, TCrash::Stop);
    ASSERT_TRUE(Store(counter, path, MessageText(77 + i, 3000)));
    // The journal and its flush, the changed ranges, the database's flush, the marking.
    EXPECT_LE(counter.Writes(), 4 + 4);
    EXPECT_EQ(counter.Flushes(), 2);
    ASSERT_TRUE(db.JournalFile.Bytes.has_value());
    EXPECT_EQ(db.JournalFile.Bytes->substr(0, 8), std::string(8, '\0'));
    EXPECT_FALSE(store::JournalPending(db.JournalFile));
  }

  // Without the flushes: the journal, the ranges and the marking.
  SetFlushWrites(false);
  TCrashStream unflushed(db, 0, TCrash::Stop);
  ASSERT_TRUE(Store(unflushed, path, MessageText(79, 3000)));
  SetFlushWrites(true);
  EXPECT_EQ(unflushed.Flushes(), 0);
  EXPECT_EQ(Get(db, path), MessageText(79, 3000));

  // A read writes nothing.
  TCrashStream reader(db, 0, TCrash::Stop);
  TDataBuf buffer;
  EXPECT_EQ(ReadEntry("note5", buffer, reader), 0);
  EXPECT_EQ(reader.Writes(), 0);
}
