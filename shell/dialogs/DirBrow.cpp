#include "shell/dialogs/DirBrow.h"

#include <shlwapi.h>

#include <algorithm>

#include "shell/Paths.h"
#include "shell/SysUtils.h"
#include "base/Text.h"
#include "base/Handles.h"
#include "shell/win/UiSeam.h"

namespace {

// No "insert a disk" box from the system while a drive without a medium is looked at.
class QuietDriveErrors {
 public:
  QuietDriveErrors() : Previous_(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
  QuietDriveErrors(const QuietDriveErrors&) = delete;
  QuietDriveErrors& operator=(const QuietDriveErrors&) = delete;
  ~QuietDriveErrors() { SetErrorMode(Previous_); }

 private:
  UINT Previous_;
};

// The names in `folder` that are folders (`folders` true) or files, leaving out hidden and
// system entries, sorted without regard to letter case.
std::vector<std::wstring> FolderEntries(const std::wstring& folder, bool folders) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileExW(
      (AddBackslash(folder) + L"*").c_str(), FindExInfoBasic, &data,
      folders ? FindExSearchLimitToDirectories : FindExSearchNameMatch, nullptr, 0));
  if (!search) return names;
  do {
    const std::wstring name = data.cFileName;
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder != folders || name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) continue;
    names.push_back(name);
  } while (FindNextFileW(search.get(), &data));
  std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
    return lstrcmpiW(a.c_str(), b.c_str()) < 0;
  });
  return names;
}

// The length of the path's root: "c:\\" or "\\\\server\\share\\".
size_t RootLength(const std::wstring& path) {
  const wchar_t* afterRoot = PathSkipRootW(path.c_str());
  return afterRoot ? static_cast<size_t>(afterRoot - path.c_str()) : path.size();
}

// A small folder, opened (filled) or closed (outlined), in the item's text colour, so that
// it shows in every colour scheme.
void DrawFolderGlyph(HDC dc, const RECT& box, bool open, COLORREF color, COLORREF background) {
  const int width = box.right - box.left, height = box.bottom - box.top;
  const POINT tab[] = {{box.left, box.top + height / 5},
                       {box.left + width * 2 / 5, box.top + height / 5},
                       {box.left + width / 2, box.top + height * 2 / 5},
                       {box.right, box.top + height * 2 / 5},
                       {box.right, box.bottom},
                       {box.left, box.bottom}};
  UniqueBrush fill(CreateSolidBrush(open ? color : background));
  UniquePen outline(CreatePen(PS_SOLID, 1, color));
  SelectedObject brush(dc, fill.get());
  SelectedObject pen(dc, outline.get());
  Polygon(dc, tab, static_cast<int>(std::size(tab)));
}

// The folder `path` names when it exists, else the nearest one above it that does; empty
// for a path that is not full, or whose drive or share is not there.
std::wstring NearestExistingFolder(const std::wstring& path) {
  if (!IsAbsolute(path)) return {};
  std::wstring folder = FullPath(path);
  while (!folder.empty() && !FolderExists(folder)) {
    if (IsDriveRoot(folder)) return {};
    std::wstring parent = ExtractFilePath(StripBackslash(folder));
    if (parent == folder) return {};
    folder = std::move(parent);
  }
  return folder;
}

}  // namespace

// ---- TDirectoryListBox

TDirectoryListBox::TDirectoryListBox(TContainer& parent, const wchar_t* name, const TBounds& bounds)
    : TListBox(parent, name, bounds, LBS_OWNERDRAWFIXED | LBS_HASSTRINGS) {
  FontChanged();
}

bool TDirectoryListBox::SetDirectory(const std::wstring& folder) {
  QuietDriveErrors quiet;
  if (folder.empty() || !SetCurrentDirectoryW(folder.c_str())) return false;
  Directory_ = CurrentDirectory();

  // The chain from the root down to the current folder, then its sub-folders.
  Clear();
  const size_t rootLength = RootLength(Directory_);
  Add(LocaleLower(Directory_.substr(0, rootLength)));
  SetItemData(0, 0);
  std::wstring rest = Directory_.substr(rootLength);
  int level = 0;
  for (size_t start = 0; start < rest.size();) {
    size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    Add(rest.substr(start, end - start));
    SetItemData(Count() - 1, ++level);
    start = end + 1;
  }
  ChainLength_ = Count();
  for (const auto& subFolder : FolderEntries(Directory_, true)) {
    Add(subFolder);
    SetItemData(Count() - 1, level + 1);
  }
  SetItemIndex(ChainLength_ - 1);
  if (OnDirectoryChange) OnDirectoryChange();
  return true;
}

std::wstring TDirectoryListBox::ItemPath(int index) const {
  if (index >= ChainLength_) return AddBackslash(Directory_) + Item(index);
  std::wstring path = Directory_.substr(0, RootLength(Directory_));
  for (int i = 1; i <= index; ++i) path = AddBackslash(path) + Item(i);
  return path;
}

void TDirectoryListBox::OpenItem(int index) {
  if (index < 0 || index >= Count()) return;
  if (!SetDirectory(ItemPath(index))) {
    PlayBeep(MB_ICONWARNING);
    SetItemIndex(ChainLength_ - 1);
  }
}

std::wstring TDirectoryListBox::HighlightedFolder() const {
  const int index = ItemIndex();
  return index >= 0 && index < Count() ? ItemPath(index) : Directory_;
}

bool TDirectoryListBox::HighlightsOtherFolder() const {
  const int index = ItemIndex();
  return index >= 0 && index != ChainLength_ - 1;
}

void TDirectoryListBox::Notify(WORD code) {
  if (code == LBN_DBLCLK) OpenItem(ItemIndex());
  TListBox::Notify(code);
}

// Enter on another folder than the current one opens it, as a double click does; on the
// current folder Enter is the dialog's (OK).
bool TDirectoryListBox::ControlMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                       LRESULT& result) {
  const auto* key = reinterpret_cast<const MSG*>(lParam);
  switch (message) {
    case WM_GETDLGCODE:
      result = DefaultMessage(message, wParam, lParam);
      if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN && HighlightsOtherFolder())
        result |= DLGC_WANTMESSAGE;
      return true;
    case WM_KEYDOWN:
      if (wParam != VK_RETURN) return false;
      OpenItem(ItemIndex());
      return true;
    case WM_CHAR:
      return wParam == L'\r';  // the Enter just handled, not a letter to look for
  }
  return false;
}

void TDirectoryListBox::FontChanged() {
  WindowDC dc(Handle());
  SelectedObject font(dc.get(), FontHandle());
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc.get(), &metrics);
  Send(LB_SETITEMHEIGHT, 0, metrics.tmHeight + Scale(3));
}

void TDirectoryListBox::DrawItem(const DRAWITEMSTRUCT& item) {
  if (item.itemID == static_cast<UINT>(-1)) return;
  const int index = static_cast<int>(item.itemID);
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  HDC dc = item.hDC;
  const int background = selected ? COLOR_HIGHLIGHT : COLOR_WINDOW;
  const COLORREF color = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
  FillRect(dc, &item.rcItem, GetSysColorBrush(background));

  const int height = item.rcItem.bottom - item.rcItem.top;
  const int glyph = std::min(Scale(14), height - Scale(2));
  RECT box;
  box.left = item.rcItem.left + Scale(3) + Scale(12) * static_cast<int>(ItemData(index));
  box.top = item.rcItem.top + (height - glyph) / 2;
  box.right = box.left + glyph;
  box.bottom = box.top + glyph * 4 / 5;
  DrawFolderGlyph(dc, box, index < ChainLength_, color, GetSysColor(background));

  RECT text = item.rcItem;
  text.left = box.right + Scale(4);
  const std::wstring name = Item(index);
  SelectedObject font(dc, FontHandle());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  DrawTextW(dc, name.c_str(), static_cast<int>(name.size()), &text,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &item.rcItem);
}

// ---- TFileListBox

TFileListBox::TFileListBox(TContainer& parent, const wchar_t* name, const TBounds& bounds)
    : TListBox(parent, name, bounds) {}

void TFileListBox::SetFolder(const std::wstring& folder) {
  QuietDriveErrors quiet;
  Clear();
  for (const auto& file : FolderEntries(folder, false)) Add(file);
}

// ---- TDriveComboBox

TDriveComboBox::TDriveComboBox(TContainer& parent, const wchar_t* name, const TBounds& bounds)
    : TComboBox(parent, name, bounds) {
  QuietDriveErrors quiet;
  const DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(drives & (1u << i))) continue;
    const wchar_t letter = static_cast<wchar_t>(L'a' + i);
    std::wstring text{letter, L':'};
    const std::wstring root = text + L'\\';
    wchar_t label[MAX_PATH + 1] = L"";
    // Only fixed disks are asked for their label: removable ones might spin up or prompt.
    if (GetDriveTypeW(root.c_str()) == DRIVE_FIXED &&
        GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr,
                              0) &&
        label[0])
      text += L" [" + std::wstring(label) + L"]";
    Add(text);
    Letters_.push_back(letter);
  }
}

wchar_t TDriveComboBox::Drive() const {
  const int index = ItemIndex();
  return index >= 0 && index < static_cast<int>(Letters_.size())
             ? Letters_[static_cast<size_t>(index)]
             : 0;
}

void TDriveComboBox::ShowDriveOf(const std::wstring& path) {
  if (path.size() < 2 || path[1] != L':') return SetItemIndex(-1);
  const wchar_t letter = LocaleLower(path.substr(0, 1))[0];
  const auto found = std::find(Letters_.begin(), Letters_.end(), letter);
  SetItemIndex(found == Letters_.end() ? -1 : static_cast<int>(found - Letters_.begin()));
}

// ---- TBrowseDlg

TBrowseDlg::TBrowseDlg(TForm* owner)
    : TForm(owner, {.Caption = L"Select Directory", .ClientWidth = 401, .ClientHeight = 215}),
      Label1(*this, L"Label1", L"&Folders", {16, 8, 177, 16}),
      DirectoryListBox1(*this, L"DirectoryListBox1", {16, 26, 177, 104}),
      Label2(*this, L"Label2", L"F&iles", {208, 8, 177, 16}),
      FileListBox1(*this, L"FileListBox1", {208, 26, 177, 138}),
      Label3(*this, L"Label3", L"Dri&ves", {16, 134, 177, 16}),
      DriveComboBox1(*this, L"DriveComboBox1", {16, 152, 177, 19}),
      OkBtn(*this, L"OkBtn", L"Ok", {224, 178, 75, 25}),
      CancelBtn(*this, L"CancelBtn", L"Cancel", {312, 178, 75, 25}) {
  OkBtn.SetDefault(true);
  OkBtn.SetModalResult(mrOk);
  CancelBtn.SetModalResult(mrCancel);
  CancelBtn.SetCancel(true);
  // The files are there to be seen, not chosen: grey, where grey is readable.
  TFont greyText;
  greyText.Color = ReadableGrayText(clWindow);
  FileListBox1.SetFont(greyText);
  DirectoryListBox1.OnDirectoryChange = [this] { DirectoryListBox1Change(); };
  DriveComboBox1.OnChange = [this] { DriveComboBox1Change(); };
}

void TBrowseDlg::DirectoryListBox1Change() {
  FileListBox1.SetFolder(DirectoryListBox1.Directory());
  DriveComboBox1.ShowDriveOf(DirectoryListBox1.Directory());
}

void TBrowseDlg::DriveComboBox1Change() {
  // The drive's own current folder, its root when it has none.
  const std::wstring drive{DriveComboBox1.Drive(), L':'};
  const std::wstring folder = QueryString([&](wchar_t* buffer, DWORD capacity) {
    return GetFullPathNameW(drive.c_str(), capacity, buffer, nullptr);
  });
  if (!DirectoryListBox1.SetDirectory(folder)) {
    PlayBeep(MB_ICONWARNING);
    DriveComboBox1.ShowDriveOf(DirectoryListBox1.Directory());
  }
}

void TBrowseDlg::FormShow() {
  if (!DirectoryListBox1.SetDirectory(NearestExistingFolder(StartFolder)) &&
      !DirectoryListBox1.SetDirectory(ExtractFilePath(ModuleFileName())))
    DirectoryListBox1.SetDirectory(CurrentDirectory());
  DirectoryListBox1.SetFocus();
}

void TBrowseDlg::FormCloseQuery(bool& canClose) {
  if (ModalResult() == mrCancel) return;
  const std::wstring folder = DirectoryListBox1.HighlightedFolder();
  if (!RequiredFile.empty() && !FileExists(AddBackslash(folder) + RequiredFile)) {
    ShowMessageBox(Handle(),
                   L"The file '" + RequiredFile +
                       L"' is not in the directory you have chosen.\nPlease select again.",
                   L"Invalid path", MB_OK);
    canClose = false;
    return;
  }
  ChosenFolder = folder;
}

std::wstring BrowseForFolder(TForm* owner, const std::wstring& requiredFile,
                             const std::wstring& startFolder) {
  TBrowseDlg dialog(owner);
  CenterOver(dialog.Handle(), owner ? owner->Handle() : nullptr);
  dialog.RequiredFile = requiredFile;
  dialog.StartFolder = startFolder;
  const std::wstring answer = dialog.ShowModal() == mrCancel ? L"cancel" : dialog.ChosenFolder;
  return LocaleLower(answer);
}

std::wstring BrowseForFolder(TForm* owner) { return BrowseForFolder(owner, std::wstring()); }
