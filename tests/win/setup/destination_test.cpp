// Where setup may install: a new or empty folder, or an earlier installation, that can be
// a program's home; what the box says otherwise; and the folder a Browse pick leads to.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "SetupFixture.h"
#include "base/Text.h"
#include "setup/Destination.h"
#include "shell/HomeRule.h"
#include "shell/SysUtils.h"
#include "tests/win/support/UiScript.h"

namespace {

// Makes the folder with the files named (a name ending in a backslash is a folder).
void MakeTree(const std::wstring& root, const std::vector<std::wstring>& entries) {
  CreateDirectoryW(root.c_str(), nullptr);
  for (const std::wstring& entry : entries) {
    const std::wstring path = root + L"\\" + entry;
    if (entry.back() == L'\\') CreateDirectoryW(path.c_str(), nullptr);
    else WriteTextFile(path, "x");
  }
}

std::wstring Downloads() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

class DestinationTest : public SetupTest {
 protected:
  // A folder of the user's own, such as C:\Tools.
  std::wstring Tools() {
    const std::wstring tools = Scratch / L"Tools";
    MakeTree(tools, {L"putty.exe", L"notes.txt", L"sub\\", L"sub\\a.txt"});
    return tools;
  }
};

}  // namespace

TEST_F(DestinationTest, ANewEmptyOrInstalledFolderIsTakenAFolderOfOtherFilesIsNot) {
  const std::wstring tools = Tools();
  const TDestinationCheck refused = CheckDestination(tools);
  EXPECT_FALSE(refused.Accepted());
  EXPECT_EQ(refused.Refusal, L"\"" + tools + L"\" already holds other files.\nPlease choose a new or "
                             L"empty folder, or the folder of an earlier installation of "
                             L"Tarnwhistle, such as " + tools + L"\\Tarnwhistle.");
  EXPECT_TRUE(CheckDestination(tools + L"\\Tarnwhistle").Accepted()) << "new";
  MakeTree(Scratch / L"Empty", {});
  EXPECT_TRUE(CheckDestination(Scratch / L"Empty").Accepted());
  for (const wchar_t* mark : {L"TW.exe", L"UninstTW.exe", L"tw.DBC", L"TW.pgp"}) {
    const std::wstring earlier = Scratch / (std::wstring(L"Earlier-") + mark);
    MakeTree(earlier, {mark, L"ReadMe.txt", L"notes.txt"});
    EXPECT_TRUE(CheckDestination(earlier).Accepted()) << Narrow(mark);
  }
  const TDestinationCheck file = CheckDestination(tools + L"\\notes.txt");
  EXPECT_NE(file.Refusal.find(L"is a file"), std::wstring::npos) << Narrow(file.Refusal);
}

TEST_F(DestinationTest, AFolderThatCannotBeAHomeIsRefusedWithWhatToChoose) {
  const std::wstring downloads = Downloads();
  ASSERT_FALSE(downloads.empty());
  EXPECT_EQ(CheckDestination(downloads).Refusal,
            L"\"" + downloads + L"\" is a user's profile or one of its folders (such as Desktop, "
            L"Documents or Downloads).\nPlease choose a folder of its own for Tarnwhistle, such as " +
                downloads + L"\\Tarnwhistle.");
  EXPECT_TRUE(CheckDestination(downloads + L"\\Tarnwhistle").Accepted());
  const std::wstring fonts = WindowsDirectory() + L"\\Fonts\\Tarnwhistle";
  EXPECT_EQ(CheckDestination(fonts).Refusal,
            L"\"" + fonts + L"\" is the Windows folder or lies in it.\nPlease choose another folder, "
            L"such as C:\\Program Files\\Tarnwhistle.");
}

TEST_F(DestinationTest, BrowseAddsTheProductsFolderUnlessThePickCanTakeTheInstallation) {
  const std::wstring tools = Tools();
  MakeTree(Scratch / L"Empty", {});
  MakeTree(Scratch / L"Earlier", {L"TW.exe", L"notes.txt"});
  EXPECT_EQ(BrowsedDestination(LocaleLower(tools)), LocaleLower(tools) + L"\\Tarnwhistle");
  EXPECT_EQ(BrowsedDestination(Scratch / L"Empty"), Scratch / L"Empty");
  EXPECT_EQ(BrowsedDestination(Scratch / L"Earlier"), Scratch / L"Earlier");
  EXPECT_EQ(BrowsedDestination(L"c:\\"), L"c:\\Tarnwhistle");
  // An empty folder that cannot be a home gets a folder of its own too.
  const std::wstring links = Downloads().substr(0, Downloads().rfind(L'\\')) + L"\\Links";
  if (IsEmptyFolder(links)) {
    EXPECT_EQ(BrowsedDestination(links), links + L"\\Tarnwhistle");
  }
}
