// What the setup suites share: a kit folder to install from, a destination, the real
// registry record and Start-menu group of the test prefix removed before and after each
// test, and ways to look at what an installation left behind.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/InstallSteps.h"
#include "shell/UserStart.h"
#include "tests/win/support/ScratchFolder.h"

class SetupTest : public ::testing::Test {
 protected:
  SetupTest();
  ~SetupTest() override;

  // The kit's files, "setup.exe" and a sub-folder "docs" among them.
  static const std::vector<std::wstring> KitFiles;
  // Puts the kit together; `client` is copied as its TW.exe (a text file when empty).
  void MakeKit(const std::wstring& client = L"");

  // The choices of an installation of the kit into the destination: version 0.9b2, an
  // address and host, no settings database.
  TInstallChoices KitChoices() const;

  // Programs this process started during the test that are still running, by file name
  // ("TW.exe"); each is ended once counted.
  int EndStartedPrograms(const std::wstring& exeName) const;

  ScratchFolder Scratch{L"setup"};
  std::wstring Kit;          // the folder the installer runs from
  std::wstring Destination;  // a folder that does not exist yet

 private:
  // The wizard runs as the user's own: Exit starts the client itself, as this process's
  // child. (Wine's processes are elevated, and its desktop shell would start it.)
  class TUsersOwnStart : public TUserStartSystem {
   public:
    bool Elevated() override { return false; }
    bool StartThroughDesktopShell(const TUserProgram&) override { return false; }
    void StartDirectly(const TUserProgram& program) override {
      SystemUserStart().StartDirectly(program);
    }
  } UsersOwnStart_;
  TUserStartSystem* SavedUserStart_;
  std::wstring SavedDirectory_;
  FILETIME Start_ = {};
};

// The lines of a database entry, as the store reads them back.
std::vector<std::string> EntryLines(const std::wstring& database, const std::string& path);
// The file's bytes; empty when it cannot be read.
std::string FileBytes(const std::wstring& path);

// A shell link read back through the shell's own link object.
struct LinkInfo {
  bool Loaded = false;
  std::wstring Target, Description, WorkingFolder, IconFile;
  int IconIndex = -1;
};
LinkInfo ReadLink(const std::wstring& linkFile);


// The id of a drive letter that is not in use, as "Q:".
std::wstring UnusedDrive();
