// The notice that ends a removal in which the client was removed: its database and home
// directory are left for the user to delete, and a button opens that directory.
#pragma once

#include <string>

#include "shell/win/Controls.h"

class TUninstDirDlg : public TForm {
 public:
  explicit TUninstDirDlg(TForm* owner);

  TPanel Bevel1;
  TLabel Label2;
  TLabel Label1;
  TLabel Label3;
  TButton OpenDirBtn;
  TButton OkBtn;

  // The client's home directory as the wizard read it, trailing backslash included.
  std::wstring HomeDir;

  void OpenDirBtnClick();
};

// Shows the notice for `homeDir` centred over `wizard`; returns when the user closed it.
// Unless the run was `complete`, the notice says that some items could not be removed.
void ShowCleanupNotice(const std::wstring& homeDir, TForm* wizard, bool complete = true);
