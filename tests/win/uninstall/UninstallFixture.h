// What the uninstall suites share: the two installation records of the test prefix's
// registry, cleared before and after each test, and a removal log that records everything.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "uninstall/RemovalSteps.h"

class TUninstWiz;
class UiScript;

// Writes the client's record ("AppDir", "Program Group", "Version"); a value that is
// nullptr stays unwritten.
void WriteClientRecord(const wchar_t* appDir, const wchar_t* group = nullptr,
                       const wchar_t* version = nullptr);
// Writes Mixmaster's record with "MixDir" (unwritten when nullptr).
void WriteMixRecord(const wchar_t* mixDir);
bool ClientRecordExists();
bool MixRecordExists();

// Both records are removed before and after every test.
class InstallRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// A removal log that keeps the lines and, in order, every event of the run.
class RecordingLog : public TRemovalLog {
 public:
  std::vector<std::wstring> Lines;
  // "line:<text>", "messages", "pause:<ms>".
  std::vector<std::wstring> Events;

  void Append(const std::wstring& line) override;
  void ProcessMessages() override;
  void Pause(DWORD milliseconds) override;
  HWND Owner() const override { return nullptr; }
};

// Runs the uninstall wizard from its Start page through Finish, with OK to "Uninstall
// now?", lets `atEnd` look at it once the run has ended, and closes it.
void RemoveThroughTheWizard(UiScript& script, const std::function<void(TUninstWiz&)>& atEnd);

// Creates the folders and files named (paths ending in a backslash are folders).
void MakeTree(const std::wstring& root, const std::vector<std::wstring>& entries);
// The entries under `root`, as paths relative to it, folders with a trailing backslash,
// sorted and lower-cased.
std::vector<std::wstring> TreeOf(const std::wstring& root);

// Runs `action`, then closes the shell windows it opened (waiting up to five seconds for
// the first) and makes sure their processes are gone. Answers the windows closed.
std::set<HWND> CloseShellWindowsOpenedBy(const std::function<void()>& action);

// Waits up to five seconds for Wine's shell to answer PROGMAN (it does not while busy with
// an earlier command): the wizard's own conversation must not meet a busy shell, or it
// would start a Program Manager of its own. True when the shell answered.
bool WaitForProgramManager();

// Has Wine's shell create the program group `group` through PROGMAN, and closes the
// window the shell opens on it. True when the group's folder is there.
bool CreateGroupThroughTheShell(const std::wstring& group);
