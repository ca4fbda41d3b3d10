#include <algorithm>
#include <cctype>

#include "tests/native/filestore_support.h"

using namespace storetest;

TEST(Index, RootOnAFreshFileAllocatesTheAnchorBlock) {
  TMemoryStream stream;
  TFileManager manager(stream);
  TFMindex root(manager, nullptr, "");
  EXPECT_EQ(root.Count(), 0);
  EXPECT_EQ(root.BlockOffset(), -1);
  EXPECT_EQ(manager.GetAnchorOffset(), 50);
  EXPECT_EQ(Int32At(stream.Bytes, 46), 8);
  EXPECT_EQ(Int32At(stream.Bytes, 50), -1);
  EXPECT_EQ(Int32At(stream.Bytes, 42), 54);
}

TEST(Index, OneEntryInAFreshFileHasTheDocumentedLayout) {
  TMemoryStream db;
  ASSERT_EQ(Put(db, "a", "x\r\n"), 0);
  const std::string z1 = ZlibStream("x\r\n");
  const std::string z2 = ZlibStream(std::string("a\r\n\0", 4));
  const auto L1 = static_cast<int32_t>(z1.size()), L2 = static_cast<int32_t>(z2.size());
  const std::string expected = Magic() + Int32(50) + Int32(90 + L1 + L2)  // header
                               + Int32(8) + Int32(74 + L1)                // anchor block
                               + Int32(16 + L1) + std::string("\x02\0\0\x01", 4) + Int32(L1) +
                               Int32(3) + z1  // entry block
                               + Int32(20 + L2) + std::string("\x01\0\0\x01", 4) + Int32(L2) +
                               Int32(4) + z2 + Int32(58)  // root index block
                               + Int32(0);                // free-list record
  EXPECT_EQ(db.Bytes, expected);

  // Rewriting with a payload of the same length reuses the released block, and the
  // rewritten root index block again follows it.
  ASSERT_EQ(Put(db, "A", "y\r\n"), 0);
  ASSERT_EQ(ZlibStream("y\r\n").size(), z1.size());
  EXPECT_EQ(db.Bytes.substr(54, 12), expected.substr(54, 12));
  EXPECT_EQ(Int32At(db.Bytes, 50), 74 + L1);
  EXPECT_EQ(Int32At(db.Bytes, 42), 90 + L1 + L2);
  EXPECT_EQ(Get(db, "a"), "y\r\n");
  EXPECT_TRUE(Problems(db.Bytes).empty());
}

TEST(Index, NamesMatchWithoutRegardToLetterCaseAndKeepTheirFirstSpelling) {
  TMemoryStream db;
  ASSERT_EQ(Put(db, "Name", "1"), 0);
  ASSERT_EQ(Put(db, "NAME", "2"), 0);
  ASSERT_EQ(Put(db, "\xC4pfel", "3"), 0);  // A diaeresis
  ASSERT_EQ(Put(db, "\xE4PFEL", "4"), 0);
  TStoreInspector inspector(db);
  std::vector<TStoreChild> children;
  ASSERT_TRUE(inspector.List({}, children));
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].Name, "Name");
  EXPECT_EQ(children[1].Name, "\xC4pfel");
  EXPECT_EQ(Get(db, "name"), "2");
  EXPECT_EQ(Get(db, "\xC4PFEL"), "4");
}

TEST(Index, ChildListKeepsOrderAndRefusesUnstorableNames) {
  TMemoryStream db;
  TFileManager manager(db);
  TFMindex root(manager, nullptr, "");
  EXPECT_EQ(root.SetChild("b", 100), 100);
  EXPECT_EQ(root.SetChild("a", 200), 200);
  EXPECT_EQ(root.SetChild("B", 300), 300);
  EXPECT_EQ(root.SetChild("", 400), -1);
  EXPECT_EQ(root.SetChild("x\r\ny", 500), -1);
  EXPECT_FALSE(root.AppendChild(std::string("z\0", 2), 600));
  EXPECT_TRUE(root.AppendChild("A", 700));  // no lookup: a second "a"
  EXPECT_EQ(root.ShowContents(), "b     300\na     200\nA     700\n");
  EXPECT_EQ(root.Lookup("a"), 200);  // the first match wins
  EXPECT_EQ(root.Lookup("c"), -1);
  ASSERT_TRUE(root.RenameChild(0, "c"));
  EXPECT_FALSE(root.RenameChild(0, "c\n"));
  EXPECT_EQ(root.IndexOf("C"), 0);
  EXPECT_EQ(root.IndexOf("b"), -1);
  root.RemoveChild(1);
  EXPECT_EQ(root.ShowContents(), "c     300\nA     700\n");
  EXPECT_EQ(root.ChildKind("c"), 255);  // no such block
  EXPECT_EQ(root.ChildKind("missing"), 255);
}

TEST(Index, DeletingAMissingChildStillWritesTheChainOfIndexes) {
  TMemoryStream db;
  ASSERT_EQ(Put(db, "a", "text"), 0);
  ASSERT_EQ(WriteEntry(Path({"x", "y", "z"}), nullptr, db), 0);
  TStoreInspector inspector(db);
  std::vector<TStoreChild> children;
  ASSERT_TRUE(inspector.List({}, children));
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[1].Name, "x");
  EXPECT_EQ(children[1].Kind, TDataBuf::KindIndex);
  ASSERT_TRUE(inspector.List({"x"}, children));
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0].Name, "y");
  EXPECT_EQ(children[0].PlainLength, 1);  // the empty index text: one zero byte
  ASSERT_TRUE(inspector.List({"x", "y"}, children));
  EXPECT_TRUE(children.empty());
  EXPECT_FALSE(inspector.List({"x", "q"}, children));
  EXPECT_TRUE(inspector.Check().empty());
}

TEST(Index, ChildWithoutABlockLoadsPresentAndEmpty) {
  TMemoryStream db;
  ASSERT_EQ(Put(db, "lost", "gone"), 0);
  ASSERT_EQ(Put(db, "kept", "here"), 0);
  // Patch the root's first child offset to -1, as a failed write leaves it.
  const int32_t root = Int32At(db.Bytes, 50);
  const int32_t length = Int32At(db.Bytes, size_t(root) + 4);
  PutInt32At(db.Bytes, size_t(root) + 12 + size_t(length), -1);

  int status = -1;
  EXPECT_EQ(Get(db, "lost", &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Get(db, "kept"), "here");
  TStoreInspector inspector(db);
  std::vector<TStoreChild> children;
  ASSERT_TRUE(inspector.List({}, children));
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].Name, "lost");
  EXPECT_EQ(children[0].Offset, -1);
  ASSERT_EQ(Put(db, "lost", "back"), 0);
  EXPECT_EQ(Get(db, "lost"), "back");
}

TEST(Index, EntriesOfEveryLengthRoundTrip) {
  TMemoryStream db;
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += "message line " + std::to_string(i) + "\r\n";
  const std::vector<std::string> payloads = {"", "1", std::string(1, '\0'), std::string(5000, 'z'),
                                             big};
  for (size_t i = 0; i < payloads.size(); ++i)
    ASSERT_EQ(Put(db, Path({"sub", "e" + std::to_string(i)}), payloads[i]), 0);
  for (size_t i = 0; i < payloads.size(); ++i) {
    TDataBuf buffer;
    ASSERT_EQ(ReadEntry(Path({"sub", "e" + std::to_string(i)}), buffer, db), 0);
    EXPECT_EQ(buffer.AsString(), payloads[i]) << i;
  }
  // A missing entry leaves the buffer as it was.
  TDataBuf untouched("before");
  EXPECT_EQ(ReadEntry(Path({"sub", "absent"}), untouched, db), 0);
  EXPECT_EQ(untouched.AsString(), "before");
  EXPECT_TRUE(Problems(db.Bytes).empty());
}

TEST(Index, TextsWithOtherLineEndsAreReadAndWrittenBackWithCrLf) {
  TMemoryStream db;
  ASSERT_EQ(Put(db, "a", "first"), 0);
  ASSERT_EQ(Put(db, "b", "second"), 0);
  // Rewrite the root's record in place as plain text with a bare line feed and no final line
  // end, as long as the stream it replaces: the text ends at its zero byte, and the block
  // keeps its length.
  const size_t root = size_t(Int32At(db.Bytes, 50));
  const int32_t length = Int32At(db.Bytes, root + 4);
  const int32_t a = Int32At(db.Bytes, root + 12 + size_t(length));
  const int32_t b = Int32At(db.Bytes, root + 16 + size_t(length));
  std::string text("A\nb", 4);  // with the zero byte
  ASSERT_LE(text.size(), size_t(length));
  text.resize(size_t(length), '\0');
  const std::string record = std::string("\x01\0\0\0", 4) + Int32(length) + Int32(length) +
                             text + Int32(a) + Int32(b);
  db.Bytes.replace(root, record.size(), record);
  ASSERT_TRUE(Problems(db.Bytes).empty());

  EXPECT_EQ(Get(db, "a"), "first");
  EXPECT_EQ(Get(db, "B"), "second");
  ASSERT_EQ(Put(db, "c", "third"), 0);
  TStoreInspector inspector(db);
  std::vector<TStoreChild> children;
  ASSERT_TRUE(inspector.List({}, children));
  ASSERT_EQ(children.size(), 3u);
  EXPECT_EQ(children[0].Name, "A");
  EXPECT_EQ(children[2].Name, "c");
  const int32_t rewritten = Int32At(db.Bytes, 50);
  EXPECT_EQ(Int32At(db.Bytes, size_t(rewritten) + 8), 10);  // "A\r\nb\r\nc\r\n" and a zero
  EXPECT_EQ(Get(db, "c"), "third");
}

// Lookups run through the index text; renames and removals change it in place. Names of
// every length around eight bytes (the width a lookup takes at once), letter case of both
// code-page halves, and positions after each change all stay in step, in memory and after
// the index is written and loaded again.
TEST(Index, LookupsRenamesAndRemovalsKeepNamesAndPositionsInStep) {
  TMemoryStream db;
  std::vector<std::string> names;
  for (int length = 1; length <= 19; ++length)
    names.push_back(std::string(size_t(length), char('a' + length)));
  names.push_back("msg00001");
  names.push_back("MSG00002");
  names.push_back("\xC4pfel\xD6l");  // capitals A and O diaeresis
  {
    TFileManager manager(db);
    TFMindex root(manager, nullptr, "");
    for (size_t i = 0; i < names.size(); ++i) ASSERT_TRUE(root.AppendChild(names[i], -1));
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(root.IndexOf(names[i]), int(i)) << names[i];
      EXPECT_EQ(root.ChildName(int(i)), names[i]);
    }
    EXPECT_EQ(root.IndexOf("Msg00002"), 20);
    EXPECT_EQ(root.IndexOf("\xE4PFEL\xF6L"), 21);
    EXPECT_EQ(root.IndexOf("msg0000"), -1);
    EXPECT_EQ(root.IndexOf("msg000011"), -1);
    EXPECT_EQ(root.IndexOf("a\r\nb"), -1);
    ASSERT_TRUE(root.RenameChild(3, "longer than before"));
    root.RemoveChild(0);
    ASSERT_TRUE(root.RenameChild(19, "m"));
    root.RemoveChild(18);
    EXPECT_EQ(root.IndexOf("LONGER than before"), 2);
    EXPECT_EQ(root.IndexOf("m"), 18);
    EXPECT_EQ(root.IndexOf("msg00001"), -1);
    EXPECT_EQ(root.IndexOf("\xC4pfel\xD6l"), 19);
    EXPECT_EQ(root.ChildName(19), "\xC4pfel\xD6l");
    EXPECT_EQ(root.Count(), 20);
    root.Flush();
    ASSERT_EQ(manager.Finish(), 0);
  }
  TFileManager manager(db);
  TFMindex root(manager, nullptr, "");
  ASSERT_EQ(root.Count(), 20);
  EXPECT_EQ(root.ChildName(0), "cc");
  EXPECT_EQ(root.ChildName(2), "longer than before");
  EXPECT_EQ(root.ChildName(18), "m");
  EXPECT_EQ(root.IndexOf("\xE4pfel\xF6l"), 19);
  EXPECT_EQ(root.IndexOf("ssssssssssssssssss"), 16);
}

// An index text is taken as it is only when every line ends in CR LF and no other line end
// occurs; anything else is rewritten. Texts long enough to cross every counting width
// (sixteen bytes, and the rounds after which the counts are gathered), with one line end
// spoiled at each position in turn.
TEST(Index, OnlyTextsWithCrLfAfterEveryLineAreTakenAsTheyAre) {
  std::string text;
  for (int i = 0; text.size() < 2600; ++i) text += "n" + std::to_string(i * 37 % 1000) + "\r\n";
  const size_t lines = size_t(std::count(text.begin(), text.end(), '\n'));
  EXPECT_EQ(store::CrLfLineCount(text), lines);
  EXPECT_EQ(store::CrLfLineCount(""), 0u);
  EXPECT_EQ(store::CrLfLineCount("\r\n"), 1u);
  EXPECT_EQ(store::CrLfLineCount("a"), std::string::npos);
  EXPECT_EQ(store::CrLfLineCount(text.substr(0, text.size() - 1)), std::string::npos);
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r') {
      std::string loneLineFeed = text, loneReturn = text, turned = text;
      loneLineFeed.erase(at, 1);
      loneReturn.erase(at + 1, 1);
      std::swap(turned[at], turned[at + 1]);
      ASSERT_EQ(store::CrLfLineCount(loneLineFeed), std::string::npos) << at;
      ASSERT_EQ(store::CrLfLineCount(loneReturn), std::string::npos) << at;
      ASSERT_EQ(store::CrLfLineCount(turned), std::string::npos) << at;
    } else if (text[at] != '\n') {
      std::string extra = text;
      extra.insert(at, 1, at % 2 ? '\r' : '\n');
      ASSERT_EQ(store::CrLfLineCount(extra), std::string::npos) << at;
      extra[at] = 'x';
      ASSERT_EQ(store::CrLfLineCount(extra), lines) << at;
    }
  }
}

// An index that names one block twice is damage a write must refuse, however far out of
// order its children's blocks lie: a few rewritten children (their blocks moved to the end)
// or many.
TEST(Index, AWriteRefusesAnIndexThatNamesOneBlockTwice) {
  for (const int rewritten : {2, 25}) {
    SCOPED_TRACE(rewritten);
    TMemoryStream db;
    const int count = 40;
    for (int i = 0; i < count; ++i) ASSERT_EQ(Put(db, "m" + std::to_string(i), "x"), 0);
    // Rewritten children's blocks move to the end: writes through an index whose blocks lie
    // out of order go on as before.
    for (int k = 0; k < rewritten; ++k)
      ASSERT_EQ(Put(db, "m" + std::to_string(k * 7 % count), MessageText(k, 600)), 0);
    ASSERT_TRUE(Problems(db.Bytes).empty());
    // The last child made to name the block of child 3.
    const size_t root = size_t(Int32At(db.Bytes, 50));
    const size_t offsets = root + 12 + size_t(Int32At(db.Bytes, root + 4));
    const std::string third = db.Bytes.substr(offsets + 4 * 3, 4);
    db.Bytes.replace(offsets + 4 * (count - 1), 4, third);
    const std::string damaged = db.Bytes;
    EXPECT_NE(Put(db, "m5", "changed"), 0);
    EXPECT_EQ(db.Bytes, damaged);
  }
}

// Names that end in digits are looked up many places at a time: every position in an index
// long enough to cross the widths the search works in, names that share their last digits
// or differ only in letter case, and the first of two children of one name.
TEST(Index, NumberedNamesAreFoundAtTheirPositionsInLargeIndexes) {
  TMemoryStream db;
  TFileManager manager(db);
  TFMindex root(manager, nullptr, "");
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    names.push_back((i % 3 == 0 ? "MSG" : i % 3 == 1 ? "msg" : "x") + std::to_string(i * 10));
    ASSERT_TRUE(root.AppendChild(names.back(), -1));
  }
  ASSERT_TRUE(root.AppendChild("msg10", -1));  // a second child named like child 1
  for (int i = 0; i < 3000; i += 7) {
    std::string asked = names[size_t(i)];
    for (char& c : asked) c = char(i % 2 ? std::tolower(c) : std::toupper(c));
    EXPECT_EQ(root.IndexOf(asked), i) << asked;
  }
  EXPECT_EQ(root.IndexOf("MSG10"), 1);
  EXPECT_EQ(root.IndexOf("x29990"), 2999);
  EXPECT_EQ(root.IndexOf("sg29990"), -1);
  EXPECT_EQ(root.IndexOf("msg29990"), -1);
  EXPECT_EQ(root.IndexOf("0"), -1);
  EXPECT_EQ(root.IndexOf("9990"), -1);
}
