// The removal both faces of the uninstaller run: what the wizard offers at its start,
// limited to one product for /client or /mixmaster; the unattended removal; and the check
// that the client does not run before anything of it is removed.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "UninstallFixture.h"
#include "base/Handles.h"
#include "base/WideText.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/RunLog.h"
#include "shell/SysUtils.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/Removal.h"

namespace {

TInstalledProducts Installed(bool client, bool mix) {
  TInstalledProducts products;
  products.ClientInstalled = client;
  products.MixInstalled = mix;
  return products;
}

THomeRelation Relation(bool mixInsideClient, bool clientInsideMix, bool sameHome) {
  THomeRelation relation;
  relation.MixInsideClient = mixInsideClient;
  relation.ClientInsideMix = clientInsideMix;
  relation.SameHome = sameHome;
  return relation;
}

std::string Offered(const TRemovalOffer& offer) {
  auto box = [](const TEntryOffer& entry) {
    return std::string(entry.Checked ? "checked" : "unchecked") + (entry.Enabled ? "" : ",disabled");
  };
  return "client " + box(offer.Client) + "; mix " + box(offer.Mix) +
         (offer.ClientFirst ? "; client first" : "");
}

std::string ReadAll(const std::wstring& file) {
  std::ifstream in(Utf8FromWide(file).c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class QuietRemoval : public InstallRecordsTest {
 protected:
  void TearDown() override {
    CloseRunLog();
    DeleteRegistryTree(tw::UninstallEntryKey);
    InstallRecordsTest::TearDown();
  }
};

}  // namespace

TEST(RemovalOffer, WhatTheWizardOffersCaseByCase) {
  const THomeRelation apart = Relation(false, false, false);
  EXPECT_EQ(Offered(OfferRemoval(Installed(true, true), apart, false)),
            "client checked; mix checked; client first");
  EXPECT_EQ(Offered(OfferRemoval(Installed(false, true), apart, false)),
            "client unchecked,disabled; mix checked");
  EXPECT_EQ(Offered(OfferRemoval(Installed(true, false), apart, false)),
            "client checked; mix unchecked,disabled; client first");
  EXPECT_EQ(Offered(OfferRemoval(Installed(true, true), apart, true)),
            "client unchecked,disabled; mix checked");
  EXPECT_EQ(Offered(OfferRemoval(Installed(true, true), Relation(true, false, false), false)),
            "client checked; mix checked,disabled; client first");
  EXPECT_EQ(Offered(OfferRemoval(Installed(true, true), Relation(false, false, true), false)),
            "client checked; mix checked,disabled; client first");
  EXPECT_EQ(Offered(OfferRemoval(Installed(true, true), Relation(false, true, false), true)),
            "client checked,disabled; mix checked");
  EXPECT_EQ(Offered(OfferRemoval(Installed(false, false), apart, false)),
            "client unchecked,disabled; mix unchecked,disabled");
}

TEST(RemovalOffer, OneProductKeepsTheOtherOnlyWhereTheRulesTieThem) {
  const TRemovalOffer both = OfferRemoval(Installed(true, true), Relation(false, false, false), false);
  EXPECT_EQ(Offered(OnlyClient(both, Relation(false, false, false))),
            "client checked; mix unchecked; client first");
  EXPECT_EQ(Offered(OnlyMixmaster(both, Relation(false, false, false))),
            "client unchecked; mix checked");
  // Mixmaster's home inside the client's: removing the client takes Mixmaster along.
  const THomeRelation mixInside = Relation(true, false, false);
  EXPECT_EQ(Offered(OnlyClient(OfferRemoval(Installed(true, true), mixInside, false), mixInside)),
            "client checked; mix checked,disabled; client first");
  EXPECT_EQ(Offered(OnlyMixmaster(OfferRemoval(Installed(true, true), mixInside, false), mixInside)),
            "client unchecked; mix checked,disabled");
  // One home: either takes the other along.
  const THomeRelation same = Relation(false, false, true);
  EXPECT_EQ(Offered(OnlyMixmaster(OfferRemoval(Installed(true, true), same, false), same)),
            "client checked; mix checked,disabled; client first");
  // The client withdrawn by its marker file: /client has nothing to remove.
  const TRemovalOffer marked = OfferRemoval(Installed(true, true), Relation(false, false, false), true);
  EXPECT_EQ(Offered(OnlyClient(marked, Relation(false, false, false))),
            "client unchecked,disabled; mix unchecked");
}

TEST_F(QuietRemoval, NothingInstalledIsNothingToDo) {
  std::wstring removedHome = L"unchanged";
  EXPECT_FALSE(QuietRemovalPlan(ReadInstalledProducts(), {}).has_value());
  EXPECT_EQ(RunQuietRemoval({}, removedHome), TExitCode::NothingToDo);
  EXPECT_EQ(removedHome, L"unchanged");
  WriteClientRecord(L"C:\\nowhere");
  EXPECT_EQ(RunQuietRemoval({.ClientOnly = false, .MixmasterOnly = true}, removedHome),
            TExitCode::NothingToDo);
  EXPECT_TRUE(ClientRecordExists());
}

TEST_F(QuietRemoval, RemovesWhatTheWizardOffersAndLogsEveryItem) {
  ScratchFolder scratch(L"quiet-removal");
  const std::wstring clientHome = scratch / L"tw\\", mixHome = scratch / L"mix\\";
  MakeTree(clientHome, {L"TW.exe", L"TW.dbc", L"ReadMe.txt"});
  MakeTree(mixHome, {L"mix.exe", L"pool\\", L"pool\\m1"});
  WriteClientRecord(clientHome.c_str(), nullptr, L"0.9b2");
  WriteMixRecord(mixHome.c_str());
  TRegistryKey::Create(tw::UninstallEntryKey).WriteString(L"DisplayName", tw::ProductName);
  const std::wstring logFile = scratch / L"removal.log";
  ASSERT_TRUE(OpenRunLog(logFile));

  UiScript script;  // no message: a box would be recorded here
  std::wstring removedHome;
  EXPECT_EQ(RunQuietRemoval({}, removedHome), TExitCode::Done);
  CloseRunLog();
  EXPECT_TRUE(script.Boxes().empty());
  EXPECT_EQ(removedHome, clientHome);
  EXPECT_EQ(TreeOf(clientHome), (std::vector<std::wstring>{L"tw.dbc"}));
  EXPECT_FALSE(Exists(mixHome));
  EXPECT_FALSE(ClientRecordExists());
  EXPECT_FALSE(MixRecordExists());
  EXPECT_FALSE(RegistryKeyExists(tw::UninstallEntryKey));

  const std::string log = ReadAll(logFile);
  for (const std::string& line :
       {std::string("Removing Tarnwhistle...\r\n"), std::string("   program files...done\r\n"),
        "delete " + Utf8FromWide(clientHome) + "TW.exe: done\r\n",
        std::string("registry key HKCU\\Software\\Tarnwhistle deleted: done\r\n"),
        "registry key HKCU\\" + Utf8FromWide(tw::UninstallEntryKey) + " deleted: done\r\n",
        std::string("Removing Mixmaster...\r\n"), "delete " + Utf8FromWide(mixHome) + "mix.exe: done\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\nin:\n" << log;
  EXPECT_EQ(log.find("TW.dbc"), std::string::npos) << "the kept database is no item";
}

TEST_F(QuietRemoval, OnlyMixmasterLeavesTheClientAlone) {
  ScratchFolder scratch(L"quiet-mix");
  const std::wstring clientHome = scratch / L"tw\\", mixHome = scratch / L"mix\\";
  MakeTree(clientHome, {L"TW.exe"});
  MakeTree(mixHome, {L"mix.exe"});
  WriteClientRecord(clientHome.c_str());
  WriteMixRecord(mixHome.c_str());
  std::wstring removedHome;
  EXPECT_EQ(RunQuietRemoval({.ClientOnly = false, .MixmasterOnly = true}, removedHome),
            TExitCode::Done);
  EXPECT_EQ(removedHome, L"");
  EXPECT_TRUE(Exists(clientHome + L"TW.exe"));
  EXPECT_TRUE(ClientRecordExists());
  EXPECT_FALSE(MixRecordExists());
  EXPECT_FALSE(Exists(mixHome));
}

TEST_F(QuietRemoval, ARunningClientStopsTheRemovalBeforeAnythingGoes) {
  ScratchFolder scratch(L"quiet-running");
  const std::wstring clientHome = scratch / L"tw\\", mixHome = scratch / L"mix\\";
  MakeTree(clientHome, {L"TW.dbc", L"ReadMe.txt"});
  MakeTree(mixHome, {L"mix.exe"});
  ASSERT_TRUE(CopyFileW((WindowsDirectory() + L"\\notepad.exe").c_str(),
                        (clientHome + L"TW.exe").c_str(), FALSE));
  WriteClientRecord(clientHome.c_str());
  WriteMixRecord(mixHome.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  std::wstring commandLine = L"\"" + clientHome + L"TW.exe\"";
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             clientHome.c_str(), &startup, &info));
  UniqueKernelObject client(info.hProcess), thread(info.hThread);
  WaitForInputIdle(client.get(), 5000);

  UiScript script;
  script.Answer(IDCANCEL);
  std::wstring removedHome;
  EXPECT_EQ(RunQuietRemoval({}, removedHome), TExitCode::ClientRunning);
  TerminateProcess(client.get(), 0);
  WaitForSingleObject(client.get(), 5000);
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Text, L"Tarnwhistle is running. Close it, then click Retry.");
  EXPECT_EQ(removedHome, L"");
  EXPECT_EQ(TreeOf(clientHome), (std::vector<std::wstring>{L"readme.txt", L"tw.dbc", L"tw.exe"}));
  EXPECT_TRUE(Exists(mixHome + L"mix.exe")) << "Mixmaster's removal waits too";
  EXPECT_TRUE(ClientRecordExists());
  EXPECT_TRUE(MixRecordExists());
}

TEST_F(QuietRemoval, AReportedFailureMakesTheRunAFailedOne) {
  ScratchFolder scratch(L"quiet-failure");
  const std::wstring clientHome = scratch / L"tw\\";
  MakeTree(clientHome, {L"TW.exe"});
  // A group name that cannot go into the command: its step reports and the run goes on.
  WriteClientRecord(clientHome.c_str(), L"Tarn[whistle]");
  UiScript script;
  script.Answer(IDOK);
  std::wstring removedHome;
  EXPECT_EQ(RunQuietRemoval({}, removedHome), TExitCode::StepFailed);
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].Caption, L"Error");
  EXPECT_FALSE(Exists(clientHome + L"TW.exe"));
  EXPECT_FALSE(ClientRecordExists());
}
