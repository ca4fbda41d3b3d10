// The uninstall wizard under Wine: what creation finds in the test prefix's registry and
// folders, the rules that tie the two boxes together, the pages, the close question, whole
// runs through Finish with the notice, the keyboard and the names on every page, and the
// layout at every DPI and text size.
#include <gtest/gtest.h>

#include "UninstallFixture.h"
#include "base/Text.h"
#include "tests/win/support/KeyboardAndText.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/Screenshot.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/RemovalSteps.h"
#include "uninstall/UninstDirDlgs.h"
#include "uninstall/UninstDlg.h"

namespace {

using Lines = std::vector<std::wstring>;

// Where the two homes lie in a scratch folder.
enum class Layout { Separate, MixInsideClient, SameHome, ClientInsideMix, Siblings };

struct Homes {
  std::wstring Client;
  std::wstring Mix;
};

Homes MakeHomes(const ScratchFolder& scratch, Layout layout) {
  Homes homes;
  switch (layout) {
    case Layout::Separate: homes = {scratch / L"TW", scratch / L"Mix"}; break;
    case Layout::MixInsideClient: homes = {scratch / L"TW", scratch / L"TW\\Mix"}; break;
    case Layout::SameHome: homes = {scratch / L"TW", scratch / L"TW"}; break;
    case Layout::ClientInsideMix: homes = {scratch / L"Mix\\TW", scratch / L"Mix"}; break;
    case Layout::Siblings: homes = {scratch / L"mix", scratch / L"mixer"}; break;
  }
  CreateDirectoryW(ExtractFilePath(homes.Client).c_str(), nullptr);
  CreateDirectoryW(homes.Client.c_str(), nullptr);
  CreateDirectoryW(homes.Mix.c_str(), nullptr);
  CreateDirectoryW(homes.Client.c_str(), nullptr);
  return homes;
}

struct BoxState {
  bool Checked;
  bool Enabled;
  bool operator==(const BoxState& other) const {
    return Checked == other.Checked && Enabled == other.Enabled;
  }
};

BoxState StateOf(const TCheckBox& box) { return {box.Checked(), box.Enabled()}; }

std::ostream& operator<<(std::ostream& out, const BoxState& state) {
  return out << (state.Checked ? "checked" : "unchecked") << "/" << (state.Enabled ? "enabled" : "disabled");
}

constexpr BoxState kCheckedEnabled{true, true}, kCheckedDisabled{true, false},
    kUncheckedDisabled{false, false}, kUncheckedEnabled{false, true};

class UninstallWizard : public InstallRecordsTest {};

}  // namespace

TEST_F(UninstallWizard, CreationOutcomeCaseByCase) {
  const struct {
    const char* Name;
    bool Client, Mix, Marker;
    Layout Homes;
    BoxState App, MixBox;
    bool NextEnabled, ClientFirst;
  } cases[] = {
      {"Mixmaster not installed", true, false, false, Layout::Separate, kCheckedEnabled, kUncheckedDisabled, true, true},
      {"both, separate homes", true, true, false, Layout::Separate, kCheckedEnabled, kCheckedEnabled, true, true},
      {"mix and mixer are siblings", true, true, false, Layout::Siblings, kCheckedEnabled, kCheckedEnabled, true, true},
      {"Mixmaster inside the client", true, true, false, Layout::MixInsideClient, kCheckedEnabled, kCheckedDisabled, true, true},
      {"one home", true, true, false, Layout::SameHome, kCheckedEnabled, kCheckedDisabled, true, true},
      {"client inside Mixmaster", true, true, false, Layout::ClientInsideMix, kCheckedEnabled, kCheckedEnabled, true, false},
      {"client not installed", false, true, false, Layout::Separate, kUncheckedDisabled, kCheckedEnabled, true, false},
      {"marker, separate homes", true, true, true, Layout::Separate, kUncheckedDisabled, kCheckedEnabled, true, false},
      {"marker, client inside Mixmaster", true, true, true, Layout::ClientInsideMix, kCheckedDisabled, kCheckedEnabled, true, false},
      {"marker, Mixmaster not installed", true, false, true, Layout::Separate, kUncheckedDisabled, kUncheckedDisabled, false, false},
  };
  for (const auto& c : cases) {
    SetUp();
    ScratchFolder scratch(L"outcome");
    const Homes homes = MakeHomes(scratch, c.Homes);
    if (c.Client) WriteClientRecord(homes.Client.c_str(), L"Tarnwhistle", L"0.9b2");
    if (c.Mix) WriteMixRecord(homes.Mix.c_str());
    if (c.Marker) WriteTextFile(homes.Client + L"\\untw.dsk", "");
    TUninstWiz wizard(nullptr);
    EXPECT_EQ(wizard.ClientInstalled, c.Client) << c.Name;
    EXPECT_EQ(wizard.MixInstalled, c.Mix) << c.Name;
    EXPECT_EQ(StateOf(wizard.AppEntries), c.App) << c.Name;
    EXPECT_EQ(StateOf(wizard.MixEntries), c.MixBox) << c.Name;
    EXPECT_EQ(wizard.NextBtn.Enabled(), c.NextEnabled) << c.Name;
    EXPECT_EQ(wizard.ClientFirst, c.ClientFirst) << c.Name;
    EXPECT_EQ(wizard.Notebook.PageIndex(), TUninstWiz::StartPageIndex) << c.Name;
  }
}

TEST_F(UninstallWizard, NothingInstalledShowsTheStartPageMessageAndClosesWithoutAQuestion) {
  UiScript script;
  script.OnModal([](TForm& form) {
    auto& wizard = static_cast<TUninstWiz&>(form);
    EXPECT_FALSE(wizard.NextBtn.Enabled());
    EXPECT_FALSE(wizard.BackBtn.Enabled());
    EXPECT_FALSE(wizard.Label24.Enabled());
    EXPECT_EQ(wizard.RichEdit7.Lines(),
              (Lines{L"Neither Tarnwhistle nor Mixmaster are installed on this machine!",
                     L"Nothing to un-install!"}));
    EXPECT_EQ(wizard.Appname.Text(), L"AppName && Version");
    After(form, 100, [&form] {
      SaveScreenshot(form.Handle(), L"uninstall-nothing-installed");
      Press(form, L"CancelBtn");
    });
  });
  TUninstWiz wizard(nullptr);
  EXPECT_EQ(wizard.ShowModal(), mrCancel);
  EXPECT_TRUE(script.Boxes().empty());
}

TEST_F(UninstallWizard, CaptionsShowTheHomesInLowerCaseWithTheirOwnBlanks) {
  ScratchFolder scratch(L"captions");
  // An ampersand in a folder's name shows as it is, not as an accelerator.
  const std::wstring client = scratch / L"Mail & News\\TW";
  CreateDirectoryW((scratch / L"Mail & News").c_str(), nullptr);
  CreateDirectoryW(client.c_str(), nullptr);
  WriteClientRecord(client.c_str(), L"Tarnwhistle", L".9b2");
  WriteMixRecord(L"C:\\MIXMASTER\\");
  {
    TUninstWiz wizard(nullptr);
    EXPECT_EQ(wizard.AppEntries.ShownText(), L"Tarnwhistle  { " + LocaleLower(client) + L" }");
    EXPECT_EQ(wizard.MixEntries.ShownText(), L"Mixmaster    { c:\\mixmaster }");
    EXPECT_EQ(wizard.Appname.Text(), L"Tarnwhistle .9b2");
    EXPECT_EQ(wizard.Label25.Text(), L"Un-Install Tarnwhistle");
    EXPECT_EQ(wizard.ClientHomeDir, client + L"\\");
    EXPECT_EQ(wizard.MixHomeDir, L"C:\\MIXMASTER\\");
    EXPECT_EQ(wizard.ProgramGroupName, L"Tarnwhistle");
  }
  SetUp();
  WriteMixRecord(L"D:\\Mix");
  {
    TUninstWiz wizard(nullptr);
    EXPECT_EQ(wizard.AppEntries.ShownText(), L"Tarnwhistle  { not installed }");
    EXPECT_EQ(StateOf(wizard.AppEntries), kUncheckedDisabled);
    EXPECT_EQ(StateOf(wizard.MixEntries), kCheckedEnabled);
  }
  SetUp();
  WriteClientRecord(nullptr);
  {
    TUninstWiz wizard(nullptr);
    EXPECT_EQ(wizard.AppEntries.ShownText(), L"Tarnwhistle  {  }");
    EXPECT_EQ(wizard.MixEntries.ShownText(), L"Mixmaster    { not installed }");
  }
}

TEST_F(UninstallWizard, TheBoxesCascadeWhenOneHomeHoldsTheOther) {
  ScratchFolder scratch(L"cascade");
  {
    const Homes homes = MakeHomes(scratch, Layout::SameHome);
    WriteClientRecord(homes.Client.c_str());
    WriteMixRecord(homes.Mix.c_str());
    for (bool clientFirst : {true, false}) {
      TUninstWiz wizard(nullptr);
      wizard.AppEntries.Click();  // unchecked: Mixmaster's box comes free
      EXPECT_EQ(StateOf(wizard.MixEntries), kCheckedEnabled);
      wizard.MixEntries.Click();  // unchecked: the client's box comes free
      EXPECT_EQ(StateOf(wizard.AppEntries), kUncheckedEnabled);
      EXPECT_FALSE(wizard.NextBtn.Enabled());
      (clientFirst ? wizard.AppEntries : wizard.MixEntries).Click();
      EXPECT_EQ(StateOf(wizard.AppEntries), kCheckedDisabled) << clientFirst;
      EXPECT_EQ(StateOf(wizard.MixEntries), kCheckedDisabled) << clientFirst;
      EXPECT_TRUE(wizard.NextBtn.Enabled());
    }
  }
  SetUp();
  {
    ScratchFolder inside(L"cascade-inside");
    const Homes homes = MakeHomes(inside, Layout::MixInsideClient);
    WriteClientRecord(homes.Client.c_str());
    WriteMixRecord(homes.Mix.c_str());
    TUninstWiz wizard(nullptr);
    wizard.AppEntries.Click();
    EXPECT_EQ(StateOf(wizard.MixEntries), kCheckedEnabled);
    wizard.MixEntries.Click();
    EXPECT_EQ(StateOf(wizard.AppEntries), kUncheckedEnabled);  // the client's box was never tied
    wizard.AppEntries.Click();
    EXPECT_EQ(StateOf(wizard.MixEntries), kCheckedDisabled);
  }
  SetUp();
  {
    ScratchFolder reverse(L"cascade-reverse");
    const Homes homes = MakeHomes(reverse, Layout::ClientInsideMix);
    WriteClientRecord(homes.Client.c_str());
    WriteMixRecord(homes.Mix.c_str());
    WriteTextFile(homes.Client + L"\\untw.dsk", "");
    TUninstWiz wizard(nullptr);
    EXPECT_EQ(StateOf(wizard.AppEntries), kCheckedDisabled);
    wizard.MixEntries.Click();  // frees the box that the marker had disabled
    EXPECT_EQ(StateOf(wizard.AppEntries), kCheckedEnabled);
    wizard.AppEntries.Click();
    EXPECT_EQ(StateOf(wizard.MixEntries), kUncheckedEnabled);  // Mixmaster's box is not tied to it
    EXPECT_FALSE(wizard.NextBtn.Enabled());
    wizard.MixEntries.Click();
    EXPECT_EQ(StateOf(wizard.AppEntries), kCheckedDisabled);
  }
  SetUp();
  {
    ScratchFolder marker(L"cascade-marker");
    const Homes homes = MakeHomes(marker, Layout::Separate);
    WriteClientRecord(homes.Client.c_str());
    WriteMixRecord(homes.Mix.c_str());
    WriteTextFile(homes.Client + L"\\UNTW.DSK", "");
    TUninstWiz wizard(nullptr);
    EXPECT_EQ(StateOf(wizard.AppEntries), kUncheckedDisabled);
    wizard.MixEntries.Click();
    EXPECT_FALSE(wizard.NextBtn.Enabled());
    EXPECT_EQ(StateOf(wizard.AppEntries), kUncheckedDisabled);
  }
}

TEST_F(UninstallWizard, TheReviewFollowsTheBoxesAndEveryPageButStartAsksBeforeClosing) {
  ScratchFolder scratch(L"review");
  const Homes homes = MakeHomes(scratch, Layout::Separate);
  WriteClientRecord(homes.Client.c_str(), L"Tarnwhistle", L".9b2");
  WriteMixRecord(homes.Mix.c_str());
  UiScript script;
  std::vector<Lines> reviews;
  std::vector<int> pagesAsked;
  script.OnModal([&](TForm& form) {
    auto& wizard = static_cast<TUninstWiz&>(form);
    After(form, 100, [&] {
      SaveScreenshot(form.Handle(), L"uninstall-1-start");
      wizard.CancelBtn.Click();  // Start: closes without a question, unless refused below
    });
  });
  TUninstWiz wizard(nullptr);
  // Start closes at once.
  EXPECT_EQ(wizard.ShowModal(), mrCancel);
  EXPECT_TRUE(script.Boxes().empty());

  script.OnModal([&](TForm& form) {
    auto& w = static_cast<TUninstWiz&>(form);
    After(form, 100, [&] {
      Press(form, L"NextBtn");
      EXPECT_EQ(w.Notebook.PageIndex(), TUninstWiz::OptionsPageIndex);
      EXPECT_TRUE(w.BackBtn.Enabled());
      EXPECT_EQ(w.NextBtn.ShownText(), L"Next");
      SaveScreenshot(form.Handle(), L"uninstall-2-options");
      Press(form, L"CancelBtn");  // asked when the loop takes the close: answered No
      After(form, 200, [&] {
        pagesAsked.push_back(w.Notebook.PageIndex());
        Press(form, L"NextBtn");
        EXPECT_EQ(w.NextBtn.ShownText(), L"Finish");
        reviews.push_back(w.Memo1.Lines());
        SaveScreenshot(form.Handle(), L"uninstall-3-review");
        Press(form, L"BackBtn");
        EXPECT_EQ(w.NextBtn.ShownText(), L"Next");
        w.MixEntries.Click();
        Press(form, L"NextBtn");
        reviews.push_back(w.Memo1.Lines());
        Press(form, L"BackBtn");
        w.AppEntries.Click();
        w.MixEntries.Click();
        Press(form, L"NextBtn");
        reviews.push_back(w.Memo1.Lines());
        Press(form, L"BackBtn");
        Press(form, L"BackBtn");
        EXPECT_FALSE(w.BackBtn.Enabled());
        Press(form, L"NextBtn");
        Press(form, L"NextBtn");
        Press(form, L"CancelBtn");  // Review: answered No
        After(form, 200, [&] {
          pagesAsked.push_back(w.Notebook.PageIndex());
          SendMessageW(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);  // answered Yes
        });
      });
    });
  });
  script.Answer(IDNO).Answer(IDNO).Answer(IDYES);
  EXPECT_EQ(wizard.ShowModal(), mrCancel);
  EXPECT_EQ(reviews, (std::vector<Lines>{{L"Tarnwhistle = YES", L"Mixmaster = YES"},
                                         {L"Tarnwhistle = YES", L"Mixmaster = NO"},
                                         {L"Tarnwhistle = NO", L"Mixmaster = YES"}}));
  EXPECT_EQ(pagesAsked, (std::vector<int>{TUninstWiz::OptionsPageIndex, TUninstWiz::ReviewPageIndex}));
  ASSERT_EQ(script.Boxes().size(), 3u);
  for (const BoxRecord& box : script.Boxes()) {
    EXPECT_EQ(box.Text, L"Quit without removing Tarnwhistle?");
    EXPECT_EQ(box.Caption, L"Tarnwhistle");
    EXPECT_EQ(box.Flags & 0xF, static_cast<UINT>(MB_YESNO));
  }
}

TEST_F(UninstallWizard, DecliningOrCancellingBeforeTheRunChangesNothing) {
  ScratchFolder scratch(L"decline");
  const Homes homes = MakeHomes(scratch, Layout::Separate);
  MakeTree(homes.Client, {L"TW.exe"});
  MakeTree(homes.Mix, {L"mix.exe"});
  WriteClientRecord(homes.Client.c_str());
  WriteMixRecord(homes.Mix.c_str());
  UiScript script;
  script.OnModal([&](TForm& form) {
    auto& w = static_cast<TUninstWiz&>(form);
    After(form, 100, [&] {
      Press(form, L"NextBtn");
      Press(form, L"NextBtn");
      Press(form, L"NextBtn");  // Finish: Cancel at "Uninstall now?"
      EXPECT_EQ(w.Notebook.PageIndex(), TUninstWiz::ReviewPageIndex);
      Press(form, L"NextBtn");  // OK, then the countdown is cancelled
      EXPECT_EQ(w.Notebook.PageIndex(), TUninstWiz::ReviewPageIndex);
      EXPECT_EQ(w.CancelBtn.ShownText(), L"Cancel");
      EXPECT_TRUE(w.NextBtn.Enabled());
      EXPECT_TRUE(w.RichEdit2.Lines().empty());
      w.SetModalResult(mrAbort);
    });
  });
  script.Answer(IDCANCEL).Answer(IDOK);
  script.OnModal([](TForm& wait) { After(wait, 1500, [&wait] { Press(wait, L"CancelBtn"); }); });
  script.Answer(IDYES);  // "Cancel process?"
  script.Answer(IDYES);  // the close question for mrAbort
  TUninstWiz wizard(nullptr);
  wizard.ShowModal();
  ASSERT_GE(script.Boxes().size(), 3u);
  EXPECT_EQ(script.Boxes()[0].Text, L"Uninstall now?");
  EXPECT_EQ(script.Boxes()[0].Caption, L"Tarnwhistle");
  EXPECT_EQ(script.Boxes()[0].Flags & 0xF, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_EQ(script.Boxes()[2].Text, L"Cancel process?");
  ASSERT_EQ(script.ModalCaptions().size(), 2u);
  EXPECT_EQ(script.ModalCaptions()[1], L"Tarnwhistle");
  EXPECT_TRUE(ClientRecordExists());
  EXPECT_TRUE(MixRecordExists());
  EXPECT_TRUE(Exists(homes.Client + L"\\TW.exe"));
  EXPECT_TRUE(Exists(homes.Mix + L"\\mix.exe"));
}

TEST_F(UninstallWizard, AWholeRunRemovesBothAndEndsWithTheNotice) {
  ScratchFolder scratch(L"wholerun");
  const std::wstring group = L"TwWizardRunGroup";
  const std::wstring groupFolder = ProgramsFolder() + L"\\" + group;
  ASSERT_TRUE(CreateGroupThroughTheShell(group));
  WriteTextFile(groupFolder + L"\\notes.txt", "only the shell removes this folder");

  const std::wstring client = scratch / L"Tarnwhistle Mail";
  const std::wstring mix = client + L"\\Mix";
  MakeTree(client, {L"TW.exe", L"TW.DBC", L"tw.pgp", L"tw.pgp.bak", L"tw.ini", L"tw.dpc", L"Docs\\",
                    L"Docs\\a.txt"});
  MakeTree(mix, {L"mix.exe", L"pool\\", L"pool\\m1"});
  WriteClientRecord(client.c_str(), group.c_str(), L".9b2");
  WriteMixRecord(mix.c_str());

  UiScript script;
  ULONGLONG runTime = 0;
  std::wstring noticeButton, noticeHome;
  Lines logAtNotice;
  script.OnModal([&](TForm& form) {
    auto& w = static_cast<TUninstWiz&>(form);
    EXPECT_EQ(StateOf(w.MixEntries), kCheckedDisabled);
    After(form, 100, [&] {
      Press(form, L"NextBtn");
      Press(form, L"NextBtn");
      EXPECT_TRUE(WaitForProgramManager());
      const ULONGLONG start = GetTickCount64();
      Press(form, L"NextBtn");  // Finish, OK, the countdown, the run, the notice
      runTime = GetTickCount64() - start;
      EXPECT_EQ(w.CancelBtn.ShownText(), L"Exit");
      EXPECT_TRUE(w.CancelBtn.Enabled());
      EXPECT_FALSE(w.NextBtn.Enabled());
      EXPECT_FALSE(w.BackBtn.Enabled());
      EXPECT_EQ(w.Label4.Text(), L"Un-Installation complete!");
      EXPECT_EQ(w.Label6.Text(), L"Thanks!");
      SaveScreenshot(form.Handle(), L"uninstall-4-finish");
      Press(form, L"CancelBtn");  // Exit: no question
    });
  });
  script.Answer(IDOK);
  script.OnModal();  // the countdown runs out
  script.OnModal([&](TForm& form) {
    auto& notice = static_cast<TUninstDirDlg&>(form);
    noticeButton = notice.OpenDirBtn.ShownText();
    noticeHome = notice.HomeDir;
    logAtNotice = static_cast<TUninstWiz*>(notice.Owner())->RichEdit2.Lines();
    After(form, 200, [&form] {
      SaveScreenshot(form.Handle(), L"uninstall-5-notice");
      Press(form, L"OkBtn");
    });
  });
  TUninstWiz wizard(nullptr);
  EXPECT_EQ(wizard.ShowModal(), mrCancel);

  EXPECT_EQ(script.ModalCaptions(),
            (Lines{L"Un-Install Wizard", L"Tarnwhistle", L"Tarnwhistle Uninstall"}));
  ASSERT_EQ(script.Boxes().size(), 1u);  // "Uninstall now?" only
  EXPECT_EQ(logAtNotice,
            (Lines{L"Removing Tarnwhistle...", L"   program group...done", L"   program files...done",
                   L"   registry key...done", L"Removing Mixmaster...", L"   program files...done",
                   L"   registry key...done", L"Done!"}));
  EXPECT_EQ(noticeButton, L"Open : " + LocaleLower(client) + L"\\");
  EXPECT_EQ(noticeHome, client + L"\\");
  EXPECT_GE(runTime, 4000u + 2100u);  // the countdown, then seven paced steps
  EXPECT_EQ(TreeOf(client), (Lines{L"docs\\", L"docs\\a.txt", L"tw.dbc", L"tw.pgp", L"tw.pgp.bak"}));
  EXPECT_FALSE(ClientRecordExists());
  EXPECT_FALSE(MixRecordExists());
  for (int i = 0; i < 40 && Exists(groupFolder); ++i) PumpMessagesFor(50);
  EXPECT_FALSE(Exists(groupFolder));
}

TEST_F(UninstallWizard, RemovingOnlyMixmasterShowsNoNotice) {
  ScratchFolder scratch(L"mixonly");
  const std::wstring mix = scratch / L"Mix";
  MakeTree(mix, {L"mix.exe", L"pool\\", L"pool\\m1"});
  WriteMixRecord(mix.c_str());
  UiScript script;
  Lines log;
  RemoveThroughTheWizard(script, [&](TUninstWiz& wizard) { log = wizard.RichEdit2.Lines(); });
  EXPECT_EQ(log, (Lines{L"Removing Mixmaster...", L"   program files...done", L"   registry key...done",
                        L"Done!"}));
  EXPECT_EQ(script.ModalCaptions().size(), 2u);  // the wizard and the countdown, no notice
  EXPECT_EQ(script.Boxes().size(), 1u);
  EXPECT_FALSE(Exists(mix));
  EXPECT_FALSE(MixRecordExists());
}

TEST_F(UninstallWizard, OneHomeForBothKeepsTheClientsDatabaseThroughMixmastersStep) {
  ScratchFolder scratch(L"onehome");
  const Homes homes = MakeHomes(scratch, Layout::SameHome);
  MakeTree(homes.Client, {L"TW.exe", L"TW.DBC", L"tw.pgp", L"tw.pgp.bak", L"mix.exe", L"pool\\",
                          L"pool\\m1"});
  WriteClientRecord(homes.Client.c_str());
  WriteMixRecord((homes.Mix + L"\\").c_str());
  TUninstWiz wizard(nullptr);
  const TRemovalPlan plan = wizard.Plan();
  EXPECT_TRUE(plan.RemoveClient && plan.RemoveMixmaster && plan.ClientFirst);
  RecordingLog log;
  EXPECT_TRUE(RemoveProducts(plan, log).ClientRemoved);
  EXPECT_EQ(TreeOf(homes.Client), (Lines{L"tw.dbc", L"tw.pgp", L"tw.pgp.bak"}));
  EXPECT_EQ(log.Lines.size(), 7u);
}

namespace {

using Names = std::vector<std::wstring>;

}  // namespace

TEST_F(UninstallWizard, EveryPageStartsTheKeyboardWhereItsWorkIsAndTheFinishPageLetsItGo) {
  ScratchFolder scratch(L"keyboard");
  const std::wstring mix = scratch / L"Mix";
  MakeTree(mix, {L"mix.exe"});
  WriteMixRecord(mix.c_str());
  UiScript script;
  script.OnModal([&](TForm& form) {
    auto& w = static_cast<TUninstWiz&>(form);
    After(form, 100, [&] {
      EXPECT_EQ(TabOrder(w), (Names{L"NextBtn", L"CancelBtn", L"RichEdit7"}));
      ExpectAccelerators(w, "Start");
      PressKey(VK_RETURN);
      // Options: on the first box that can be changed; Enter goes on, not back.
      ASSERT_EQ(w.Notebook.PageIndex(), TUninstWiz::OptionsPageIndex);
      EXPECT_EQ(TabOrder(w), (Names{L"MixEntries", L"RichEdit3", L"BackBtn", L"NextBtn", L"CancelBtn"}));
      ExpectNamed(w.RichEdit3.Handle(), L"What is removed:");
      EXPECT_EQ(w.AccessibleName(), L"Select Items For Removal - Un-Install Wizard");
      ExpectAccelerators(w, "Options");
      PressKey(VK_RETURN);
      ASSERT_EQ(w.Notebook.PageIndex(), TUninstWiz::ReviewPageIndex);
      EXPECT_EQ(TabOrder(w), (Names{L"NextBtn", L"CancelBtn", L"RichEdit1", L"Memo1", L"BackBtn"}));
      ExpectNamed(w.Memo1.Handle(), L"Check Configuration");
      ExpectAccelerators(w, "Review");
      PressKey(VK_RETURN);  // Finish, OK, the countdown, the run
      // Finish: on Exit; the log is named for what it is and lets Tab and Esc go.
      ASSERT_EQ(w.CancelBtn.ShownText(), L"Exit");
      EXPECT_EQ(TabOrder(w), (Names{L"CancelBtn", L"RichEdit2"}));
      EXPECT_EQ(LOWORD(SendMessageW(w.Handle(), DM_GETDEFID, 0, 0)), w.CancelBtn.Id());
      ExpectNamed(w.RichEdit2.Handle(), L"Removal log:");
      EXPECT_EQ(w.AccessibleName(), L"Un-Installation complete! - Un-Install Wizard");
      ExpectAccelerators(w, "Finish");
      w.RichEdit2.SetFocus();
      PressKey(VK_TAB);
      EXPECT_TRUE(w.CancelBtn.Focused());
      w.RichEdit2.SetFocus();
      PressKey(VK_ESCAPE);
    });
  });
  script.Answer(IDOK);
  script.OnModal();
  TUninstWiz wizard(nullptr);
  EXPECT_EQ(wizard.ShowModal(), mrCancel);
  EXPECT_FALSE(MixRecordExists());
  EXPECT_EQ(script.Boxes().size(), 1u) << "Esc on the Finish page asks nothing";
}

TEST_F(UninstallWizard, EveryTextFitsAtEveryDpiAndTextSize) {
  ScratchFolder scratch(L"layout");
  // Long homes, and their captions with them.
  const std::wstring client = scratch / L"A folder with a rather long name for the mail client";
  const std::wstring mix = scratch / L"And one with a rather long name for the remailer, too";
  MakeTree(client, {L"TW.exe"});
  MakeTree(mix, {L"mix.exe"});
  WriteClientRecord(client.c_str(), L"Tarnwhistle", L".9b2");
  WriteMixRecord(mix.c_str());
  OnEveryDisplay([&](const TDisplay& display) {
    UiScript script;
    script.OnModal([&](TForm& form) {
      auto& w = static_cast<TUninstWiz&>(form);
      After(form, 100, [&] {
        ExpectLayoutHolds(w, display, L"uninstall", &w.Notebook);
        Press(w, L"CancelBtn");
      });
    });
    TUninstWiz wizard(nullptr);
    wizard.ShowModal();
  });
}
