// An update over an earlier installation, met at every one of its file and registry changes
// by a full disk, a sharing violation or a denied access, and, separately, by the end of
// the process there. After each, and once the next run has put right what a crash left:
// every program file is the old or the new one, whole, all of them alike; the record and
// the Apps & features entry name that version; the database is sound with the user's mail;
// nothing of the update's own is left; and the next run of setup completes.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "SetupFixture.h"
#include "filestore/FileMan.h"
#include "setup/Installation.h"
#include "shell/Constants.h"
#include "shell/FaultPoint.h"
#include "shell/FileUpdate.h"
#include "shell/Registry.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/Removal.h"

namespace {

const std::string kMailPath = "Mailboxes\xFF" "Inbox\xFF" "1";

// Counts the changes; makes the `at`-th fail with `error`, or with `stop` every change from
// the `at`-th on, as if the process had ended there. 0 fails none.
class TSweepPoint : public TFaultPoint {
 public:
  TSweepPoint(int at, DWORD error, bool stop) : At_(at), Error_(error), Stop_(stop) {
    Previous_ = SetFaultPoint(this);
  }
  ~TSweepPoint() override { SetFaultPoint(Previous_); }
  DWORD Before(const wchar_t* change, const std::wstring& path) override {
    ++Count;
    if (At_ == 0 || Count < At_ || (Count > At_ && !Stop_)) return 0;
    if (Count == At_) Hit = std::wstring(change) + L" " + path;
    return Error_;
  }
  int Count = 0;
  std::wstring Hit;

 private:
  int At_;
  DWORD Error_;
  bool Stop_;
  TFaultPoint* Previous_;
};

// Answers every message box as the unattended run does: the answer that changes nothing.
class TQuietUser : public UiDriver {
 public:
  TQuietUser() : Previous_(SetUiDriver(this)) {}
  ~TQuietUser() override { SetUiDriver(Previous_); }
  int AnswerMessageBox(const MessageBoxRequest& box) override {
    return (box.Flags & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
  }
  void ModalLoopStarting(TForm& form) override { form.SetModalResult(mrCancel); }

 private:
  UiDriver* Previous_;
};

using TValues = std::map<std::wstring, std::optional<TRegistryValue>>;

// Where the sweep's kit and installation lie: in memory (Linux's /dev/shm, through Wine's
// drive Z:) where there is one, since each of its hundreds of runs waits for the disk a dozen
// times; else in the scratch folder.
class TSweepFolder {
 public:
  explicit TSweepFolder(const std::wstring& fallback) {
    const std::wstring memory = L"Z:\\dev\\shm";
    Path_ = FolderExists(memory) ? memory + L"\\twtest-sweep-" + std::to_wstring(GetCurrentProcessId())
                                 : fallback;
    DeleteTree(Path_);
    CreateDirectoryW(Path_.c_str(), nullptr);
  }
  ~TSweepFolder() { DeleteTree(Path_); }
  TSweepFolder(const TSweepFolder&) = delete;
  TSweepFolder& operator=(const TSweepFolder&) = delete;
  const std::wstring& Path() const { return Path_; }

 private:
  std::wstring Path_;
};

class UpdateFaultTest : public SetupTest {
 protected:
  void SetUp() override {
    Kit = Folder.Path() + L"\\kit";
    Destination = Folder.Path() + L"\\Tarnwhistle";
    ASSERT_NO_FATAL_FAILURE(MakeKit());
    Choices = KitChoices();
    Choices.VersionText = L"1";
    Choices.CreateGroup = false;
    {
      TQuietUser user;
      ASSERT_EQ(InstallClient(Choices), TExitCode::Done);
    }
    TStringList mail;
    mail.Add("From: a friend");
    ASSERT_EQ(WriteEntryLines(kMailPath, &mail, Installed(L"TW.dbc")), 0);
    ASSERT_TRUE(TRegistryKey::Open(tw::ProductKey).WriteInteger(L"WindowState", 2));
    Earlier = ReadFiles();
    EarlierValues = ReadValues();
    // The new kit: every file changed, one more, and a new version.
    for (const std::wstring& name : KitFiles)
      if (name != L"TW.ini") ASSERT_TRUE(WriteTextFile(Kit + L"\\" + name, "version 2 of " + Narrow(name)));
    ASSERT_TRUE(WriteTextFile(Kit + L"\\New.txt", "new in version 2"));
    Choices.VersionText = L"2";
    Choices.PreviousInstall = true;
    Newer = Earlier;
    for (const std::wstring& name : KitFiles)
      if (name != L"TW.ini")
        Newer[name == L"setup.exe" ? L"UninstTW.exe" : name] = FileBytes(Kit + L"\\" + name);
    Newer[L"New.txt"] = "new in version 2";
  }
  std::wstring Installed(const std::wstring& name) const { return Destination + L"\\" + name; }

  // The installation's files but the database and the update's own, by name.
  std::map<std::wstring, std::string> ReadFiles() const {
    std::map<std::wstring, std::string> files;
    std::vector<std::wstring> entries;
    ListFiles(&entries, Destination + L"\\*", faAnyFile);
    for (const std::wstring& entry : entries) {
      const std::wstring name = ExtractFileName(entry);
      if (name != L"TW.dbc" && UpdateFileKind(name) == TUpdateFileKind::None) files[name] = FileBytes(entry);
    }
    return files;
  }

  // What the update leaves of its own: staged and kept files, the journal.
  int UpdateLeftovers() const {
    return ListFiles(nullptr, Destination + L"\\*.setup-*", faAnyFile) +
           ListFiles(nullptr, Destination + L"\\" + UpdateJournalName, faAnyFile);
  }

  TValues ReadValues() const {
    TValues values;
    for (const TUpdateKey& planned : PlanUpdate(Choices).Keys) {
      const TRegistryKey key = TRegistryKey::OpenReadOnly(planned.Path);
      for (const std::wstring& name : planned.Values) values[planned.Path + L"\\" + name] = key.ReadValue(name);
    }
    return values;
  }

  // The earlier installation again, as the sweep's every run finds it.
  void PutBackEarlier() {
    for (const auto& [name, bytes] : ReadFiles()) DeleteFileW(Installed(name).c_str());
    for (const auto& [name, bytes] : Earlier) ASSERT_TRUE(WriteTextFile(Installed(name), bytes));
    for (const TUpdateKey& planned : PlanUpdate(Choices).Keys) {
      TRegistryKey key = TRegistryKey::Create(planned.Path);
      for (const std::wstring& name : planned.Values) {
        const std::optional<TRegistryValue>& value = EarlierValues.at(planned.Path + L"\\" + name);
        if (value) ASSERT_TRUE(key.WriteValue(name, *value));
        else key.DeleteValue(name);
      }
    }
  }

  // 1 or 2 when every file is that version's, whole; 0 otherwise.
  int InstalledVersion() const {
    const std::map<std::wstring, std::string> files = ReadFiles();
    return files == Earlier ? 1 : files == Newer ? 2 : 0;
  }

  // What a run left: one whole installation, old or new, and the user's mail; `context` names
  // the run.
  void ExpectSound(const std::string& context) {
    SCOPED_TRACE(context);
    const int version = InstalledVersion();
    EXPECT_NE(version, 0) << "files neither old nor new";
    const std::wstring text = version == 2 ? L"2" : L"1";
    EXPECT_EQ(TRegistryKey::OpenReadOnly(tw::ProductKey).ReadString(L"Version"), text);
    EXPECT_EQ(TRegistryKey::OpenReadOnly(tw::UninstallEntryKey).ReadString(L"DisplayVersion"), text);
    EXPECT_EQ(TRegistryKey::OpenReadOnly(tw::ProductKey).ReadInteger(L"WindowState"), 2u);
    EXPECT_FALSE(RegistryKeyExists(L"Software\\Tarnwhistle Setup"));
    EXPECT_FALSE(CheckDatabase(Installed(L"TW.dbc")).has_value());
    EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), kMailPath), std::vector<std::string>{"From: a friend"});
  }

  TSweepFolder Folder{Scratch / L"sweep"};
  TInstallChoices Choices;
  std::map<std::wstring, std::string> Earlier, Newer;
  TValues EarlierValues;
};

// Each change fails once with one of the three errors in turn, and, in a run of its own,
// the process ends there.
TEST_F(UpdateFaultTest, EveryChangeFailingOrStoppingLeavesOneWholeInstallation) {
  int changes = 0;
  {
    TQuietUser user;
    TSweepPoint counter(0, 0, false);
    ASSERT_EQ(InstallClient(Choices), TExitCode::Done);
    changes = counter.Count;
    ASSERT_EQ(InstalledVersion(), 2);
  }
  ASSERT_GT(changes, 30);
  // How the stopped runs left the files: the sweep must meet each of these.
  std::map<int, int> stoppedAt;
  const std::pair<const char*, DWORD> errors[] = {{"disk full", ERROR_DISK_FULL},
                                                  {"sharing violation", ERROR_SHARING_VIOLATION},
                                                  {"access denied", ERROR_ACCESS_DENIED}};
  for (int at = 1; at <= changes; ++at) {
    for (const bool stop : {false, true}) {
      const auto& [name, error] = errors[at % 3];
      ASSERT_NO_FATAL_FAILURE(PutBackEarlier());
      TQuietUser user;
      TExitCode code;
      std::wstring hit;
      {
        TSweepPoint point(at, error, stop);
        code = InstallClient(Choices);
        hit = point.Hit;
      }
      const std::string context = std::string(stop ? "process ended" : name) + " at change " +
                                  std::to_string(at) + ": " + Narrow(hit);
      // A run that says it failed left the earlier installation; one that stopped may have
      // left either, for the next run to settle.
      if (!stop) EXPECT_EQ(InstalledVersion(), code == TExitCode::Done ? 2 : 1) << context;
      if (stop) ++stoppedAt[InstalledVersion()];
      EXPECT_TRUE(RecoverInterruptedUpdate(Destination)) << context;
      ExpectSound(context);
      EXPECT_EQ(UpdateLeftovers(), 0) << context;
      EXPECT_EQ(InstallClient(Choices), TExitCode::Done) << context;
      EXPECT_EQ(InstalledVersion(), 2) << context;
      if (HasFailure()) return;
    }
  }
  // Old, half-way (old and new files side by side) and new all occurred.
  EXPECT_GT(stoppedAt[1], 0);
  EXPECT_GT(stoppedAt[0], 0);
  EXPECT_GT(stoppedAt[2], 0);
  std::printf("%d changes; stopped runs left %d old, %d half-way, %d new\n", changes, stoppedAt[1],
              stoppedAt[0], stoppedAt[2]);
}

// The uninstaller, too, finishes or undoes an update that a crash left before it removes
// anything: afterwards nothing of the update is left, its note in the registry included.
TEST_F(UpdateFaultTest, TheUninstallerPutsRightAnInterruptedUpdateFirst) {
  {
    TQuietUser user;
    TSweepPoint stop(30, ERROR_ACCESS_DENIED, true);
    EXPECT_EQ(InstallClient(Choices), TExitCode::StepFailed);
  }
  ASSERT_GT(UpdateLeftovers(), 0);
  ASSERT_TRUE(RegistryKeyExists(L"Software\\Tarnwhistle Setup"));
  TQuietUser user;
  std::wstring removedHome;
  EXPECT_EQ(RunQuietRemoval({.ClientOnly = true}, removedHome), TExitCode::Done);
  EXPECT_FALSE(RegistryKeyExists(L"Software\\Tarnwhistle Setup"));
  EXPECT_FALSE(RegistryKeyExists(tw::ProductKey));
  // The database stays, with the journal its writes keep beside it.
  std::vector<std::wstring> left;
  ListFiles(&left, Destination + L"\\*", faAnyFile);
  EXPECT_EQ(left, (std::vector<std::wstring>{Installed(L"TW.dbc"), Installed(L"TW.dbc-journal")}));
  EXPECT_EQ(EntryLines(Installed(L"TW.dbc"), kMailPath), std::vector<std::string>{"From: a friend"});
}

}  // namespace
