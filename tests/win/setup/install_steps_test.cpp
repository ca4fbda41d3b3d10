// The installation steps without a window: the copied kit, the registry record value by
// value, the Start-menu links read back, installing into the kit's own folder, and the
// failures that stop the chain at their step and undo it.
#include <shlobj.h>

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "SetupFixture.h"
#include "base/Handles.h"
#include "base/Text.h"
#include "filestore/FileMan.h"
#include "setup/Destination.h"
#include "setup/InstallSteps.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/SysUtils.h"
#include "tests/win/support/UiScript.h"

namespace {

// A registry value as stored: its type and its bytes.
struct RawValue {
  DWORD Type = REG_NONE;
  std::wstring Text;
  DWORD Number = 0;
  bool Present = false;
};

RawValue ReadRaw(const std::wstring& name) {
  RawValue value;
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, tw::ProductKey.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS)
    return value;
  UniqueKey key(raw);
  BYTE bytes[1024] = {};
  DWORD size = sizeof(bytes);
  if (RegQueryValueExW(raw, name.c_str(), nullptr, &value.Type, bytes, &size) != ERROR_SUCCESS)
    return value;
  value.Present = true;
  if (value.Type == REG_SZ) value.Text = reinterpret_cast<const wchar_t*>(bytes);
  if (value.Type == REG_DWORD) value.Number = *reinterpret_cast<const DWORD*>(bytes);
  return value;
}

// The names of the record's values, sorted.
std::vector<std::wstring> ValueNames() {
  std::vector<std::wstring> names;
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, tw::ProductKey.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS)
    return names;
  UniqueKey key(raw);
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumValueW(raw, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring ShellProgramsFolder() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, folder);
  return folder;
}

class InstallStepsTest : public SetupTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(MakeKit());
    Choices = KitChoices();
  }
  std::wstring Installed(const std::wstring& name) const { return Destination + L"\\" + name; }

  TInstallChoices Choices;
};

TEST_F(InstallStepsTest, FirstInstallationCopiesRecordsSeedsAndBuildsTheGroup) {
  UiScript script;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_TRUE(script.Boxes().empty());

  // The kit, with the installer as the uninstaller and the template as the database; the
  // kit's sub-folder stays behind.
  for (const std::wstring& name : KitFiles) {
    const std::wstring arrived = name == L"setup.exe" ? L"UninstTW.exe" : name;
    EXPECT_EQ(FileBytes(Installed(arrived)), FileBytes(Kit + L"\\" + name)) << Narrow(name);
  }
  EXPECT_FALSE(Exists(Installed(L"setup.exe")));
  EXPECT_FALSE(Exists(Installed(L"docs")));
  EXPECT_EQ(GetInitValue("Version", "", Installed(L"TW.dbc")), "0.9b2");
  EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), tw::DefaultMessagePath).at(2), "From: me@example.com");
  EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), tw::DefaultArticlePath).at(1), "Host: mail.example.com");

  // The record, value by value, type by type, and nothing else (the registry lists the
  // values in its own order).
  EXPECT_EQ(ValueNames(), (std::vector<std::wstring>{L"AppDir", L"Program Group", L"Update",
                                                     L"Version", L"WindowPos", L"WindowState"}));
  struct Expected {
    const wchar_t* Name;
    DWORD Type;
    std::wstring Text;
    DWORD Number;
  };
  for (const Expected& e : {Expected{L"AppDir", REG_SZ, Destination, 0},
                            Expected{L"Version", REG_SZ, L"0.9b2", 0},
                            Expected{L"Program Group", REG_SZ, L"Tarnwhistle", 0},
                            Expected{L"WindowState", REG_DWORD, L"", 0},
                            Expected{L"WindowPos", REG_SZ, L"-1,-1,565,350", 0},
                            Expected{L"Update", REG_DWORD, L"", 1}}) {
    const RawValue value = ReadRaw(e.Name);
    SCOPED_TRACE(Narrow(e.Name));
    EXPECT_EQ(value.Type, e.Type);
    EXPECT_EQ(value.Text, e.Text);
    EXPECT_EQ(value.Number, e.Number);
  }

  // The group in the user's Start-menu Programs folder, its five links read back.
  const std::wstring group = AddBackslash(ShellProgramsFolder()) + L"Tarnwhistle";
  EXPECT_EQ(LocaleLower(ProgramGroupFolder()), LocaleLower(group));
  const std::wstring d = LocaleLower(AddBackslash(Destination));
  struct Link {
    const wchar_t* File;
    std::wstring Target;
    const wchar_t* Description;
  };
  for (const Link& link : {Link{L"License.LNK", d + L"license.txt", L"License"},
                           Link{L"Tarnwhistle.LNK", d + L"tw.exe", L"Tarnwhistle"},
                           Link{L"Uninstall TW.LNK", d + L"uninsttw.exe", L"Uninstall Tarnwhistle"},
                           Link{L"QuickStart.LNK", d + L"quickstart.rtf", L"Quick Start"},
                           Link{L"ReadMe.LNK", d + L"readme.txt", L"Read Me"}}) {
    SCOPED_TRACE(Narrow(link.File));
    const LinkInfo info = ReadLink(group + L"\\" + link.File);
    ASSERT_TRUE(info.Loaded);
    EXPECT_EQ(LocaleLower(info.Target), link.Target);
    EXPECT_EQ(info.Description, link.Description);
    EXPECT_EQ(AddBackslash(LocaleLower(info.WorkingFolder)), d);
    EXPECT_EQ(LocaleLower(info.IconFile), link.Target);
    EXPECT_EQ(info.IconIndex, 0);
  }
  // A first installation shows the group in a shell window.
  PumpMessagesFor(500);
  EXPECT_EQ(EndStartedPrograms(L"explorer.exe"), 1);
}

TEST_F(InstallStepsTest, UpdateKeepsTheClientsWindowAndOpensNoShellWindow) {
  {
    TRegistryKey key = TRegistryKey::Create(tw::ProductKey);
    ASSERT_TRUE(key.WriteInteger(L"WindowState", 2));
    ASSERT_TRUE(key.WriteString(L"WindowPos", L"10,20,800,600"));
    ASSERT_TRUE(key.WriteString(L"Program Group", L"Old Group"));
  }
  ASSERT_TRUE(CreateDirectoryW((Scratch / L"dest").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Destination.c_str(), nullptr));
  TStringList notes;
  notes.Add("keep me");
  ASSERT_EQ(WriteEntryLines("Notes", &notes, Installed(L"TW.dbc")), 0);
  Choices.PreviousInstall = true;
  Choices.AppDir = Destination + L"\\";
  Choices.CreateGroup = false;

  UiScript script;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_EQ(ReadRaw(L"WindowState").Number, 2u);
  EXPECT_EQ(ReadRaw(L"WindowPos").Text, L"10,20,800,600");
  EXPECT_EQ(ReadRaw(L"Program Group").Text, L"Old Group");
  EXPECT_EQ(ReadRaw(L"AppDir").Text, Destination);
  EXPECT_EQ(ReadRaw(L"Update").Number, 1u);
  // The existing database was not replaced by the template.
  EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), "Notes"), notes.Lines);
  EXPECT_EQ(GetInitValue("Version", "", Installed(L"TW.dbc")), "");
  // No group, no shell window.
  EXPECT_FALSE(Exists(ProgramGroupFolder()));
  PumpMessagesFor(500);
  EXPECT_EQ(EndStartedPrograms(L"explorer.exe"), 0);

  // With the group wanted, an update writes the links but opens nothing.
  Choices.CreateGroup = true;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_TRUE(ReadLink(ProgramGroupFolder() + L"\\ReadMe.LNK").Loaded);
  PumpMessagesFor(500);
  EXPECT_EQ(EndStartedPrograms(L"explorer.exe"), 0);
}

TEST_F(InstallStepsTest, InstallingIntoTheKitsOwnFolderMakesOnlyTheUninstaller) {
  const std::wstring shortKit = ShortPathName(Kit);
  ASSERT_FALSE(shortKit.empty());
  std::wstring upper = Kit;
  CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  for (const std::wstring& sameFolder : {upper, shortKit, Kit + L"\\", LocaleLower(shortKit) + L"\\"}) {
    SCOPED_TRACE(Narrow(sameFolder));
    EXPECT_EQ(ComparablePath(sameFolder), ComparablePath(Kit));
    Choices.AppDir = sameFolder;
    EXPECT_EQ(PlanUpdate(Choices).Files.size(), 1u);
  }
  // The uninstaller that the shortcut and the Apps & features entry name is made; the
  // record, the entries in a database made there, and the group as anywhere else.
  Choices.AppDir = LocaleLower(shortKit) + L"\\";
  Choices.PreviousInstall = true;
  UiScript script;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_EQ(FileBytes(Kit + L"\\UninstTW.exe"), FileBytes(Kit + L"\\setup.exe"));
  EXPECT_EQ(ComparablePath(ReadRaw(L"AppDir").Text), ComparablePath(Kit));
  EXPECT_EQ(EntryLines(Kit + L"\\TW.dbc", tw::DefaultMessagePath).at(1), "Host: mail.example.com");
  EXPECT_EQ(GetInitValue("Version", "", Kit + L"\\TW.dbc"), "");  // no template copy
  EXPECT_TRUE(ReadLink(ProgramGroupFolder() + L"\\Tarnwhistle.LNK").Loaded);
  EXPECT_EQ(ListFiles(nullptr, Kit + L"\\*.setup-*", faAnyFile), 0);
  EXPECT_TRUE(script.Boxes().empty());
}

TEST_F(InstallStepsTest, KitDetailsInstallerInCapitalsAndEncryptedDatabase) {
  ASSERT_TRUE(MoveFileW((Kit + L"\\setup.exe").c_str(), (Kit + L"\\SETUP.EXE").c_str()));
  ASSERT_TRUE(CreateDirectoryW((Scratch / L"dest").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Destination.c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(Installed(L"TW.pgp"), "encrypted"));
  Choices.CreateGroup = false;
  UiScript script;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_EQ(FileBytes(Installed(L"UninstTW.exe")), "kit file setup.exe");
  EXPECT_FALSE(Exists(Installed(L"SETUP.EXE")));
  EXPECT_FALSE(Exists(Installed(L"TW.dbc")));
  EXPECT_EQ(FileBytes(Installed(L"TW.pgp")), "encrypted");
}

TEST_F(InstallStepsTest, DestinationThatCannotBeCreatedStopsBeforeTheRegistry) {
  const std::wstring drive = UnusedDrive();
  ASSERT_FALSE(drive.empty());
  for (const std::wstring& folder : {std::wstring(), drive + L"\\Tarnwhistle",
                                     Scratch / L"bad|name", Scratch / L"made\\what?"}) {
    SCOPED_TRACE(Narrow(folder));
    Choices.AppDir = folder;
    UiScript script;
    script.Answer(IDOK);
    EXPECT_FALSE(RunInstallSteps(Choices));
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].Caption, L"TarnwhistleFolder Creation Error");
    EXPECT_EQ(script.Boxes()[0].Text,
              L"Unable to create the destination folder.\nPlease review your entry for errors "
              L"or\nillegal characters.");
    EXPECT_FALSE(RegistryKeyExists(tw::ProductKey));
    EXPECT_FALSE(Exists(Scratch / L"made")) << "a level made on the way is removed again";
  }
  // Several missing levels are all created.
  Choices.AppDir = Scratch / L"a\\b\\c";
  Choices.CreateGroup = false;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_TRUE(Exists(Scratch / L"a\\b\\c\\TW.exe"));
}

// A file that cannot be put in place fails the installation with the Part's box, naming
// the kit's file, and undoes what was copied: nothing of a first installation stays.
TEST_F(InstallStepsTest, CopyThatFailsNamesTheFileAndUndoesTheCopies) {
  ASSERT_TRUE(CreateDirectoryW((Scratch / L"dest").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Destination.c_str(), nullptr));
  // (A read-only attribute would not do: the tests run as root, whom Wine lets write.)
  ASSERT_TRUE(CreateDirectoryW(Installed(L"ReadMe.txt").c_str(), nullptr));
  UiScript script;
  script.Answer(IDOK);
  EXPECT_FALSE(RunInstallSteps(Choices));
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Caption, L"Copy Failed");
  const std::wstring& text = script.Boxes()[0].Text;
  // "System Error: " + the system's own text, ending in a line break, + "File: " + source.
  const std::wstring prefix = L"System Error: ", suffix = L"File: " + Kit + L"\\ReadMe.txt";
  ASSERT_GT(text.size(), prefix.size() + suffix.size() + 2) << Narrow(text);
  EXPECT_EQ(text.substr(0, prefix.size()), prefix);
  EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
  EXPECT_EQ(text.substr(text.size() - suffix.size() - 2, 2), L"\r\n");
  EXPECT_FALSE(RegistryKeyExists(tw::ProductKey));
  std::vector<std::wstring> left;
  ListFiles(&left, Destination + L"\\*", faAnyFile);
  EXPECT_EQ(left, std::vector<std::wstring>{Installed(L"ReadMe.txt")}) << "only the blocking folder";
}

}  // namespace

namespace {

// Without the shell's "Programs" setting the group goes where the shell says the user's
// Programs folder is, never to the root of a drive.
TEST_F(InstallStepsTest, MissingProgramsSettingFallsBackToTheShellsFolder) {
  const std::wstring shellFolders =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  TRegistryKey key = TRegistryKey::Open(shellFolders);
  ASSERT_TRUE(key.Valid());
  const auto saved = key.ReadString(L"Programs");
  ASSERT_TRUE(saved.has_value());
  struct Restore {
    TRegistryKey& Key;
    std::wstring Value;
    ~Restore() { Key.WriteString(L"Programs", Value); }
  } restore{key, *saved};
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, shellFolders.c_str(), L"Programs"), ERROR_SUCCESS);
  ASSERT_FALSE(key.HasValue(L"Programs"));

  // Asked first: the shell may write the setting back when it is asked itself.
  const std::wstring programs = StartMenuProgramsFolder();
  const std::wstring expected = LocaleLower(ShellProgramsFolder());
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(programs, expected);
  EXPECT_EQ(ProgramGroupFolder(), expected + L"\\Tarnwhistle");
  Choices.PreviousInstall = true;
  UiScript script;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_TRUE(ReadLink(expected + L"\\Tarnwhistle\\License.LNK").Loaded);
}

}  // namespace

namespace {

// The installation key as a link to a key that cannot exist: it can be neither opened nor
// created until the link goes.
class BlockedRecord {
 public:
  BlockedRecord() {
    HKEY link = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, tw::ProductKey.c_str(), 0, nullptr,
                        REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &link, nullptr) != ERROR_SUCCESS)
      return;
    UniqueKey owner(link);
    const std::wstring target = L"\\REGISTRY\\NoSuchRoot\\Tarnwhistle";
    Made_ = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                           reinterpret_cast<const BYTE*>(target.data()),
                           static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  ~BlockedRecord() {
    HKEY link = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, tw::ProductKey.c_str(), REG_OPTION_OPEN_LINK,
                      KEY_ALL_ACCESS, &link) == ERROR_SUCCESS) {
      RegDeleteKeyW(link, L"");
      RegCloseKey(link);
    }
  }
  bool Made() const { return Made_; }

 private:
  bool Made_ = false;
};

// A record that cannot be written is a failure, not a success: the uninstaller would not
// find the installation.
TEST_F(InstallStepsTest, RecordThatCannotBeWrittenStopsBeforeTheDatabase) {
  const BlockedRecord blocked;
  ASSERT_TRUE(blocked.Made());
  ASSERT_FALSE(TRegistryKey::Create(tw::ProductKey).Valid());
  UiScript script;
  script.Answer(IDOK);
  EXPECT_FALSE(RunInstallSteps(Choices));
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Caption, L"Registry Error");
  EXPECT_EQ(script.Boxes()[0].Text, L"Unable to write to Win95 registry!\n\nEntries NOT saved!");
  // The copy was undone; seeding and the group did not happen.
  EXPECT_FALSE(Exists(Destination));
  EXPECT_FALSE(Exists(ProgramGroupFolder()));
}

}  // namespace

namespace {

bool ReadOnly(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

std::vector<std::string> Entry(const std::wstring& database, const std::string& path) {
  TStringList lines;
  ReadEntryLines(lines, path, database);
  return lines.Lines;
}

// A kit folder in which the client once ran holds a database, keys and journals of its own:
// they never replace the user's, in any letter case, and a new database comes from the
// template.
TEST_F(InstallStepsTest, KitsDatabaseAndKeysNeverReplaceTheUsers) {
  TStringList kitEntry;
  kitEntry.Add("the kit's own");
  ASSERT_EQ(WriteEntryLines("Notes", &kitEntry, Kit + L"\\tw.DBC"), 0);
  ASSERT_TRUE(WriteTextFile(Kit + L"\\TW.PGP", "kit keys"));
  ASSERT_TRUE(WriteTextFile(Kit + L"\\tw.pgp.BAK", "kit key backup"));
  // A journal would be applied to the user's database at its next opening; an update's own
  // files are no part of a kit.
  for (const wchar_t* name : {L"TW.dbc-Journal", L"notes-journal", L"ReadMe.txt.setup-old",
                              L"TWSetup.journal"})
    ASSERT_TRUE(WriteTextFile(Kit + L"\\" + name, "not for the installation"));
  Choices.CreateGroup = false;
  UiScript script;

  // A first installation: the database is the template's, with the default entries.
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_EQ(GetInitValue("Version", "", Installed(L"TW.dbc")), "0.9b2");
  EXPECT_TRUE(Entry(Installed(L"TW.dbc"), "Notes").empty());
  EXPECT_FALSE(Exists(Installed(L"TW.pgp")));
  EXPECT_FALSE(Exists(Installed(L"TW.pgp.bak")));
  EXPECT_EQ(ListFiles(nullptr, Destination + L"\\*journal", faAnyFile), 0);
  EXPECT_FALSE(Exists(Installed(L"ReadMe.txt.setup-old")));

  // An update over the user's database: their mail stays, the kit's entry does not come.
  TStringList mail;
  mail.Add("From: a friend");
  ASSERT_EQ(WriteEntryLines("Mailboxes\xFFInbox\xFF" "1", &mail, Installed(L"TW.dbc")), 0);
  Choices.PreviousInstall = true;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_EQ(Entry(Installed(L"TW.dbc"), "Mailboxes\xFFInbox\xFF" "1"), mail.Lines);
  EXPECT_TRUE(Entry(Installed(L"TW.dbc"), "Notes").empty());

  // The user's encrypted database and its backup stay as they are, and no plain one comes.
  ASSERT_TRUE(DeleteFileW(Installed(L"TW.dbc").c_str()));
  ASSERT_TRUE(WriteTextFile(Installed(L"TW.pgp"), "user's keys"));
  ASSERT_TRUE(WriteTextFile(Installed(L"TW.pgp.bak"), "user's backup"));
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_EQ(FileBytes(Installed(L"TW.pgp")), "user's keys");
  EXPECT_EQ(FileBytes(Installed(L"TW.pgp.bak")), "user's backup");
  EXPECT_FALSE(Exists(Installed(L"TW.dbc")));
  EXPECT_TRUE(script.Boxes().empty());
}

// A kit on a CD, or of read-only files: Windows would refuse the client its database and a
// later update its files. (Under Wine as root the attribute is kept but not enforced, so the
// attribute itself is what is checked.)
TEST_F(InstallStepsTest, ReadOnlyKitGivesWritableFilesAndAnUpdateReplacesReadOnlyOnes) {
  for (const std::wstring& name : KitFiles)
    ASSERT_TRUE(SetFileAttributesW((Kit + L"\\" + name).c_str(), FILE_ATTRIBUTE_READONLY));
  Choices.CreateGroup = false;
  UiScript script;
  EXPECT_TRUE(RunInstallSteps(Choices));
  for (const std::wstring& name : {L"UninstTW.exe", L"TW.exe", L"TW.ini", L"License.txt",
                                   L"QuickStart.rtf", L"ReadMe.txt", L"TW.dbc"})
    EXPECT_FALSE(ReadOnly(Installed(name))) << Narrow(name);
  EXPECT_TRUE(ReadOnly(Kit + L"\\TW.ini"));  // the kit itself is left as it is

  // Installed files made read-only since (by an earlier installer) are replaced.
  for (const std::wstring& name : {L"TW.exe", L"ReadMe.txt", L"TW.dbc"})
    ASSERT_TRUE(SetFileAttributesW(Installed(name).c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW((Kit + L"\\ReadMe.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(WriteTextFile(Kit + L"\\ReadMe.txt", "read me, new"));
  Choices.PreviousInstall = true;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_EQ(FileBytes(Installed(L"ReadMe.txt")), "read me, new");
  for (const std::wstring& name : {L"TW.exe", L"ReadMe.txt", L"TW.dbc"})
    EXPECT_FALSE(ReadOnly(Installed(name))) << Narrow(name);
  EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), tw::DefaultMessagePath).at(2), "From: me@example.com");
  EXPECT_TRUE(script.Boxes().empty());
}

TEST_F(InstallStepsTest, DestinationCheckTakesFullPathsOnly) {
  struct Case {
    std::wstring Typed;
    std::wstring Folder;  // empty: refused
    const wchar_t* Reason = L"";
  };
  const Case cases[] = {
      {L"", L"", L"Please enter"},
      {L"   ", L"", L"Please enter"},
      {L"Tarnwhistle", L"", L"not a full path"},
      {L"sub\\Tarnwhistle", L"", L"not a full path"},
      {L"..\\Tarnwhistle", L"", L"not a full path"},
      {L"\\Tarnwhistle", L"", L"not a full path"},
      {L"C:Tarnwhistle", L"", L"not a full path"},
      {L"C:", L"", L"not a full path"},
      {L"C:\\", L"", L"root of a drive"},
      {L"c:/", L"", L"root of a drive"},
      {L"C:\\Tarnwhistle\\..", L"", L"root of a drive"},
      {L"\\\\server\\share", L"", L"root of a drive"},
      {L"\\\\server\\share\\", L"", L"root of a drive"},
      {L"C:\\Program Files\\Tarnwhistle", L"C:\\Program Files\\Tarnwhistle"},
      {L"C:\\Program Files\\Tarnwhistle\\", L"C:\\Program Files\\Tarnwhistle"},
      {L"C:/a/b/new", L"C:\\a\\b\\new"},
      {L"D:\\x\\..\\Tarn whistle", L"D:\\Tarn whistle"},
      {L"\\\\server\\share\\Tarnwhistle", L"\\\\server\\share\\Tarnwhistle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.Typed));
    const TDestinationCheck check = CheckDestination(c.Typed);
    EXPECT_EQ(check.Folder, c.Folder);
    EXPECT_EQ(check.Accepted(), !c.Folder.empty());
    EXPECT_NE(check.Refusal.find(c.Reason), std::wstring::npos) << Narrow(check.Refusal);
    // A refusal quotes what was typed, so that the user sees what is wrong with it.
    if (!check.Accepted() && !c.Typed.empty() && c.Typed[0] != L' ')
      EXPECT_NE(check.Refusal.find(L"\"" + c.Typed + L"\""), std::wstring::npos);
  }
}

// Forward slashes and missing parents: every level is created, and the record has the
// full path with backslashes.
TEST_F(InstallStepsTest, ForwardSlashesCreateEveryLevelAndAreRecordedAsBackslashes) {
  std::wstring typed = Scratch / L"a/b/new";
  for (wchar_t& c : typed)
    if (c == L'\\') c = L'/';
  Choices.CreateGroup = false;
  UiScript script;
  const TDestinationCheck check = CheckDestination(typed);
  ASSERT_TRUE(check.Accepted());
  EXPECT_EQ(check.Folder, Scratch / L"a\\b\\new");
  // The step alone creates every level of such a path too.
  Choices.AppDir = typed + L"/direct";
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_TRUE(Exists(Scratch / L"a\\b\\new\\direct\\TW.exe"));

  Choices.AppDir = check.Folder;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_TRUE(Exists(Scratch / L"a\\b\\new\\UninstTW.exe"));
  EXPECT_EQ(ReadRaw(L"AppDir").Text, Scratch / L"a\\b\\new");
  EXPECT_TRUE(script.Boxes().empty());
}

// Whoever runs the steps is told of each as it starts, in order, up to the one that fails.
TEST_F(InstallStepsTest, EachStepIsAnnouncedAsItStarts) {
  std::vector<TInstallStep> started;
  Choices.StepStarting = [&](TInstallStep step) { started.push_back(step); };
  Choices.CreateGroup = false;
  UiScript script;
  EXPECT_TRUE(RunInstallSteps(Choices));
  EXPECT_EQ(started, (std::vector<TInstallStep>{TInstallStep::CopyFiles, TInstallStep::WriteRecord,
                                                TInstallStep::StoreEntries,
                                                TInstallStep::CreateGroup}));
  started.clear();
  Choices.AppDir.clear();
  script.Answer(IDOK);
  EXPECT_FALSE(RunInstallSteps(Choices));
  EXPECT_EQ(started, std::vector<TInstallStep>{TInstallStep::CopyFiles});
}

// The kit is where the installer is, wherever it was started from.
TEST_F(InstallStepsTest, KitIsTheInstallersFolderWhateverTheCurrentFolder) {
  const std::wstring program = ModuleFileName();
  const std::wstring folder = program.substr(0, program.rfind(L'\\'));
  for (const std::wstring& current : {Kit, Scratch.Path(), WindowsDirectory()}) {
    ASSERT_TRUE(SetCurrentDirectoryW(current.c_str()));
    EXPECT_EQ(KitFolder(), folder);
  }
}

}  // namespace
