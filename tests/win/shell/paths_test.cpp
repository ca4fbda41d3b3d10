// The path utilities on real folders of the test prefix: full forms, device prefixes,
// links followed, and folders compared by identity whatever their spelling.
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/PathSpellings.h"
#include "../support/ScratchFolder.h"
#include "../support/UiScript.h"
#include "base/Text.h"
#include "shell/Paths.h"
#include "shell/SysUtils.h"

namespace {

// Makes `link` a junction to `target`. False where the file system cannot (Wine).
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const std::wstring substitute = L"\\??\\" + target;
  const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  const WORD printBytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
  // Tag, data length, reserved; then offsets and lengths of the two names; then the names,
  // each with its terminator.
  BYTE buffer[2048] = {};
  const WORD dataBytes = static_cast<WORD>(8 + substituteBytes + 2 + printBytes + 2);
  *reinterpret_cast<DWORD*>(buffer) = IO_REPARSE_TAG_MOUNT_POINT;
  WORD* fields = reinterpret_cast<WORD*>(buffer + 4);
  fields[0] = dataBytes;
  fields[2] = 0;
  fields[3] = substituteBytes;
  fields[4] = static_cast<WORD>(substituteBytes + 2);
  fields[5] = printBytes;
  memcpy(buffer + 16, substitute.c_str(), substituteBytes);
  memcpy(buffer + 16 + substituteBytes + 2, target.c_str(), printBytes);
  DWORD returned = 0;
  const BOOL made = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer, 8 + dataBytes, nullptr,
                                    0, &returned, nullptr);
  CloseHandle(handle);
  if (!made) RemoveDirectoryW(link.c_str());
  return made;
}

}  // namespace

TEST(Paths, FullPathFoldsSlashesPrefixesAndDots) {
  EXPECT_EQ(WithBackslashes(L"C:/a/b\\c"), L"C:\\a\\b\\c");
  EXPECT_EQ(StripDevicePrefix(L"\\\\?\\C:\\Windows"), L"C:\\Windows");
  EXPECT_EQ(StripDevicePrefix(L"\\\\.\\C:\\Windows"), L"C:\\Windows");
  EXPECT_EQ(StripDevicePrefix(L"\\\\?\\UNC\\server\\share\\x"), L"\\\\server\\share\\x");
  EXPECT_EQ(StripDevicePrefix(L"\\\\localhost\\C$\\Windows\\Fonts"), L"C:\\Windows\\Fonts");
  EXPECT_EQ(StripDevicePrefix(L"\\\\127.0.0.1\\d$"), L"d:\\");
  EXPECT_EQ(StripDevicePrefix(L"\\\\?\\UNC\\LOCALHOST\\c$\\x"), L"c:\\x");
  EXPECT_EQ(StripDevicePrefix(L"\\\\server\\C$\\Windows"), L"\\\\server\\C$\\Windows");
  EXPECT_EQ(StripDevicePrefix(L"\\\\localhost\\share\\x"), L"\\\\localhost\\share\\x");
  EXPECT_EQ(StripDevicePrefix(L"C:\\x"), L"C:\\x");
  EXPECT_EQ(StripDevicePrefix(L"\\\\?\\unc\\server\\share\\x"), L"\\\\server\\share\\x");
  EXPECT_EQ(StripDevicePrefix(L"\\\\.\\C:"), L"C:\\");
  // A device path that names no folder on a drive or share is never read as a relative
  // path: it has no plain form at all.
  for (const wchar_t* device : {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", L"\\\\.\\pipe\\x",
                                L"\\\\.\\", L"\\\\?\\C:x",
                                L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\x"}) {
    EXPECT_EQ(StripDevicePrefix(device), L"") << Narrow(device);
    EXPECT_EQ(FullPath(device), L"") << Narrow(device);
  }
  // A volume named by its GUID is the folder it is mounted on.
  wchar_t volume[MAX_PATH];
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(L"C:\\", volume, MAX_PATH));
  EXPECT_EQ(LocaleLower(FullPath(std::wstring(volume) + L"Windows\\Fonts")), L"c:\\windows\\fonts");

  EXPECT_EQ(FullPath(L"C:/Program Files/Tarnwhistle/new"), L"C:\\Program Files\\Tarnwhistle\\new");
  EXPECT_EQ(FullPath(L"\\\\?\\C:\\a\\b\\..\\c"), L"C:\\a\\c");
  EXPECT_EQ(FullPath(L"C:\\a\\.\\b\\"), L"C:\\a\\b\\");
  EXPECT_EQ(FullPath(L""), L"");
  const std::wstring current = AddBackslash(CurrentDirectory());
  EXPECT_EQ(LocaleLower(FullPath(L"Tarnwhistle")), LocaleLower(current + L"Tarnwhistle"));

  // Computer names aside, the machine's own administrative share is its drive.
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameW(name, &size));
  EXPECT_EQ(FullPath(L"\\\\" + std::wstring(name) + L"\\C$\\Windows\\.."), L"C:\\");
}

TEST(Paths, AbsoluteMeansADriveOrAShareAndRootsAreTold) {
  const struct {
    const wchar_t* Path;
    bool Absolute, Root;
  } cases[] = {
      {L"C:\\Tarnwhistle", true, false},
      {L"c:/Tarnwhistle/new", true, false},
      {L"\\\\server\\share\\tw", true, false},
      {L"\\\\?\\C:\\tw", true, false},
      {L"C:\\", true, true},
      {L"c:/", true, true},
      {L"C:\\tw\\..", true, true},
      {L"\\\\?\\C:\\", true, true},
      {L"\\\\server\\share", true, true},
      {L"\\\\server\\share\\", true, true},
      {L"\\\\localhost\\C$\\", true, true},
      {L"C:", false, false},
      {L"C:tw", false, false},
      {L"\\tw", false, false},
      {L"\\\\", false, false},
      {L"Tarnwhistle", false, false},
      {L".", false, false},
      {L"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsAbsolute(c.Path), c.Absolute) << Narrow(c.Path);
    EXPECT_EQ(IsDriveRoot(c.Path), c.Root) << Narrow(c.Path);
  }
}

TEST(Paths, OneFolderSpelledManyWaysIsOneFolder) {
  ScratchFolder scratch(L"paths");
  const std::wstring home = scratch / L"Home";
  const std::wstring other = scratch / L"Other";
  ASSERT_TRUE(CreateDirectoryW(home.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((home + L"\\pool").c_str(), nullptr));
  std::vector<std::wstring> spellings = {
      home + L"\\",
      L"\\\\?\\" + home,
      L"\\\\.\\" + home,
      home + L"\\pool\\..",
      WithBackslashes(home) + L"\\.\\",
      LocaleLower(home),
      ShortPathName(home),
  };
  std::replace(spellings.back().begin(), spellings.back().end(), L'\\', L'/');
  const std::wstring throughZ = ThroughDriveZ(home);
  if (!throughZ.empty()) spellings.push_back(throughZ);
  for (const std::wstring& spelling : spellings) {
    EXPECT_TRUE(IsSameFolder(spelling, home)) << Narrow(spelling);
    EXPECT_TRUE(IsSameFolder(home, spelling)) << Narrow(spelling);
    EXPECT_FALSE(IsSameFolder(spelling, other)) << Narrow(spelling);
    EXPECT_TRUE(IsInsideFolder(home + L"\\pool", spelling)) << Narrow(spelling);
    EXPECT_TRUE(IsInsideFolder(AddBackslash(spelling) + L"pool", home)) << Narrow(spelling);
    EXPECT_FALSE(IsInsideFolder(spelling, home)) << Narrow(spelling);
    EXPECT_TRUE(IsSameOrInsideFolder(spelling, home)) << Narrow(spelling);
    EXPECT_EQ(FolderKey(spelling), FolderKey(home)) << Narrow(spelling);
    EXPECT_FALSE(IsLinkedFolder(spelling)) << Narrow(spelling);
  }
  // A folder that does not exist yet lies inside its existing parents, and is no folder
  // to compare.
  EXPECT_TRUE(IsInsideFolder(home + L"\\new\\deeper", throughZ.empty() ? home : throughZ));
  EXPECT_FALSE(IsSameFolder(home + L"\\new", home + L"\\new"));
  EXPECT_FALSE(FolderIdentity(home + L"\\new"));
  // Siblings whose names begin alike are not inside one another.
  ASSERT_TRUE(CreateDirectoryW((home + L"er").c_str(), nullptr));
  EXPECT_FALSE(IsInsideFolder(home + L"er", home));
  EXPECT_FALSE(IsInsideFolder(home, home + L"er"));
  EXPECT_FALSE(IsSameFolder(L"", home));
  EXPECT_FALSE(IsInsideFolder(home, L""));
}

TEST(Paths, ResolvingGivesTheFullFormOfWhatExistsAndKeepsTheRest) {
  ScratchFolder scratch(L"resolve");
  const std::wstring home = scratch / L"Home";
  ASSERT_TRUE(CreateDirectoryW(home.c_str(), nullptr));
  const std::wstring resolved = ResolvePath(home);
  EXPECT_TRUE(IsSameFolder(resolved, home));
  EXPECT_NE(resolved.back(), L'\\');
  EXPECT_EQ(resolved.rfind(L"\\\\?\\", 0), std::wstring::npos) << Narrow(resolved);
  EXPECT_EQ(ResolvePath(L"\\\\?\\" + home + L"\\Sub\\..\\New\\Deeper\\"), resolved + L"\\New\\Deeper");
  const std::wstring throughZ = ThroughDriveZ(home);
  if (!throughZ.empty()) EXPECT_EQ(ResolvePath(throughZ + L"\\Gone"), resolved + L"\\Gone");
  EXPECT_EQ(ResolvePath(L"C:\\"), L"C:\\");
  EXPECT_EQ(ResolvePath(L""), L"");
}

// The build makes linkfixture/tree/link, a symbolic link to linkfixture/outside, on the
// Linux side; Wine shows it as a folder that is a reparse point.
TEST(Paths, ALinkResolvesToItsTargetAndIsTold) {
  const std::wstring fixture = UnixToWine(TW_BINARY_DIR "/linkfixture");
  const std::wstring link = fixture + L"\\tree\\link";
  if (!Exists(link + L"\\keep.txt")) GTEST_SKIP() << "the link fixture was not made (run through CTest)";
  const std::wstring outside = fixture + L"\\outside";
  EXPECT_TRUE(IsLinkedFolder(link));
  EXPECT_TRUE(IsLinkedFolder(link + L"\\"));
  EXPECT_FALSE(IsLinkedFolder(outside));
  EXPECT_FALSE(IsLinkedFolder(link + L"\\sub"));
  EXPECT_TRUE(IsSameFolder(link, outside));
  EXPECT_EQ(LocaleLower(ResolvePath(link + L"\\sub")), LocaleLower(ResolvePath(outside) + L"\\sub"));
  EXPECT_TRUE(IsInsideFolder(link + L"\\sub", outside));
  EXPECT_FALSE(IsInsideFolder(link + L"\\sub", fixture + L"\\tree"));
}

// Windows makes junctions; Wine (8) refuses the request, and there the same resolution is
// shown through the Unix link above.
TEST(Paths, AJunctionResolvesToItsTarget) {
  ScratchFolder scratch(L"junction");
  const std::wstring target = scratch / L"target";
  const std::wstring junction = scratch / L"junction";
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((target + L"\\sub").c_str(), nullptr));
  if (!MakeJunction(junction, target)) GTEST_SKIP() << "this file system makes no junctions";
  EXPECT_TRUE(IsLinkedFolder(junction));
  EXPECT_TRUE(IsSameFolder(junction, target));
  EXPECT_TRUE(IsInsideFolder(junction + L"\\sub", target));
  EXPECT_EQ(LocaleLower(ResolvePath(junction)), LocaleLower(ResolvePath(target)));
  RemoveDirectoryW(junction.c_str());
}
