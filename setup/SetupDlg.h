// The setup wizard's window: four pages (Start, Address, Review, Done) that ask for the
// destination, the program group, the user's address and mail host, list the choices and
// run the installation. An earlier installation pre-fills every field and opens on Review.
#pragma once

#include <functional>
#include <string>

#include "setup/Installation.h"
#include "shell/UserStart.h"
#include "shell/WizardForm.h"
#include "shell/win/Controls.h"

class TSetupForm : public TWizardForm {
 public:
  // `kitFolder` is the kit to install; the running installer's own folder by default.
  explicit TSetupForm(TForm* owner, std::wstring kitFolder = KitFolder());

  // Page indexes of Notebook1.
  enum { StartPage, AddressPage, ReviewPage, DonePage };

  TPanel Panel1;
  TLabel Appname;
  TNotebook Notebook1;
  TPage StartSheet;
  TLabel Copyright;
  TLabel RichEdit1;
  TLabel Label4;
  TEdit AppDIR;
  TButton BrowseBtn;
  TCheckBox GroupBox;
  TPage AddressSheet;
  TLabel Label6;
  TLabel RichEdit2;
  TLabel Label3;
  TEdit EAddr;
  TLabel Label2;
  TEdit Host;
  TPage ReviewSheet;
  TLabel Label7;
  TLabel RichEdit4;
  TLabel Label8;
  TMemo RichEdit3;
  TPage DoneSheet;
  TLabel Label5;
  TLabel RichEdit6;
  TLabel RichEdit5;
  TCheckBox RunQuickBox;
  TButton BackBtn;
  TButton NextBtn;
  TButton CancelBtn;

  // True when the installation record was there when the wizard was created.
  bool PreviousInstall = false;
  std::wstring ClientExeName;
  std::wstring DatabaseName;
  std::wstring TemplateName;
  // The kit: the folder the installer runs from.
  std::wstring SourceDir;
  std::wstring VersionText;
  // How the run ends for the process: cancelled until an installation was tried.
  TExitCode Outcome = TExitCode::Cancelled;

  void NextBtnClick();
  void BackBtnClick();
  void BrowseBtnClick();
  void EAddrChange();
  void HostChange();

  // What the installation steps take from the wizard now.
  TInstallChoices Choices() const;

  // Told as each installation step starts, when set.
  std::function<void(TInstallStep)> OnInstallStep;

 protected:
  void FormShow() override;
  void FormCloseQuery(bool& canClose) override;

 private:
  void ReadRegistryDefaults();
  // Takes the destination in its full form, or shows why it is refused and answers false.
  bool AcceptDestination();
  // Asks before an installation leaves its folder, and the user's mail in it, behind.
  bool ConfirmMove();
  void ReadClientConfig();
  bool RunInstallation();
  void ShowEncryptedDatabaseNotice();
  // Next's state and caption on page `page`, as both directions set them.
  void SetNextButtonFor(int page);
  void ShowPage(int page);
  void ListChoices();
  bool AddressComplete() const;

  // Why the stored address and host could not be read at creation; "" when they were.
  std::wstring ConfigReadFailure_;
};
