#include <map>

#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

TStringList Lines(std::initializer_list<std::string> lines) {
  TStringList list;
  for (const auto& line : lines) list.Add(line);
  return list;
}

const std::string kMessagePath = Path({"default", "message"});

std::vector<std::string> Names(const FilePath& db, const std::vector<std::string>& components) {
  TStoreInspector inspector(db);
  std::vector<TStoreChild> children;
  EXPECT_TRUE(inspector.List(components, children));
  std::vector<std::string> names;
  for (const auto& child : children) names.push_back(child.Name);
  return names;
}

}  // namespace

TEST(Entries, ReadingAMissingDatabaseGivesDefaultsAndCreatesNothing) {
  ScratchFolder folder;
  const FilePath db = folder.File("TW.dbc");
  EXPECT_EQ(GetInitValue("Version", "1.0", db), "1.0");
  TStringList lines = Lines({"stale"});
  EXPECT_EQ(ReadEntryLines(lines, kMessagePath, db), 0);
  EXPECT_EQ(lines.Count(), 0);
  EXPECT_FALSE(EntryHasLines(kMessagePath, nullptr, db));
  EXPECT_FALSE(ReadEntryBuffer(kMessagePath, nullptr, db));
  EXPECT_EQ(DeleteMailboxEntries("In", nullptr, db), 0);
  EXPECT_EQ(MoveMailboxEntries("In", nullptr, "Out", db), 0);
  EXPECT_FALSE(Exists(db));
}

TEST(Entries, WritingLinesCreatesASoundDatabaseAndReadsThemBack) {
  ScratchFolder folder;
  const FilePath db = folder.File("TW.dbc");
  const TStringList message = Lines({"From: someone@example.org", "", "Body"});
  ASSERT_EQ(WriteEntryLines(kMessagePath, &message, db), 0);

  {
    TStoreInspector inspector(db);  // holds the file while it lives
    EXPECT_TRUE(inspector.Check().empty());
    EXPECT_EQ(inspector.FileSize(), inspector.EndOffset() + 4);  // nothing stale yet
    std::vector<std::pair<int, std::string>> tree;
    inspector.Walk(
        [&](int depth, const TStoreChild& child) { tree.emplace_back(depth, child.Name); });
    EXPECT_EQ(tree, (std::vector<std::pair<int, std::string>>{{0, "default"}, {1, "message"}}));
  }

  // Repeated, leading and trailing separators address the same entry.
  for (const std::string& path : {kMessagePath,
                                  std::string("\xFF\xFF"
                                              "default\xFF\xFF\xFFmessage\xFF"),
                                  std::string("DEFAULT\xFFMessage")}) {
    TStringList read;
    EXPECT_EQ(ReadEntryLines(read, path, db), 0);
    EXPECT_EQ(read.Lines, message.Lines);
  }
  TStringList copy;
  EXPECT_TRUE(EntryHasLines(kMessagePath, &copy, db));
  EXPECT_EQ(copy.Lines, message.Lines);
  TDataBuf bytes;
  EXPECT_TRUE(ReadEntryBuffer(kMessagePath, &bytes, db));
  EXPECT_EQ(bytes.AsString(), message.Text());
}

TEST(Entries, NullListDeletesAndEmptyPathsDoNothing) {
  ScratchFolder folder;
  const FilePath db = folder.File("TW.dbc");
  const TStringList text = Lines({"x"});
  ASSERT_EQ(WriteEntryLines(kMessagePath, &text, db), 0);
  ASSERT_EQ(WriteEntryLines(kMessagePath, nullptr, db), 0);
  TStringList read = Lines({"stale"});
  EXPECT_EQ(ReadEntryLines(read, kMessagePath, db), 0);
  EXPECT_EQ(read.Count(), 0);
  EXPECT_TRUE(TStoreInspector(db).Check().empty());

  const std::string before = ReadFileBytes(db);
  EXPECT_EQ(WriteEntryLines("", &text, db), 0);
  EXPECT_EQ(WriteEntryLines("\xFF\xFF\xFF", &text, db), 0);
  EXPECT_EQ(ReadFileBytes(db), before);
}

TEST(Entries, SettingsAreNameValueLinesMatchedWithoutLetterCase) {
  ScratchFolder folder;
  const FilePath db = folder.File("TW.dbc");
  const TStringList settings = Lines({"Comment line", "empty=", "version=0.9b2", "Version=later"});
  ASSERT_EQ(WriteEntryLines("Initialization", &settings, db), 0);
  EXPECT_EQ(GetInitValue("Version", "none", db), "0.9b2");  // the first line wins
  EXPECT_EQ(GetInitValue("EMPTY", "fallback", db), "fallback");
  EXPECT_EQ(GetInitValue("Comment line", "fallback", db), "fallback");
  EXPECT_EQ(GetInitValue("Missing", "fallback", db), "fallback");

  ASSERT_EQ(SetInitValue("VERSION", "1.0", db), 0);  // replaces the first line for the name
  ASSERT_EQ(SetInitValue("Host", "smtp.example.org", db), 0);
  ASSERT_EQ(SetInitValue("empty", "", db), 0);  // an empty value removes the line
  TStringList read;
  ASSERT_EQ(ReadEntryLines(read, "Initialization", db), 0);
  EXPECT_EQ(read.Lines, (std::vector<std::string>{"Comment line", "VERSION=1.0", "Version=later",
                                                  "Host=smtp.example.org"}));
}

TEST(Entries, RenameKeepsPositionAndBlockAndTrimsTheCallersPath) {
  ScratchFolder folder;
  const FilePath db = folder.File("TW.dbc");
  const TStringList one = Lines({"1"}), two = Lines({"2"});
  ASSERT_EQ(WriteEntryLines(kMessagePath, &one, db), 0);
  ASSERT_EQ(WriteEntryLines(Path({"default", "article"}), &two, db), 0);

  std::string path = "\t default\xFFmessage \r\n";
  ASSERT_EQ(RenameEntry(&path, "note", db), 0);
  EXPECT_EQ(path, kMessagePath);
  EXPECT_EQ(Names(db, {"default"}), (std::vector<std::string>{"note", "article"}));
  EXPECT_TRUE(TStoreInspector(db).Check().empty());
}

TEST(Entries, RenameOfAnAbsentNameOrToAnUnstorableNameChangesNothing) {
  ScratchFolder folder;
  const FilePath db = folder.File("TW.dbc");
  const TStringList one = Lines({"1"});
  ASSERT_EQ(WriteEntryLines(kMessagePath, &one, db), 0);
  const std::string before = ReadFileBytes(db);
  EXPECT_EQ(RenameEntry(Path({"default", "absent"}), "x", db), 0);
  EXPECT_EQ(RenameEntry(kMessagePath, "two\r\nlines", db), StatusSeek);
  EXPECT_EQ(ReadFileBytes(db), before);
}

TEST(Entries, PathsOfMoreThanSixteenComponentsAreRefused) {
  ScratchFolder folder;
  const FilePath db = folder.File("TW.dbc");
  std::string path;
  for (int i = 0; i < 17; ++i) path += "c" + std::to_string(i) + "\xFF";
  TDataBuf buffer("deep");
  EXPECT_EQ(WriteEntry(path, &buffer, db), StatusSeek);
  EXPECT_FALSE(Exists(db));
  const std::string sixteen = path.substr(0, path.find("c16"));
  TDataBuf again("deep");
  ASSERT_EQ(WriteEntry(sixteen, &again, db), 0);
  TDataBuf read;
  ASSERT_EQ(ReadEntry(sixteen, read, db), 0);
  EXPECT_EQ(read.AsString(), "deep");
  TDataBuf none;
  EXPECT_EQ(ReadEntry(path, none, db), StatusSeek);
  // Components a block cannot store are refused as well.
  TDataBuf text("x");
  const std::string before = ReadFileBytes(db);
  EXPECT_EQ(WriteEntry(Path({"a\rb"}), &text, db), StatusSeek);
  EXPECT_EQ(ReadFileBytes(db), before);
}

TEST(Entries, APathThroughAnEntryFindsNothingAndCannotBeWritten) {
  ScratchFolder folder;
  const FilePath db = folder.File("TW.dbc");
  const TStringList text = Lines({"leaf"});
  ASSERT_EQ(WriteEntryLines("leaf", &text, db), 0);
  const std::string before = ReadFileBytes(db);
  const std::string through = Path({"leaf", "below"});

  TStringList read = Lines({"stale"});
  EXPECT_EQ(ReadEntryLines(read, through, db), 0);
  EXPECT_EQ(read.Count(), 0);
  EXPECT_EQ(WriteEntryLines(through, &text, db), StatusRead);
  EXPECT_EQ(WriteEntryLines(through, nullptr, db), StatusRead);
  EXPECT_EQ(RenameEntry(through, "other", db), StatusRead);
  EXPECT_EQ(WriteEntryLines(Path({"leaf", "below", "deeper"}), &text, db), StatusRead);
  EXPECT_EQ(ReadFileBytes(db), before);
}

namespace {

// Mailboxes/In holds m1..m4, Mailboxes/Out holds o1.
FilePath MailboxDatabase(const ScratchFolder& folder) {
  const FilePath db = folder.File("TW.dbc");
  for (const char* name : {"m1", "m2", "m3", "m4"}) {
    const TStringList body = Lines({std::string("body of ") + name});
    EXPECT_EQ(WriteEntryLines(Path({"Mailboxes", "In", name}), &body, db), 0);
  }
  const TStringList out = Lines({"sent"});
  EXPECT_EQ(WriteEntryLines(Path({"Mailboxes", "Out", "o1"}), &out, db), 0);
  return db;
}

}  // namespace

TEST(Entries, DeleteMailboxEntriesTakesTheSelectedChildren) {
  ScratchFolder folder;
  const FilePath db = MailboxDatabase(folder);
  const std::string selection("\1\0\1", 3);  // m4 lies beyond the selection
  EXPECT_EQ(DeleteMailboxEntries("in", &selection, db), 2);
  EXPECT_EQ(Names(db, {"Mailboxes", "In"}), (std::vector<std::string>{"m2", "m4"}));
  EXPECT_TRUE(TStoreInspector(db).Check().empty());
  EXPECT_EQ(DeleteMailboxEntries("In", nullptr, db), 2);
  EXPECT_TRUE(Names(db, {"Mailboxes", "In"}).empty());
  EXPECT_EQ(DeleteMailboxEntries("", nullptr, db), 0);
  // The released blocks are free again.
  TStoreInspector inspector(db);
  EXPECT_TRUE(inspector.Check().empty());
  EXPECT_GT(inspector.FreeExtents().size(), 0u);
}

TEST(Entries, MoveMailboxEntriesAppendsThemInReverseOrder) {
  ScratchFolder folder;
  const FilePath db = MailboxDatabase(folder);
  const std::string selection("\0\1\0\1", 4);
  EXPECT_EQ(MoveMailboxEntries("In", &selection, "Out", db), 2);
  EXPECT_EQ(Names(db, {"Mailboxes", "In"}), (std::vector<std::string>{"m1", "m3"}));
  EXPECT_EQ(Names(db, {"Mailboxes", "Out"}), (std::vector<std::string>{"o1", "m4", "m2"}));
  TStringList read;
  EXPECT_EQ(ReadEntryLines(read, Path({"Mailboxes", "Out", "m2"}), db), 0);
  EXPECT_EQ(read.Lines, std::vector<std::string>{"body of m2"});
  EXPECT_TRUE(TStoreInspector(db).Check().empty());

  // A new destination mailbox is created; a mailbox onto itself is left alone.
  const std::string before = ReadFileBytes(db);
  EXPECT_EQ(MoveMailboxEntries("In", nullptr, "in", db), 0);
  EXPECT_EQ(ReadFileBytes(db), before);
  SetProgramDatabasePath(db);
  EXPECT_EQ(MoveMailboxEntries("In", nullptr, "Archive"), 2);
  SetProgramDatabasePath(FilePath());
  EXPECT_EQ(Names(db, {"Mailboxes", "Archive"}), (std::vector<std::string>{"m3", "m1"}));
  EXPECT_EQ(DeleteMailboxEntries("Archive", nullptr), 0);  // no program database set
  EXPECT_TRUE(TStoreInspector(db).Check().empty());
}

// The store never drops a sub-index with every entry below it, and never writes an empty
// name or a second child of one name: each of these is refused with status 3 (or, for a
// move, leaves the child where it is) and changes no byte.
TEST(Entries, WritesNeverDropAnIndexOrRepeatAName) {
  ScratchFolder folder;
  const FilePath db = MailboxDatabase(folder);
  ASSERT_EQ(WriteEntryLines(Path({"Mailboxes", "Out", "m2"}), nullptr, db), 0);
  const std::string before = ReadFileBytes(db);
  const TStringList text = Lines({"text"});
  EXPECT_EQ(WriteEntryLines(Path({"Mailboxes", "In"}), &text, db), StatusSeek);
  EXPECT_EQ(WriteEntryLines("Mailboxes", nullptr, db), StatusSeek);
  EXPECT_EQ(RenameEntry(Path({"Mailboxes", "In", "m1"}), "M2", db), StatusSeek);
  EXPECT_EQ(RenameEntry(Path({"Mailboxes", "In", "m1"}), "", db), StatusSeek);
  // The separator byte would split the name in two on every later lookup.
  EXPECT_EQ(RenameEntry(Path({"Mailboxes", "In", "m1"}), "m\xFF" "5", db), StatusSeek);
  EXPECT_EQ(MoveMailboxEntries("In", nullptr, "Out\xFF" "2", db), 0);
  EXPECT_EQ(ReadFileBytes(db), before);
  EXPECT_EQ(RenameEntry(Path({"Mailboxes", "In", "m1"}), "M1", db), 0);  // the same child

  // "m2" is in both mailboxes: it stays in "In".
  const std::string selection("\0\1\0\1", 4);
  ASSERT_EQ(WriteEntryLines(Path({"Mailboxes", "Out", "M2"}), &text, db), 0);
  EXPECT_EQ(MoveMailboxEntries("In", &selection, "Out", db), 1);
  EXPECT_EQ(Names(db, {"Mailboxes", "In"}), (std::vector<std::string>{"M1", "m2", "m3"}));
  EXPECT_EQ(Names(db, {"Mailboxes", "Out"}), (std::vector<std::string>{"o1", "M2", "m4"}));
  EXPECT_TRUE(TStoreInspector(db).Check().empty());
}

namespace {

// The bytes of each hidden child of the database, by its path.
std::map<std::vector<std::string>, std::string> HiddenBytes(const FilePath& db) {
  TStoreInspector inspector(db);
  std::map<std::vector<std::string>, std::string> hidden;
  for (const TStoreHiddenChild& child : inspector.HiddenChildren())
    EXPECT_TRUE(inspector.ReadChildBytes(child.Child, hidden[child.Path]));
  return hidden;
}

bool Sound(const FilePath& db) {
  return !CheckDatabase(db).has_value() && TStoreInspector(db).Check().empty();
}

}  // namespace

// Two children of one name in an index, as the client's move leaves them, and an empty name,
// as its rename may: no damage, every write keeps both kinds of hidden child, and the
// second of a name reads once the first is gone. The store's own moves make no namesakes.
TEST(Entries, HiddenChildrenAreNoDamageAndEveryWriteKeepsThem) {
  ScratchFolder folder;
  const FilePath db = MailboxDatabase(folder);
  const TStringList other = Lines({"other m2"});
  ASSERT_EQ(WriteEntryLines(Path({"Mailboxes", "Out", "M2"}), &other, db), 0);
  MoveAsTheClientDoes(db, "In", "Out", "m2");
  RenameToEmptyAsTheClientDoes(db, {"Mailboxes", "Out"}, "o1");
  EXPECT_EQ(Names(db, {"Mailboxes", "Out"}), (std::vector<std::string>{"", "M2", "m2"}));
  EXPECT_TRUE(Sound(db));
  const std::map<std::vector<std::string>, std::string> hidden = {
      {{"Mailboxes", "Out", ""}, "sent\r\n"}, {{"Mailboxes", "Out", "m2"}, "body of m2\r\n"}};
  EXPECT_EQ(HiddenBytes(db), hidden);
  TStringList read;
  EXPECT_EQ(ReadEntryLines(read, Path({"Mailboxes", "Out", "m2"}), db), 0);
  EXPECT_EQ(read.Lines, std::vector<std::string>{"other m2"});

  // Writes beside them, into the first of the name, and elsewhere go ahead and keep them.
  const TStringList text = Lines({"new"});
  EXPECT_EQ(WriteEntryLines(Path({"Mailboxes", "Out", "new"}), &text, db), 0);
  EXPECT_EQ(WriteEntryLines(Path({"Mailboxes", "Out", "m2"}), &text, db), 0);
  EXPECT_EQ(SetInitValue("Version", "1.0", db), 0);
  EXPECT_EQ(RenameEntry(Path({"Mailboxes", "Out", "new"}), "newer", db), 0);
  EXPECT_EQ(Names(db, {"Mailboxes", "Out"}), (std::vector<std::string>{"", "M2", "m2", "newer"}));
  EXPECT_EQ(HiddenBytes(db), hidden);
  EXPECT_TRUE(Sound(db));

  // Once the first is removed, the second reads.
  EXPECT_EQ(WriteEntryLines(Path({"Mailboxes", "Out", "m2"}), nullptr, db), 0);
  EXPECT_EQ(ReadEntryLines(read, Path({"Mailboxes", "Out", "m2"}), db), 0);
  EXPECT_EQ(read.Lines, std::vector<std::string>{"body of m2"});
  EXPECT_EQ(HiddenBytes(db).size(), 1u);
  EXPECT_TRUE(Sound(db));

  // The store's move takes one child of a name and none without one; the others stay.
  MoveAsTheClientDoes(db, "Out", "In", "m2");
  EXPECT_EQ(Names(db, {"Mailboxes", "In"}), (std::vector<std::string>{"m1", "m3", "m4", "m2"}));
  MoveAsTheClientDoes(db, "Out", "In", "newer");
  const TStringList again = Lines({"m3 again"});
  ASSERT_EQ(WriteEntryLines(Path({"Mailboxes", "Out", "M3"}), &again, db), 0);
  MoveAsTheClientDoes(db, "Out", "In", "m3");
  EXPECT_EQ(Names(db, {"Mailboxes", "In"}),
            (std::vector<std::string>{"m1", "m3", "m4", "m2", "newer", "M3"}));
  EXPECT_EQ(MoveMailboxEntries("In", nullptr, "Archive", db), 5);
  EXPECT_EQ(Names(db, {"Mailboxes", "In"}), (std::vector<std::string>{"m3"}));
  EXPECT_EQ(Names(db, {"Mailboxes", "Archive"}),
            (std::vector<std::string>{"M3", "newer", "m2", "m4", "m1"}));
  EXPECT_EQ(MoveMailboxEntries("Out", nullptr, "Archive", db), 0);  // the empty name stays
  EXPECT_EQ(Names(db, {"Mailboxes", "Out"}), (std::vector<std::string>{""}));
  EXPECT_EQ(ReadEntryLines(read, Path({"Mailboxes", "Archive", "m3"}), db), 0);
  EXPECT_EQ(read.Lines, std::vector<std::string>{"m3 again"});
  EXPECT_EQ(ReadEntryLines(read, Path({"Mailboxes", "In", "m3"}), db), 0);
  EXPECT_EQ(read.Lines, std::vector<std::string>{"body of m3"});
  EXPECT_EQ(HiddenBytes(db).size(), 1u);
  EXPECT_TRUE(Sound(db));
}
