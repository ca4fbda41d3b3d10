// Homes compared as folders, not as text: the client's database survives every layout of
// the two homes and every spelling of them, the guard judges the folder a home resolves
// to, and a record that cannot be read still counts as installed.
#include <gtest/gtest.h>

#include "UninstallFixture.h"
#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/HomeRule.h"
#include "shell/SysUtils.h"
#include "tests/win/support/KeyAccess.h"
#include "tests/win/support/PathSpellings.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/Products.h"
#include "uninstall/RemovalSteps.h"
#include "uninstall/UninstDlg.h"

namespace {

using Tree = std::vector<std::wstring>;

// The client's files as setup and the client leave them, the database with its journal.
const Tree kClientDatabase = {L"tw.dbc", L"tw.dbc-journal", L"tw.pgp", L"tw.pgp.bak"};

Tree Under(const std::wstring& folder, const Tree& names) {
  Tree paths;
  for (const auto& name : names) paths.push_back(folder + name);
  return paths;
}

Tree Joined(Tree a, const Tree& b) {
  a.insert(a.end(), b.begin(), b.end());
  std::sort(a.begin(), a.end());
  return a;
}

Tree ClientHomeEntries() { return {L"TW.exe", L"TW.DBC", L"TW.dbc-journal", L"tw.pgp", L"tw.pgp.bak", L"ReadMe.txt"}; }

}  // namespace

TEST(MixFiles, TheClientsHomeInThePoolStaysWholeWithItsDatabase) {
  const struct {
    const char* Name;
    std::wstring ClientHome;  // relative to Mixmaster's home
    Tree Extra;               // more of Mixmaster's folders and files, the folders first
    Tree After;
  } cases[] = {
      {"the client's home is the pool", L"pool", {L"pool\\m1", L"pool\\deep\\", L"pool\\deep\\m2"},
       Joined({L"pool\\", L"pool\\deep\\", L"pool\\deep\\m2", L"pool\\m1", L"pool\\readme.txt", L"pool\\tw.exe"},
              Under(L"pool\\", kClientDatabase))},
      {"the client's home in the pool", L"pool\\TW", {L"pool\\m1", L"pool\\other\\", L"pool\\other\\m2"},
       Joined({L"pool\\", L"pool\\tw\\", L"pool\\tw\\readme.txt", L"pool\\tw\\tw.exe"},
              Under(L"pool\\tw\\", kClientDatabase))},
      {"the client's home deep in the pool", L"pool\\a\\b\\TW", {L"pool\\a\\", L"pool\\a\\b\\", L"pool\\a\\m1", L"pool\\a\\c\\", L"pool\\a\\c\\m2"},
       Joined({L"pool\\", L"pool\\a\\", L"pool\\a\\b\\", L"pool\\a\\b\\tw\\", L"pool\\a\\b\\tw\\readme.txt",
               L"pool\\a\\b\\tw\\tw.exe"},
              Under(L"pool\\a\\b\\tw\\", kClientDatabase))},
  };
  for (const auto& c : cases) {
    ScratchFolder scratch(L"clientinpool");
    const std::wstring mix = scratch / L"Mix";
    const std::wstring client = mix + L"\\" + c.ClientHome;
    MakeTree(mix, {L"mix.exe", L"pool\\"});
    MakeTree(mix, c.Extra);
    MakeTree(client, ClientHomeEntries());
    // The client's home as the registry may spell it.
    for (const std::wstring& clientHome : {client + L"\\", L"\\\\?\\" + client}) {
      const std::vector<std::wstring> left = DeleteMixFiles(JudgeMixHome(mix + L"\\"), clientHome);
      EXPECT_EQ(TreeOf(mix), c.After) << c.Name << " " << Narrow(clientHome);
      EXPECT_TRUE(left.empty()) << c.Name << " " << Narrow(left[0]);
    }
  }
}

TEST(MixFiles, AHomeSharedUnderAnotherSpellingKeepsTheClientsDatabase) {
  ScratchFolder scratch(L"sharedspelled");
  const std::wstring home = scratch / L"Home";
  MakeTree(home, {L"sub\\"});
  for (const std::wstring& clientHome : OtherSpellings(home, L"sub")) {
    MakeTree(home, Joined(ClientHomeEntries(), {L"mix.exe", L"pool\\", L"pool\\m1"}));
    DeleteMixFiles(JudgeMixHome(home + L"\\"), clientHome);
    EXPECT_EQ(TreeOf(home), Joined({L"sub\\"}, kClientDatabase)) << Narrow(clientHome);
    for (const auto& entry : kClientDatabase) DeleteFileW((home + L"\\" + entry).c_str());
  }
}

// The build makes poollink/mix/pool, a symbolic link to poollink/outside, on the Linux side.
TEST(LinkedHomes, AHomeThatIsALinkIsNeverEmptiedThroughIt) {
  const std::wstring fixture = UnixToWine(TW_BINARY_DIR "/poollink");
  const std::wstring link = fixture + L"\\mix\\pool";
  if (!Exists(link + L"\\keep.txt")) GTEST_SKIP() << "the link fixture was not made (run through CTest)";
  for (const std::wstring& home : {link, link + L"\\", L"\\\\?\\" + link}) {
    const TProductHome client = JudgeClientHome(home), mix = JudgeMixHome(home);
    EXPECT_EQ(client.LeftAlone, L"cannot be a program's home") << Narrow(home);
    EXPECT_EQ(mix.LeftAlone, L"cannot be a program's home") << Narrow(home);
    DeleteClientFiles(client);
    DeleteMixFiles(mix, L"");
    EXPECT_TRUE(Exists(fixture + L"\\outside\\keep.txt"));
    EXPECT_TRUE(Exists(fixture + L"\\outside\\sub\\keep.txt"));
  }
  // The folder behind the link is a home like any other, when named as itself.
  EXPECT_TRUE(JudgeHome(fixture + L"\\outside").Fits());
}

TEST(UnsafeHomes, TheGuardJudgesTheFolderAHomeResolvesTo) {
  const std::wstring windows = WindowsDirectory();
  const std::wstring drive = windows.substr(0, 2);
  wchar_t profile[MAX_PATH] = {}, appData[MAX_PATH] = {}, local[MAX_PATH] = {},
          programData[MAX_PATH] = {}, common[MAX_PATH] = {};
  GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
  GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
  GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH);
  GetEnvironmentVariableW(L"CommonProgramFiles", common, MAX_PATH);
  const std::wstring profiles = ExtractFilePath(std::wstring(profile));
  ScratchFolder scratch(L"unsaferesolved");
  std::vector<std::wstring> unsafe = {
      L"\\\\?\\" + windows + L"\\Fonts\\",
      L"\\\\.\\" + windows + L"\\system32",
      L"\\\\?\\" + drive + L"\\",
      L"\\\\localhost\\" + drive.substr(0, 1) + L"$\\" + windows.substr(3) + L"\\Temp",
      L"\\\\?\\UNC\\localhost\\" + drive.substr(0, 1) + L"$\\" + windows.substr(3),
      windows + L"\\no such folder\\deeper",
      scratch.Path() + L"\\..\\..\\..\\..\\..\\..\\..\\..",
      profiles,
      profiles + L"Public",
      profiles + L"Someone Else",
      std::wstring(profile) + L"\\Desktop\\..",
      appData,
      local,
      ExtractFilePath(std::wstring(appData)),
      programData,
      common,
      L"\\\\?\\" + std::wstring(profile) + L"\\Documents",
  };
  for (const std::wstring& spelling : OtherSpellings(windows, L"Fonts")) unsafe.push_back(spelling);
  for (const std::wstring& spelling : OtherSpellings(profile, L"Desktop")) unsafe.push_back(spelling);
  for (const auto& home : unsafe) EXPECT_FALSE(JudgeHome(home).Fits()) << Narrow(home);
  const std::wstring safe[] = {
      std::wstring(local) + L"\\Tarnwhistle",
      std::wstring(profile) + L"\\Tarnwhistle",
      std::wstring(profile) + L"\\Documents\\Mail",
      scratch.Path(),
      L"\\\\?\\" + scratch.Path(),
  };
  for (const auto& home : safe) EXPECT_TRUE(JudgeHome(home).Fits()) << Narrow(home);
}

class GuardRun : public InstallRecordsTest {};

TEST_F(GuardRun, ASubfolderOfWindowsIsNeverEmptiedThroughAPrefix) {
  const std::wstring folder = WindowsDirectory() + L"\\twguardtest";
  MakeTree(folder, {L"canary.txt"});
  for (const std::wstring& home : {L"\\\\?\\" + folder + L"\\", L"\\\\.\\" + folder}) {
    WriteClientRecord(home.c_str());
    TRemovalPlan plan;
    plan.RemoveClient = plan.RemoveMixmaster = true;
    plan.ClientHomeDir = plan.MixHomeDir = home;
    RecordingLog log;
    RemoveProducts(plan, log);
    EXPECT_TRUE(Exists(folder + L"\\canary.txt")) << Narrow(home);
    ASSERT_GE(log.Lines.size(), 3u);
    EXPECT_EQ(log.Lines[2], L"   program files...left alone (" + home + L" cannot be a program's home)");
  }
  DeleteFileW((folder + L"\\canary.txt").c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST(HomeRelations, OneFolderUnderTwoSpellingsIsOneHome) {
  ScratchFolder scratch(L"relations");
  const std::wstring mix = scratch / L"Mix";
  const std::wstring client = mix + L"\\pool\\TW";
  MakeTree(mix, {L"pool\\", L"pool\\TW\\"});
  const std::wstring mixPath = ComparisonPath(true, mix);
  for (const std::wstring& spelling : OtherSpellings(mix, L"pool")) {
    const THomeRelation same = RelateHomes(ComparisonPath(true, spelling), mixPath);
    EXPECT_TRUE(same.SameHome && !same.ClientInsideMix && !same.MixInsideClient) << Narrow(spelling);
    const std::wstring clientSpelled = AddBackslash(spelling) + L"pool\\TW";
    const THomeRelation inside = RelateHomes(ComparisonPath(true, clientSpelled), mixPath);
    EXPECT_TRUE(inside.ClientInsideMix && !inside.SameHome && !inside.MixInsideClient) << Narrow(spelling);
    const THomeRelation outside = RelateHomes(mixPath, ComparisonPath(true, clientSpelled));
    EXPECT_TRUE(outside.MixInsideClient && !outside.SameHome) << Narrow(spelling);
  }
  EXPECT_EQ(ComparisonPath(true, client + L"\\missing"), L"");
  EXPECT_EQ(ComparisonPath(false, client), L"");
  EXPECT_EQ(ComparisonPath(true, L""), L"");
}

class UnreadableRecords : public InstallRecordsTest {
 protected:
  void TearDown() override {
    AllowEverything(tw::ProductKey);
    AllowEverything(tw::MixmasterKey);
    InstallRecordsTest::TearDown();
  }
};

TEST_F(UnreadableRecords, AKeyThatCannotBeReadCountsAsInstalledWithEmptyFields) {
  ScratchFolder scratch(L"unreadable");
  WriteClientRecord(scratch.Path().c_str(), L"Tarnwhistle", L"0.9b2");
  WriteMixRecord(scratch.Path().c_str());
  ASSERT_TRUE(DenyReading(tw::ProductKey)) << "the registry ignores the key's permissions";
  TInstalledProducts products = ReadInstalledProducts();
  EXPECT_TRUE(products.ClientInstalled);
  EXPECT_EQ(products.ClientHomeDir, L"");
  EXPECT_EQ(products.ProgramGroupName, L"");
  EXPECT_EQ(products.ClientVersion, L"");
  EXPECT_TRUE(products.MixInstalled);
  EXPECT_EQ(products.MixHomeDir, scratch.Path() + L"\\");
  {
    TUninstWiz wizard(nullptr);
    EXPECT_TRUE(wizard.ClientInstalled);
    EXPECT_EQ(wizard.AppEntries.ShownText(), L"Tarnwhistle  {  }");
    EXPECT_EQ(wizard.Appname.Text(), L"Tarnwhistle ");
    EXPECT_TRUE(wizard.NextBtn.Enabled());
  }
  AllowEverything(tw::ProductKey);
  ASSERT_TRUE(DenyReading(tw::MixmasterKey));
  products = ReadInstalledProducts();
  EXPECT_TRUE(products.MixInstalled);
  EXPECT_EQ(products.MixHomeDir, L"");
  EXPECT_EQ(products.ClientHomeDir, scratch.Path() + L"\\");
}

class WizardHomes : public InstallRecordsTest {};

TEST_F(WizardHomes, TheClientsHomeInThePoolKeepsItsDatabaseThroughTheWholeRun) {
  ScratchFolder scratch(L"wizardpool");
  const std::wstring mix = scratch / L"Mix";
  const std::wstring client = mix + L"\\pool\\TW";
  MakeTree(mix, {L"mix.exe", L"pool\\", L"pool\\m1", L"pool\\deep\\", L"pool\\deep\\m2"});
  MakeTree(client, ClientHomeEntries());
  WriteClientRecord(client.c_str());
  WriteMixRecord(mix.c_str());
  TUninstWiz wizard(nullptr);
  const TRemovalPlan plan = wizard.Plan();
  ASSERT_TRUE(plan.RemoveClient && plan.RemoveMixmaster);
  EXPECT_FALSE(plan.ClientFirst);  // Mixmaster's step runs first, over the client's home
  RecordingLog log;
  EXPECT_TRUE(RemoveProducts(plan, log).ClientRemoved);
  EXPECT_EQ(TreeOf(client), Joined({}, kClientDatabase));
  EXPECT_EQ(TreeOf(mix), Joined({L"pool\\", L"pool\\tw\\"}, Under(L"pool\\tw\\", kClientDatabase)));
  EXPECT_EQ(log.Lines, (Tree{L"Removing Mixmaster...", L"   program files...done", L"   registry key...done",
                             L"Removing Tarnwhistle...", L"   program group...done", L"   program files...done",
                             L"   registry key...done"}));
}

TEST_F(WizardHomes, OneHomeUnderTwoSpellingsTiesTheBoxesAndKeepsTheDatabase) {
  ScratchFolder scratch(L"wizardspelled");
  const std::wstring home = scratch / L"Home";
  MakeTree(home, {L"sub\\"});
  for (const std::wstring& appDir : OtherSpellings(home, L"sub")) {
    SetUp();
    MakeTree(home, Joined(ClientHomeEntries(), {L"mix.exe", L"pool\\", L"pool\\m1"}));
    WriteClientRecord(appDir.c_str());
    WriteMixRecord(home.c_str());
    TUninstWiz wizard(nullptr);
    EXPECT_TRUE(wizard.MixEntries.Checked()) << Narrow(appDir);
    EXPECT_FALSE(wizard.MixEntries.Enabled()) << Narrow(appDir);
    wizard.AppEntries.Click();  // unchecked: Mixmaster's box comes free
    EXPECT_TRUE(wizard.MixEntries.Enabled()) << Narrow(appDir);
    wizard.MixEntries.Click();  // unchecked: nothing is chosen
    wizard.MixEntries.Click();  // checked again: the client's box is tied to it
    EXPECT_TRUE(wizard.AppEntries.Checked() && !wizard.AppEntries.Enabled()) << Narrow(appDir);
    const TRemovalPlan plan = wizard.Plan();
    EXPECT_TRUE(plan.RemoveClient && plan.RemoveMixmaster && plan.ClientFirst) << Narrow(appDir);
    RecordingLog log;
    RemoveProducts(plan, log);
    EXPECT_EQ(TreeOf(home), Joined({L"sub\\"}, kClientDatabase)) << Narrow(appDir);
    for (const auto& entry : kClientDatabase) DeleteFileW((home + L"\\" + entry).c_str());
  }
}
