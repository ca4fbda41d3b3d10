// The setup wizard as a user meets it, in-process under Wine: a first installation walked
// page by page, an update that opens on the review, the encrypted database, failures that
// leave the wizard on the review for another try, the close question on each page, the
// keyboard and the names on every page, the layout at every DPI and text size, and
// screenshots of the four pages (in high contrast too).
#include <gtest/gtest.h>

#include "SetupFixture.h"
#include "filestore/FileMan.h"
#include "setup/SetupDlg.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/SysUtils.h"
#include "shell/dialogs/DirBrow.h"
#include "tests/win/support/KeyboardAndText.h"
#include "tests/win/support/Screenshot.h"
#include "tests/win/support/UiScript.h"

namespace {

std::wstring CurrentFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

// A real program to stand in for the client: it stays open until it is ended.
std::wstring StandInClient() { return WindowsDirectory() + L"\\notepad.exe"; }

class SetupWizardTest : public SetupTest {
 protected:
  // Shows the wizard and lets `steps` act on it from its own message loop. A fatal failure
  // closes it from the Start page, where no question holds it open.
  void Drive(TSetupForm& wizard, UiScript& script, const std::function<void()>& steps) {
    script.OnModal([&](TForm&) {
      After(wizard, 100, [&] {
        steps();
        if (wizard.Modal() && HasFatalFailure()) {
          wizard.Notebook1.SetPageIndex(TSetupForm::StartPage);
          wizard.CancelBtn.SetText(L"Cancel");
          wizard.SetModalResult(mrCancel);
        }
      });
    });
    wizard.ShowModal();
  }

  // Presses Install, confirms, and lets the countdown run out.
  void Install(TSetupForm& wizard, UiScript& script) {
    ASSERT_EQ(wizard.NextBtn.ShownText(), L"Install");
    script.Answer(IDOK);
    script.OnModal();
    wizard.NextBtn.Click();
  }

  void RecordInstallation(const std::wstring& folder) {
    TRegistryKey key = TRegistryKey::Create(tw::ProductKey);
    ASSERT_TRUE(key.WriteString(L"AppDir", folder));
    ASSERT_TRUE(key.WriteString(L"Program Group", L"Tarnwhistle"));
    ASSERT_TRUE(key.WriteInteger(L"WindowState", 2));
    ASSERT_TRUE(key.WriteString(L"WindowPos", L"10,20,800,600"));
  }

  void SeedDatabase(const std::wstring& folder, std::initializer_list<std::string> message) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || Exists(folder));
    TStringList lines;
    for (const std::string& line : message) lines.Add(line);
    ASSERT_EQ(WriteEntryLines(tw::DefaultMessagePath, &lines, folder + L"\\TW.dbc"), 0);
  }
};

std::vector<std::wstring> Listing(const TSetupForm& wizard) { return wizard.RichEdit3.Lines(); }

// The cursor a window shows when the mouse moves over it: what it answers the system's
// WM_SETCURSOR, which is sent on every move.
HCURSOR CursorShownOver(HWND window) {
  SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  return GetCursor();
}

TEST_F(SetupWizardTest, FirstInstallationWalkedPageByPage) {
  ASSERT_NO_FATAL_FAILURE(MakeKit(StandInClient()));
  // A blank in the destination, and a program where an unquoted command line would look.
  const std::wstring destination = Scratch / L"Tarn whistle";
  ASSERT_TRUE(CopyFileW(StandInClient().c_str(), (Scratch / L"Tarn.exe").c_str(), FALSE));
  // Started anywhere: the kit is the installer's folder, not the current one.
  ASSERT_TRUE(SetCurrentDirectoryW(Scratch.Path().c_str()));
  UiScript script;
  TSetupForm wizard(nullptr, Kit);

  EXPECT_FALSE(wizard.PreviousInstall);
  EXPECT_EQ(wizard.SourceDir, Kit);
  EXPECT_EQ(wizard.Appname.Text(), L"Tarnwhistle 0.9b2");
  EXPECT_EQ(wizard.Copyright.Text().find(L'\n'), std::wstring::npos);
  EXPECT_NE(wizard.Copyright.Text().find(L",  "), std::wstring::npos);
  EXPECT_EQ(wizard.AppDIR.Text(), L"C:\\Program Files\\Tarnwhistle");
  EXPECT_TRUE(wizard.GroupBox.Checked());
  EXPECT_EQ(wizard.EAddr.Text(), L"");

  Drive(wizard, script, [&] {
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::StartPage);
    EXPECT_FALSE(wizard.BackBtn.Enabled());
    EXPECT_TRUE(wizard.NextBtn.Enabled());
    EXPECT_TRUE(wizard.AppDIR.Focused());
    EXPECT_EQ(wizard.CancelBtn.ShownText(), L"Cancel");
    SaveScreenshot(wizard.Handle(), L"setup-page-start");
    wizard.AppDIR.SetText(destination);

    wizard.NextBtn.Click();
    ASSERT_EQ(wizard.Notebook1.ActivePage().Caption(), L"Address");
    EXPECT_TRUE(wizard.BackBtn.Enabled());
    EXPECT_FALSE(wizard.NextBtn.Enabled());
    EXPECT_TRUE(wizard.EAddr.Focused());
    // Both fields are needed; a single blank counts as filled.
    struct Typing {
      const wchar_t* Address;
      const wchar_t* Host;
      bool NextEnabled;
    };
    for (const Typing& typing : {Typing{L"", L" ", false}, Typing{L" ", L" ", true},
                                 Typing{L" ", L"", false}, Typing{L"me@example.com", L"", false},
                                 Typing{L"me@example.com", L"mail.example.com", true}}) {
      wizard.EAddr.SetText(typing.Address);
      wizard.Host.SetText(typing.Host);
      EXPECT_EQ(wizard.NextBtn.Enabled(), typing.NextEnabled)
          << "\"" << Narrow(typing.Address) << "\" \"" << Narrow(typing.Host) << "\"";
    }
    SaveScreenshot(wizard.Handle(), L"setup-page-address");

    wizard.NextBtn.Click();
    ASSERT_EQ(wizard.Notebook1.ActivePage().Caption(), L"Review");
    EXPECT_EQ(wizard.NextBtn.ShownText(), L"Install");
    EXPECT_EQ(Listing(wizard),
              (std::vector<std::wstring>{L"Folder = " + destination, L"Address = me@example.com",
                                         L"MailHost = mail.example.com", L"ProgramGroup = yes"}));
    SaveScreenshot(wizard.Handle(), L"setup-page-review");

    // Back and forth: the listing follows the changes.
    wizard.BackBtn.Click();
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::AddressPage);
    EXPECT_TRUE(wizard.NextBtn.Enabled());
    EXPECT_EQ(wizard.NextBtn.ShownText(), L"Next");
    wizard.BackBtn.Click();
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::StartPage);
    EXPECT_FALSE(wizard.BackBtn.Enabled());
    EXPECT_TRUE(wizard.AppDIR.Focused());
    wizard.GroupBox.Click();
    wizard.NextBtn.Click();
    wizard.NextBtn.Click();
    EXPECT_EQ(Listing(wizard).back(), L"ProgramGroup = no");
    wizard.BackBtn.Click();
    wizard.BackBtn.Click();
    wizard.GroupBox.Click();
    wizard.NextBtn.Click();
    wizard.NextBtn.Click();
    EXPECT_EQ(Listing(wizard).back(), L"ProgramGroup = yes");

    // Cancel on the confirmation changes nothing.
    script.Answer(IDCANCEL);
    wizard.NextBtn.Click();
    EXPECT_EQ(script.Boxes().back().Caption, L"Tarnwhistle");
    EXPECT_EQ(script.Boxes().back().Text, L"Install now?");
    EXPECT_EQ(script.Boxes().back().Flags & MB_TYPEMASK, static_cast<UINT>(MB_OKCANCEL));
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);
    EXPECT_FALSE(Exists(destination));

    const ULONGLONG start = GetTickCount64();
    Install(wizard, script);
    EXPECT_GE(GetTickCount64() - start, 3000u);  // the countdown ran
    EXPECT_EQ(script.ModalCaptions().back(), L"Tarnwhistle");
    ASSERT_EQ(wizard.Notebook1.ActivePage().Caption(), L"Done");
    EXPECT_FALSE(wizard.BackBtn.Enabled());
    EXPECT_FALSE(wizard.NextBtn.Enabled());
    EXPECT_EQ(wizard.CancelBtn.ShownText(), L"Exit");
    EXPECT_TRUE(wizard.RunQuickBox.Checked());
    SaveScreenshot(wizard.Handle(), L"setup-page-done");
    // Exit asks nothing.
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
  EXPECT_EQ(script.Boxes().size(), 2u);

  // The kit arrived, the record is there, the database holds both entries, the group too.
  const std::wstring d = destination + L"\\";
  EXPECT_EQ(FileBytes(d + L"UninstTW.exe"), FileBytes(Kit + L"\\setup.exe"));
  EXPECT_EQ(FileBytes(d + L"TW.exe"), FileBytes(StandInClient()));
  EXPECT_EQ(TRegistryKey::Open(tw::ProductKey).ReadString(L"AppDir"), destination);
  EXPECT_EQ(TRegistryKey::Open(tw::ProductKey).ReadString(L"Version"), L"0.9b2");
  EXPECT_EQ(EntryLines(d + L"TW.dbc", tw::DefaultMessagePath).at(2), "From: me@example.com");
  EXPECT_EQ(EntryLines(d + L"TW.dbc", tw::DefaultArticlePath).at(1), "Host: mail.example.com");
  EXPECT_EQ(LocaleLower(ReadLink(ProgramGroupFolder() + L"\\Tarnwhistle.LNK").Target),
            LocaleLower(d + L"TW.exe"));
  EXPECT_EQ(EndStartedPrograms(L"explorer.exe"), 1);
  // The client started once, from the quoted path, in its own folder.
  EXPECT_EQ(EndStartedPrograms(L"TW.exe"), 1);
  EXPECT_EQ(EndStartedPrograms(L"Tarn.exe"), 0);
  EXPECT_EQ(LocaleLower(CurrentFolder()), LocaleLower(destination));
}

TEST_F(SetupWizardTest, UpdateOpensOnTheReviewWithTheStoredValues) {
  ASSERT_NO_FATAL_FAILURE(MakeKit(StandInClient()));
  ASSERT_TRUE(CreateDirectoryW((Scratch / L"dest").c_str(), nullptr));
  SeedDatabase(Destination, {"Fcc: outbox", "Host: smtp.example.net", "From: Old <old@example.net>",
                             "", "~~"});
  TStringList notes;
  notes.Add("keep me");
  ASSERT_EQ(WriteEntryLines("Notes", &notes, Destination + L"\\TW.dbc"), 0);
  RecordInstallation(Destination);
  UiScript script;
  TSetupForm wizard(nullptr, Kit);
  EXPECT_TRUE(wizard.PreviousInstall);
  EXPECT_EQ(wizard.AppDIR.Text(), Destination);
  EXPECT_EQ(wizard.EAddr.Text(), L"Old <old@example.net>");
  EXPECT_EQ(wizard.Host.Text(), L"smtp.example.net");

  // The hourglass shows over the whole wizard during every step, whatever the mouse does.
  std::vector<TInstallStep> steps;
  wizard.OnInstallStep = [&](TInstallStep step) {
    steps.push_back(step);
    for (const TControl* control : {static_cast<const TControl*>(&wizard.RichEdit3),
                                    static_cast<const TControl*>(&wizard.NextBtn)})
      EXPECT_EQ(CursorShownOver(control->Handle()), LoadCursorW(nullptr, IDC_WAIT))
          << "step " << static_cast<int>(step) << ", " << Narrow(control->Name());
  };

  Drive(wizard, script, [&] {
    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);
    EXPECT_TRUE(wizard.BackBtn.Enabled());
    EXPECT_EQ(Listing(wizard),
              (std::vector<std::wstring>{L"Folder = " + Destination,
                                         L"Address = Old <old@example.net>",
                                         L"MailHost = smtp.example.net", L"ProgramGroup = yes"}));
    // The focus is on Install, so Enter installs (after the question, answered No here).
    EXPECT_TRUE(wizard.NextBtn.Focused());
    EXPECT_EQ(LOWORD(SendMessageW(wizard.Handle(), DM_GETDEFID, 0, 0)), wizard.NextBtn.Id());
    script.Answer(IDCANCEL);
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
    PumpMessagesFor(300);
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes().back().Text, L"Install now?");
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);

    Install(wizard, script);
    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::DonePage);
    EXPECT_EQ(steps.size(), 4u);
    EXPECT_NE(CursorShownOver(wizard.RichEdit6.Handle()), LoadCursorW(nullptr, IDC_WAIT));
    // Without "Run Tarnwhistle" Exit starts nothing.
    wizard.RunQuickBox.Click();
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
  const TRegistryKey key = TRegistryKey::Open(tw::ProductKey);
  EXPECT_EQ(key.ReadInteger(L"WindowState"), 2u);
  EXPECT_EQ(key.ReadString(L"WindowPos"), L"10,20,800,600");
  EXPECT_EQ(key.ReadInteger(L"Update"), 1u);
  EXPECT_EQ(EntryLines(Destination + L"\\TW.dbc", "Notes"), notes.Lines);
  EXPECT_EQ(EntryLines(Destination + L"\\TW.dbc", tw::DefaultMessagePath).at(2),
            "From: Old <old@example.net>");
  EXPECT_TRUE(ReadLink(ProgramGroupFolder() + L"\\ReadMe.LNK").Loaded);
  EXPECT_EQ(EndStartedPrograms(L"explorer.exe"), 0);
  EXPECT_EQ(EndStartedPrograms(L"TW.exe"), 0);
}

TEST_F(SetupWizardTest, EncryptedDatabaseShowsTheNoticeAndInstallsWithoutTouchingIt) {
  ASSERT_NO_FATAL_FAILURE(MakeKit());
  ASSERT_TRUE(CreateDirectoryW((Scratch / L"dest").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Destination.c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(Destination + L"\\TW.pgp", "-----BEGIN PGP MESSAGE-----"));
  RecordInstallation(Destination);
  UiScript script;
  TSetupForm wizard(nullptr, Kit);
  Drive(wizard, script, [&] {
    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);
    EXPECT_EQ(wizard.RichEdit3.Text(),
              L"I have found that your TW database is encrypted. Because of this I am unable to "
              L"retrieve current configuration values. This is not a problem though. Click "
              L"'Install' to complete program setup.");
    // Grey as a colour of the system's scheme, where grey is readable on the page.
    const TColor grey = wizard.RichEdit4.Font().Color;
    EXPECT_EQ(grey & clSystemColor, clSystemColor);
    EXPECT_GE(ContrastRatio(ColorToRGB(grey), ColorToRGB(clBtnFace)), 4.5);
    EXPECT_FALSE(wizard.BackBtn.Enabled());
    EXPECT_EQ(wizard.EAddr.Text(), L"");
    SaveScreenshot(wizard.Handle(), L"setup-page-review-encrypted");
    Install(wizard, script);
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::DonePage);
    wizard.RunQuickBox.Click();
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
  EXPECT_FALSE(Exists(Destination + L"\\TW.dbc"));
  EXPECT_EQ(FileBytes(Destination + L"\\TW.pgp"), "-----BEGIN PGP MESSAGE-----");
  EXPECT_TRUE(Exists(Destination + L"\\UninstTW.exe"));
}

TEST_F(SetupWizardTest, FailedInstallationStaysOnTheReviewAndCanBeRepeated) {
  ASSERT_NO_FATAL_FAILURE(MakeKit());
  UiScript script;
  TSetupForm wizard(nullptr, Kit);
  Drive(wizard, script, [&] {
    wizard.AppDIR.SetText(UnusedDrive() + L"\\Tarnwhistle");
    wizard.NextBtn.Click();
    wizard.EAddr.SetText(L"me@example.com");
    wizard.Host.SetText(L"mail.example.com");
    wizard.NextBtn.Click();
    script.Answer(IDOK);  // the folder creation error
    Install(wizard, script);
    EXPECT_EQ(script.Boxes().back().Caption, L"TarnwhistleFolder Creation Error");
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);
    EXPECT_EQ(wizard.NextBtn.ShownText(), L"Install");
    EXPECT_TRUE(wizard.NextBtn.Enabled());
    EXPECT_TRUE(wizard.BackBtn.Enabled());
    EXPECT_FALSE(RegistryKeyExists(tw::ProductKey));

    // A countdown cancelled: nothing done, no message, still on the review.
    script.Answer(IDOK);
    script.OnModal([](TForm& wait) { After(wait, 1500, [&wait] { Press(wait, L"CancelBtn"); }); });
    script.Answer(IDYES);  // "Cancel process?"
    const size_t boxes = script.Boxes().size();
    wizard.NextBtn.Click();
    EXPECT_EQ(script.Boxes().size(), boxes + 2);
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);

    // Back to the Start page for a folder that works, and Install again.
    wizard.BackBtn.Click();
    wizard.BackBtn.Click();
    wizard.AppDIR.SetText(Destination);
    wizard.NextBtn.Click();
    wizard.NextBtn.Click();
    Install(wizard, script);
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::DonePage);
    wizard.RunQuickBox.Click();
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
  EXPECT_TRUE(Exists(Destination + L"\\UninstTW.exe"));
  EXPECT_TRUE(RegistryKeyExists(tw::ProductKey));
  EndStartedPrograms(L"explorer.exe");
}

TEST_F(SetupWizardTest, CloseQuestionOnEachPage) {
  // A kit without the template: no version.
  UiScript script;
  {
    TSetupForm wizard(nullptr, Scratch.Path());
    EXPECT_EQ(wizard.Appname.Text(), L"Tarnwhistle ");
    // The Start page closes without a question.
    Drive(wizard, script, [&] { wizard.CancelBtn.Click(); });
    EXPECT_TRUE(script.Boxes().empty());
  }
  for (int page : {TSetupForm::AddressPage, TSetupForm::ReviewPage}) {
    SCOPED_TRACE(page);
    const size_t boxesBefore = script.Boxes().size();
    TSetupForm wizard(nullptr, Scratch.Path());
    Drive(wizard, script, [&] {
      while (wizard.Notebook1.PageIndex() < page) wizard.NextBtnClick();
      script.Answer(IDNO);
      wizard.CancelBtn.Click();  // asked once this handler has returned
      After(wizard, 200, [&] {
        EXPECT_TRUE(wizard.Modal());
        ASSERT_EQ(script.Boxes().size(), boxesBefore + 1);
        EXPECT_EQ(script.Boxes().back().Text, L"Quit without installing Tarnwhistle?");
        EXPECT_EQ(script.Boxes().back().Caption, L"Tarnwhistle");
        EXPECT_EQ(script.Boxes().back().Flags & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
        // The close box asks the same.
        script.Answer(IDYES);
        wizard.Close();
      });
    });
    EXPECT_FALSE(wizard.Modal());
  }
  EXPECT_EQ(script.Boxes().size(), 4u);
}

TEST_F(SetupWizardTest, EarlierRecordWithoutAddressStillOpensOnTheReview) {
  // A record whose values are of the wrong type read as missing: the wizard still opens.
  {
    TRegistryKey key = TRegistryKey::Create(tw::ProductKey);
    ASSERT_TRUE(key.WriteInteger(L"AppDir", 7));
    ASSERT_TRUE(key.WriteInteger(L"Program Group", 1));
  }
  ASSERT_TRUE(SetCurrentDirectoryW(Scratch.Path().c_str()));
  UiScript script;
  TSetupForm wizard(nullptr, Scratch.Path());
  EXPECT_TRUE(wizard.PreviousInstall);
  EXPECT_EQ(wizard.AppDIR.Text(), L"C:\\Program Files\\Tarnwhistle");
  EXPECT_FALSE(wizard.GroupBox.Checked());
  Drive(wizard, script, [&] {
    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);
    EXPECT_EQ(Listing(wizard).at(1), L"Address = ");
    EXPECT_EQ(Listing(wizard).at(3), L"ProgramGroup = no");
    wizard.BackBtn.Click();
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::AddressPage);
    EXPECT_FALSE(wizard.NextBtn.Enabled());
    wizard.BackBtn.Click();
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
}

TEST_F(SetupWizardTest, StoredMessageWithOneHeaderLeavesNextOnTheStartPageEnabled) {
  // No record: the wizard reads the database in the default folder.
  const std::wstring folder = L"C:\\Program Files\\Tarnwhistle";
  ASSERT_FALSE(Exists(folder));
  SeedDatabase(folder, {"Host: only.example.com", ""});
  // Closing makes the wizard's folder the current one.
  struct RemoveFolder {
    std::wstring Path, Elsewhere;
    ~RemoveFolder() {
      SetCurrentDirectoryW(Elsewhere.c_str());
      DeleteTree(Path);
    }
  } removeFolder{folder, Scratch.Path()};
  ASSERT_TRUE(SetCurrentDirectoryW(Scratch.Path().c_str()));
  UiScript script;
  TSetupForm wizard(nullptr, Scratch.Path());
  EXPECT_FALSE(wizard.PreviousInstall);
  EXPECT_EQ(wizard.Host.Text(), L"only.example.com");
  EXPECT_EQ(wizard.EAddr.Text(), L"");
  Drive(wizard, script, [&] {
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::StartPage);
    EXPECT_TRUE(wizard.NextBtn.Enabled());
    wizard.NextBtn.Click();
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::AddressPage);
    EXPECT_FALSE(wizard.NextBtn.Enabled());
    wizard.EAddr.SetText(L"me@example.com");
    EXPECT_TRUE(wizard.NextBtn.Enabled());
    script.Answer(IDYES);
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
}

TEST_F(SetupWizardTest, BrowseChangesTheFolderUnlessCancelled) {
  ASSERT_TRUE(SetCurrentDirectoryW(Scratch.Path().c_str()));
  ASSERT_TRUE(CreateDirectoryW((Scratch / L"Chosen").c_str(), nullptr));
  UiScript script;
  TSetupForm wizard(nullptr, Scratch.Path());
  Drive(wizard, script, [&] {
    script.OnModal([](TForm& browse) { Press(browse, L"CancelBtn"); });
    wizard.BrowseBtn.Click();
    EXPECT_EQ(wizard.AppDIR.Text(), L"C:\\Program Files\\Tarnwhistle");
    // The picker opens where the field points, at the nearest folder that exists.
    wizard.AppDIR.SetText(Scratch / L"Chosen\\Not yet\\Tarnwhistle");
    script.OnModal([&](TForm& browse) {
      auto& dialog = static_cast<TBrowseDlg&>(browse);
      EXPECT_EQ(LocaleLower(dialog.DirectoryListBox1.Directory()), LocaleLower(Scratch / L"Chosen"));
      EXPECT_TRUE(dialog.DirectoryListBox1.SetDirectory(Scratch / L"Chosen"));
      Press(browse, L"OkBtn");
    });
    wizard.BrowseBtn.Click();
    EXPECT_EQ(wizard.AppDIR.Text(), LocaleLower(Scratch / L"Chosen"));
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
}

}  // namespace

namespace {

TEST_F(SetupWizardTest, NextOnTheStartPageTakesOnlyAFullPath) {
  ASSERT_NO_FATAL_FAILURE(MakeKit());
  ASSERT_TRUE(SetCurrentDirectoryW(Scratch.Path().c_str()));
  std::wstring forward = Scratch / L"a\\b\\new";
  for (wchar_t& c : forward)
    if (c == L'\\') c = L'/';
  const std::wstring installed = Scratch / L"a\\b\\new";
  UiScript script;
  TSetupForm wizard(nullptr, Kit);
  Drive(wizard, script, [&] {
    for (const std::wstring typed : {L"Tarnwhistle", L"C:\\", L"\\\\server\\share", L""}) {
      SCOPED_TRACE(Narrow(typed));
      wizard.AppDIR.SetText(typed);
      script.Answer(IDOK);
      const size_t boxes = script.Boxes().size();
      wizard.NextBtn.Click();
      ASSERT_EQ(script.Boxes().size(), boxes + 1);
      EXPECT_EQ(script.Boxes().back().Caption, L"Invalid path");
      EXPECT_EQ(script.Boxes().back().Text, CheckDestination(typed).Refusal);
      EXPECT_EQ(script.Boxes().back().Flags & MB_TYPEMASK, static_cast<UINT>(MB_OK));
      EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::StartPage);
      EXPECT_TRUE(wizard.AppDIR.Focused());
      EXPECT_EQ(wizard.AppDIR.Text(), typed);
    }
    // Forward slashes and missing parents: taken in the full form, with backslashes.
    wizard.AppDIR.SetText(forward);
    wizard.NextBtn.Click();
    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::AddressPage);
    EXPECT_EQ(wizard.AppDIR.Text(), installed);
    wizard.EAddr.SetText(L"me@example.com");
    wizard.Host.SetText(L"mail.example.com");
    wizard.NextBtn.Click();
    EXPECT_EQ(Listing(wizard).at(0), L"Folder = " + installed);
    Install(wizard, script);
    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::DonePage);
    wizard.RunQuickBox.Click();
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
  EXPECT_EQ(script.Boxes().size(), 5u);  // four refusals and "Install now?"
  EXPECT_TRUE(Exists(installed + L"\\UninstTW.exe"));
  EXPECT_EQ(TRegistryKey::Open(tw::ProductKey).ReadString(L"AppDir"), installed);
  // Nothing was made under the current folder.
  EXPECT_FALSE(Exists(Scratch / L"Tarnwhistle"));
  EndStartedPrograms(L"explorer.exe");
}

// An earlier installation recorded with a relative folder: the update stops on the Start
// page, says why, and lets the user give the folder.
TEST_F(SetupWizardTest, UpdateOfARelativeRecordedFolderStaysOnTheStartPage) {
  RecordInstallation(L"Tarnwhistle");
  UiScript script;
  script.Answer(IDOK);
  TSetupForm wizard(nullptr, Scratch.Path());
  EXPECT_TRUE(wizard.PreviousInstall);
  Drive(wizard, script, [&] {
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::StartPage);
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].Caption, L"Invalid path");
    EXPECT_NE(script.Boxes()[0].Text.find(L"\"Tarnwhistle\" is not a full path"), std::wstring::npos);
    EXPECT_FALSE(wizard.BackBtn.Enabled());
    EXPECT_TRUE(wizard.AppDIR.Focused());
    wizard.CancelBtn.Click();
  });
  EXPECT_FALSE(wizard.Modal());
}

// Started from a command prompt or a shortcut elsewhere, the wizard installs the kit beside
// the running program, not the current folder.
TEST_F(SetupWizardTest, KitIsTheInstallersFolderNotTheCurrentOne) {
  ASSERT_NO_FATAL_FAILURE(MakeKit());
  ASSERT_TRUE(SetCurrentDirectoryW(Kit.c_str()));
  const TSetupForm wizard(nullptr);
  EXPECT_EQ(wizard.SourceDir, KitFolder());
  EXPECT_NE(LocaleLower(wizard.SourceDir), LocaleLower(Kit));
  EXPECT_EQ(wizard.Choices().SourceDir, KitFolder());
  EXPECT_EQ(wizard.Appname.Text(), L"Tarnwhistle " + ReadTemplateVersion(KitFolder()));
}

}  // namespace

namespace {

// The width and height of a control's text as drawn in the control's own font.
SIZE TextExtent(const TControl& control) {
  const HDC dc = GetDC(control.Handle());
  const HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control.Handle(), WM_GETFONT, 0, 0)));
  const std::wstring text = control.Text();
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, previous);
  ReleaseDC(control.Handle(), dc);
  return extent;
}

TEST_F(SetupWizardTest, CopyrightLineIsWholeAtEveryDpi) {
  TSetupForm wizard(nullptr, Scratch.Path());
  for (const UINT dpi : {96u, 120u, 144u, 192u}) {
    SCOPED_TRACE(dpi);
    RECT suggested{0, 0, 100, 100};
    SendMessageW(wizard.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    ASSERT_EQ(wizard.Dpi(), dpi);
    RECT label, page;
    GetClientRect(wizard.Copyright.Handle(), &label);
    GetClientRect(wizard.StartSheet.Handle(), &page);
    const SIZE text = TextExtent(wizard.Copyright);
    EXPECT_LE(text.cx, label.right) << Narrow(wizard.Copyright.Text());
    EXPECT_LE(text.cy, label.bottom);
    // The label itself lies within its page, which would cut it otherwise.
    RECT placed;
    GetWindowRect(wizard.Copyright.Handle(), &placed);
    MapWindowPoints(nullptr, wizard.StartSheet.Handle(), reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_LE(placed.right, page.right);
  }
}

}  // namespace

namespace {

using Names = std::vector<std::wstring>;

TEST_F(SetupWizardTest, EveryPageStartsTheKeyboardWhereItsWorkIsAndTabsAsItShows) {
  ASSERT_NO_FATAL_FAILURE(MakeKit());
  UiScript script;
  TSetupForm wizard(nullptr, Kit);
  Drive(wizard, script, [&] {
    // Start: on the folder, its text selected to be typed over; Enter is Next.
    ASSERT_TRUE(wizard.AppDIR.Focused());
    DWORD start = 1, end = 0;
    SendMessageW(wizard.AppDIR.Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, static_cast<DWORD>(wizard.AppDIR.Text().size()));
    EXPECT_EQ(TabOrder(wizard), (Names{L"AppDIR", L"BrowseBtn", L"GroupBox", L"NextBtn", L"CancelBtn"}));
    ExpectNamed(wizard.AppDIR.Handle(), L"Destination Folder");
    ExpectAccelerators(wizard, "Start");
    wizard.AppDIR.SetText(Destination);
    PressKey(VK_RETURN);

    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::AddressPage);
    EXPECT_TRUE(wizard.EAddr.Focused());
    EXPECT_EQ(TabOrder(wizard), (Names{L"EAddr", L"Host", L"BackBtn", L"CancelBtn"}));
    ExpectNamed(wizard.Host.Handle(), L"SMTP Host:  (example: mail.example.com)");
    EXPECT_EQ(wizard.AccessibleName(), L"E-Address & Mail Server - Tarnwhistle Setup");
    ExpectAccelerators(wizard, "Address");
    wizard.EAddr.SetText(L"me@example.com");
    wizard.Host.SetText(L"mail.example.com");
    wizard.Host.SetFocus();
    PressKey(VK_RETURN);

    // Review: on Install, which Enter presses from the listing too.
    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);
    EXPECT_EQ(TabOrder(wizard), (Names{L"NextBtn", L"CancelBtn", L"RichEdit3", L"BackBtn"}));
    ExpectNamed(wizard.RichEdit3.Handle(), L"Setup Configuration");
    ExpectAccelerators(wizard, "Review");
    wizard.RichEdit3.SetFocus();
    script.Answer(IDCANCEL);
    PressKey(VK_RETURN);
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes().back().Text, L"Install now?");
    EXPECT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::ReviewPage);

    // Done: on Exit, which Enter and Esc press; Tab reaches the box, Space unticks it.
    Install(wizard, script);
    ASSERT_EQ(wizard.Notebook1.PageIndex(), TSetupForm::DonePage);
    EXPECT_EQ(TabOrder(wizard), (Names{L"CancelBtn", L"RunQuickBox"}));
    EXPECT_EQ(LOWORD(SendMessageW(wizard.Handle(), DM_GETDEFID, 0, 0)), wizard.CancelBtn.Id());
    EXPECT_EQ(wizard.AccessibleName(), L"Installation complete! - Tarnwhistle Setup");
    ExpectAccelerators(wizard, "Done");
    wizard.RunQuickBox.Click();
    PressKey(VK_ESCAPE);
  });
  EXPECT_FALSE(wizard.Modal());
  EXPECT_EQ(EndStartedPrograms(L"TW.exe"), 0);
  EndStartedPrograms(L"explorer.exe");
}

TEST_F(SetupWizardTest, EveryTextFitsAtEveryDpiAndTextSize) {
  OnEveryDisplay([&](const TDisplay& display) {
    UiScript script;
    TSetupForm wizard(nullptr, Scratch.Path());
    Drive(wizard, script, [&] {
      ExpectLayoutHolds(wizard, display, L"setup", &wizard.Notebook1);
      wizard.CancelBtn.Click();
    });
    EXPECT_FALSE(wizard.Modal()) << display.Name();
  });
}

}  // namespace
