// What an uninstall says: the notice claims success only when everything went (the Finish
// page's list of what stayed is checked end to end, scenario own_letters); /client and
// /mixmaster preset the wizard's boxes.
#include <gtest/gtest.h>

#include "UninstallFixture.h"
#include "shell/Constants.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/UninstDirDlgs.h"
#include "uninstall/UninstDlg.h"

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
