// An uninstall says what it could not do: a record that names a folder of the user's files
// deletes nothing there, keeps the record and the Apps & features entry, lists what stayed
// on the Finish page and is a failed run; the notice claims success only when everything
// went; /client and /mixmaster preset the wizard's boxes.
#include <gtest/gtest.h>

#include "UninstallFixture.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/UninstDirDlgs.h"
#include "uninstall/UninstDlg.h"

namespace {

using Lines = std::vector<std::wstring>;

const Lines kLetters = {L"letter.doc", L"notes.txt", L"photo.jpg", L"taxes.xls"};

class Reporting : public InstallRecordsTest {
 protected:
  void SetUp() override {
    InstallRecordsTest::SetUp();
    MakeTree(Letters, kLetters);
    WriteClientRecord(Letters.c_str());
    TRegistryKey::Create(tw::UninstallEntryKey).WriteString(L"DisplayName", tw::ProductName);
  }
  void TearDown() override {
    DeleteRegistryTree(tw::UninstallEntryKey);
    InstallRecordsTest::TearDown();
  }
  ScratchFolder Scratch{L"reporting"};
  const std::wstring Letters = Scratch / L"Letters";
};

}  // namespace

TEST_F(Reporting, TheWizardListsWhatStayedAndShowsNoNotice) {
  UiScript script;
  Lines log;
  std::wstring title, subtitle;
  TExitCode outcome = TExitCode::Done;
  bool clientRemoved = true;
  RemoveThroughTheWizard(script, [&](TUninstWiz& wizard) {
    log = wizard.RichEdit2.Lines();
    title = wizard.Label4.Text();
    subtitle = wizard.Label6.Text();
    outcome = wizard.Outcome;
    clientRemoved = wizard.ClientRemoved;
  });
  EXPECT_EQ(script.ModalCaptions().size(), 2u) << "the wizard and the countdown, no notice";
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(Lines(log.end() - 4, log.end()),
            (Lines{L"Some items could not be removed:", L"   " + Letters + L"\\ (holds no Tarnwhistle installation)",
                   L"   HKEY_CURRENT_USER\\Software\\Tarnwhistle (kept while the program files stay)",
                   L"   HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwhistle "
                   L"(kept while the program files stay)"}));
  EXPECT_EQ(title, L"Un-Installation incomplete");
  EXPECT_EQ(subtitle, L"Some items could not be removed.");
  EXPECT_EQ(outcome, TExitCode::StepFailed);
  EXPECT_FALSE(clientRemoved);
  EXPECT_EQ(TreeOf(Letters), kLetters);
  EXPECT_TRUE(ClientRecordExists());
}

TEST(CleanupNoticeText, SaysSuccessOnlyWhenEverythingWent) {
  for (const bool complete : {true, false}) {
    UiScript script;
    std::wstring text;
    script.OnModal([&](TForm& form) {
      text = static_cast<TUninstDirDlg&>(form).Label1.Text();
      After(form, 50, [&form] { SendMessageW(form.Handle(), WM_CLOSE, 0, 0); });
    });
    ShowCleanupNotice(L"C:\\Tarnwhistle\\", nullptr, complete);
    EXPECT_EQ(text.find(L"successfully") != std::wstring::npos, complete) << Narrow(text);
    EXPECT_NE(text.find(L"manually delete the TW database"), std::wstring::npos);
  }
}

class Presets : public InstallRecordsTest {};

TEST_F(Presets, OneProductWithWhatTheRulesTieToIt) {
  ScratchFolder scratch(L"presets");
  const std::wstring client = scratch / L"TW", inside = client + L"\\Mix", apart = scratch / L"Mix";
  MakeTree(client, {L"Mix\\"});
  MakeTree(apart, {});
  WriteClientRecord(client.c_str());
  WriteMixRecord(apart.c_str());
  {
    TUninstWiz wizard(nullptr);
    wizard.ChooseOnlyClient();
    EXPECT_TRUE(wizard.AppEntries.Checked());
    EXPECT_FALSE(wizard.MixEntries.Checked());
    EXPECT_TRUE(wizard.MixEntries.Enabled()) << "the user may tick it again";
  }
  {
    TUninstWiz wizard(nullptr);
    wizard.ChooseOnlyMixmaster();
    EXPECT_FALSE(wizard.AppEntries.Checked());
    EXPECT_TRUE(wizard.MixEntries.Checked());
    EXPECT_TRUE(wizard.NextBtn.Enabled());
  }
  WriteMixRecord(inside.c_str());
  TUninstWiz wizard(nullptr);
  wizard.ChooseOnlyClient();
  EXPECT_TRUE(wizard.AppEntries.Checked());
  EXPECT_TRUE(wizard.MixEntries.Checked() && !wizard.MixEntries.Enabled()) << "its home lies in the client's";
}
