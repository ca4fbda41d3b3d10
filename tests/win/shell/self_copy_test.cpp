// The sweep of the uninstaller's earlier copies in the temporary folder, where anyone who
// can write there may have made a folder or a link of their name.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "../support/ScratchFolder.h"
#include "shell/SelfCopy.h"
#include "shell/SysUtils.h"

namespace {

// Points the process's temporary folder elsewhere for as long as it lives.
class TempFolderAt {
 public:
  explicit TempFolderAt(const std::wstring& folder) : Previous_(Variable()) {
    SetEnvironmentVariableW(L"TMP", folder.c_str());
  }
  ~TempFolderAt() { SetEnvironmentVariableW(L"TMP", Previous_.c_str()); }

 private:
  static std::wstring Variable() {
    return QueryString([](wchar_t* buffer, DWORD capacity) {
      return GetEnvironmentVariableW(L"TMP", buffer, capacity);
    });
  }
  std::wstring Previous_;
};

}  // namespace

// The build makes linkfixture/temp/Tarnwhistle-uninstall-link, a symbolic link to
// linkfixture/outside, on the Linux side.
TEST(LeftoverCopies, OnlyTheCopysOwnFileGoesAndNeverThroughALink) {
  const std::wstring fixture = UnixToWine(TW_BINARY_DIR "/linkfixture");
  const std::wstring temp = fixture + L"\\temp";
  const std::wstring link = temp + L"\\Tarnwhistle-uninstall-link";
  ASSERT_TRUE(Exists(link + L"\\keep.txt")) << "fixture missing";
  ASSERT_TRUE(WriteTextFile(fixture + L"\\outside\\UninstTW.exe", "not a copy"));
  const std::wstring shared = temp + L"\\Tarnwhistle-uninstall-shared";
  const std::wstring copy = temp + L"\\Tarnwhistle-uninstall-copy";
  for (const std::wstring& folder : {shared, copy}) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(folder + L"\\UninstTW.exe", "copy"));
  }
  ASSERT_TRUE(WriteTextFile(shared + L"\\notes.txt", "someone's"));
  {
    TempFolderAt redirected(temp);
    RemoveLeftoverCopies();
  }
  EXPECT_TRUE(Exists(fixture + L"\\outside\\UninstTW.exe"));
  EXPECT_TRUE(Exists(fixture + L"\\outside\\keep.txt"));
  EXPECT_TRUE(Exists(link)) << "a link is not touched at all";
  EXPECT_FALSE(Exists(shared + L"\\UninstTW.exe"));
  EXPECT_TRUE(Exists(shared + L"\\notes.txt")) << "no tree is deleted";
  EXPECT_FALSE(Exists(copy));
  DeleteFileW((shared + L"\\notes.txt").c_str());
  RemoveDirectoryW(shared.c_str());
  DeleteFileW((fixture + L"\\outside\\UninstTW.exe").c_str());
}
