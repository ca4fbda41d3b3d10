// The twdb commands, run in process against scratch databases.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <tuple>

#include "tests/native/filestore_support.h"
#include "twdb/Twdb.h"

namespace {
namespace fs = std::filesystem;
using namespace std::string_literals;

struct Result {
  int Exit;
  std::string Out;
  std::string Err;
};

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(),
                                                                static_cast<std::streamsize>(bytes.size()));
}

int32_t Int32At(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t(uint8_t(bytes.at(at + i))) << (8 * i);
  return static_cast<int32_t>(value);
}

void PutInt32(std::string& bytes, size_t at, int32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes.at(at + i) = char(uint32_t(value) >> (8 * i));
}

bool OneErrorLine(const Result& result) {
  return result.Err.rfind("twdb: ", 0) == 0 && result.Err.find('\n') == result.Err.size() - 1;
}

class Twdb : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = fs::current_path() / "twdb-scratch" /
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(Folder);
    fs::create_directories(Folder);
    Db = Folder / "tw.dbc";
  }
  void TearDown() override { fs::remove_all(Folder); }

  bool Force = false;  // given to every command run
  bool NoSync = false;

  Result Run(const std::string& command, const fs::path& db, std::vector<std::string> operands,
             const std::string& input = "") {
    TwdbCommandLine line;
    line.Command = command;
    line.HasDatabase = true;
    line.Database = db.native();
    line.Operands = std::move(operands);
    line.Force = Force;
    line.NoSync = NoSync;
    std::istringstream in(input);
    std::ostringstream out, err;
    const int exit = RunTwdb(line, in, out, err);
    return {exit, out.str(), err.str()};
  }
  Result Run(const std::string& command, std::vector<std::string> operands = {},
             const std::string& input = "") {
    return Run(command, Db, std::move(operands), input);
  }

  // A database with a nested entry, a top-level entry and the version setting.
  void MakeSample() {
    ASSERT_EQ(Run("put", {"Mailboxes", "Inbox", "msg1"}, "Subject: hi\r\n\r\nbody\r\n").Exit, 0);
    ASSERT_EQ(Run("put", {"note"}, "plain").Exit, 0);
    ASSERT_EQ(Run("set-setting", {"Version", "0.9b2"}).Exit, 0);
  }

  fs::path Folder;
  fs::path Db;
};

TEST_F(Twdb, PutAndGetCarryEveryByteThroughNestedIndexes) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += char(i);
  bytes += "\r\n\x1a\0tail"s;
  ASSERT_EQ(Run("put", {"Mailboxes", "Inbox", "raw"}, bytes).Exit, 0);
  const Result got = Run("get", {"mailboxes", "INBOX", "Raw"});
  EXPECT_EQ(got.Exit, 0);
  EXPECT_EQ(got.Out, bytes);
  EXPECT_EQ(got.Err, "");

  // Replacing keeps one child of that name; an empty entry reads back empty.
  ASSERT_EQ(Run("put", {"Mailboxes", "Inbox", "RAW"}, "second").Exit, 0);
  EXPECT_EQ(Run("get", {"Mailboxes", "Inbox", "raw"}).Out, "second");
  ASSERT_EQ(Run("put", {"empty"}, "").Exit, 0);
  const Result empty = Run("get", {"empty"});
  EXPECT_EQ(empty.Exit, 0);
  EXPECT_EQ(empty.Out, "");
}

TEST_F(Twdb, LsNamesKindsAndStoredLengths) {
  MakeSample();
  const Result root = Run("ls");
  ASSERT_EQ(root.Exit, 0) << root.Err;
  std::istringstream lines(root.Out);
  std::string name, kind;
  long stored = 0;
  std::map<std::string, std::string> kinds;
  while (lines >> name >> kind >> stored) {
    kinds[name] = kind;
    EXPECT_GT(stored, 0) << name;
  }
  EXPECT_EQ(kinds, (std::map<std::string, std::string>{
                       {"Mailboxes", "index"}, {"note", "entry"}, {"Initialization", "entry"}}));

  const Result mailboxes = Run("ls", {"MAILBOXES"});
  EXPECT_EQ(mailboxes.Out.rfind("Inbox\tindex\t", 0), 0u) << mailboxes.Out;
  const Result inbox = Run("ls", {"Mailboxes", "Inbox"});
  EXPECT_EQ(inbox.Out.rfind("msg1\tentry\t", 0), 0u) << inbox.Out;

  for (const auto& path : {std::vector<std::string>{"note"}, {"Newsgroups"}, {"note", "x"}}) {
    const Result wrong = Run("ls", path);
    EXPECT_EQ(wrong.Exit, 1) << path.front();
    EXPECT_TRUE(OneErrorLine(wrong)) << wrong.Err;
    EXPECT_EQ(wrong.Out, "");
  }
}

TEST_F(Twdb, SettingsAreWrittenReadAndRemoved) {
  ASSERT_EQ(Run("set-setting", {"Version", "0.9b2"}).Exit, 0);
  ASSERT_EQ(Run("set-setting", {"SMTPHost", "mail.example.org"}).Exit, 0);
  EXPECT_EQ(Run("get-setting", {"VERSION"}).Out, "0.9b2\n");
  EXPECT_EQ(Run("get", {"Initialization"}).Out, "Version=0.9b2\r\nSMTPHost=mail.example.org\r\n");

  ASSERT_EQ(Run("set-setting", {"version", "1.0"}).Exit, 0);
  EXPECT_EQ(Run("get-setting", {"Version"}).Out, "1.0\n");

  // An empty value removes the line: then the default answers, or an error without one.
  ASSERT_EQ(Run("set-setting", {"Version", ""}).Exit, 0);
  EXPECT_EQ(Run("get", {"Initialization"}).Out, "SMTPHost=mail.example.org\r\n");
  const Result fallback = Run("get-setting", {"Version", "none"});
  EXPECT_EQ(fallback.Exit, 0);
  EXPECT_EQ(fallback.Out, "none\n");
  const Result missing = Run("get-setting", {"Version"});
  EXPECT_EQ(missing.Exit, 1);
  EXPECT_TRUE(OneErrorLine(missing)) << missing.Err;

  // A name with "=" or a value with a line end would change other lines.
  const std::string before = ReadFile(Db);
  EXPECT_EQ(Run("set-setting", {"Ver=sion", "x"}).Exit, 2);
  EXPECT_EQ(Run("set-setting", {"Version", "x\r\nAddress=evil"}).Exit, 2);
  EXPECT_EQ(ReadFile(Db), before);
}

TEST_F(Twdb, RmDeletesEntriesOnly) {
  MakeSample();
  ASSERT_EQ(Run("rm", {"mailboxes", "inbox", "MSG1"}).Exit, 0);
  EXPECT_EQ(Run("get", {"Mailboxes", "Inbox", "msg1"}).Exit, 1);
  EXPECT_EQ(Run("ls", {"Mailboxes", "Inbox"}).Out, "");
  EXPECT_EQ(Run("get", {"note"}).Out, "plain");

  // A missing entry and an index are refused without touching the file.
  const std::string before = ReadFile(Db);
  const Result missing = Run("rm", {"Mailboxes", "Inbox", "msg1"});
  EXPECT_EQ(missing.Exit, 1);
  EXPECT_TRUE(OneErrorLine(missing)) << missing.Err;
  const Result index = Run("rm", {"Mailboxes"});
  EXPECT_EQ(index.Exit, 1);
  EXPECT_TRUE(OneErrorLine(index)) << index.Err;
  EXPECT_EQ(ReadFile(Db), before);
}

TEST_F(Twdb, RenameKeepsContentsAndRefusesClashes) {
  MakeSample();
  ASSERT_EQ(Run("rename", {"Mailboxes", "Inbox", "msg1", "first"}).Exit, 0);
  EXPECT_EQ(Run("get", {"Mailboxes", "Inbox", "first"}).Out, "Subject: hi\r\n\r\nbody\r\n");
  EXPECT_EQ(Run("get", {"Mailboxes", "Inbox", "msg1"}).Exit, 1);

  // Renaming an index moves everything below it.
  ASSERT_EQ(Run("rename", {"Mailboxes", "Inbox", "Archive"}).Exit, 0);
  EXPECT_EQ(Run("get", {"Mailboxes", "Archive", "first"}).Exit, 0);

  // A change of letter case only is the same child; another child's name is refused.
  ASSERT_EQ(Run("rename", {"note", "NOTE"}).Exit, 0);
  EXPECT_NE(Run("ls").Out.find("NOTE\tentry\t"), std::string::npos);
  const std::string before = ReadFile(Db);
  const Result clash = Run("rename", {"NOTE", "mailboxes"});
  EXPECT_EQ(clash.Exit, 1);
  EXPECT_TRUE(OneErrorLine(clash)) << clash.Err;
  EXPECT_EQ(Run("rename", {"note", "two\nlines"}).Exit, 2);
  EXPECT_EQ(Run("rename", {"absent", "other"}).Exit, 1);
  EXPECT_EQ(ReadFile(Db), before);
}

TEST_F(Twdb, MissingFileIsAnErrorAndStaysMissing) {
  const fs::path absent = Folder / "absent.dbc";
  const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
      {"ls", {}},           {"get", {"a"}},         {"rm", {"a"}},  {"rename", {"a", "b"}},
      {"get-setting", {"Version", "x"}}, {"check", {}}, {"dump", {}}};
  for (const auto& [command, operands] : commands) {
    const Result result = Run(command, absent, operands);
    EXPECT_EQ(result.Exit, 1) << command;
    EXPECT_TRUE(OneErrorLine(result)) << command << ": " << result.Err;
    EXPECT_FALSE(fs::exists(absent)) << command;
  }
  // Writing commands create the database.
  EXPECT_EQ(Run("set-setting", absent, {"Version", "0.9b2"}).Exit, 0);
  EXPECT_EQ(Run("get-setting", absent, {"Version"}).Out, "0.9b2\n");
}

TEST_F(Twdb, ForeignFileIsRefusedUnchanged) {
  const fs::path foreign = Folder / "TW.pgp";
  const std::string text = "-----BEGIN PGP MESSAGE-----\nhQEMA5x4\n-----END PGP MESSAGE-----\n";
  WriteFile(foreign, text);
  for (const auto& command : {"ls", "dump"}) {
    const Result result = Run(command, foreign, {});
    EXPECT_EQ(result.Exit, 1) << command;
    EXPECT_TRUE(OneErrorLine(result)) << result.Err;
  }
  // Reading commands fail; writing commands refuse the file as damaged.
  for (const auto& [command, operands, exit] :
       std::vector<std::tuple<std::string, std::vector<std::string>, int>>{
           {"get", {"Initialization"}, 1}, {"put", {"x"}, 2}, {"rm", {"x"}, 2},
           {"get-setting", {"Version", "default"}, 1}, {"set-setting", {"Version", "1"}, 2}}) {
    const Result result = Run(command, foreign, operands, "data");
    EXPECT_EQ(result.Exit, exit) << command;
    EXPECT_TRUE(OneErrorLine(result)) << command << ": " << result.Err;
  }
  const Result check = Run("check", foreign, {});
  EXPECT_EQ(check.Exit, 1);
  EXPECT_NE(check.Out, "");
  EXPECT_EQ(ReadFile(foreign), text);
}

TEST_F(Twdb, CheckNamesTheOffsetOfDamageAndNeverWrites) {
  MakeSample();
  const Result sound = Run("check");
  EXPECT_EQ(sound.Exit, 0) << sound.Out << sound.Err;
  EXPECT_NE(sound.Out.find("sound"), std::string::npos);

  // The anchor block (data offset 50 in every database) names the root index's block;
  // point it past the end of the file.
  std::string bytes = ReadFile(Db);
  ASSERT_EQ(Int32At(bytes, 38), 50);
  PutInt32(bytes, 50, 1 << 20);
  WriteFile(Db, bytes);
  const auto stamp = fs::last_write_time(Db);
  const Result damaged = Run("check");
  EXPECT_EQ(damaged.Exit, 1);
  EXPECT_TRUE(OneErrorLine(damaged)) << damaged.Err;
  EXPECT_NE(damaged.Out.find(std::to_string(1 << 20)), std::string::npos) << damaged.Out;
  EXPECT_EQ(ReadFile(Db), bytes);
  EXPECT_EQ(fs::last_write_time(Db), stamp);

  // A write into it is refused before the store opens it, naming the problem and its offset;
  // with --force the store's own checks refuse it.
  const Result put = Run("put", {"note"}, "new");
  EXPECT_EQ(put.Exit, 2);
  EXPECT_TRUE(OneErrorLine(put)) << put.Err;
  EXPECT_NE(put.Err.find("(offset "), std::string::npos) << put.Err;
  EXPECT_NE(put.Err.find(std::to_string(1 << 20)), std::string::npos) << put.Err;
  EXPECT_EQ(Run("get", {"note"}).Exit, 1);
  Force = true;
  EXPECT_EQ(Run("put", {"note"}, "new").Exit, 1);
  EXPECT_EQ(ReadFile(Db), bytes);
}

TEST_F(Twdb, ForceSkipsTheWholeFileCheckForRepairs) {
  MakeSample();
  // Damage off the path of the repair: the block of "msg1" claims a byte more than its
  // record, and runs into the next block.
  std::string bytes = ReadFile(Db);
  const Result dump = Run("dump");
  const size_t line = dump.Out.find("msg1  entry  block ");
  ASSERT_NE(line, std::string::npos) << dump.Out;
  const size_t message = std::stoul(dump.Out.substr(line + 19));
  PutInt32(bytes, message - 4, Int32At(bytes, message - 4) + 1);
  WriteFile(Db, bytes);

  for (const auto& [command, operands] :
       std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"put", {"note"}}, {"rm", {"note"}}, {"rename", {"note", "other"}},
           {"set-setting", {"Version", "1.0"}}}) {
    const Result refused = Run(command, operands, "repaired");
    EXPECT_EQ(refused.Exit, 2) << command;
    EXPECT_NE(refused.Err.find("(offset "), std::string::npos) << refused.Err;
    EXPECT_NE(refused.Err.find("--force"), std::string::npos) << refused.Err;
  }
  EXPECT_EQ(ReadFile(Db), bytes);
  Force = true;
  ASSERT_EQ(Run("put", {"note"}, "repaired").Exit, 0);
  // --force means nothing to a command that does not write.
  EXPECT_EQ(Run("get", {"note"}).Exit, 2);
  Force = false;
  EXPECT_EQ(Run("get", {"note"}).Out, "repaired");
  EXPECT_EQ(Run("get-setting", {"Version"}).Out, "0.9b2\n");
}

// The client's move leaves two children of one name in an index. check lists the second as
// hidden and calls the file sound; writes go ahead without --force and keep it; once the
// first is removed, the second reads.
TEST_F(Twdb, HiddenChildrenAreListedAndKeptByWrites) {
  ASSERT_EQ(Run("put", {"Mailboxes", "Inbox", "msg"}, "first").Exit, 0);
  ASSERT_EQ(Run("put", {"Mailboxes", "Drafts", "msg"}, "second").Exit, 0);
  storetest::MoveAsTheClientDoes(Db.native(), "Drafts", "Inbox", "msg");
  const Result check = Run("check");
  EXPECT_EQ(check.Exit, 0) << check.Out << check.Err;
  const size_t line = check.Out.find("hidden child Mailboxes/Inbox/msg: entry at offset ");
  ASSERT_NE(line, std::string::npos) << check.Out;
  EXPECT_EQ(check.Out.find("\nhidden child"), std::string::npos) << check.Out;  // one line
  EXPECT_NE(check.Out.find(": sound; hidden children: 1 "), std::string::npos) << check.Out;

  ASSERT_EQ(Run("put", {"Mailboxes", "Inbox", "other"}, "third").Exit, 0);
  const Result replaced = Run("put", {"Mailboxes", "Inbox", "MSG"}, "first again");
  ASSERT_EQ(replaced.Exit, 0) << replaced.Err;
  ASSERT_EQ(Run("set-setting", {"Version", "1.0"}).Exit, 0);
  const Result inbox = Run("ls", {"Mailboxes", "Inbox"});
  EXPECT_EQ(inbox.Out.find("msg\tentry\t"), 0u) << inbox.Out;
  EXPECT_NE(inbox.Out.find("\nmsg\tentry\t"), std::string::npos) << inbox.Out;
  EXPECT_NE(inbox.Out.find("\nother\tentry\t"), std::string::npos) << inbox.Out;
  EXPECT_EQ(Run("get", {"Mailboxes", "Inbox", "msg"}).Out, "first again");
  EXPECT_NE(Run("check").Out.find(check.Out.substr(line, check.Out.find('\n', line) - line)),
            std::string::npos);

  ASSERT_EQ(Run("rm", {"Mailboxes", "Inbox", "msg"}).Exit, 0);
  EXPECT_EQ(Run("get", {"Mailboxes", "Inbox", "msg"}).Out, "second");
  const Result after = Run("check");
  EXPECT_EQ(after.Exit, 0);
  EXPECT_EQ(after.Out.find("hidden"), std::string::npos) << after.Out;
}

TEST_F(Twdb, DumpShowsTheTreeWithTheFilesOffsets) {
  MakeSample();
  ASSERT_EQ(Run("put", {"gone"}, std::string(3000, 'g')).Exit, 0);
  ASSERT_EQ(Run("rm", {"gone"}).Exit, 0);
  const std::string bytes = ReadFile(Db);
  const Result dump = Run("dump");
  ASSERT_EQ(dump.Exit, 0) << dump.Err;
  const std::string end = std::to_string(Int32At(bytes, 42));
  EXPECT_NE(dump.Out.find("end offset " + end), std::string::npos) << dump.Out;
  EXPECT_NE(dump.Out.find("free list at " + end + ": " + std::to_string(Int32At(bytes, Int32At(bytes, 42)))),
            std::string::npos) << dump.Out;
  EXPECT_NE(dump.Out.find("root index block " + std::to_string(Int32At(bytes, 50))), std::string::npos);
  // Children appear below their index, indented one step further.
  const size_t mailboxes = dump.Out.find("\n  Mailboxes  index  block ");
  const size_t inbox = dump.Out.find("\n    Inbox  index  block ");
  const size_t message = dump.Out.find("\n      msg1  entry  block ");
  EXPECT_NE(mailboxes, std::string::npos) << dump.Out;
  EXPECT_LT(mailboxes, inbox);
  EXPECT_LT(inbox, message);
  EXPECT_NE(message, std::string::npos) << dump.Out;
}

TEST_F(Twdb, WrongUsageExitsWithTwo) {
  MakeSample();
  const std::string before = ReadFile(Db);
  TwdbCommandLine none;
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(RunTwdb(none, in, out, err), 2);
  TwdbCommandLine noDatabase;
  noDatabase.Command = "ls";
  EXPECT_EQ(RunTwdb(noDatabase, in, out, err), 2);

  EXPECT_EQ(Run("frobnicate").Exit, 2);
  EXPECT_EQ(Run("get").Exit, 2);
  EXPECT_EQ(Run("rename", {"note"}).Exit, 2);
  EXPECT_EQ(Run("check", {"extra"}).Exit, 2);
  EXPECT_EQ(Run("get-setting", {"a", "b", "c"}).Exit, 2);
  // An empty component, or one holding the separator byte, would address another entry.
  EXPECT_EQ(Run("put", {"Mailboxes", "", "x"}, "data").Exit, 2);
  EXPECT_EQ(Run("put", {"a\xFF" "b"}, "data").Exit, 2);
  // A path through an entry.
  const Result through = Run("put", {"note", "inner"}, "data");
  EXPECT_EQ(through.Exit, 1);
  EXPECT_TRUE(OneErrorLine(through)) << through.Err;
  EXPECT_EQ(ReadFile(Db), before);
}

TEST_F(Twdb, HelpExplainsEveryCommand) {
  const Result help = Run("--help");
  EXPECT_EQ(help.Exit, 0);
  for (const char* command :
       {"ls", "get", "put", "rm", "rename", "get-setting", "set-setting", "check", "dump"})
    EXPECT_NE(help.Out.find(std::string("\n  ") + command + " DB"), std::string::npos) << command;
  EXPECT_NE(help.Out.find("\n  --force\n"), std::string::npos);
  EXPECT_NE(help.Out.find("\n  --no-sync\n"), std::string::npos);
}

TEST_F(Twdb, EveryCommandFirstPutsBackAnUnfinishedWriteAndSaysSo) {
  MakeSample();
  const std::string before = ReadFile(Db);
  const fs::path journal = Db.string() + "-journal";
  // A write stopped half way: the header and a block overwritten, the file grown, and the
  // journal of what was there.
  std::string torn = before;
  torn.replace(0, 60, std::string(60, '#'));
  WriteFile(Db, torn + std::string(500, '!'));
  WriteFile(journal, store::JournalBytes(static_cast<int64_t>(before.size()),
                                         {{0, std::string_view(before).substr(0, 60), std::string(60, 'w')}}));
  const Result check = Run("check");
  EXPECT_EQ(check.Exit, 0) << check.Err;
  EXPECT_EQ(check.Err, "twdb: " + Db.string() + ": restored as it was before a write that did not finish\n");
  EXPECT_NE(check.Out.find("sound"), std::string::npos);
  EXPECT_EQ(ReadFile(Db), before);
  EXPECT_FALSE(storetest::JournalPendingBeside(Db.native()));
  // Nothing left to put back: nothing said.
  EXPECT_EQ(Run("get", {"note"}).Err, "");

  // A journal cut short was being written when the write stopped, before the database was
  // touched: it is marked empty, and the database stays as it is.
  const std::string complete = store::JournalBytes(static_cast<int64_t>(before.size()),
                                                   {{0, std::string(60, 'z'), std::string(60, 'w')}});
  WriteFile(journal, complete.substr(0, complete.size() - 3));
  const Result get = Run("get", {"note"});
  EXPECT_EQ(get.Exit, 0);
  EXPECT_EQ(get.Out, "plain");
  EXPECT_EQ(get.Err, "");
  EXPECT_FALSE(storetest::JournalPendingBeside(Db.native()));
  EXPECT_EQ(ReadFile(Db), before);
}

TEST_F(Twdb, NoSyncWritesAsUsualAndAppliesToWritingCommandsOnly) {
  MakeSample();
  NoSync = true;
  ASSERT_EQ(Run("put", {"Mailboxes", "Inbox", "bulk"}, "many").Exit, 0);
  ASSERT_EQ(Run("set-setting", {"Host", "h"}).Exit, 0);
  EXPECT_EQ(Run("get", {"Mailboxes", "Inbox", "bulk"}).Exit, 2);
  NoSync = false;
  EXPECT_EQ(Run("get", {"Mailboxes", "Inbox", "bulk"}).Out, "many");
  EXPECT_EQ(Run("check").Exit, 0);
  EXPECT_FALSE(storetest::JournalPendingBeside(Db.native()));
  EXPECT_TRUE(FlushWrites());  // only for the command that asked
}

}  // namespace
