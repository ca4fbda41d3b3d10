// Starting the client with the user's rights: the choice between the desktop shell and a
// start of setup's own, with the system's answers stood in for; then the system's own way
// under Wine, which starts a real program.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "../support/ScratchFolder.h"
#include "shell/UserStart.h"

namespace {

// Answers as told and records what it was asked to start, and how.
class TFakeUserStart : public TUserStartSystem {
 public:
  TFakeUserStart(bool elevated, bool shellAnswers) : Elevated_(elevated), ShellAnswers_(shellAnswers) {}
  bool Elevated() override { return Elevated_; }
  bool StartThroughDesktopShell(const TUserProgram& program) override {
    ShellAsked.push_back(program.File + L"|" + program.Folder);
    return ShellAnswers_;
  }
  void StartDirectly(const TUserProgram& program) override { StartedDirectly.push_back(program.File); }

  std::vector<std::wstring> ShellAsked;
  std::vector<std::wstring> StartedDirectly;

 private:
  bool Elevated_;
  bool ShellAnswers_;
};

const TUserProgram kClient{L"C:\\Program Files\\Tarnwhistle\\TW.exe", L"C:\\Program Files\\Tarnwhistle",
                           SW_SHOWNORMAL};

}  // namespace

TEST(StartWithUserRights, AnElevatedSetupHandsTheStartToTheDesktopShell) {
  TFakeUserStart system(/*elevated=*/true, /*shellAnswers=*/true);
  EXPECT_EQ(StartWithUserRights(kClient, system), TStartedBy::DesktopShell);
  EXPECT_EQ(system.ShellAsked,
            std::vector<std::wstring>{L"C:\\Program Files\\Tarnwhistle\\TW.exe|C:\\Program Files\\Tarnwhistle"});
  EXPECT_TRUE(system.StartedDirectly.empty()) << "started twice";
}

TEST(StartWithUserRights, WithoutADesktopShellAnElevatedSetupStartsTheClientItself) {
  TFakeUserStart system(/*elevated=*/true, /*shellAnswers=*/false);
  EXPECT_EQ(StartWithUserRights(kClient, system), TStartedBy::Setup);
  EXPECT_EQ(system.ShellAsked.size(), 1u);
  EXPECT_EQ(system.StartedDirectly, std::vector<std::wstring>{kClient.File});
}

TEST(StartWithUserRights, ASetupWithTheUsersRightsStartsTheClientItself) {
  TFakeUserStart system(/*elevated=*/false, /*shellAnswers=*/true);
  EXPECT_EQ(StartWithUserRights(kClient, system), TStartedBy::Setup);
  EXPECT_TRUE(system.ShellAsked.empty()) << "a setup without elevation needs no shell";
  EXPECT_EQ(system.StartedDirectly, std::vector<std::wstring>{kClient.File});
}

// The system's own way: the program runs once, whichever way the answer names; a process
// that is not elevated always starts it itself.
TEST(StartWithUserRights, TheSystemsWayStartsTheProgramOnce) {
  ScratchFolder scratch(L"user start");
  const std::wstring script = scratch / L"client.cmd";
  const std::wstring marker = scratch / L"started.txt";
  ASSERT_TRUE(WriteTextFile(script, "@echo started>>\"%~dp0started.txt\"\r\n"));
  const bool elevated = SystemUserStart().Elevated();
  const TStartedBy startedBy = StartWithUserRights({script, scratch.Path(), SW_HIDE});
  if (!elevated) EXPECT_EQ(startedBy, TStartedBy::Setup);
  for (int i = 0; i < 200 && !Exists(marker); ++i) Sleep(50);
  ASSERT_TRUE(Exists(marker));
  Sleep(500);  // a second start would have written by now
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char text[64] = {};
  DWORD read = 0;
  ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
  CloseHandle(file);
  EXPECT_EQ(std::string(text, read), "started\r\n") << "started " << (elevated ? "elevated" : "not elevated");
}
