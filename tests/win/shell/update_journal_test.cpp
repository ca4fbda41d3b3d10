// The update's journal read back: whole plans and their progress come back as written, an
// append cut off by a crash does not count, and bytes that are not a journal of ours are
// refused whole, never half acted on.
#include <gtest/gtest.h>

#include "shell/UpdateJournal.h"

namespace {

TUpdateJournal FullJournal() {
  TUpdateJournal journal;
  journal.Folder = L"C:\\Program Files\\Tarnwhistle \u00e9";
  journal.Files = {{L"TW.exe", true}, {L"New.txt", false}};
  journal.Database = TJournalFile{L"TW.dbc", true};
  journal.Keys = {{L"Software\\Tarnwhistle",
                   true,
                   {{L"AppDir", true, {REG_EXPAND_SZ, std::string("C\0:\0\0\0", 6)}},
                    {L"Program Group", false, {}},
                    {L"Update", true, {REG_DWORD, std::string("\x01\x00\x00\xff", 4)}}}},
                  {L"Software\\Uninstall\\Tarnwhistle", false, {{L"DisplayName", false, {}}}}};
  journal.GroupFolder = L"C:\\menu\\Tarnwhistle";
  journal.GroupLinks = {L"License.LNK", L"ReadMe.LNK"};
  journal.Planned = true;
  return journal;
}

TEST(UpdateJournal, PlanAndProgressComeBackAsWritten) {
  TUpdateJournal journal = FullJournal();
  std::string text = JournalText(journal);
  std::optional<TUpdateJournal> read = ParseJournal(text);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, journal);

  const TContentMark mark{0xfedcba9876543210ull, 123456};
  text += std::string(JournalRegistryLine) + JournalEntriesLine(mark) + JournalLinksLine +
          JournalCommittedLine;
  journal.RegistryStarted = journal.LinksStarted = journal.Committed = true;
  journal.DatabaseContent = mark;
  read = ParseJournal(text);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, journal);

  // A plan without its last line was cut off before anything changed on its strength.
  const std::string plan = JournalText(FullJournal());
  read = ParseJournal(plan.substr(0, plan.size() - 3));
  ASSERT_TRUE(read.has_value());
  EXPECT_FALSE(read->Planned);
  // An append cut off is no record.
  read = ParseJournal(plan + "commit");
  ASSERT_TRUE(read.has_value());
  EXPECT_TRUE(read->Planned);
  EXPECT_FALSE(read->Committed);
}

TEST(UpdateJournal, WhatIsNotAJournalOfOursIsRefusedWhole) {
  const std::string plan = JournalText(FullJournal());
  const size_t planned = plan.rfind("planned\n");
  const auto withLine = [&](const std::string& line) { return plan.substr(0, planned) + line + "planned\n"; };
  const std::string refused[] = {
      "",
      "TWSetup journal 2\nfolder\tC:\\x\nplanned\n",
      "TWSetup journal 1\nplanned\n",  // no folder
      withLine("file\t..\\Windows\\win.ini\told\n"),
      withLine("file\tC:x\tnew\n"),
      withLine("file\t..\tnew\n"),
      withLine("file\tTW.exe\tmaybe\n"),
      withLine("link\tsub\\evil.lnk\n"),
      withLine("value\tSoftware\\Other\tAppDir\t-\n"),  // not under the key before it
      withLine("value\tSoftware\\Uninstall\\Tarnwhistle\tX\t1\t0g\n"),
      withLine("value\tSoftware\\Uninstall\\Tarnwhistle\tX\t99999999999\t00\n"),
      withLine("database\tTW2.dbc\tnew\n"),  // a second database
      withLine("folder\tC:\\other\n"),       // a second folder
      withLine("registry\n"),                // progress before the plan is complete
      withLine("delete\tC:\\\n"),
      plan + "committed\nregistry\n",        // nothing follows the commit
      plan + "entries\t12\n",
      plan + "entries\tabc\t-1\n",
      std::string("TWSetup journal 1\nfolder\tC:\\x\x01y\nplanned\n"),
      std::string(MaxJournalBytes + 1, '\n'),
  };
  for (const std::string& bytes : refused)
    EXPECT_FALSE(ParseJournal(bytes).has_value()) << testing::PrintToString(bytes.substr(planned > 20 ? planned - 20 : 0, 80));
}

TEST(UpdateJournal, PlainNamesAndContentMarks) {
  for (const wchar_t* name : {L"TW.exe", L"Read Me.txt", L"a..b"}) EXPECT_TRUE(IsPlainName(name));
  for (const wchar_t* name : {L"", L".", L"..", L"a\\b", L"a/b", L"C:", L"x:Zone.Identifier", L"a\tb"})
    EXPECT_FALSE(IsPlainName(name)) << testing::PrintToString(std::wstring(name));
  // The mark of bytes given piece by piece is that of the whole.
  TContentHasher whole, pieces;
  whole.Add("database bytes");
  pieces.Add("data");
  pieces.Add("base bytes");
  EXPECT_EQ(whole.Mark(), pieces.Mark());
  EXPECT_EQ(whole.Mark().Size, 14u);
  TContentHasher other;
  other.Add("database byteS");
  EXPECT_NE(other.Mark(), whole.Mark());
}

}  // namespace
