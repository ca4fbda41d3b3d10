// The folder picker: a folder list, a drive selector and a file list that follow one
// another, optionally insisting that a given file be in the chosen folder. From the
// keyboard: the arrows move through the folders, Enter opens the highlighted one, and OK
// takes the highlighted one.
#pragma once

#include <string>

#include "shell/win/Controls.h"

// The folders from a drive's root down to the current folder, each indented one step
// further, followed by the current folder's sub-folders. Opening an item (double click, or
// Enter on another folder than the current one) makes it the current folder, and the
// current folder is always the process's as well.
class TDirectoryListBox : public TListBox {
 public:
  TDirectoryListBox(TContainer& parent, const wchar_t* name, const TBounds& bounds);

  // A full path without a trailing backslash; a drive's root keeps its backslash.
  const std::wstring& Directory() const { return Directory_; }
  // Makes `folder` the current folder (and the process's); false, with nothing changed,
  // when the process cannot change to it.
  bool SetDirectory(const std::wstring& folder);
  // Opens the item as a double click does.
  void OpenItem(int index);
  // The folder of the highlighted item, in the form Directory has: where the user stands.
  std::wstring HighlightedFolder() const;

  // Runs after each change of the current folder.
  std::function<void()> OnDirectoryChange;

 protected:
  void Notify(WORD code) override;
  void DrawItem(const DRAWITEMSTRUCT& item) override;
  void FontChanged() override;
  bool ControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  std::wstring ItemPath(int index) const;
  bool HighlightsOtherFolder() const;

  std::wstring Directory_;
  int ChainLength_ = 0;  // items that lead from the root to the current folder
};

// The files of one folder, sorted by name; hidden and system files are left out.
class TFileListBox : public TListBox {
 public:
  TFileListBox(TContainer& parent, const wchar_t* name, const TBounds& bounds);

  void SetFolder(const std::wstring& folder);
};

// The drives, shown as "c:" (with the volume label for fixed disks).
class TDriveComboBox : public TComboBox {
 public:
  TDriveComboBox(TContainer& parent, const wchar_t* name, const TBounds& bounds);

  // The selected drive's letter (lower case), or 0.
  wchar_t Drive() const;
  // Selects the drive of `path` without running OnChange.
  void ShowDriveOf(const std::wstring& path);

 private:
  std::vector<wchar_t> Letters_;
};

class TBrowseDlg : public TForm {
 public:
  explicit TBrowseDlg(TForm* owner);

  // Each list after the label that names it.
  TLabel Label1;
  TDirectoryListBox DirectoryListBox1;
  TLabel Label2;
  TFileListBox FileListBox1;
  TLabel Label3;
  TDriveComboBox DriveComboBox1;
  TButton OkBtn;
  TButton CancelBtn;

  // Where the picker opens: this folder, or the nearest one above it that exists; the
  // executable's folder when empty or when none does.
  std::wstring StartFolder;
  // A file that must be in the chosen folder before OK is accepted; empty: none.
  std::wstring RequiredFile;
  // The folder OK accepted.
  std::wstring ChosenFolder;

 protected:
  void FormShow() override;
  void FormCloseQuery(bool& canClose) override;

 private:
  void DriveComboBox1Change();
  void DirectoryListBox1Change();
};

// Lets the user pick a folder, starting at `startFolder` (see TBrowseDlg::StartFolder).
// Answers the folder lower-cased (a drive's root with its backslash, any other folder
// without), or "cancel".
std::wstring BrowseForFolder(TForm* owner, const std::wstring& requiredFile,
                             const std::wstring& startFolder = {});
std::wstring BrowseForFolder(TForm* owner);
