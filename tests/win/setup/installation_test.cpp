// The installation both faces of setup run: the Apps & features entry, the running-client
// check before anything is copied, the default destination for a user who cannot write
// Program Files, and the destination an unattended install takes.
#include <windows.h>

#include <gtest/gtest.h>

#include "SetupFixture.h"
#include "base/Handles.h"
#include "base/Text.h"
#include "setup/Installation.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/SysUtils.h"
#include "tests/win/support/UiScript.h"

namespace {

class InstallationTest : public SetupTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(MakeKit(WindowsDirectory() + L"\\notepad.exe"));
    Choices.AppDir = Destination;
    Choices.SourceDir = Kit;
    Choices.VersionText = L"0.9b2";
    Choices.Config = {L"me@example.com", L"mail.example.com"};
    Choices.SettingsDatabase = Scratch / L"absent.dbc";
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
