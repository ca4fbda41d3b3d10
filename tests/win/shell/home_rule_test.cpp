// The one rule for a program's home, on the folders of the test prefix: each kind of
// refused folder with a home inside it, every profile of the machine, a known folder the
// shell has moved, and the spellings that must reach the folder they name.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "../support/PathSpellings.h"
#include "../support/ScratchFolder.h"
#include "../support/UiScript.h"
#include "base/Text.h"
#include "shell/HomeRule.h"
#include "shell/Paths.h"
#include "shell/SysUtils.h"

namespace {

std::wstring Known(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

struct Case {
  std::wstring Path;
  THomeFault Fault;
};

void ExpectFaults(const std::vector<Case>& cases) {
  for (const Case& c : cases)
    EXPECT_EQ(static_cast<int>(JudgeHome(c.Path).Fault), static_cast<int>(c.Fault)) << Narrow(c.Path);
}

const wchar_t kOtherSid[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1-2-3-4242";

}  // namespace

TEST(HomeRule, EachKindOfRefusedFolderAndAHomeInsideIt) {
  const std::wstring windows = WindowsDirectory();
  const std::wstring programFiles = Known(FOLDERID_ProgramFiles);
  const std::wstring roaming = Known(FOLDERID_RoamingAppData), local = Known(FOLDERID_LocalAppData);
  const std::wstring profile = Known(FOLDERID_Profile), profiles = Known(FOLDERID_UserProfiles);
  using F = THomeFault;
  ExpectFaults({
      {L"C:\\", F::DriveRoot},
      {windows, F::WindowsFolder},
      {windows + L"\\Fonts", F::WindowsFolder},
      {windows + L"\\no such folder\\Tarnwhistle", F::WindowsFolder},
      {programFiles, F::SystemFolder},
      {Known(FOLDERID_ProgramFilesX86), F::SystemFolder},
      {Known(FOLDERID_ProgramFilesCommon), F::SystemFolder},
      {Known(FOLDERID_ProgramData), F::SystemFolder},
      {profiles, F::UserFolder},
      {profile, F::UserFolder},
      {profiles + L"\\Someone New", F::UserFolder},
      {Known(FOLDERID_Downloads), F::UserFolder},
      {Known(FOLDERID_Documents), F::UserFolder},
      {StripBackslash(ExtractFilePath(roaming)), F::UserFolder},
      {roaming, F::UserFolder},
      {local, F::UserFolder},
      {Known(FOLDERID_LocalAppDataLow), F::UserFolder},
      {Known(FOLDERID_SavedGames), F::UserFolder},
      {Known(FOLDERID_Startup), F::UserFolder},
      {StripBackslash(TempFolder()), F::UserFolder},
      {Known(FOLDERID_PublicDocuments), F::UserFolder},
      {local + L"\\Programs\\Tarnwhistle", F::None},
      {programFiles + L"\\Tarnwhistle", F::None},
      {Known(FOLDERID_Documents) + L"\\Mail", F::None},
      {profile + L"\\Tarnwhistle", F::None},
  });
}

// The other users' profiles: a folder of the profiles folder, and one the registry lists
// elsewhere, each with its known folders where Windows puts them.
TEST(HomeRule, EveryProfileOfTheMachine) {
  ScratchFolder scratch(L"profiles");
  const std::wstring neighbour = Known(FOLDERID_UserProfiles) + L"\\twneighbour";
  const std::wstring remote = scratch / L"Remote";
  ASSERT_TRUE(CreateDirectoryW(neighbour.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(remote.c_str(), nullptr));
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kOtherSid, L"ProfileImagePath", REG_EXPAND_SZ,
                            remote.c_str(), static_cast<DWORD>((remote.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  std::vector<Case> cases;
  for (const std::wstring& other : {neighbour, remote}) {
    for (const wchar_t* name : {L"", L"\\Downloads", L"\\AppData\\Local", L"\\OneDrive\\Documents",
                                L"\\Saved Games"})
      cases.push_back({other + name, THomeFault::UserFolder});
    cases.push_back({other + L"\\Tools\\Tarnwhistle", THomeFault::None});
  }
  ExpectFaults(cases);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOtherSid);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kOtherSid);
  RemoveDirectoryW(neighbour.c_str());
}

// The shell keeps a moved known folder's place under the user's shell folders.
TEST(HomeRule, AKnownFolderWhereTheShellHasMovedIt) {
  const wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const wchar_t downloads[] = L"{374DE290-123F-4565-9164-39C4925E467B}";
  ScratchFolder scratch(L"moved");
  const std::wstring moved = scratch / L"My Downloads";
  ASSERT_TRUE(CreateDirectoryW(moved.c_str(), nullptr));
  wchar_t before[MAX_PATH] = {};
  DWORD bytes = sizeof(before), type = REG_SZ;
  const bool had = RegGetValueW(HKEY_CURRENT_USER, key, downloads, RRF_RT_ANY | RRF_NOEXPAND, &type,
                                before, &bytes) == ERROR_SUCCESS;
  RegSetKeyValueW(HKEY_CURRENT_USER, key, downloads, REG_SZ, moved.c_str(),
                  static_cast<DWORD>((moved.size() + 1) * sizeof(wchar_t)));
  const bool followed = Known(FOLDERID_Downloads) == moved;
  const THomeFault fault = JudgeHome(moved).Fault;
  if (had)
    RegSetKeyValueW(HKEY_CURRENT_USER, key, downloads, type, before, bytes);
  else
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, downloads);
  if (!followed) GTEST_SKIP() << "the shell does not read moved folders from the registry";
  EXPECT_EQ(static_cast<int>(fault), static_cast<int>(THomeFault::UserFolder));
}

// Every spelling reaches the folder it names, or none: a device path the system cannot
// resolve is refused, never read as a relative path.
TEST(HomeRule, EverySpellingIsJudgedAsTheFolderItNames) {
  const std::wstring windows = WindowsDirectory();
  const std::wstring programFiles = Known(FOLDERID_ProgramFiles);
  wchar_t volume[MAX_PATH];
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(L"C:\\", volume, MAX_PATH));
  using F = THomeFault;
  std::vector<Case> cases = {
      {L"\\\\?\\" + windows + L"\\Fonts", F::WindowsFolder},
      {L"\\\\?\\UNC\\localhost\\C$\\" + windows.substr(3), F::WindowsFolder},
      {L"\\\\?\\unc\\LOCALHOST\\c$\\" + windows.substr(3), F::WindowsFolder},
      {volume + windows.substr(3), F::WindowsFolder},
      {volume + programFiles.substr(3), F::SystemFolder},
      {ShortPathName(programFiles), F::SystemFolder},
      {programFiles + L". .", F::SystemFolder},
      {windows + L" ", F::WindowsFolder},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Tarnwhistle", F::Unresolvable},
      {L"\\\\.\\pipe\\Tarnwhistle", F::Unresolvable},
      {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\Tarnwhistle", F::Unresolvable},
      {L"relative\\Tarnwhistle", F::Unresolvable},
      {L"C:Tarnwhistle", F::Unresolvable},
  };
  // Another drive letter for the same folder.
  if (const std::wstring throughZ = ThroughDriveZ(programFiles); !throughZ.empty())
    cases.push_back({throughZ, F::SystemFolder});
  for (const std::wstring& spelling : OtherSpellings(Known(FOLDERID_Profile), L"Desktop"))
    cases.push_back({spelling, F::UserFolder});
  ExpectFaults(cases);
  // The steps act on the folder judged, whatever the spelling.
  ScratchFolder scratch(L"spelled");
  const THome home = JudgeHome(volume + scratch.Path().substr(3));
  EXPECT_TRUE(home.Fits());
  EXPECT_TRUE(IsSameFolder(home.Folder, scratch.Path())) << Narrow(home.Folder);
}

// The build makes linkfixture/tree/link, a symbolic link to linkfixture/outside, on the
// Linux side; Wine shows it as a folder that is a reparse point.
TEST(HomeRule, AFolderThatIsALinkIsNoHome) {
  const std::wstring fixture = UnixToWine(TW_BINARY_DIR "/linkfixture");
  ASSERT_TRUE(Exists(fixture + L"\\tree\\link\\keep.txt")) << "fixture missing";
  EXPECT_EQ(static_cast<int>(JudgeHome(fixture + L"\\tree\\link").Fault), static_cast<int>(THomeFault::Link));
  EXPECT_TRUE(JudgeHome(fixture + L"\\outside").Fits());
  EXPECT_TRUE(JudgeHome(fixture + L"\\tree\\link\\sub").Fits()) << "a folder in it is itself";
}
