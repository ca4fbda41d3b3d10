#include "setup/SetupDlg.h"

#include <algorithm>

#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"
#include "shell/SysUtils.h"
#include "shell/dialogs/DirBrow.h"
#include "shell/dialogs/WaitDlg.h"
#include "shell/win/UiSeam.h"

namespace {

TFont TitleFont(int height) {
  TFont font;
  font.Name = L"Times New Roman";
  font.Height = height;
  return font;
}

TFont HeadingFont() {
  TFont font;
  font.Bold = true;
  return font;
}

// The explanatory texts: each a paragraph that wraps at the width of its label.
const wchar_t kStartText[] =
    L"This wizard will guide you through the installation process. Below you'll find the "
    L"default destination. Change it if you like. The folder need not exist and it need "
    L"not be in your computer's PATH statement. Then, click 'Next' to continue...";
const wchar_t kAddressText[] =
    L"I need your 'actual' email address and the mail server you normally send out-"
    L"going mail through.  These will be used to create a default message and "
    L"USENET article. Click 'Next' when finished.";
const wchar_t kReviewText[] =
    L"Please review your setup below, for accuracy. Click 'Back' to make changes. "
    L"When satisfied, click \"Install\" to complete program setup.";
const wchar_t kDoneText[] =
    L"Tarnwhistle is succesfully installed!  I hope you will be pleased "
    L"with my efforts and become a regular TW user. Thanks!";
const wchar_t kQuotation[] =
    L"\"Privacy is necessary for an open society in the electronic age.\"\r\n"
    L"                              -- Eric Hughes, A Cypherpunk's Manifesto";

// How long the program group's folder window may take to open (Explorer's start) and still
// leave the keyboard on the Done page.
constexpr DWORD kGroupWindowWait = 5000;

const wchar_t kEncryptedNotice[] =
    L"I have found that your TW database is encrypted. Because of "
    L"this I am unable to retrieve current configuration values. "
    L"This is not a problem though. Click 'Install' to complete "
    L"program setup.";

}  // namespace

TSetupForm::TSetupForm(TForm* owner, std::wstring kitFolder)
    : TWizardForm(owner, tw::SetupTitle, 457, 305, L"About Setup...", tw::SetupTitle),
      Panel1(*this, L"Panel1", L"", {16, 16, 425, 241}),
      Appname(Panel1, L"Appname", L"", {8, 4, 409, 32}),
      Notebook1(Panel1, L"Notebook1", {8, 40, 409, 193}),
      StartSheet(Notebook1, L"Start"),
      Copyright(StartSheet, L"Copyright", L"", {4, 0, 401, 16}),
      RichEdit1(StartSheet, L"RichEdit1", kStartText, {4, 20, 401, 60}),
      Label4(StartSheet, L"Label4", L"&Destination Folder", {4, 92, 200, 16}),
      AppDIR(StartSheet, L"AppDIR", L"", {4, 110, 313, 22}),
      BrowseBtn(StartSheet, L"BrowseBtn", L"B&rowse", {326, 108, 75, 25}),
      GroupBox(StartSheet, L"GroupBox", L"Create Program &Group", {4, 148, 250, 20}),
      AddressSheet(Notebook1, L"Address"),
      Label6(AddressSheet, L"Label6", L"E-Address && Mail Server", {4, 0, 401, 18}),
      RichEdit2(AddressSheet, L"RichEdit2", kAddressText, {4, 20, 401, 60}),
      Label3(AddressSheet, L"Label3", L"Your &Address: (example: My Name <myname@example.com>)",
             {4, 88, 401, 16}),
      EAddr(AddressSheet, L"EAddr", L"", {4, 106, 401, 22}),
      Label2(AddressSheet, L"Label2", L"SMTP &Host:  (example: mail.example.com)",
             {4, 138, 401, 16}),
      Host(AddressSheet, L"Host", L"", {4, 156, 401, 22}),
      ReviewSheet(Notebook1, L"Review"),
      Label7(ReviewSheet, L"Label7", L"Review Setup", {4, 0, 401, 18}),
      RichEdit4(ReviewSheet, L"RichEdit4", kReviewText, {4, 20, 401, 44}),
      Label8(ReviewSheet, L"Label8", L"Setup Configuration", {4, 68, 401, 16}),
      RichEdit3(ReviewSheet, L"RichEdit3", {4, 86, 401, 100}),
      DoneSheet(Notebook1, L"Done"),
      Label5(DoneSheet, L"Label5", L"Installation complete!", {4, 0, 401, 30}),
      RichEdit6(DoneSheet, L"RichEdit6", kDoneText, {4, 36, 401, 44}),
      RichEdit5(DoneSheet, L"RichEdit5", kQuotation, {4, 88, 401, 44}),
      RunQuickBox(DoneSheet, L"RunQuickBox", L"&Run Tarnwhistle", {4, 150, 250, 20}),
      BackBtn(*this, L"BackBtn", BackCaption, {200, 270, 75, 25}),
      NextBtn(*this, L"NextBtn", NextCaption, {283, 270, 75, 25}),
      CancelBtn(*this, L"CancelBtn", L"Cancel", {366, 270, 75, 25}) {
  Appname.SetFont(TitleFont(27));
  Label5.SetFont(TitleFont(21));
  for (TLabel* heading : {&Label6, &Label7}) heading->SetFont(HeadingFont());
  // Each page is announced by its heading.
  StartSheet.SetTitle(Label4.ShownText());
  AddressSheet.SetTitle(Label6.ShownText());
  ReviewSheet.SetTitle(Label7.ShownText());
  DoneSheet.SetTitle(Label5.ShownText());
  GroupBox.SetChecked(true);
  RunQuickBox.SetChecked(true);
  BackBtn.SetEnabled(false);
  NextBtn.SetDefault(true);
  CancelBtn.SetCancel(true);
  CancelBtn.SetModalResult(mrCancel);
  NextBtn.OnClick = [this] { NextBtnClick(); };
  BackBtn.OnClick = [this] { BackBtnClick(); };
  BrowseBtn.OnClick = [this] { BrowseBtnClick(); };
  EAddr.OnChange = [this] { EAddrChange(); };
  Host.OnChange = [this] { HostChange(); };

  SourceDir = std::move(kitFolder);
  std::wstring copyright = tw::CopyrightNotice;
  if (const size_t lineFeed = copyright.find(L'\n'); lineFeed != std::wstring::npos)
    copyright.replace(lineFeed, 1, L",  ");
  Copyright.SetText(copyright);
  ClientExeName = tw::ClientExe;
  TemplateName = TemplateDatabaseName();
  DatabaseName = ClientDatabaseName();
  VersionText = ReadTemplateVersion(SourceDir);
  Appname.SetText(tw::ProductName + L" " + VersionText);
  Notebook1.SetPageIndex(StartPage);
  ReadRegistryDefaults();
  ReadClientConfig();
  ShowPage(StartPage);
}

void TSetupForm::ReadRegistryDefaults() {
  const TRegistryKey key = TRegistryKey::Open(tw::ProductKey);
  std::wstring folder;
  if (key.Valid()) {
    PreviousInstall = true;
    // A value of another type than text reads as missing.
    GroupBox.SetChecked(!key.ReadString(record::ProgramGroup).value_or(L"").empty());
    folder = key.ReadString(record::AppDir).value_or(L"");
  }
  // The default probes Program Files with a file of its own: only when nothing is recorded.
  AppDIR.SetText(folder.empty() ? DefaultDestination() : folder);
}

void TSetupForm::ReadClientConfig() {
  const TConfigReading read = ::ReadClientConfig(AppDIR.Text());
  EAddr.SetText(read.Config.Address);
  Host.SetText(read.Config.Host);
  ConfigReadFailure_ = read.Failure;
}

TInstallChoices TSetupForm::Choices() const {
  return {.Owner = Handle(),
          .AppDir = AppDIR.Text(),
          .SourceDir = SourceDir,
          .VersionText = VersionText,
          .Config = {EAddr.Text(), Host.Text()},
          .CreateGroup = GroupBox.Checked(),
          .PreviousInstall = PreviousInstall,
          .SettingsDatabase = tw::Program().ProgramDatabase,
          .StepStarting = OnInstallStep,
          .WhenInUse = {.Ask = true, .Owner = Handle()}};
}

bool TSetupForm::RunInstallation() {
  // The countdown's dialog keeps its arrow for its Cancel button; the hourglass holds from
  // its end to the last step's.
  if (!ShowWaitDialog(tw::ProductName, L"...installing " + LocaleLower(tw::ProductName) + L"...",
                      this))
    return false;
  const TWaitCursor hourglass(*this);
  Outcome = InstallClient(Choices());
  return Outcome == TExitCode::Done;
}

void TSetupForm::FormShow() {
  // Fields left empty keep what is stored: the installation reads it again.
  if (!ConfigReadFailure_.empty())
    ShowMessageBox(Handle(),
                   L"The address and mail server of your installation could not be read from " +
                       AddBackslash(AppDIR.Text()) + DatabaseName + L":\n" + ConfigReadFailure_ +
                       L"\n\nSetup keeps them as they are stored, unless you enter new ones.",
                   L"Setup Error", MB_OK);
  if (!PreviousInstall) return;
  // Straight to the review, whatever Next's state on the way; a recorded folder that is
  // refused keeps the wizard on the Start page for the user to correct.
  NextBtnClick();
  if (Notebook1.PageIndex() == StartPage) return;
  NextBtnClick();
  if (DatabaseEncrypted(AppDIR.Text())) ShowEncryptedDatabaseNotice();
}

void TSetupForm::ShowEncryptedDatabaseNotice() {
  RichEdit3.SetText(kEncryptedNotice);
  TFont font = RichEdit4.Font();
  font.Color = ReadableGrayText(clBtnFace);
  RichEdit4.SetFont(font);
  BackBtn.SetEnabled(false);
}

bool TSetupForm::AddressComplete() const { return !EAddr.Text().empty() && !Host.Text().empty(); }

void TSetupForm::SetNextButtonFor(int page) {
  NextBtn.SetEnabled(page != AddressPage || AddressComplete());
  NextBtn.SetText(page == ReviewPage ? L"&Install" : NextCaption);
}

// The keyboard starts on the page's first field, or on Next where it has none (Enter on the
// review installs, also when an update opens on it straight away).
void TSetupForm::ShowPage(int page) {
  Notebook1.SetPageIndex(page);
  if (page != DonePage) FocusFirstInput(Notebook1.ActivePage().Handle());
}

void TSetupForm::ListChoices() {
  RichEdit3.SetLines({L"Folder = " + AppDIR.Text(), L"Address = " + EAddr.Text(),
                      L"MailHost = " + Host.Text(),
                      L"ProgramGroup = " + std::wstring(GroupBox.Checked() ? L"yes" : L"no")});
}

bool TSetupForm::AcceptDestination() {
  const TDestinationCheck check = CheckDestination(AppDIR.Text());
  if (!check.Accepted()) {
    ShowMessageBox(Handle(), check.Refusal, DestinationRefusedCaption, MB_OK);
    AppDIR.SetFocus();
    return false;
  }
  AppDIR.SetText(check.Folder);
  return true;
}

bool TSetupForm::ConfirmMove() {
  const std::wstring recorded = MoveAwayFrom(AppDIR.Text());
  return recorded.empty() ||
         ShowMessageBox(Handle(),
                        tw::ProductName + L" is installed in " + recorded + L".\nInstall it in " +
                            AppDIR.Text() + L" instead?\n\nYour mail stays in " + recorded +
                            L": " + tw::ProductName + L" in the new folder starts without it.",
                        tw::ProductName, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void TSetupForm::NextBtnClick() {
  if (Notebook1.PageIndex() == StartPage && (!AcceptDestination() || !ConfirmMove())) return;
  if (NextBtn.ShownText() == L"Install") {
    if (ShowMessageBox(Handle(), L"Install now?", tw::ProductName, MB_OKCANCEL) != IDOK) return;
    if (!RunInstallation()) return;
  }
  const int page = std::min(Notebook1.PageIndex() + 1, static_cast<int>(DonePage));
  BackBtn.SetEnabled(page > StartPage && page != DonePage);
  SetNextButtonFor(page);
  if (page == DonePage) {
    NextBtn.SetEnabled(false);
    OfferExit(NextBtn, CancelBtn);
    HoldTheKeyboard(kGroupWindowWait);  // the program group's folder window opens meanwhile
  }
  if (page == ReviewPage) ListChoices();
  ShowPage(page);
  if (page == DonePage) PlayBeep(MB_OK);
}

void TSetupForm::BackBtnClick() {
  const int page = Notebook1.PageIndex() - 1;
  if (page < StartPage) return;
  BackBtn.SetEnabled(page > StartPage);
  SetNextButtonFor(page);
  ShowPage(page);
}

// Next follows the two fields only while they are on show: a stored message that gave one
// of them must not lock the Start page's Next.
void TSetupForm::EAddrChange() {
  if (Notebook1.PageIndex() == AddressPage) NextBtn.SetEnabled(AddressComplete());
}

void TSetupForm::HostChange() { EAddrChange(); }

void TSetupForm::BrowseBtnClick() {
  const std::wstring folder = BrowseForFolder(this, std::wstring(), AppDIR.Text());
  if (folder != L"cancel") AppDIR.SetText(BrowsedDestination(folder));
}

void TSetupForm::FormCloseQuery(bool& canClose) {
  const bool installed = CancelBtn.ShownText() == L"Exit";
  if (Notebook1.PageIndex() > StartPage && !installed &&
      ShowMessageBox(Handle(), L"Quit without installing " + tw::ProductName + L"?",
                     tw::ProductName, MB_YESNO) != IDYES) {
    canClose = false;
    return;
  }
  // The client started below works in its own folder.
  SetCurrentDirectoryW(AppDIR.Text().c_str());
  if (Notebook1.ActivePage().Caption() == L"Done" && installed && RunQuickBox.Checked()) {
    const TStartedBy startedBy = StartWithUserRights(
        {AddBackslash(AppDIR.Text()) + ClientExeName, AppDIR.Text(), SW_SHOWNORMAL});
    LogLine(startedBy == TStartedBy::DesktopShell
                ? L"start " + ClientExeName + L": through the desktop's shell, with the user's rights"
                : L"start " + ClientExeName + L": by setup");
  }
}
