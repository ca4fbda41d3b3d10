#include "uninstall/UninstDirDlgs.h"

#include "base/Text.h"
#include "shell/SysUtils.h"

namespace {

// The frame's origin on the form: the controls inside it are placed relative to it.
constexpr int kFrameLeft = 8, kFrameTop = 8;

TBounds InFrame(int left, int top, int width, int height) {
  return {left - kFrameLeft, top - kFrameTop, width, height};
}

}  // namespace

TUninstDirDlg::TUninstDirDlg(TForm* owner)
    : TForm(owner, {.Caption = L"Tarnwhistle Uninstall", .ClientWidth = 433, .ClientHeight = 265}),
      Bevel1(*this, L"Bevel1", L"", {kFrameLeft, kFrameTop, 417, 217}),
      Label2(Bevel1, L"Label2", L"!!! VERY IMPORTANT !!!", InFrame(16, 20, 401, 32), taCenter),
      Label1(Bevel1, L"Label1",
             L"Tarnwhistle has been successfully uninstalled, but you will need to manually "
             L"delete the TW database and home directory.",
             InFrame(24, 64, 385, 44)),
      Label3(Bevel1, L"Label3",
             L"If you are having a problem with TW and uninstalling for the purpose of "
             L"re-installing, you will still want to delete, at least, the TW database.",
             InFrame(24, 116, 385, 44)),
      OpenDirBtn(Bevel1, L"OpenDirBtn", L"&Open home directory now", InFrame(42, 176, 349, 32)),
      OkBtn(*this, L"OkBtn", L"Ok", {179, 232, 75, 25}) {
  Bevel1.SetBevel(bvLowered);
  TFont titleFont;
  titleFont.Height = 24;
  titleFont.Bold = true;
  Label2.SetFont(titleFont);
  OpenDirBtn.OnClick = [this] { OpenDirBtnClick(); };
  OkBtn.SetModalResult(mrOk);
  OkBtn.SetDefault(true);
  OkBtn.SetFocus();
}

void TUninstDirDlg::OpenDirBtnClick() { ExploreFolder(HomeDir); }

void ShowCleanupNotice(const std::wstring& homeDir, TForm* wizard, bool complete) {
  TUninstDirDlg notice(wizard);
  if (!complete)
    notice.Label1.SetText(L"Tarnwhistle has been uninstalled, but some items could not be removed: "
                          L"the uninstaller's window lists them. You will also need to manually "
                          L"delete the TW database and home directory.");
  notice.OpenDirBtn.SetText(L"&Open : " + AsCaption(LocaleLower(homeDir)));
  CenterOver(notice.Handle(), wizard ? wizard->Handle() : nullptr);
  notice.HomeDir = homeDir;
  notice.ShowModal();
}
