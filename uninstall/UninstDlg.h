// The uninstall wizard's window: it finds the installed products, offers each for removal
// under the rules that tie the two together, walks Start, Options, Review and Finish, and
// on Finish runs the removal.
#pragma once

#include <string>

#include "shell/WizardForm.h"
#include "shell/win/Controls.h"
#include "uninstall/Products.h"
#include "uninstall/Removal.h"

// The uninstall wizard's window caption, by which a second run finds the first.
inline constexpr wchar_t UninstWizCaption[] = L"Un-Install Wizard";

class TUninstWiz : public TWizardForm {
 public:
  explicit TUninstWiz(TForm* owner);

  enum { StartPageIndex, OptionsPageIndex, ReviewPageIndex, FinishPageIndex };

  TButton BackBtn;
  TButton NextBtn;
  TButton CancelBtn;
  TPanel Panel1;
  TNotebook Notebook;
  TPage StartPage;
  TLabel Appname;
  TLabel Label23;
  TMemo RichEdit7;
  TLabel Label24;
  TPage OptionsPage;
  TLabel Label25;
  TLabel Label26;
  TCheckBox AppEntries;
  TCheckBox MixEntries;
  TLabel WarningLabel;
  TMemo RichEdit3;
  TPage ReviewPage;
  TLabel Label1;
  TMemo RichEdit1;
  TLabel Label2;
  TMemo Memo1;
  TPage FinishPage;
  TLabel Label4;
  TLabel Label6;
  TLabel LogLabel;
  TMemo RichEdit2;

  // Found at creation and never changed afterwards.
  bool ClientInstalled = false;
  bool MixInstalled = false;
  std::wstring ClientHomeDir;
  std::wstring MixHomeDir;
  std::wstring ProgramGroupName;
  std::wstring ClientVersion;
  // The removal order: the client before Mixmaster.
  bool ClientFirst = false;
  // How the run ends for the process, and whether all of the client's program files went.
  TExitCode Outcome = TExitCode::Cancelled;
  bool ClientRemoved = false;

  void NextBtnClick();
  void BackBtnClick();
  void AppEntriesClick();
  void MixEntriesClick();
  void FillReview();
  // Removes the chosen products with the log on the Finish page, then shows the notice
  // when the client was removed. False when the client runs and the user cancelled: the
  // wizard is back on Review with nothing removed.
  bool RunRemoval();
  // What RunRemoval removes, from the boxes as they are now.
  TRemovalPlan Plan() const;
  // Presets the boxes as /client and /mixmaster ask: the one product, with what the rules
  // tie to it.
  void ChooseOnlyClient();
  void ChooseOnlyMixmaster();

 protected:
  void FormCloseQuery(bool& canClose) override;

 private:
  void DetectProducts();
  void SetUpEntries(const TInstalledProducts& products);
  // The boxes and the removal order as they are now, and as an offer sets them.
  TRemovalOffer Offer() const;
  void ApplyOffer(const TRemovalOffer& offer);
  void UpdateNextBtn();
  // After a cancelled start of the removal: the Review page with its buttons.
  void ReturnToReview();
  // The Finish page's titles and last line once the run has ended.
  void ShowRunEnd(bool complete);
  // Captions and enabling of the buttons for the page now showing.
  void UpdateButtonsForPage();

  THomeRelation Homes_;
};
