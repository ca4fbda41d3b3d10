// The folder picker under Wine: where it opens, how its lists follow the folder, the
// required-file refusal, the lower-cased answer, drive roots, "cancel" and the process's
// current folder afterwards; the keyboard, the lists' names and the layout.
#include <gtest/gtest.h>

#include "shell/SysUtils.h"
#include "base/Text.h"
#include "shell/dialogs/DirBrow.h"
#include "base/Handles.h"
#include "tests/win/support/KeyboardAndText.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/Screenshot.h"
#include "tests/win/support/UiScript.h"

namespace {

void WriteFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
  ASSERT_TRUE(file) << Narrow(path);
}

// Folder names compare without regard to letter case (Wine may report a drive letter in
// either case).
void ExpectSameFolder(const std::wstring& actual, const std::wstring& expected) {
  EXPECT_EQ(LocaleLower(actual), LocaleLower(expected));
}

int IndexOf(const std::vector<std::wstring>& items, const std::wstring& item) {
  const auto found = std::find(items.begin(), items.end(), item);
  return found == items.end() ? -1 : static_cast<int>(found - items.begin());
}

// A kit folder with two files, a hidden one and two sub-folders; an empty folder; a folder
// whose name has capitals outside ASCII. Removed afterwards, with the current folder put back.
class BrowseDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Root_ = TempFolder() + L"TwBrowse " + std::to_wstring(GetCurrentProcessId());
    Kit_ = Root_ + L"\\Kit";
    Empty_ = Root_ + L"\\Empty";
    Mixed_ = Root_ + L"\\Mixed Case \u00C4\u00D6";
    for (const auto& folder : {Root_, Kit_, Kit_ + L"\\Sub1", Kit_ + L"\\Sub2", Empty_, Mixed_})
      CreateDirectoryW(folder.c_str(), nullptr);
    WriteFile(Kit_ + L"\\TW.ini");
    WriteFile(Kit_ + L"\\ReadMe.txt");
    WriteFile(Kit_ + L"\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    PreviousFolder_ = CurrentDirectory();
  }
  void TearDown() override {
    SetCurrentDirectoryW(PreviousFolder_.c_str());
    SetFileAttributesW((Kit_ + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteTree(Root_);
  }

  std::wstring Root_, Kit_, Empty_, Mixed_, PreviousFolder_;
  UiScript Script_;
  TForm Owner_{nullptr, {.Caption = L"Owner", .ClientWidth = 457, .ClientHeight = 305}};
};

}  // namespace

TEST_F(BrowseDialogTest, OpensOnTheProgramsFolderAndItsListsFollowTheFolder) {
  Script_.OnModal([&](TForm& form) {
    auto& dialog = static_cast<TBrowseDlg&>(form);
    EXPECT_EQ(dialog.Caption(), L"Select Directory");
    EXPECT_EQ(dialog.Owner(), &Owner_);
    const std::wstring programFolder = StripBackslash(ExtractFilePath(ModuleFileName()));
    ExpectSameFolder(dialog.DirectoryListBox1.Directory(), programFolder);
    ExpectSameFolder(CurrentDirectory(), programFolder);

    // The kit: the file list shows its visible files; the folder list the way down from the
    // drive's root and the sub-folders; the drive selector its drive.
    ASSERT_TRUE(dialog.DirectoryListBox1.SetDirectory(Kit_));
    EXPECT_EQ(dialog.FileListBox1.Items(), (std::vector<std::wstring>{L"ReadMe.txt", L"TW.ini"}));
    const std::vector<std::wstring> folders = dialog.DirectoryListBox1.Items();
    ASSERT_GE(folders.size(), 4u);
    EXPECT_EQ(folders.front(), LocaleLower(Kit_.substr(0, 3)));
    EXPECT_EQ(std::vector<std::wstring>(folders.end() - 3, folders.end()),
              (std::vector<std::wstring>{L"Kit", L"Sub1", L"Sub2"}));
    EXPECT_EQ(dialog.DirectoryListBox1.ItemIndex(), static_cast<int>(folders.size()) - 3);
    EXPECT_EQ(dialog.DriveComboBox1.Drive(), LocaleLower(Kit_.substr(0, 1))[0]);
    ExpectSameFolder(CurrentDirectory(), Kit_);
    SaveScreenshot(form.Handle(), L"folder-picker");

    // Down into a sub-folder, then up again through the kit's own item.
    dialog.DirectoryListBox1.OpenItem(static_cast<int>(folders.size()) - 1);
    ExpectSameFolder(dialog.DirectoryListBox1.Directory(), Kit_ + L"\\Sub2");
    EXPECT_TRUE(dialog.FileListBox1.Items().empty());
    const int kitItem = IndexOf(dialog.DirectoryListBox1.Items(), L"Kit");
    dialog.DirectoryListBox1.OpenItem(kitItem);
    ExpectSameFolder(dialog.DirectoryListBox1.Directory(), Kit_);
    dialog.DirectoryListBox1.OpenItem(kitItem + 1);
    Press(form, L"CancelBtn");
  });
  EXPECT_EQ(BrowseForFolder(&Owner_, L""), L"cancel");
  // The last folder the list showed stays the current folder, cancel or not.
  ExpectSameFolder(CurrentDirectory(), Kit_ + L"\\Sub1");
}

TEST_F(BrowseDialogTest, FolderWithoutTheRequiredFileIsRefusedAndTheDialogStaysOpen) {
  TBrowseDlg* dialog = nullptr;
  const std::wstring invalidText =
      L"The file 'TW.ini' is not in the directory you have chosen.\nPlease select again.";
  // Refused, then the user picks the kit, which has the file.
  Script_.OnModal([&](TForm& form) {
    dialog = &static_cast<TBrowseDlg&>(form);
    ASSERT_TRUE(dialog->DirectoryListBox1.SetDirectory(Empty_));
    Press(form, L"OkBtn");
  });
  Script_.Answer([&](const BoxRecord&) {
    After(*dialog, 50, [&] {
      EXPECT_TRUE(dialog->Visible());
      dialog->DirectoryListBox1.SetDirectory(Kit_);
      Press(*dialog, L"OkBtn");
    });
    return IDOK;
  });
  EXPECT_EQ(BrowseForFolder(&Owner_, L"TW.ini"), LocaleLower(Kit_));
  ASSERT_EQ(Script_.Boxes().size(), 1u);
  EXPECT_EQ(Script_.Boxes()[0].Caption, L"Invalid path");
  EXPECT_EQ(Script_.Boxes()[0].Text, invalidText);
  EXPECT_EQ(Script_.Boxes()[0].Flags, static_cast<UINT>(MB_OK));

  // Refused, then Cancel still closes it.
  Script_.OnModal([&](TForm& form) {
    dialog = &static_cast<TBrowseDlg&>(form);
    ASSERT_TRUE(dialog->DirectoryListBox1.SetDirectory(Mixed_));
    Press(form, L"OkBtn");
  });
  Script_.Answer([&](const BoxRecord&) {
    After(*dialog, 50, [&] { Press(*dialog, L"CancelBtn"); });
    return IDOK;
  });
  EXPECT_EQ(BrowseForFolder(&Owner_, L"TW.ini"), L"cancel");
  ASSERT_EQ(Script_.Boxes().size(), 2u);
  EXPECT_EQ(Script_.Boxes()[1].Text, invalidText);
  ExpectSameFolder(CurrentDirectory(), Mixed_);
}

TEST_F(BrowseDialogTest, AnswerIsLowerCasedAndADriveRootKeepsItsBackslash) {
  Script_.OnModal([&](TForm& form) {
    ASSERT_TRUE(static_cast<TBrowseDlg&>(form).DirectoryListBox1.SetDirectory(Mixed_));
    Press(form, L"OkBtn");
  });
  const std::wstring answer = BrowseForFolder(&Owner_);
  EXPECT_EQ(answer, LocaleLower(Mixed_));
  EXPECT_NE(answer.back(), L'\\');
  EXPECT_NE(answer.find(L"mixed case \u00E4\u00F6"), std::wstring::npos);

  // The drive selector takes the folder list to drive C:, whose root is then opened.
  Script_.OnModal([&](TForm& form) {
    auto& dialog = static_cast<TBrowseDlg&>(form);
    int driveC = -1;
    for (int i = 0; i < dialog.DriveComboBox1.Count(); ++i)
      if (dialog.DriveComboBox1.Item(i).starts_with(L"c:")) driveC = i;
    ASSERT_GE(driveC, 0);
    dialog.DriveComboBox1.Select(driveC);
    EXPECT_EQ(LocaleLower(dialog.DirectoryListBox1.Directory().substr(0, 2)), L"c:");
    dialog.DirectoryListBox1.OpenItem(0);
    ExpectSameFolder(dialog.DirectoryListBox1.Directory(), L"c:\\");
    Press(form, L"OkBtn");
  });
  EXPECT_EQ(BrowseForFolder(&Owner_), L"c:\\");
  ExpectSameFolder(CurrentDirectory(), L"c:\\");
}

TEST_F(BrowseDialogTest, TheKeyboardOpensAndTakesTheHighlightedFolder) {
  // Arrows and Enter: down into the first sub-folder, and Enter on the open folder is OK.
  Script_.OnModal([&](TForm& form) {
    auto& dialog = static_cast<TBrowseDlg&>(form);
    After(form, 100, [&] {
      ExpectSameFolder(dialog.DirectoryListBox1.Directory(), Kit_);  // nearest that exists
      EXPECT_EQ(TabOrder(dialog), (std::vector<std::wstring>{L"DirectoryListBox1", L"FileListBox1",
                                                              L"DriveComboBox1", L"OkBtn", L"CancelBtn"}));
      ExpectNamed(dialog.DirectoryListBox1.Handle(), L"Folders");
      ExpectNamed(dialog.FileListBox1.Handle(), L"Files");
      ExpectNamed(dialog.DriveComboBox1.Handle(), L"Drives");
      ExpectAccelerators(dialog, "picker");
      PressKey(VK_DOWN);
      PressKey(VK_RETURN);
      ExpectSameFolder(dialog.DirectoryListBox1.Directory(), Kit_ + L"\\Sub1");
      PressKey(VK_RETURN);
    });
  });
  EXPECT_EQ(BrowseForFolder(&Owner_, L"", Kit_ + L"\\Missing\\Deeper"), LocaleLower(Kit_ + L"\\Sub1"));

  // OK takes the highlighted folder, not the one the list has open.
  Script_.OnModal([&](TForm& form) {
    After(form, 100, [&] {
      ExpectSameFolder(static_cast<TBrowseDlg&>(form).DirectoryListBox1.Directory(), Kit_ + L"\\Sub2");
      PressKey(VK_UP);
      Press(form, L"OkBtn");
    });
  });
  EXPECT_EQ(BrowseForFolder(&Owner_, L"", Kit_ + L"\\Sub2"), LocaleLower(Kit_));
  ExpectSameFolder(CurrentDirectory(), Kit_ + L"\\Sub2");
}

TEST_F(BrowseDialogTest, EveryTextFitsOnEveryDisplay) {
  OnEveryDisplay([&](const TDisplay& display) {
    Script_.OnModal([&](TForm& form) {
      After(form, 100, [&] {
        ExpectLayoutHolds(form, display, L"picker");
        Press(form, L"CancelBtn");
      });
    });
    EXPECT_EQ(BrowseForFolder(&Owner_, L"", Kit_), L"cancel");
  });
}
