#include "uninstall/UninstDlg.h"

#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/SysUtils.h"
#include "shell/dialogs/WaitDlg.h"
#include "shell/win/UiSeam.h"
#include "uninstall/UninstDirDlgs.h"

namespace {

constexpr TBounds kTitleBounds{16, 10, 389, 36};
constexpr TBounds kSubtitleBounds{16, 50, 389, 18};

TFont TitleFont() {
  TFont font;
  font.Name = L"Times New Roman";
  font.Height = 24;
  return font;
}

// A read-only text pane that reads as part of the page (and is a tab stop all the same,
// for the keyboard and the screen reader).
void MakeExplanation(TMemo& memo, const std::vector<std::wstring>& lines) {
  memo.SetBorder(false);
  memo.SetLines(lines);
}

// Suspends the window's redrawing for a change of page, and redraws it whole afterwards.
class RedrawSuspended {
 public:
  explicit RedrawSuspended(HWND window) : Window_(window) {
    SendMessageW(Window_, WM_SETREDRAW, FALSE, 0);
  }
  ~RedrawSuspended() {
    SendMessageW(Window_, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(Window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
  }
  RedrawSuspended(const RedrawSuspended&) = delete;
  RedrawSuspended& operator=(const RedrawSuspended&) = delete;

 private:
  HWND Window_;
};

// The progress log on the Finish page, drawn as it grows.
class TWizardLog : public TRemovalLog {
 public:
  TWizardLog(TForm& wizard, TMemo& pane) : Wizard_(wizard), Pane_(pane) {}
  void Append(const std::wstring& line) override {
    Pane_.AddLine(line);
    LogLine(line);
  }
  void ProcessMessages() override { Application.ProcessMessages(); }
  void Pause(DWORD milliseconds) override { Sleep(milliseconds); }
  HWND Owner() const override { return Wizard_.Handle(); }

 private:
  TForm& Wizard_;
  TMemo& Pane_;
};

// "Tarnwhistle  { c:\tw }": the home in lower case without its trailing backslash.
std::wstring WithHome(const std::wstring& caption, const std::wstring& gap, bool installed,
                      const std::wstring& home) {
  return caption + gap + L"{ " +
         AsCaption(LocaleLower(installed ? StripBackslash(home) : L"not installed")) + L" }";
}

}  // namespace

TUninstWiz::TUninstWiz(TForm* owner)
    : TWizardForm(owner, UninstWizCaption, 458, 305, L"About Uninstall...", tw::UninstallTitle),
      BackBtn(*this, L"BackBtn", BackCaption, {192, 272, 75, 25}),
      NextBtn(*this, L"NextBtn", NextCaption, {280, 272, 75, 25}),
      CancelBtn(*this, L"CancelBtn", L"Cancel", {368, 272, 73, 25}),
      Panel1(*this, L"Panel1", L"", {16, 16, 425, 241}),
      Notebook(Panel1, L"Notebook", {2, 2, 421, 237}),
      StartPage(Notebook, L"Start"),
      Appname(StartPage, L"Appname", L"AppName && Version", kTitleBounds),
      Label23(StartPage, L"Label23", L"Un-Install ", kSubtitleBounds),
      RichEdit7(StartPage, L"RichEdit7", {16, 78, 389, 110}, ssNone),
      Label24(StartPage, L"Label24", L"Click 'Next' to continue...", {16, 200, 389, 18}),
      OptionsPage(Notebook, L"Options"),
      Label25(OptionsPage, L"Label25", L"Un-Install Tarnwhistle", kTitleBounds),
      Label26(OptionsPage, L"Label26", L"Select Items For Removal", kSubtitleBounds),
      AppEntries(OptionsPage, L"AppEntries", L"&Tarnwhistle", {32, 72, 373, 20}),
      MixEntries(OptionsPage, L"MixEntries", L"&Mixmaster", {32, 94, 373, 20}),
      WarningLabel(OptionsPage, L"WarningLabel", L"&What is removed:", {16, 120, 397, 16}),
      RichEdit3(OptionsPage, L"RichEdit3", {16, 138, 397, 92}),
      ReviewPage(Notebook, L"Review"),
      // The explanation under the title, then the listing under its own heading, which
      // names it.
      Label1(ReviewPage, L"Label1", L"Review Un-installation", kTitleBounds),
      RichEdit1(ReviewPage, L"RichEdit1", {16, 50, 389, 34}, ssNone),
      Label2(ReviewPage, L"Label2", L"Check Configuration", {16, 90, 389, 18}),
      Memo1(ReviewPage, L"Memo1", {16, 112, 389, 112}),
      FinishPage(Notebook, L"Finish"),
      Label4(FinishPage, L"Label4", L"Removing Components...", kTitleBounds),
      Label6(FinishPage, L"Label6", L"Un-install", kSubtitleBounds),
      LogLabel(FinishPage, L"LogLabel", L"Removal &log:", {16, 74, 389, 16}),
      RichEdit2(FinishPage, L"RichEdit2", {16, 92, 389, 132}) {
  for (TLabel* title : {&Appname, &Label25, &Label1, &Label4}) title->SetFont(TitleFont());
  // Each paragraph flows as one line and wraps at the page's width, whatever the size of
  // the text (the notice's lines are too wide for the page even at the design's size).
  MakeExplanation(RichEdit7, {L"If you are looking to remove Tarnwhistle from your system, "
                              L"you've come to the right place. On the next screen you will have "
                              L"the opportunity to select Tarnwhistle, Mixmaster or both for "
                              L"removal.",
                              L""});
  MakeExplanation(
      RichEdit3,
      {L"IF YOU REMOVE TARNWHISTLE: All files in the TW home directory will be "
       L"deleted--except your TW database file (TW.dbc or TW.pgp). In either case the "
       L"home dir will still exist and any subdirectories within will not be touched.",
       L"",
       L"IF YOU REMOVE MIXMASTER: All files in the Mix home directory will be deleted. "
       L"Also, if the mix dir has no subdirectories (other than 'pool'), it will be deleted. If you "
       L"have any files there that you wish to preserve, remove them before uninstalling.",
       L""});
  MakeExplanation(RichEdit1, {L"Please review the items below. Click 'Back' to make corrections. "
                              L"Then, Click 'Finish' to remove components."});
  // Each page is announced by its heading.
  OptionsPage.SetTitle(Label26.ShownText());
  ReviewPage.SetTitle(Label1.ShownText());
  FinishPage.SetTitle(Label4.ShownText());
  RichEdit2.SetEnabled(false);
  AppEntries.SetChecked(true);
  MixEntries.SetChecked(true);

  BackBtn.SetEnabled(false);
  BackBtn.OnClick = [this] { BackBtnClick(); };
  NextBtn.OnClick = [this] { NextBtnClick(); };
  NextBtn.SetDefault(true);
  CancelBtn.SetModalResult(mrCancel);
  CancelBtn.SetCancel(true);
  Notebook.SetPageIndex(StartPageIndex);
  DetectProducts();
  FocusFirstInput(StartPage.Handle());
  // The rules act on the user's changes; the offer at the start already follows them.
  AppEntries.OnClick = [this] { AppEntriesClick(); };
  MixEntries.OnClick = [this] { MixEntriesClick(); };
}

void TUninstWiz::DetectProducts() {
  const TInstalledProducts products = ReadInstalledProducts();
  ClientInstalled = products.ClientInstalled;
  MixInstalled = products.MixInstalled;
  if (!ClientInstalled && !MixInstalled) {
    Outcome = TExitCode::NothingToDo;
    NextBtn.SetEnabled(false);
    RichEdit7.SetLines({L"Neither Tarnwhistle nor Mixmaster are installed on this machine!",
                        L"Nothing to un-install!"});
    Label24.SetEnabled(false);
    return;
  }
  ClientHomeDir = products.ClientHomeDir;
  MixHomeDir = products.MixHomeDir;
  ProgramGroupName = products.ProgramGroupName;
  ClientVersion = products.ClientVersion;
  Homes_ = RelateHomes(ComparisonPath(ClientInstalled, ClientHomeDir),
                       ComparisonPath(MixInstalled, MixHomeDir));
  SetUpEntries(products);
}

void TUninstWiz::SetUpEntries(const TInstalledProducts& products) {
  AppEntries.SetText(L"&" + tw::ProductName);
  MixEntries.SetText(L"&Mixmaster");
  Appname.SetText(tw::ProductName + L" " + ClientVersion);
  Label25.SetText(L"Un-Install " + tw::ProductName);
  ApplyOffer(OfferRemoval(products, Homes_, ClientMarked(ClientHomeDir)));
  MixEntries.SetText(WithHome(MixEntries.Text(), L"    ", MixInstalled, MixHomeDir));
  AppEntries.SetText(WithHome(AppEntries.Text(), L"  ", ClientInstalled, ClientHomeDir));
}

TRemovalOffer TUninstWiz::Offer() const {
  TRemovalOffer offer;
  offer.Client = {AppEntries.Checked(), AppEntries.Enabled()};
  offer.Mix = {MixEntries.Checked(), MixEntries.Enabled()};
  offer.ClientFirst = ClientFirst;
  return offer;
}

void TUninstWiz::ApplyOffer(const TRemovalOffer& offer) {
  AppEntries.SetChecked(offer.Client.Checked);
  AppEntries.SetEnabled(offer.Client.Enabled);
  MixEntries.SetChecked(offer.Mix.Checked);
  MixEntries.SetEnabled(offer.Mix.Enabled);
  ClientFirst = offer.ClientFirst;
  UpdateNextBtn();
}

void TUninstWiz::ChooseOnlyClient() { ApplyOffer(OnlyClient(Offer(), Homes_)); }

void TUninstWiz::ChooseOnlyMixmaster() { ApplyOffer(OnlyMixmaster(Offer(), Homes_)); }

void TUninstWiz::UpdateNextBtn() { NextBtn.SetEnabled(AppEntries.Checked() || MixEntries.Checked()); }

namespace {

// When the clicked product's removal takes the other's home with it, checking it checks
// the other too and locks it; unchecking it frees the other again.
void TieBoxes(const TCheckBox& clicked, TCheckBox& other, bool tied) {
  if (!tied) return;
  if (clicked.Checked()) {
    other.SetChecked(true);
    other.SetEnabled(false);
  } else {
    other.SetEnabled(true);
  }
}

}  // namespace

void TUninstWiz::AppEntriesClick() {
  TieBoxes(AppEntries, MixEntries, Homes_.MixInsideClient || Homes_.SameHome);
  UpdateNextBtn();
}

void TUninstWiz::MixEntriesClick() {
  TieBoxes(MixEntries, AppEntries, Homes_.ClientInsideMix || Homes_.SameHome);
  UpdateNextBtn();
}

void TUninstWiz::NextBtnClick() {
  if (NextBtn.ShownText() == L"Finish") {
    if (ShowMessageBox(Handle(), L"Uninstall now?", tw::ProductName, MB_OKCANCEL) != IDOK) return;
    if (!ShowWaitDialog(tw::ProductName, L"...uninstalling software...", this)) return;
    Notebook.SetPageIndex(Notebook.PageIndex() + 1);
    Application.ProcessMessages();  // the Finish page is drawn before the work starts
    if (!RunRemoval()) return;
    OfferExit(NextBtn, CancelBtn);
    return;
  }
  RedrawSuspended redraw(Handle());
  Notebook.SetPageIndex(Notebook.PageIndex() + 1);
  if (Notebook.PageIndex() == ReviewPageIndex) FillReview();
  UpdateButtonsForPage();
}

void TUninstWiz::BackBtnClick() {
  RedrawSuspended redraw(Handle());
  Notebook.SetPageIndex(Notebook.PageIndex() - 1);
  UpdateButtonsForPage();
}

void TUninstWiz::UpdateButtonsForPage() {
  const int page = Notebook.PageIndex();
  NextBtn.SetText(page >= ReviewPageIndex ? L"&Finish" : NextCaption);
  BackBtn.SetEnabled(page != StartPageIndex);
  FocusFirstInput(Notebook.ActivePage().Handle());
}

void TUninstWiz::FillReview() {
  Memo1.Clear();
  Memo1.AddLine(tw::ProductName + (AppEntries.Checked() ? L" = YES" : L" = NO"));
  Memo1.AddLine(std::wstring(L"Mixmaster") + (MixEntries.Checked() ? L" = YES" : L" = NO"));
  Memo1.ScrollToTop();
}

TRemovalPlan TUninstWiz::Plan() const {
  TInstalledProducts products;
  products.ClientHomeDir = ClientHomeDir;
  products.MixHomeDir = MixHomeDir;
  products.ProgramGroupName = ProgramGroupName;
  return PlanRemoval(products, AppEntries.Checked(), MixEntries.Checked(), ClientFirst);
}

bool TUninstWiz::RunRemoval() {
  RichEdit2.Clear();
  RichEdit2.SetEnabled(true);
  BackBtn.SetEnabled(false);
  NextBtn.SetEnabled(false);
  CancelBtn.SetEnabled(false);
  RichEdit2.SetFocus();
  Application.ProcessMessages();

  TWizardLog log(*this, RichEdit2);
  const TRemovalPlan plan = Plan();
  TRemovalOutcome outcome;
  Outcome = RemoveChosenProducts(plan, log, outcome);
  if (Outcome == TExitCode::ClientRunning) {
    ReturnToReview();
    return false;
  }
  ClientRemoved = outcome.ClientRemoved;
  ShowRunEnd(outcome.Complete());
  if (ClientRemoved) ShowCleanupNotice(ClientHomeDir, this, outcome.Complete());
  return true;
}

void TUninstWiz::ShowRunEnd(bool complete) {
  Label4.SetText(L"");
  Application.ProcessMessages();
  // "Done!" only when everything went; the log lists what stayed.
  Label4.SetText(complete ? L"Un-Installation complete!" : L"Un-Installation incomplete");
  if (complete) RichEdit2.AddLine(L"Done!");
  Label6.SetText(complete ? L"Thanks!" : L"Some items could not be removed.");
  FinishPage.SetTitle(Label4.ShownText());
  Notebook.AnnouncePage();
  PlayBeep(0);
}

void TUninstWiz::ReturnToReview() {
  RichEdit2.Clear();
  RichEdit2.SetEnabled(false);
  Notebook.SetPageIndex(ReviewPageIndex);
  UpdateButtonsForPage();
  UpdateNextBtn();
  CancelBtn.SetEnabled(true);
}

void TUninstWiz::FormCloseQuery(bool& canClose) {
  if ((!ClientInstalled && !MixInstalled) || Notebook.PageIndex() == StartPageIndex ||
      CancelBtn.ShownText() == L"Exit")
    return;
  canClose = ShowMessageBox(Handle(), L"Quit without removing Tarnwhistle?", tw::ProductName,
                            MB_YESNO) == IDYES;
}
