// The removal steps without a window: the file steps on real folders, the registry keys of
// the test prefix, and the program group through Wine's own PROGMAN service.
#include <gtest/gtest.h>

#include "UninstallFixture.h"
#include "base/Text.h"
#include "shell/HomeRule.h"
#include "shell/SysUtils.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/RemovalSteps.h"

namespace {

using Tree = std::vector<std::wstring>;

void MakeReadOnly(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

// The shell runs commands in its own time: waits up to five seconds for `path` to be
// gone.
bool WaitUntilGone(const std::wstring& path) {
  for (int i = 0; i < 100; ++i) {
    if (!Exists(path)) return true;
    PumpMessagesFor(50);
  }
  return !Exists(path);
}

}  // namespace

TEST(ClientFiles, EverythingGoesButTheDatabaseSubfoldersAndTheHome) {
  struct Case {
    const char* Name;
    Tree Entries;
    Tree ReadOnly;
    Tree After;
  };
  const Case cases[] = {
      {"database kept in any case",
       {L"TW.DBC", L"tw.pgp", L"Tw.Pgp.Bak", L"tw.dbc-JOURNAL", L"tw.ini", L"tw.dpc", L"TW.exe",
        L"sub\\", L"sub\\a.txt"},
       {},
       {L"sub\\", L"sub\\a.txt", L"tw.dbc", L"tw.dbc-journal", L"tw.pgp", L"tw.pgp.bak"}},
      {"a file that resists is named",
       {L"tw.dbc", L"locked.dll", L"readme.txt"},
       {L"locked.dll"},
       {L"locked.dll", L"tw.dbc"}},
      {"near names of the database go",
       {L"UninstTW.exe", L"tw.dbc.old", L"xtw.dbc", L"tw.pgp.bak.1"}, {}, {}},
  };
  for (const Case& c : cases) {
    ScratchFolder scratch(L"clientfiles");
    const std::wstring home = scratch / L"Tarnwhistle";
    MakeTree(home, c.Entries);
    for (const auto& name : c.ReadOnly) MakeReadOnly(home + L"\\" + name);
    const TProductHome judged = JudgeClientHome(home + L"\\");
    EXPECT_EQ(judged.LeftAlone, L"") << c.Name;
    const std::vector<std::wstring> left = DeleteClientFiles(judged);
    EXPECT_TRUE(Exists(home)) << c.Name;
    EXPECT_EQ(TreeOf(home), c.After) << c.Name;
    ASSERT_EQ(left.size(), c.ReadOnly.size()) << c.Name;
    if (!left.empty()) {
      EXPECT_EQ(LocaleLower(ExtractFileName(left[0])), c.ReadOnly[0]);
    }
  }
}

// Files go only from a folder that holds the product: a record that names a folder of the
// user's files deletes nothing there, and says why.
TEST(ClientFiles, AHomeWithoutAnInstallationIsLeftAlone) {
  ScratchFolder scratch(L"letters");
  const std::wstring letters = scratch / L"Letters";
  const Tree files = {L"letter.doc", L"notes.txt", L"photo.jpg", L"taxes.xls"};
  MakeTree(letters, files);
  for (const TProductHome& home : {JudgeClientHome(letters), JudgeMixHome(letters)}) {
    EXPECT_TRUE(home.LeftAlone.rfind(L"holds no ", 0) == 0) << Narrow(home.LeftAlone);
    EXPECT_TRUE(DeleteClientFiles(home).empty());
    EXPECT_TRUE(DeleteMixFiles(home, L"").empty());
    EXPECT_EQ(TreeOf(letters), files);
  }
  // The client's database alone makes an installation of the client, not of Mixmaster.
  MakeTree(letters, {L"TW.dbc"});
  EXPECT_EQ(JudgeClientHome(letters).LeftAlone, L"");
  EXPECT_EQ(JudgeMixHome(letters).LeftAlone, L"holds no Mixmaster installation");
}

TEST(ClientFiles, AMissingOrEmptyHomeTouchesNothing) {
  ScratchFolder scratch(L"clientmissing");
  for (const std::wstring& directory : {scratch / L"gone\\", std::wstring()}) {
    const TProductHome home = JudgeClientHome(directory);
    EXPECT_EQ(home.Folder, L"");
    EXPECT_EQ(home.LeftAlone, L"");
    EXPECT_TRUE(DeleteClientFiles(home).empty());
  }
}

TEST(MixFiles, PoolAndHomeGoOnlyWhenNothingElseStays) {
  struct Case {
    const char* Name;
    Tree Entries;
    Tree ReadOnly;
    bool HomeGone;
    Tree After;
    size_t LeftBehind;
  };
  const Case cases[] = {
      {"files and pool", {L"mix.exe", L"mix.cfg", L"pool\\", L"pool\\m1", L"pool\\deep\\", L"pool\\deep\\m2"},
       {}, true, {}, 0},
      {"pool in capitals", {L"mix.exe", L"POOL\\", L"POOL\\m1"}, {}, true, {}, 0},
      {"no pool at all", {L"mix.exe", L"pubring.mix"}, {}, true, {}, 0},
      {"another sub-folder stays", {L"mix.exe", L"pool\\", L"pool\\m1", L"keys\\", L"keys\\k"}, {},
       false, {L"keys\\", L"keys\\k"}, 0},
      {"a file that resists keeps the home", {L"mix.exe", L"locked", L"pool\\", L"pool\\m1"}, {L"locked"},
       false, {L"locked"}, 1},
      {"a file in pool keeps pool and home", {L"mix.exe", L"pool\\", L"pool\\m1", L"pool\\locked"},
       {L"pool\\locked"}, false, {L"pool\\", L"pool\\locked"}, 1},
      {"the client's database stays, in the home and in the pool",
       {L"mix.exe", L"TW.dbc", L"tw.PGP", L"tw.pgp.bak", L"tw.ini", L"pool\\", L"pool\\m1",
        L"pool\\TW.dbc-journal"},
       {}, false, {L"pool\\", L"pool\\tw.dbc-journal", L"tw.dbc", L"tw.pgp", L"tw.pgp.bak"}, 0},
  };
  for (const Case& c : cases) {
    ScratchFolder scratch(L"mixfiles");
    const std::wstring home = scratch / L"Mix";
    MakeTree(home, c.Entries);
    for (const auto& name : c.ReadOnly) MakeReadOnly(home + L"\\" + name);
    const std::vector<std::wstring> left = DeleteMixFiles(JudgeMixHome(home + L"\\"), L"");
    EXPECT_EQ(!Exists(home), c.HomeGone) << c.Name;
    if (!c.HomeGone) EXPECT_EQ(TreeOf(home), c.After) << c.Name;
    EXPECT_EQ(left.size(), c.LeftBehind) << c.Name;
  }
}

TEST(UnsafeHomes, FoldersThatCannotBeAHomeAreNeverEmptied) {
  wchar_t buffer[MAX_PATH];
  GetSystemDirectoryW(buffer, MAX_PATH);
  const std::wstring system = buffer;
  const std::wstring windows = WindowsDirectory();
  wchar_t profile[MAX_PATH] = {};
  GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
  ScratchFolder scratch(L"unsafe");
  const struct {
    std::wstring Directory;
    bool Unsafe;
  } cases[] = {
      {L"C:\\", true},
      {L"c:", true},
      {L"Z:\\", true},
      {windows, true},
      {windows + L"\\", true},
      {LocaleLower(windows) + L"\\Fonts\\", true},
      {system, true},
      {L"C:\\Program Files\\", true},
      {L"C:\\Program Files\\..\\Program Files", true},
      {std::wstring(profile) + L"\\", true},
      {std::wstring(profile) + L"\\Desktop", true},
      {L"relative\\tw\\", true},
      {L".", true},
      {L"C:\\Program Files\\Tarnwhistle\\", false},
      {scratch.Path() + L"\\", false},
  };
  for (const auto& c : cases) EXPECT_EQ(!JudgeHome(c.Directory).Fits(), c.Unsafe) << Narrow(c.Directory);
}

TEST(PlainGroupNames, OnlyOnePlainFolderNameGoesIntoTheCommand) {
  const struct {
    const wchar_t* Name;
    bool Plain;
  } cases[] = {
      {L"Tarnwhistle", true},
      {L"Tarnwhistle 0.9 Mail & News", true},
      {L"", false},
      {L"x)][DeleteGroup(Accessories", false},
      {L"[x]", false},
      {L"Tarn(whistle)", false},
      {L"\"Tarnwhistle\"", false},
      {L"a,b", false},
      {L"..\\..\\Desktop", false},
      {L"..", false},
      {L".", false},
      {L"a/b", false},
      {L"C:Tarnwhistle", false},
      {L"Tarn*", false},
      {L"Tarn\twhistle", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsPlainGroupName(c.Name), c.Plain) << Narrow(c.Name);
}

class RemovalRun : public InstallRecordsTest {};

TEST_F(RemovalRun, LogsEveryStepInTheChosenOrderWithItsPacing) {
  const std::vector<std::wstring> client = {L"Removing Tarnwhistle...", L"   program group...done",
                                            L"   program files...done", L"   registry key...done"};
  const std::vector<std::wstring> mix = {L"Removing Mixmaster...", L"   program files...done",
                                         L"   registry key...done"};
  auto join = [](std::vector<std::wstring> a, const std::vector<std::wstring>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    const char* Name;
    bool Client, Mix, ClientFirst;
    std::vector<std::wstring> Lines;
  } cases[] = {
      {"both, client first", true, true, true, join(client, mix)},
      {"both, Mixmaster first", true, true, false, join(mix, client)},
      {"client only", true, false, true, client},
      {"Mixmaster only", false, true, false, mix},
      {"Mixmaster only, client first", false, true, true, mix},
  };
  for (const auto& c : cases) {
    ScratchFolder scratch(L"run");
    const std::wstring clientHome = scratch / L"tw\\", mixHome = scratch / L"mix\\";
    MakeTree(clientHome, {L"TW.exe", L"tw.dbc"});
    MakeTree(mixHome, {L"mix.exe", L"pool\\"});
    WriteClientRecord(clientHome.c_str());
    WriteMixRecord(mixHome.c_str());
    TRemovalPlan plan;
    plan.RemoveClient = c.Client;
    plan.RemoveMixmaster = c.Mix;
    plan.ClientFirst = c.ClientFirst;
    plan.ClientHomeDir = clientHome;
    plan.MixHomeDir = mixHome;
    RecordingLog log;
    EXPECT_EQ(RemoveProducts(plan, log).ClientRemoved, c.Client) << c.Name;
    EXPECT_EQ(log.Lines, c.Lines) << c.Name;
    EXPECT_EQ(ClientRecordExists(), !c.Client) << c.Name;
    EXPECT_EQ(MixRecordExists(), !c.Mix) << c.Name;
    EXPECT_EQ(Exists(clientHome + L"TW.exe"), !c.Client) << c.Name;
    EXPECT_TRUE(Exists(clientHome + L"tw.dbc")) << c.Name;
    EXPECT_EQ(Exists(mixHome), !c.Mix) << c.Name;
    // A product's first line pauses before anything is drawn; every step line is drawn,
    // then paced.
    ASSERT_GE(log.Events.size(), 3u);
    EXPECT_EQ(log.Events[1], L"pause:300") << c.Name;
    EXPECT_EQ(std::count(log.Events.begin(), log.Events.end(), L"pause:300"),
              static_cast<long>(c.Lines.size()))
        << c.Name;
  }
}

// Nothing is deleted where a home cannot be, and the records stay, so that the user can
// run the removal again; the run lists what stayed.
TEST_F(RemovalRun, HomesThatCannotBeAHomeAreLeftAloneAndTheRecordsStay) {
  const std::wstring driveRoot = L"C:\\";
  const std::wstring windows = AddBackslash(WindowsDirectory());
  for (const std::wstring& home : {driveRoot, windows}) {
    const std::wstring canary = home + L"twcanary.txt";
    ASSERT_TRUE(WriteTextFile(canary, "keep"));
    WriteClientRecord(home.c_str());
    WriteMixRecord(home.c_str());
    TRemovalPlan plan;
    plan.RemoveClient = plan.RemoveMixmaster = true;
    plan.ClientHomeDir = plan.MixHomeDir = home;
    RecordingLog log;
    const TRemovalOutcome outcome = RemoveProducts(plan, log);
    EXPECT_TRUE(Exists(canary)) << Narrow(home);
    EXPECT_TRUE(Exists(windows + L"win.ini"));
    const std::wstring leftAlone = L"   program files...left alone (" + home + L" cannot be a program's home)";
    const std::wstring kept = L"   registry key...kept while the program files stay";
    EXPECT_EQ(log.Lines, (std::vector<std::wstring>{L"Removing Tarnwhistle...", L"   program group...done",
                                                   leftAlone, kept, L"Removing Mixmaster...",
                                                   leftAlone, kept}));
    EXPECT_TRUE(ClientRecordExists());
    EXPECT_TRUE(MixRecordExists());
    EXPECT_FALSE(outcome.ClientRemoved);
    ASSERT_EQ(outcome.Stayed.size(), 5u);
    EXPECT_EQ(outcome.Stayed[0], home + L" (cannot be a program's home)");
    EXPECT_EQ(outcome.Stayed[1], L"HKEY_CURRENT_USER\\Software\\Tarnwhistle (kept while the program files stay)");
    DeleteFileW(canary.c_str());
  }
}

TEST_F(RemovalRun, FilesThatResistAreListedAndKeepTheRecord) {
  ScratchFolder scratch(L"leftbehind");
  const std::wstring home = scratch / L"mix\\";
  MakeTree(home, {L"mix.exe", L"a.dll", L"b.dll", L"c.txt", L"pool\\"});
  MakeReadOnly(home + L"a.dll");
  MakeReadOnly(home + L"b.dll");
  WriteMixRecord(home.c_str());
  TRemovalPlan plan;
  plan.RemoveMixmaster = true;
  plan.MixHomeDir = home;
  RecordingLog log;
  const TRemovalOutcome outcome = RemoveProducts(plan, log);
  EXPECT_EQ(log.Lines, (std::vector<std::wstring>{L"Removing Mixmaster...",
                                                 L"   program files...some could not be removed",
                                                 L"   registry key...kept while the program files stay"}));
  EXPECT_EQ(outcome.Stayed, (std::vector<std::wstring>{
                                home + L"a.dll", home + L"b.dll",
                                L"HKEY_CURRENT_USER\\Software\\Mixmaster (kept while the program files stay)"}));
  EXPECT_TRUE(MixRecordExists());
  EXPECT_FALSE(Exists(home + L"c.txt"));
}

class ProgramGroup : public InstallRecordsTest {
 protected:
  void SetUp() override {
    InstallRecordsTest::SetUp();
    Programs_ = ProgramsFolder();
    ASSERT_FALSE(Programs_.empty()) << "the prefix records no Programs folder";
  }
  std::wstring Programs_;
};

TEST_F(ProgramGroup, WinesShellRemovesTheGroupOnTheWizardsCommand) {
  const std::wstring group = L"TwUninstallGroup";
  const std::wstring folder = Programs_ + L"\\" + group;
  ASSERT_TRUE(CreateGroupThroughTheShell(group)) << "PROGMAN made no group folder";
  // A file that is no shortcut: only the shell's own command can take this folder away.
  ASSERT_TRUE(WriteTextFile(folder + L"\\notes.txt", "x"));
  UiScript script;
  ScratchFolder home(L"grouphome");
  TRemovalPlan plan;
  plan.ProgramGroupName = group;
  plan.ClientHomeDir = home.Path() + L"\\";
  RecordingLog log;
  ASSERT_TRUE(WaitForProgramManager());
  RemoveProgramGroup(plan, log);
  EXPECT_TRUE(WaitUntilGone(folder)) << "the group folder is still there";
  EXPECT_EQ(log.Lines, std::vector<std::wstring>{L"   program group...done"});
  EXPECT_TRUE(script.Boxes().empty());
}

TEST_F(ProgramGroup, AnUnreachableServiceIsReportedAndLogsNothing) {
  UiScript script;
  script.Answer(IDOK);
  TRemovalPlan plan;
  plan.ProgramGroupName = L"Tarnwhistle";
  plan.GroupService = L"TwNoSuchDdeService";
  RecordingLog log;
  RemoveProgramGroup(plan, log);
  EXPECT_TRUE(log.Lines.empty());
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Text, L"Unable to remove Tarnwhistle program group!");
  EXPECT_EQ(script.Boxes()[0].Caption, L"Error");
  EXPECT_EQ(script.Boxes()[0].Flags & 0xF, static_cast<UINT>(MB_OK));
}

TEST_F(ProgramGroup, ANameThatIsNoPlainFolderIsNeverSent) {
  const std::wstring victim = Programs_ + L"\\TwVictimGroup";
  CreateDirectoryW(victim.c_str(), nullptr);
  ASSERT_TRUE(Exists(victim));
  for (const wchar_t* name : {L"x)][DeleteGroup(TwVictimGroup", L"..\\Programs\\TwVictimGroup"}) {
    UiScript script;
    script.Answer(IDOK);
    TRemovalPlan plan;
    plan.ProgramGroupName = name;
    RecordingLog log;
    RemoveProgramGroup(plan, log);
    PumpMessagesFor(500);
    EXPECT_TRUE(Exists(victim)) << Narrow(name);
    EXPECT_TRUE(log.Lines.empty());
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].Text, L"Unable to remove Tarnwhistle program group!");
  }
  RemoveDirectoryW(victim.c_str());
}

TEST(LeftoverGroupFolder, GoesOnlyWhenItHoldsNothingButTheClientsShortcuts) {
  ScratchFolder scratch(L"leftover");
  const std::wstring programs = scratch / L"Programs";
  const std::wstring home = scratch / L"Tarnwhistle";
  const std::wstring elsewhere = scratch / L"Other";
  MakeTree(home, {L"TW.exe", L"ReadMe.txt"});
  MakeTree(elsewhere, {L"other.exe"});
  const struct {
    const char* Name;
    std::vector<std::wstring> LinkTargets;
    bool ForeignFile;
    bool Removed;
  } cases[] = {
      {"the client's shortcuts", {home + L"\\TW.exe", home + L"\\ReadMe.txt"}, false, true},
      {"a shortcut elsewhere", {home + L"\\TW.exe", elsewhere + L"\\other.exe"}, false, false},
      {"a file beside the shortcuts", {home + L"\\TW.exe"}, true, false},
      {"an empty folder", {}, false, true},
  };
  for (const auto& c : cases) {
    const std::wstring folder = programs + L"\\Tarnwhistle";
    MakeTree(programs, {L"Tarnwhistle\\"});
    int n = 0;
    for (const auto& target : c.LinkTargets)
      ASSERT_GE(CreateShortcut(target, folder + L"\\link" + std::to_wstring(n++) + L".lnk", target,
                               L"", L""),
                0);
    if (c.ForeignFile) WriteTextFile(folder + L"\\notes.txt", "x");
    EXPECT_EQ(RemoveLeftoverGroupFolder(programs, L"Tarnwhistle", home + L"\\"), c.Removed) << c.Name;
    EXPECT_EQ(Exists(folder), !c.Removed) << c.Name;
    if (!c.Removed) EXPECT_TRUE(Exists(folder + L"\\link0.lnk")) << c.Name;
    DeleteTree(folder);
  }
  EXPECT_FALSE(RemoveLeftoverGroupFolder(programs, L"..", home));
}

// The build makes poollink/mix/pool, a symbolic link to poollink/outside, from the Linux
// side before this suite runs. Windows removes such a link as itself; Wine lists it as a
// folder that is a reparse point but will not remove it. Either way nothing behind it goes.
TEST(MixFiles, APoolThatIsALinkIsNeverFollowed) {
  const std::wstring fixture = UnixToWine(TW_BINARY_DIR "/poollink");
  const std::wstring home = fixture + L"\\mix\\";
  if (!Exists(home + L"mix.exe")) GTEST_SKIP() << "the link fixture was not made (run through CTest)";
  ASSERT_TRUE(GetFileAttributesW((home + L"pool").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  const std::vector<std::wstring> left = DeleteMixFiles(JudgeMixHome(home), L"");
  EXPECT_TRUE(Exists(fixture + L"\\outside\\keep.txt"));
  EXPECT_TRUE(Exists(fixture + L"\\outside\\sub\\keep.txt"));
  EXPECT_FALSE(Exists(home + L"mix.exe"));
  const bool linkGone = !Exists(home + L"pool");
  EXPECT_EQ(!Exists(home), linkGone);
  EXPECT_EQ(left.size(), linkGone ? 0u : 1u);
}
