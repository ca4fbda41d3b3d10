// `twdb put` as a process, ended at each of its system calls that change a file by a
// preloaded shim, as a crash ends it; then `twdb check` opens the database again, and every
// entry reads exactly as before the put or exactly as after it. The shim also counts the
// put's flushes: two once the journal is there from a write before.
#ifndef _WIN32
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

using Contents = std::map<std::string, std::string>;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Runs a shell command line; its exit status.
int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Contents ReadEverything(const FilePath& db) {
  Contents contents;
  std::vector<std::string> paths;
  {
    TStoreInspector inspector(db);  // holds the file: closed before the reads open it
    paths = EntryPaths(inspector);
  }
  for (const std::string& joined : paths) {
    TDataBuf buffer;
    EXPECT_EQ(ReadEntry(joined, buffer, db), 0) << joined;
    contents[joined] = buffer.AsString();
  }
  return contents;
}

// 50 messages in two mailboxes, 10 notes and the settings.
std::string BaseDatabase(const ScratchFolder& folder) {
  const FilePath db = folder.File("base.dbc");
  SetFlushWrites(false);
  TStringList settings;
  settings.Add("Version=0.9b2");
  EXPECT_EQ(WriteEntryLines(InitEntryName, &settings, db), 0);
  for (int i = 0; i < 40; ++i) {
    TDataBuf message(MessageText(i, 700));
    EXPECT_EQ(WriteEntry(Path({"Mailboxes", "Inbox", "m" + std::to_string(i)}), &message, db), 0);
  }
  for (int i = 0; i < 10; ++i) {
    TDataBuf message(MessageText(50 + i, 400));
    EXPECT_EQ(WriteEntry(Path({"Mailboxes", "Sent", "s" + std::to_string(i)}), &message, db), 0);
    TDataBuf note(MessageText(80 + i, 200));
    EXPECT_EQ(WriteEntry("note" + std::to_string(i), &note, db), 0);
  }
  SetFlushWrites(true);
  return ReadFileBytes(db);
}

}  // namespace

TEST(CrashProcess, TwdbPutEndedAtEverySystemCallLeavesTheDatabaseAsBeforeOrAfter) {
  ScratchFolder folder;
  const std::string base = BaseDatabase(folder);
  const FilePath db = folder.File("TW.dbc");
  const FilePath journal = folder.File("TW.dbc-journal");
  const FilePath data = folder.File("data");
  const FilePath count = folder.File("count");
  WriteFileBytes(data, MessageText(99, 3000));
  WriteFileBytes(db, base);
  const Contents before = ReadEverything(db);
  ASSERT_GE(before.size(), 50u);
  const std::string twdb = Quoted(TW_TWDB_PROGRAM);
  const std::string shim =
      "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + Quoted(TW_WRITE_CRASH_SHIM);
  const auto putWith = [&](const std::string& options) {
    return twdb + " " + options + "put " + Quoted(db) + " Mailboxes Inbox m7 < " + Quoted(data) +
           " > " + Quoted(folder.File("out")) + " 2>&1";
  };
  // The journal as a put leaves it, marked empty: what the next write finds.
  ASSERT_EQ(Shell(putWith("")), 0);
  const std::string keptJournal = ReadFileBytes(journal);
  ASSERT_FALSE(JournalPendingBeside(db));
  int crashPoints = 0;
  for (const std::string options : {"", "--no-sync "}) {
    for (const bool kept : {false, true}) {
      SCOPED_TRACE(options + (kept ? "journal kept from a write before" : "no journal yet"));
      const auto start = [&] {
        WriteFileBytes(db, base);
        std::filesystem::remove(std::filesystem::path(journal));
        if (kept) WriteFileBytes(journal, keptJournal);
      };
      const std::string put = putWith(options);
      start();
      ASSERT_EQ(Shell(shim + " TW_CRASH_COUNT=" + Quoted(count) + " " + put), 0);
      std::istringstream counted(ReadFileBytes(count));
      int calls = 0, flushes = 0;
      counted >> calls >> flushes;
      const Contents after = ReadEverything(db);
      ASSERT_NE(after, before);
      // The journal's write and flush (and its folder's when the put created it), the
      // database's gathered writes and its flush, the journal's marking; --no-sync leaves
      // the flushes out.
      EXPECT_EQ(flushes, options.empty() ? (kept ? 2 : 3) : 0);
      EXPECT_GE(calls, 3 + flushes);
      EXPECT_LE(calls, 7 + flushes);
      for (int k = 1; k <= calls; ++k) {
        for (const char* half : {"0", "1"}) {
          SCOPED_TRACE("ended at call " + std::to_string(k) +
                       (half[0] == '1' ? ", half written" : ""));
          start();
          ASSERT_EQ(Shell(shim + " TW_CRASH_AT=" + std::to_string(k) + " TW_CRASH_HALF=" + half +
                          " " + put),
                    77);
          ++crashPoints;
          const std::string checkOut = Quoted(folder.File("check"));
          EXPECT_EQ(Shell(twdb + " check " + Quoted(db) + " > " + checkOut + " 2>&1"), 0)
              << ReadFileBytes(folder.File("check"));
          EXPECT_NE(ReadFileBytes(folder.File("check")).find(": sound\n"), std::string::npos);
          EXPECT_FALSE(JournalPendingBeside(db));
          const Contents now = ReadEverything(db);
          EXPECT_TRUE(now == before || now == after);
        }
      }
    }
  }
  std::cout << "twdb put ended at " << crashPoints << " system calls\n";
}
#endif
