// The installation both faces of setup run: the Apps & features entry, the running-client
// check before anything is copied, the default destination for a user who cannot write
// Program Files, the destination an unattended install takes, the checks before anything
// changes, a file in use, an update that stays where it is, and a first installation that
// a crash stopped half-way.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "SetupFixture.h"
#include "base/Handles.h"
#include "base/Text.h"
#include "filestore/FileMan.h"
#include "setup/Installation.h"
#include "setup/SetupDlg.h"
#include "shell/Constants.h"
#include "shell/FaultPoint.h"
#include "shell/FileUpdate.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"
#include "shell/SysUtils.h"
#include "tests/win/support/UiScript.h"

namespace {

class InstallationTest : public SetupTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(MakeKit(WindowsDirectory() + L"\\notepad.exe"));
    Choices = KitChoices();
    Choices.CreateGroup = false;
  }
  std::wstring Installed(const std::wstring& name) const { return Destination + L"\\" + name; }

  TInstallChoices Choices;
};

std::wstring Today() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t text[16];
  swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

TDestinationProbe Probe(bool canWriteProgramFiles, const std::wstring& userPrograms,
                        std::wstring* asked = nullptr) {
  return {[=](const std::wstring& folder) {
            if (asked) *asked = folder;
            return canWriteProgramFiles;
          },
          [=] { return userPrograms; }};
}

}  // namespace

TEST_F(InstallationTest, TheRegistryStepWritesTheAppsAndFeaturesEntry) {
  UiScript script;
  EXPECT_EQ(InstallClient(Choices), TExitCode::Done);
  EXPECT_TRUE(script.Boxes().empty());
  const TRegistryKey entry = TRegistryKey::OpenReadOnly(tw::UninstallEntryKey);
  ASSERT_TRUE(entry.Valid());
  const std::wstring d = Destination + L"\\";
  EXPECT_EQ(entry.ReadString(L"DisplayName"), L"Tarnwhistle");
  EXPECT_EQ(entry.ReadString(L"DisplayVersion"), L"0.9b2");
  EXPECT_EQ(entry.ReadString(L"Publisher"), tw::Publisher);
  EXPECT_EQ(entry.ReadString(L"InstallLocation"), Destination);
  EXPECT_EQ(entry.ReadString(L"UninstallString"), L"\"" + d + L"UninstTW.exe\"");
  EXPECT_EQ(entry.ReadString(L"QuietUninstallString"), L"\"" + d + L"UninstTW.exe\" /quiet /client");
  EXPECT_EQ(entry.ReadString(L"DisplayIcon"), d + L"TW.exe,0");
  EXPECT_EQ(entry.ReadString(L"InstallDate"), Today());
  EXPECT_EQ(entry.ReadInteger(L"NoModify"), 1u);
  EXPECT_EQ(entry.ReadInteger(L"NoRepair"), 1u);
  // The installed files' size, in KB rounded up: notepad makes it more than a few.
  const std::optional<DWORD> size = entry.ReadInteger(L"EstimatedSize");
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(*size, FolderSizeKB(Destination));
  EXPECT_GT(*size, 10u);
}

TEST_F(InstallationTest, FolderSizeCountsTheFilesDirectlyInTheFolderRoundedUp) {
  const std::wstring folder = Scratch / L"sized";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_EQ(FolderSizeKB(folder), 0u);
  ASSERT_TRUE(WriteTextFile(folder + L"\\a", std::string(1024, 'a')));
  EXPECT_EQ(FolderSizeKB(folder), 1u);
  ASSERT_TRUE(WriteTextFile(folder + L"\\b", "b"));
  EXPECT_EQ(FolderSizeKB(folder), 2u);
  ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(folder + L"\\sub\\c", std::string(4096, 'c')));
  EXPECT_EQ(FolderSizeKB(folder), 2u);
}

TEST_F(InstallationTest, NothingIsCopiedWhileTheClientRunsFromTheDestination) {
  {
    UiScript script;
    ASSERT_EQ(InstallClient(Choices), TExitCode::Done);
  }
  // The kit changes; the installed client runs.
  ASSERT_TRUE(WriteTextFile(Kit + L"\\ReadMe.txt", "a newer read-me"));
  const std::string installedReadMe = FileBytes(Installed(L"ReadMe.txt"));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  std::wstring commandLine = L"\"" + Installed(L"TW.exe") + L"\"";
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             Destination.c_str(), &startup, &info));
  UniqueKernelObject client(info.hProcess), thread(info.hThread);
  WaitForInputIdle(client.get(), 5000);
  {
    UiScript script;
    script.Answer(IDCANCEL);
    EXPECT_EQ(InstallClient(Choices), TExitCode::ClientRunning);
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].Text, L"Tarnwhistle is running. Close it, then click Retry.");
    EXPECT_EQ(FileBytes(Installed(L"ReadMe.txt")), installedReadMe);
  }
  {
    UiScript script;
    script.Answer([&](const BoxRecord&) {
      TerminateProcess(client.get(), 0);
      WaitForSingleObject(client.get(), 5000);
      return IDRETRY;
    });
    EXPECT_EQ(InstallClient(Choices), TExitCode::Done);
    EXPECT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(FileBytes(Installed(L"ReadMe.txt")), "a newer read-me");
  }
}

TEST(DefaultDestination, ProgramFilesWhenWritableElseTheUsersOwnProgramsFolder) {
  std::wstring asked;
  EXPECT_EQ(DefaultDestination(Probe(true, L"C:\\users\\jo\\AppData\\Local\\Programs", &asked)),
            L"C:\\Program Files\\Tarnwhistle");
  EXPECT_EQ(asked, L"C:\\Program Files");
  EXPECT_EQ(DefaultDestination(Probe(false, L"C:\\users\\jo\\AppData\\Local\\Programs")),
            L"C:\\users\\jo\\AppData\\Local\\Programs\\Tarnwhistle");
  EXPECT_EQ(DefaultDestination(Probe(false, L"C:\\users\\jo\\Programs\\")),
            L"C:\\users\\jo\\Programs\\Tarnwhistle");
  // Without a folder of the user's own, the Part's default stays: its failure says why.
  EXPECT_EQ(DefaultDestination(Probe(false, L"")), L"C:\\Program Files\\Tarnwhistle");
}

TEST(DefaultDestination, TheSystemsProbeWritesWhereItCanAndKnowsTheUsersFolder) {
  ScratchFolder scratch(L"probe");
  const TDestinationProbe probe = SystemDestinationProbe();
  EXPECT_TRUE(probe.CanWrite(scratch.Path()));
  EXPECT_TRUE(probe.CanWrite(scratch / L"not\\yet\\there")) << "the nearest existing folder counts";
  EXPECT_EQ(ListFiles(nullptr, scratch.Path() + L"\\*", faAnyFile), 0) << "the probe leaves nothing";
  EXPECT_FALSE(probe.CanWrite(UnusedDrive() + L"\\Program Files"));
  const std::wstring own = probe.UserProgramFiles();
  EXPECT_GT(own.size(), 3u);
  EXPECT_EQ(LocaleLower(ExtractFileName(own)), L"programs");
}

TEST_F(InstallationTest, TheUnattendedDestinationIsCheckedAndFullOrTheRecordedOne) {
  EXPECT_EQ(QuietDestination({.Dir = L"C:/Tarn/whistle"}).Folder, L"C:\\Tarn\\whistle");
  EXPECT_EQ(QuietDestination({.Dir = L"C:\\Tarn\\x\\..\\whistle\\"}).Folder, L"C:\\Tarn\\whistle");
  for (const wchar_t* refused : {L"whistle", L".\\whistle", L"C:whistle", L"\\whistle", L"C:\\",
                                 L"C:/", L"C:", L" "}) {
    const TDestinationCheck checked = QuietDestination({.Dir = refused});
    EXPECT_FALSE(checked.Accepted()) << testing::PrintToString(std::wstring(refused));
    EXPECT_EQ(checked.Folder, L"");
  }
  EXPECT_EQ(QuietDestination({}).Folder, DefaultDestination());
  TRegistryKey::Create(tw::ProductKey).WriteString(L"AppDir", L"C:\\Recorded\\TW");
  EXPECT_EQ(QuietDestination({}).Folder, L"C:\\Recorded\\TW");
  // A recorded folder the wizard would refuse is refused here too.
  TRegistryKey::Create(tw::ProductKey).WriteString(L"AppDir", L"relative\\TW");
  EXPECT_FALSE(QuietDestination({}).Accepted());
}

namespace {

// Makes every change of one kind fail with `error`, or (`stop`) every change from the
// first of that kind on, as if the process had ended there.
class TFailingChange : public TFaultPoint {
 public:
  TFailingChange(std::wstring change, DWORD error, bool stop = false)
      : Change_(std::move(change)), Error_(error), Stop_(stop), Previous_(SetFaultPoint(this)) {}
  ~TFailingChange() override { SetFaultPoint(Previous_); }
  DWORD Before(const wchar_t* change, const std::wstring&) override {
    Stopped_ = Stopped_ || (Stop_ && Change_ == change);
    return Stopped_ || Change_ == change ? Error_ : 0;
  }

 private:
  std::wstring Change_;
  DWORD Error_;
  bool Stop_;
  bool Stopped_ = false;
  TFaultPoint* Previous_;
};

TQuietInstallOptions InstallInto(const std::wstring& folder) {
  TQuietInstallOptions options;
  options.Dir = folder;
  return options;
}

// Nothing of an installation: no folder, no record, no Apps & features entry, no note.
void ExpectNothingInstalled(const std::wstring& destination) {
  EXPECT_FALSE(Exists(destination));
  EXPECT_FALSE(RegistryKeyExists(tw::ProductKey));
  EXPECT_FALSE(RegistryKeyExists(tw::UninstallEntryKey));
  EXPECT_FALSE(RegistryKeyExists(L"Software\\Tarnwhistle Setup"));
}

}  // namespace

TEST_F(InstallationTest, ShortfallsAreFoundBeforeAnythingChanges) {
  // The one box that an installation refused by its checks shows; nothing is installed.
  const auto refusal = [&] {
    UiScript script;
    script.Answer(IDOK);
    EXPECT_EQ(InstallClient(Choices), TExitCode::StepFailed);
    ExpectNothingInstalled(Destination);
    EXPECT_EQ(script.Boxes().size(), 1u);
    return script.Boxes().empty() ? BoxRecord{} : script.Boxes()[0];
  };
  const std::wstring client = Kit + L"\\TW.exe", parked = Scratch / L"TW.exe";
  ASSERT_TRUE(MoveFileW(client.c_str(), parked.c_str()));
  BoxRecord box = refusal();
  EXPECT_EQ(box.Caption, L"Incomplete Kit");
  EXPECT_NE(box.Text.find(L"TW.exe is missing."), std::wstring::npos);
  ASSERT_TRUE(MoveFileW(parked.c_str(), client.c_str()));
  {
    UniqueHandle held(CreateFileW((Kit + L"\\ReadMe.txt").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    box = refusal();
    EXPECT_NE(box.Text.find(L"ReadMe.txt cannot be read: " + SystemErrorLine(ERROR_SHARING_VIOLATION)),
              std::wstring::npos);
  }
  {
    TFailingChange denied(L"create a file in", ERROR_ACCESS_DENIED);
    EXPECT_EQ(refusal().Caption, L"Cannot Write");
  }
  // A kit file larger than the drive's room (sparse: it takes no room itself).
  ULARGE_INTEGER free = {};
  ASSERT_TRUE(GetDiskFreeSpaceExW(Scratch.Path().c_str(), &free, nullptr, nullptr));
  {
    UniqueHandle big(CreateFileW((Kit + L"\\Big.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, 0, nullptr));
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(free.QuadPart);
    ASSERT_TRUE(SetFilePointerEx(big.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(big.get()));
  }
  box = refusal();
  EXPECT_EQ(box.Caption, L"Not Enough Room");
  EXPECT_NE(box.Text.find(L"it needs "), std::wstring::npos);
  EXPECT_NE(box.Text.find(L" MB are free."), std::wstring::npos);
}

// Another program holds the installed TW.exe, or the database, during an update: the user
// is asked; Cancel leaves the earlier installation as it was, with no box after the answer;
// Retry once the program let go finishes the update.
TEST_F(InstallationTest, AFileInUseDuringAnUpdateIsAskedAbout) {
  {
    UiScript script;
    ASSERT_EQ(InstallClient(Choices), TExitCode::Done);
  }
  ASSERT_TRUE(WriteTextFile(Kit + L"\\ReadMe.txt", "a newer read-me"));
  const std::string before = FileBytes(Installed(L"ReadMe.txt"));
  Choices.PreviousInstall = true;
  Choices.WhenInUse = {.Ask = true};
  UniqueHandle holder(CreateFileW(Installed(L"TW.exe").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  {
    UiScript script;
    script.Answer(IDCANCEL);
    EXPECT_EQ(InstallClient(Choices), TExitCode::StepFailed);
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].Text.rfind(Installed(L"TW.exe") + L" is in use by another program.", 0), 0u);
    EXPECT_EQ(FileBytes(Installed(L"ReadMe.txt")), before);
    EXPECT_EQ(ListFiles(nullptr, Destination + L"\\*.setup-*", faAnyFile), 0);
  }
  UiScript script;
  script.Answer([&](const BoxRecord&) {
    holder.reset();
    return IDRETRY;
  });
  EXPECT_EQ(InstallClient(Choices), TExitCode::Done);
  EXPECT_EQ(FileBytes(Installed(L"ReadMe.txt")), "a newer read-me");
  // The database held as the entries are written: asked about too; Cancel takes the files
  // back.
  ASSERT_TRUE(WriteTextFile(Kit + L"\\ReadMe.txt", "a third read-me"));
  holder.reset(CreateFileW(Installed(L"TW.dbc").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  UiScript database;
  database.Answer(IDCANCEL);
  EXPECT_EQ(InstallClient(Choices), TExitCode::StepFailed);
  ASSERT_EQ(database.Boxes().size(), 1u);
  EXPECT_EQ(database.Boxes()[0].Text.rfind(Installed(L"TW.dbc") + L" is in use by another program.", 0), 0u);
  EXPECT_EQ(FileBytes(Installed(L"ReadMe.txt")), "a newer read-me");
}

// A first installation that ran out of room left an empty database: it holds nothing of the
// user's, and the template replaces it.
TEST_F(InstallationTest, AnEmptyDatabaseIsReplacedByTheTemplate) {
  ASSERT_TRUE(CreateDirectoryW((Scratch / L"dest").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Destination.c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(Installed(L"TW.dbc"), ""));
  UiScript script;
  EXPECT_EQ(InstallClient(Choices), TExitCode::Done);
  EXPECT_FALSE(CheckDatabase(Installed(L"TW.dbc")).has_value());
  EXPECT_EQ(GetInitValue("Version", "", Installed(L"TW.dbc")), "0.9b2");
  EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), tw::DefaultMessagePath).at(2), "From: me@example.com");
}

// The record names a folder that holds the installation: another one would leave the mail
// behind. The quiet run refuses it with both folders; the wizard asks.
TEST_F(InstallationTest, AnUpdateStaysWhereItIs) {
  {
    UiScript script;
    ASSERT_EQ(InstallClient(Choices), TExitCode::Done);
  }
  const std::wstring other = Scratch / L"elsewhere";
  const TDestinationCheck moved = QuietDestination(InstallInto(other));
  EXPECT_FALSE(moved.Accepted());
  EXPECT_NE(moved.Refusal.find(Destination), std::wstring::npos);
  EXPECT_NE(moved.Refusal.find(other), std::wstring::npos);
  EXPECT_TRUE(QuietDestination(InstallInto(ShortPathName(Destination) + L"\\")).Accepted());
  {
    TSetupForm wizard(nullptr, Kit);
    wizard.AppDIR.SetText(other);
    UiScript script;
    script.Answer(IDNO).Answer(IDYES);
    wizard.NextBtnClick();
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::StartPage);
    wizard.NextBtnClick();
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::AddressPage);
    ASSERT_EQ(script.Boxes().size(), 2u);
    EXPECT_NE(script.Boxes()[0].Text.find(L"Your mail stays in " + Destination), std::wstring::npos);
    EXPECT_NE(script.Boxes()[0].Text.find(L"Install it in " + other + L" instead?"), std::wstring::npos);
  }
  // A recorded folder that no longer holds the client or its database holds nothing to stay
  // with.
  ASSERT_TRUE(DeleteFileW(Installed(L"TW.exe").c_str()));
  ASSERT_TRUE(DeleteFileW(Installed(L"TW.dbc").c_str()));
  EXPECT_TRUE(QuietDestination(InstallInto(other)).Accepted());
}

// Deployment tools that run the installer as LocalSystem would install it where no user
// sees it.
TEST_F(InstallationTest, AQuietInstallAsTheSystemAccountIsRefused) {
  EXPECT_FALSE(RunsAsLocalSystem());
  UiScript script;
  EXPECT_EQ(RunQuietInstall(InstallInto(Destination), true), TExitCode::BadCommandLine);
  ExpectNothingInstalled(Destination);
}

// A first installation stopped while it wrote its links: the next run, wherever it goes,
// finds it through the registry's note and takes it all back but a database the client has
// written to since.
TEST_F(InstallationTest, AFirstInstallationStoppedHalfWayIsUndoneByTheNextRun) {
  Choices.CreateGroup = true;
  Choices.OpenGroupWindow = false;
  for (const bool clientWroteMail : {false, true}) {
    SCOPED_TRACE(clientWroteMail ? "the client wrote mail" : "nothing written since");
    {
      // Past the stop the update can neither commit nor undo: the two boxes say so.
      UiScript script;
      script.Answer(IDOK).Answer(IDOK);
      TFailingChange stop(L"link", ERROR_ACCESS_DENIED, true);
      EXPECT_EQ(InstallClient(Choices), TExitCode::StepFailed);
    }
    ASSERT_TRUE(Exists(Installed(L"TW.dbc")));
    ASSERT_TRUE(Exists(ProgramGroupFolder()));
    TStringList mail;
    mail.Add("From: a friend");
    if (clientWroteMail) {
      ASSERT_EQ(WriteEntryLines("Mailboxes\xFF" "Inbox\xFF" "1", &mail, Installed(L"TW.dbc")), 0);
    }
    EXPECT_TRUE(RecoverInterruptedUpdate(Scratch / L"another folder"));
    EXPECT_FALSE(Exists(ProgramGroupFolder()));
    if (!clientWroteMail) {
      ExpectNothingInstalled(Destination);
      continue;
    }
    EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), "Mailboxes\xFF" "Inbox\xFF" "1"), mail.Lines);
    // The mail's database stays, with the journal its write keeps beside it.
    std::vector<std::wstring> left;
    ListFiles(&left, Destination + L"\\*", faAnyFile);
    EXPECT_EQ(left, (std::vector<std::wstring>{Installed(L"TW.dbc"), Installed(L"TW.dbc-journal")}));
  }
}

// Every file arrives without the mark of a download, under the name it had when copied.
// (Wine has no alternate data streams: the removal is watched through its seam.)
TEST_F(InstallationTest, NoInstalledFileKeepsTheMarkOfADownload) {
  static std::vector<std::wstring> cleared;
  cleared.clear();
  const TStreamRemover previous = SetStreamRemover([](const std::wstring& file, const std::wstring& stream) {
    if (stream == L"Zone.Identifier") cleared.push_back(ExtractFileName(file));
    return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
  });
  UiScript script;
  const TExitCode code = InstallClient(Choices);
  SetStreamRemover(previous);
  ASSERT_EQ(code, TExitCode::Done);
  std::vector<std::wstring> installed;
  ListFiles(&installed, Destination + L"\\*", faAnyFile);
  ASSERT_EQ(installed.size(), 7u);
  for (const std::wstring& file : installed) {
    const std::wstring staged = ExtractFileName(file) + L".setup-new";
    EXPECT_EQ(std::count(cleared.begin(), cleared.end(), staged), 1) << Narrow(staged);
  }
}

// The stored address and host cannot be read as the wizard opens (another program holds the
// database): the wizard says why, and its empty fields do not replace the stored values.
TEST_F(InstallationTest, TheWizardSaysWhyItCannotReadTheStoredValues) {
  {
    UiScript script;
    ASSERT_EQ(InstallClient(Choices), TExitCode::Done);
  }
  UniqueHandle held(CreateFileW(Installed(L"TW.dbc").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  TSetupForm wizard(nullptr, Kit);
  EXPECT_EQ(wizard.EAddr.Text(), L"");
  UiScript script;
  script.Answer(IDOK).Answer(IDYES);
  script.OnModal([&](TForm&) { After(wizard, 100, [&] { wizard.SetModalResult(mrCancel); }); });
  wizard.ShowModal();
  ASSERT_GE(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Caption, L"Setup Error");
  EXPECT_NE(script.Boxes()[0].Text.find(L"could not be read from " + Installed(L"TW.dbc")),
            std::wstring::npos);
  EXPECT_NE(script.Boxes()[0].Text.find(SystemErrorLine(ERROR_SHARING_VIOLATION)), std::wstring::npos);
  // Installed with the empty fields once the database is free: the stored values stay.
  held.reset();
  Choices.Config = {};
  Choices.PreviousInstall = true;
  UiScript again;
  EXPECT_EQ(InstallClient(Choices), TExitCode::Done);
  EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), tw::DefaultMessagePath).at(2), "From: me@example.com");
}
