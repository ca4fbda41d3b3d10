// The client database as setup reads and seeds it: the default message and article line
// for line, the cut-marks setting, the other entries of an existing database, the
// encrypted database, a damaged, foreign or held one that is neither read nor written, and
// stored values that a read failure never turns into empty ones.
#include <gtest/gtest.h>

#include "SetupFixture.h"
#include "base/Handles.h"
#include "base/WideText.h"
#include "filestore/FileMan.h"
#include "setup/ClientConfig.h"
#include "shell/Constants.h"
#include "shell/RunLog.h"
#include "tests/win/support/UiScript.h"

namespace {

const TClientConfig kConfig{L"My Name <me@example.com>", L"mail.example.com"};

class ClientConfigTest : public SetupTest {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateDirectoryW(Folder.c_str(), nullptr)); }
  bool Store() {
    return WriteDefaultEntries(nullptr, Database, kConfig, Scratch / L"absent.dbc");
  }
  std::wstring Folder = Scratch / L"client";
  std::wstring Database = Folder + L"\\TW.dbc";
};

const std::vector<std::string> kMessage = {
    "Fcc: outbox", "Host: mail.example.com", "From: My Name <me@example.com>",
    "Chain: *,*,*,*; copies=1", "To: ", "Subject: ", "", "~~"};

const std::vector<std::string> kArticle = {
    "Fcc: outbox", "Host: mail.example.com", "From: My Name <me@example.com>",
    "Chain: *,*,*,*; copies=1", "To: mail2news@dizum.com", "X-No-Archive: Yes",
    "Newsgroups: ", "Subject: ", "", "~~"};

TEST_F(ClientConfigTest, NewDatabaseGetsBothEntriesLineForLine) {
  UiScript script;
  EXPECT_TRUE(Store());
  EXPECT_EQ(EntryLines(Database, tw::DefaultMessagePath), kMessage);
  EXPECT_EQ(EntryLines(Database, tw::DefaultArticlePath), kArticle);
  // Every line ends in CR LF, the last one included.
  TDataBuf message;
  ASSERT_EQ(ReadEntry(tw::DefaultMessagePath, message, Database), 0);
  EXPECT_EQ(message.AsString(),
            "Fcc: outbox\r\nHost: mail.example.com\r\nFrom: My Name <me@example.com>\r\n"
            "Chain: *,*,*,*; copies=1\r\nTo: \r\nSubject: \r\n\r\n~~\r\n");
  EXPECT_FALSE(CheckDatabase(Database).has_value());
  EXPECT_TRUE(script.Boxes().empty());
  // And it reads back into the wizard's fields.
  const TConfigReading read = ReadClientConfig(Folder);
  EXPECT_EQ(read.Config.Address, kConfig.Address);
  EXPECT_EQ(read.Config.Host, kConfig.Host);
  EXPECT_EQ(read.Failure, L"");
}

TEST_F(ClientConfigTest, CutMarksComeFromTheSettingsDatabase) {
  const std::wstring settings = Scratch / L"SETUP.DBC";
  ASSERT_EQ(SetInitValue("Cutmarks", "-- cut --", settings), 0);
  EXPECT_TRUE(WriteDefaultEntries(nullptr, Database, kConfig, settings));
  EXPECT_EQ(EntryLines(Database, tw::DefaultMessagePath).back(), "-- cut --");
  // The article keeps its fixed marks.
  EXPECT_EQ(EntryLines(Database, tw::DefaultArticlePath).back(), "~~");
}

TEST_F(ClientConfigTest, ExistingDatabaseKeepsItsOtherEntries) {
  TStringList inbox;
  inbox.Add("From: friend@example.org");
  inbox.Add("");
  inbox.Add("hello");
  ASSERT_EQ(WriteEntryLines("Mailboxes\xFF" "Inbox\xFF" "1", &inbox, Database), 0);
  ASSERT_EQ(SetInitValue("Version", "0.9b1", Database), 0);
  TStringList old;
  old.Add("From: old@example.com");
  ASSERT_EQ(WriteEntryLines(tw::DefaultMessagePath, &old, Database), 0);

  EXPECT_TRUE(Store());
  EXPECT_EQ(EntryLines(Database, tw::DefaultMessagePath), kMessage);
  EXPECT_EQ(EntryLines(Database, "Mailboxes\xFF" "Inbox\xFF" "1"), inbox.Lines);
  EXPECT_EQ(GetInitValue("Version", "", Database), "0.9b1");
  EXPECT_FALSE(CheckDatabase(Database).has_value());
}

TEST_F(ClientConfigTest, EncryptedDatabaseIsNotRead) {
  ASSERT_TRUE(WriteTextFile(Folder + L"\\TW.pgp", "-----BEGIN PGP MESSAGE-----"));
  EXPECT_TRUE(DatabaseEncrypted(Folder));
  const TConfigReading read = ReadClientConfig(Folder);
  EXPECT_EQ(read.Config.Address, L"");
  EXPECT_EQ(read.Failure, L"") << "nothing is stored that could be read";
  // With the plain database beside it, the plain one is the client's.
  ASSERT_EQ(SetInitValue("Version", "1", Database), 0);
  EXPECT_FALSE(DatabaseEncrypted(Folder));
}

TEST_F(ClientConfigTest, DamagedOrForeignDatabaseIsNeitherReadNorWritten) {
  // A sound database with the user's address, then damaged in its last block.
  TStringList message;
  message.Add("From: me@example.com");
  message.Add("Host: mail.example.com");
  ASSERT_EQ(WriteEntryLines(tw::DefaultMessagePath, &message, Database), 0);
  std::string bytes = FileBytes(Database);
  ASSERT_GT(bytes.size(), 60u);
  const std::string foreign = "This is not a database but somebody's letter.\r\n";
  struct Case {
    const char* Name;
    std::string Bytes;
  };
  std::string damaged = bytes;
  for (size_t i = 50; i < 58; ++i) damaged[i] = '\x7F';  // the first block's length prefix
  for (const Case& file : {Case{"damaged", damaged}, Case{"foreign", foreign}}) {
    SCOPED_TRACE(file.Name);
    ASSERT_TRUE(WriteTextFile(Database, file.Bytes));
    const auto problem = CheckDatabase(Database);
    ASSERT_TRUE(problem.has_value());
    // Values that cannot be read are unknown, not empty: the reading says why.
    const TConfigReading read = ReadClientConfig(Folder);
    EXPECT_EQ(read.Config.Address, L"");
    EXPECT_EQ(read.Failure, WideFromUtf8(problem->Text));
    UiScript script;
    script.Answer(IDOK);
    EXPECT_FALSE(Store());
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].Caption, L"Setup Error");
    EXPECT_EQ(script.Boxes()[0].Text, L"Error storing default message!");
    EXPECT_EQ(FileBytes(Database), file.Bytes);
  }
}

TEST_F(ClientConfigTest, DatabaseHeldByAnotherProgramIsAFailureNotEmptyValues) {
  ASSERT_TRUE(Store());
  const std::string before = FileBytes(Database);
  UniqueHandle held(CreateFileW(Database.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  const TConfigReading read = ReadClientConfig(Folder);
  EXPECT_EQ(read.Failure, SystemErrorLine(ERROR_SHARING_VIOLATION));
  // Keeping the stored values needs them: that fails too, and says why.
  const TConfigReading kept = KeepStoredValues({L"", L"new.example.com"}, Folder);
  EXPECT_EQ(kept.Failure, read.Failure);
  // Given both, nothing needs reading.
  EXPECT_EQ(KeepStoredValues(kConfig, Folder).Config.Host, kConfig.Host);
  UiScript script;
  script.Answer(IDOK);
  EXPECT_FALSE(Store());
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Text, L"Error storing default message!");
  held.reset();
  EXPECT_EQ(FileBytes(Database), before);
  // Once it is free, an empty value keeps the stored one.
  const TConfigReading merged = KeepStoredValues({L"", L"new.example.com"}, Folder);
  EXPECT_EQ(merged.Failure, L"");
  EXPECT_EQ(merged.Config.Address, kConfig.Address);
  EXPECT_EQ(merged.Config.Host, L"new.example.com");
}

// A database of no bytes (a first installation that ran out of room) holds nothing of the
// user's: reading it is no failure.
TEST_F(ClientConfigTest, EmptyDatabaseHoldsNothing) {
  EXPECT_TRUE(DatabaseHoldsNothing(Database));
  ASSERT_TRUE(WriteTextFile(Database, ""));
  EXPECT_TRUE(DatabaseHoldsNothing(Database));
  const TConfigReading read = ReadClientConfig(Folder);
  EXPECT_EQ(read.Failure, L"");
  EXPECT_EQ(read.Config.Address, L"");
  ASSERT_TRUE(DeleteFileW(Database.c_str()));
  ASSERT_TRUE(Store());
  EXPECT_FALSE(DatabaseHoldsNothing(Database));
}

TEST_F(ClientConfigTest, MessageWithOneHeaderGivesOneField) {
  TStringList message;
  message.Add("Host: only.example.com");
  message.Add("");
  message.Add("From: in-the-body@example.com");
  ASSERT_EQ(WriteEntryLines(tw::DefaultMessagePath, &message, Database), 0);
  const TConfigReading read = ReadClientConfig(Folder);
  EXPECT_EQ(read.Config.Address, L"");
  EXPECT_EQ(read.Config.Host, L"only.example.com");
  EXPECT_EQ(read.Failure, L"");
  // No database at all, or one without the message: empty fields, nothing created.
  EXPECT_EQ(ReadClientConfig(Scratch / L"nowhere").Config.Host, L"");
  EXPECT_FALSE(Exists(Scratch / L"nowhere"));
}

TEST_F(ClientConfigTest, TemplateVersionFromTheKit) {
  EXPECT_EQ(ReadTemplateVersion(Folder), L"");
  EXPECT_FALSE(Exists(Folder + L"\\TW.ini"));
  ASSERT_EQ(SetInitValue("version", "0.9b2", Folder + L"\\TW.ini"), 0);
  EXPECT_EQ(ReadTemplateVersion(Folder), L"0.9b2");
  EXPECT_EQ(ReadTemplateVersion(Folder + L"\\"), L"0.9b2");
}

}  // namespace
