#include "SetupFixture.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include "base/Handles.h"
#include "base/Text.h"
#include "filestore/FileMan.h"
#include "setup/InstallSteps.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/SysUtils.h"
#include "tests/win/support/UiScript.h"

namespace {

std::wstring CurrentFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

// Wine's shell starts its menu builder for every link saved, to mirror the Start menu on
// the Unix desktop; the tests' links stay in the test prefix, and no builder holds the kit
// folder as its working folder.
void KeepLinksInThePrefix() {
  TRegistryKey::Create(L"Software\\Wine\\DllOverrides").WriteString(L"winemenubuilder.exe", L"");
}

void RemoveRecordAndGroup() {
  DeleteRegistryTree(tw::ProductKey);
  DeleteRegistryTree(tw::UninstallEntryKey);
  const std::wstring group = ProgramGroupFolder();
  if (!group.empty()) DeleteTree(group);
}

}  // namespace

const std::vector<std::wstring> SetupTest::KitFiles = {
    L"setup.exe", L"TW.exe", L"TW.ini", L"License.txt", L"QuickStart.rtf", L"ReadMe.txt"};

SetupTest::SetupTest()
    : SavedUserStart_(SetUserStartSystem(&UsersOwnStart_)), SavedDirectory_(CurrentFolder()) {
  KeepLinksInThePrefix();
  // Wine's desktop process, which the first window of a process may start, is older than
  // anything the test starts.
  GetDesktopWindow();
  GetSystemTimeAsFileTime(&Start_);
  RemoveRecordAndGroup();
  Kit = Scratch / L"kit";
  Destination = Scratch / L"dest\\Tarnwhistle";
}

SetupTest::~SetupTest() {
  SetUserStartSystem(SavedUserStart_);
  SetCurrentDirectoryW(SavedDirectory_.c_str());
  RemoveRecordAndGroup();
}

void SetupTest::MakeKit(const std::wstring& client) {
  ASSERT_TRUE(CreateDirectoryW(Kit.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((Kit + L"\\docs").c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(Kit + L"\\docs\\extra.txt", "not installed"));
  for (const std::wstring& name : KitFiles) {
    const std::wstring path = Kit + L"\\" + name;
    if (name == L"TW.ini")
      ASSERT_EQ(SetInitValue("Version", "0.9b2", path), 0);
    else if (name == L"TW.exe" && !client.empty())
      ASSERT_TRUE(CopyFileW(client.c_str(), path.c_str(), FALSE));
    else
      ASSERT_TRUE(WriteTextFile(path, "kit file " + Narrow(name)));
  }
}

TInstallChoices SetupTest::KitChoices() const {
  TInstallChoices choices;
  choices.AppDir = Destination;
  choices.SourceDir = Kit;
  choices.VersionText = L"0.9b2";
  choices.Config = {L"me@example.com", L"mail.example.com"};
  choices.SettingsDatabase = Scratch / L"absent.dbc";
  return choices;
}

std::vector<std::string> EntryLines(const std::wstring& database, const std::string& path) {
  TStringList lines;
  EXPECT_EQ(ReadEntryLines(lines, path, database), 0);
  return lines.Lines;
}

std::string FileBytes(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes(GetFileSize(file.get(), nullptr), '\0');
  DWORD read = 0;
  ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  bytes.resize(read);
  return bytes;
}

LinkInfo ReadLink(const std::wstring& linkFile) {
  LinkInfo info;
  CoInitialize(nullptr);
  ComPtr<IShellLinkW> link;
  // CLSID_ShellLink
  const CLSID shellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  if (FAILED(CoCreateInstance(shellLink, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                              link.put_void())))
    return info;
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(__uuidof(IPersistFile), file.put_void())) ||
      FAILED(file->Load(linkFile.c_str(), STGM_READ)))
    return info;
  info.Loaded = true;
  wchar_t text[MAX_PATH] = {};
  link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
  info.Target = text;
  link->GetDescription(text, MAX_PATH);
  info.Description = text;
  link->GetWorkingDirectory(text, MAX_PATH);
  info.WorkingFolder = text;
  link->GetIconLocation(text, MAX_PATH, &info.IconIndex);
  info.IconFile = text;
  return info;
}

int SetupTest::EndStartedPrograms(const std::wstring& exeName) const {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID != GetCurrentProcessId() ||
        lstrcmpiW(entry.szExeFile, exeName.c_str()) != 0)
      continue;
    UniqueKernelObject process(
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    FILETIME created, exited, kernel, user;
    if (!process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0 ||
        !GetProcessTimes(process.get(), &created, &exited, &kernel, &user) ||
        CompareFileTime(&created, &Start_) < 0)
      continue;
    ++count;
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 5000);
  }
  return count;
}

std::wstring UnusedDrive() {
  const DWORD drives = GetLogicalDrives();
  for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter)
    if (!(drives & (1u << (letter - L'A')))) return std::wstring(1, letter) + L":";
  return L"";
}
