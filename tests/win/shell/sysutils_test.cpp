#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/ScratchFolder.h"
#include "../support/UiScript.h"
#include "base/Text.h"
#include "shell/SysUtils.h"
#include "base/Handles.h"

namespace {

void MakeFolder(const std::wstring& path, DWORD attributes = 0) {
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
  if (attributes) SetFileAttributesW(path.c_str(), attributes);
}

void MakeFile(const std::wstring& path, DWORD attributes = 0) {
  ASSERT_TRUE(WriteTextFile(path, "data"));
  if (attributes) SetFileAttributesW(path.c_str(), attributes);
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> list) {
  std::sort(list.begin(), list.end());
  return list;
}

}  // namespace

TEST(DeleteTree, DeletesHiddenAndSystemEntriesAndDescendsIntoAttributedFolders) {
  ScratchFolder scratch(L"deltree");
  const std::wstring root = scratch / L"root";
  MakeFolder(root);
  MakeFile(root + L"\\plain.txt");
  MakeFile(root + L"\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(root + L"\\system.txt", FILE_ATTRIBUTE_SYSTEM);
  MakeFolder(root + L"\\hidden", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(root + L"\\hidden\\inner.txt");
  MakeFolder(root + L"\\readonly", FILE_ATTRIBUTE_READONLY);
  MakeFile(root + L"\\readonly\\inner.txt");
  MakeFolder(root + L"\\archive", FILE_ATTRIBUTE_ARCHIVE);
  MakeFolder(root + L"\\archive\\deeper");
  MakeFile(root + L"\\archive\\deeper\\inner.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

  EXPECT_TRUE(DeleteTree(root + L"\\"));  // a trailing backslash makes no difference
  EXPECT_FALSE(Exists(root));
  EXPECT_FALSE(DeleteTree(root)) << "a missing folder answers false";
  EXPECT_FALSE(DeleteTree(L""));
}

TEST(DeleteTree, LeavesReadOnlyFileAndItsFolderChain) {
  ScratchFolder scratch(L"deltree-ro");
  const std::wstring root = scratch / L"root";
  MakeFolder(root);
  MakeFolder(root + L"\\keep");
  MakeFile(root + L"\\keep\\locked.txt", FILE_ATTRIBUTE_READONLY);
  MakeFile(root + L"\\keep\\gone.txt");
  MakeFolder(root + L"\\other");
  MakeFile(root + L"\\other\\gone.txt");
  MakeFile(root + L"\\gone.txt");

  EXPECT_FALSE(DeleteTree(root));
  EXPECT_TRUE(Exists(root + L"\\keep\\locked.txt"));
  EXPECT_FALSE(Exists(root + L"\\keep\\gone.txt"));
  EXPECT_FALSE(Exists(root + L"\\other"));
  EXPECT_FALSE(Exists(root + L"\\gone.txt"));

  EXPECT_FALSE(DeleteTree(root + L"\\keep\\locked.txt")) << "a file is not a folder";
  SetFileAttributesW((root + L"\\keep\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(DeleteTree(root));
  EXPECT_FALSE(Exists(root));
}

TEST(DeleteTree, LeavesWhatItIsToldToKeepWithTheFoldersThatLeadToIt) {
  ScratchFolder scratch(L"deltree-keep");
  const std::wstring root = scratch / L"root";
  MakeFolder(root);
  MakeFile(root + L"\\gone.txt");
  MakeFile(root + L"\\keep.me");
  MakeFolder(root + L"\\sub");
  MakeFile(root + L"\\sub\\gone.txt");
  MakeFolder(root + L"\\sub\\kept");
  MakeFile(root + L"\\sub\\kept\\inner.txt");
  MakeFolder(root + L"\\other");
  MakeFile(root + L"\\other\\keep.me");
  const TKeepEntry keep = [](const std::wstring& path) {
    return ExtractFileName(path) == L"keep.me" || ExtractFileName(path) == L"kept";
  };
  EXPECT_FALSE(DeleteTree(root, keep));
  for (const wchar_t* kept : {L"\\keep.me", L"\\sub\\kept\\inner.txt", L"\\other\\keep.me"})
    EXPECT_TRUE(Exists(root + kept)) << Narrow(kept);
  EXPECT_FALSE(Exists(root + L"\\gone.txt"));
  EXPECT_FALSE(Exists(root + L"\\sub\\gone.txt"));
}

// The build makes linkfixture/tree/link, a symbolic link to linkfixture/outside, from the
// Linux side before this suite runs; Wine lists it as a folder that is a reparse point.
// Windows removes such a link as itself; Wine only ever hands out its target, so there
// the link stays and the tree with it. Either way nothing behind the link is touched,
// whether the link lies in the tree or is the folder given.
TEST(DeleteTree, NeverDeletesThroughALink) {
  const std::wstring fixture = UnixToWine(TW_BINARY_DIR "/linkfixture");
  const std::wstring tree = fixture + L"\\tree";
  const std::wstring link = tree + L"\\link";
  EXPECT_TRUE(IsLinkEntry(link));
  EXPECT_FALSE(IsLinkEntry(fixture + L"\\outside"));
  EXPECT_FALSE(IsLinkEntry(link + L"\\keep.txt"));
  const bool linkRemoved = DeleteTree(link + L"\\");
  EXPECT_TRUE(Exists(fixture + L"\\outside\\sub\\keep.txt"));
  EXPECT_EQ(linkRemoved, !Exists(link));
  const DWORD attributes = GetFileAttributesW((tree + L"\\link").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "fixture missing";
  ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << std::hex << attributes;
  ASSERT_TRUE(WriteTextFile(tree + L"\\beside.txt", "x"));
  ASSERT_TRUE(CreateDirectoryW((tree + L"\\sub").c_str(), nullptr));

  const bool removed = DeleteTree(tree);
  EXPECT_TRUE(Exists(fixture + L"\\outside\\keep.txt"));
  EXPECT_TRUE(Exists(fixture + L"\\outside\\sub\\keep.txt"));
  EXPECT_FALSE(Exists(tree + L"\\beside.txt"));
  EXPECT_FALSE(Exists(tree + L"\\sub"));
  EXPECT_EQ(removed, !Exists(tree));
  EXPECT_EQ(removed, !Exists(tree + L"\\link")) << "only the link can keep the tree";
}

TEST(ListFiles, FiltersByMaskAndPrefixesTheWildcardFolder) {
  ScratchFolder scratch(L"list");
  const std::wstring dir = scratch.Path() + L"\\";
  MakeFile(dir + L"a.txt");
  MakeFile(dir + L"b.dat");
  MakeFile(dir + L"c.txt", FILE_ATTRIBUTE_HIDDEN);
  MakeFolder(dir + L"sub.txt");

  std::vector<std::wstring> list;
  EXPECT_EQ(ListFiles(&list, dir + L"*.*", faAnyFile), 4);
  EXPECT_EQ(Sorted(list), (std::vector<std::wstring>{dir + L"a.txt", dir + L"b.dat", dir + L"c.txt",
                                                      dir + L"sub.txt"}));
  EXPECT_EQ(ListFiles(&list, dir + L"*.txt", 0), 1);
  EXPECT_EQ(list, std::vector<std::wstring>{dir + L"a.txt"});
  EXPECT_EQ(ListFiles(nullptr, dir + L"*.txt", FILE_ATTRIBUTE_DIRECTORY), 2) << "counts without a list";
  EXPECT_EQ(ListFiles(&list, dir + L"*.none", faAnyFile), 0);
  EXPECT_TRUE(list.empty());
}

TEST(CreateShortcut, WritesLinkThatReadsBack) {
  // Written into the build so that lnkinfo can read it afterwards.
  const std::wstring folder = UnixToWine(TW_BINARY_DIR "/lnkcheck");
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring linkFile = folder + L"\\Tarnwhistle.lnk";
  DeleteFileW(linkFile.c_str());
  const std::wstring target = L"C:\\Program Files\\Tarnwhistle\\TW.exe";

  ASSERT_GE(CreateShortcut(target, linkFile, target, L"Tarnwhistle mail", L""), 0);
  ASSERT_TRUE(Exists(linkFile));

  CoInitialize(nullptr);
  {
    ComPtr<IShellLinkW> link;
    ASSERT_GE(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                               link.put_void()), 0);
    ComPtr<IPersistFile> file;
    ASSERT_GE(link->QueryInterface(IID_IPersistFile, file.put_void()), 0);
    ASSERT_GE(file->Load(linkFile.c_str(), STGM_READ), 0);
    wchar_t text[MAX_PATH] = {};
    int icon = -1;
    link->GetPath(text, MAX_PATH, nullptr, 0);
    EXPECT_STREQ(text, target.c_str());
    link->GetDescription(text, MAX_PATH);
    EXPECT_STREQ(text, L"Tarnwhistle mail");
    link->GetWorkingDirectory(text, MAX_PATH);
    EXPECT_STREQ(text, L"c:\\program files\\tarnwhistle\\");
    link->GetIconLocation(text, MAX_PATH, &icon);
    EXPECT_STREQ(text, target.c_str());
    EXPECT_EQ(icon, 0);
    text[0] = L'?';
    link->GetArguments(text, MAX_PATH);
    EXPECT_STREQ(text, L"") << "empty arguments stay unset";
  }
  CoUninitialize();
}

TEST(CreateShortcut, SetsArgumentsAndAnswersFailureOfTheSave) {
  ScratchFolder scratch(L"lnk");
  const std::wstring linkFile = scratch / L"Uninstall.lnk";
  EXPECT_GE(CreateShortcut(L"UninstTW.exe", linkFile, L"UninstTW.exe", L"Uninstall", L"-u"), 0);
  EXPECT_TRUE(Exists(linkFile));
  EXPECT_LT(CreateShortcut(L"TW.exe", scratch / L"missing\\x.lnk", L"TW.exe", L"x", L""), 0);
}

TEST(PathQueries, ShortPathAndWindowsFolder) {
  ScratchFolder scratch(L"short path");
  EXPECT_FALSE(ShortPathName(scratch.Path()).empty());
  EXPECT_TRUE(Exists(ShortPathName(scratch.Path())));
  EXPECT_EQ(ShortPathName(scratch / L"no such thing"), L"");
  const std::wstring windows = WindowsDirectory();
  ASSERT_FALSE(windows.empty());
  EXPECT_NE(windows.back(), L'\\');
  EXPECT_TRUE(Exists(windows + L"\\system32"));
}

TEST(RunProgram, StartsCommandWithoutWaiting) {
  ScratchFolder scratch(L"run");
  const std::wstring out = scratch / L"out.txt";
  RunProgram(L"cmd.exe /c echo started> \"" + out + L"\"", SW_HIDE);
  for (int i = 0; i < 200 && !Exists(out); ++i) Sleep(50);
  EXPECT_TRUE(Exists(out));
  RunProgram(L"no-such-program-anywhere.exe", SW_SHOWNORMAL);  // not reported, nothing happens
}

// A program named without a folder is the system's own: one of that name in the current
// folder or beside this program never runs in its place.
TEST(RunProgram, TakesABareNameOnlyFromTheSystemsFolders) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(LocaleLower(SystemProgram(L"explorer.exe")), LocaleLower(WindowsDirectory() + L"\\explorer.exe"));
  EXPECT_EQ(LocaleLower(SystemProgram(L"cmd")), LocaleLower(std::wstring(system) + L"\\cmd.exe"));
  for (const wchar_t* name : {L"no-such-program.exe", L"..\\explorer.exe", L"C:explorer.exe", L""})
    EXPECT_EQ(SystemProgram(name), L"") << Narrow(name);

  ScratchFolder scratch(L"planted");
  const std::wstring planted = scratch / L"twplanted.exe";
  ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\cmd.exe").c_str(), planted.c_str(), FALSE));
  const std::wstring current = CurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.Path().c_str()));
  RunProgram(L"twplanted.exe /c echo planted> bare.txt", SW_HIDE);
  RunProgram(L"\"" + planted + L"\" /c echo full> full.txt", SW_HIDE);
  for (int i = 0; i < 200 && !Exists(scratch / L"full.txt"); ++i) Sleep(50);
  SetCurrentDirectoryW(current.c_str());
  EXPECT_TRUE(Exists(scratch / L"full.txt")) << "a full path runs";
  EXPECT_FALSE(Exists(scratch / L"bare.txt")) << "the bare name found no system program";
}

TEST(CenterOver, CentresAndTruncatesTowardZero) {
  auto popup = [](int x, int y, int w, int h) {
    return CreateWindowExW(0, L"STATIC", L"", WS_POPUP, x, y, w, h, nullptr, nullptr, nullptr, nullptr);
  };
  HWND reference = popup(100, 200, 300, 100);
  HWND small = popup(0, 0, 101, 50);
  HWND large = popup(0, 0, 303, 103);
  RECT r;
  CenterOver(small, reference);
  GetWindowRect(small, &r);
  EXPECT_EQ(r.left, 100 + 99);  // (300 - 101) / 2
  EXPECT_EQ(r.top, 200 + 25);
  CenterOver(large, reference);
  GetWindowRect(large, &r);
  EXPECT_EQ(r.left, 100 - 1);  // -3 / 2 truncates to -1
  EXPECT_EQ(r.top, 200 - 1);
  CenterOver(large, nullptr);
  GetWindowRect(large, &r);
  EXPECT_EQ(r.left, 99) << "no reference, no move";
  DestroyWindow(large);
  DestroyWindow(small);
  DestroyWindow(reference);
}

TEST(QueryString, GrowsTheBufferUntilTheTextFits) {
  // Calls that report the capacity they need, and calls that truncate and report the
  // capacity they had, both give the whole text however long it is.
  const std::wstring longText(3 * MAX_PATH + 7, L'x');
  struct Row {
    bool Truncates;
    std::wstring Text;
  };
  const Row rows[] = {{false, longText}, {true, longText}, {false, L"short"}, {true, L"short"}};
  for (const Row& row : rows) {
    int calls = 0;
    const std::wstring answer = QueryString([&](wchar_t* buffer, DWORD capacity) -> DWORD {
      ++calls;
      const size_t length = row.Text.size();
      if (length >= capacity) {
        if (!row.Truncates) return static_cast<DWORD>(length + 1);
        row.Text.copy(buffer, capacity - 1);
        return capacity;
      }
      row.Text.copy(buffer, length);
      return static_cast<DWORD>(length);
    });
    EXPECT_EQ(answer, row.Text) << "truncates " << row.Truncates;
    EXPECT_LE(calls, 3) << "truncates " << row.Truncates;
  }
  EXPECT_EQ(QueryString([](wchar_t*, DWORD) -> DWORD { return 0; }), L"") << "failure";
}

TEST(FileExists, IsTrueForFilesOnly) {
  ScratchFolder scratch(L"exists");
  MakeFile(scratch / L"file.txt");
  MakeFolder(scratch / L"folder");
  EXPECT_TRUE(FileExists(scratch / L"file.txt"));
  EXPECT_FALSE(FileExists(scratch / L"folder"));
  EXPECT_FALSE(FileExists(scratch / L"absent.txt"));
}
