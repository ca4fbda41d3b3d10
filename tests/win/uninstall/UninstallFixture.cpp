#include "UninstallFixture.h"

#include <algorithm>

#include "base/Handles.h"
#include "shell/Dde.h"

#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/SysUtils.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"
#include "uninstall/UninstDlg.h"

void WriteClientRecord(const wchar_t* appDir, const wchar_t* group, const wchar_t* version) {
  TRegistryKey key = TRegistryKey::Create(tw::ProductKey);
  ASSERT_TRUE(key.Valid());
  if (appDir) key.WriteString(L"AppDir", appDir);
  if (group) key.WriteString(L"Program Group", group);
  if (version) key.WriteString(L"Version", version);
}

void WriteMixRecord(const wchar_t* mixDir) {
  TRegistryKey key = TRegistryKey::Create(tw::MixmasterKey);
  ASSERT_TRUE(key.Valid());
  if (mixDir) key.WriteString(L"MixDir", mixDir);
}

bool ClientRecordExists() { return RegistryKeyExists(tw::ProductKey); }
bool MixRecordExists() { return RegistryKeyExists(tw::MixmasterKey); }

void InstallRecordsTest::SetUp() {
  DeleteRegistryTree(tw::ProductKey);
  DeleteRegistryTree(tw::MixmasterKey);
}

void InstallRecordsTest::TearDown() { SetUp(); }

void RecordingLog::Append(const std::wstring& line) {
  Lines.push_back(line);
  Events.push_back(L"line:" + line);
}

void RecordingLog::ProcessMessages() { Events.push_back(L"messages"); }

void RecordingLog::Pause(DWORD milliseconds) {
  Events.push_back(L"pause:" + std::to_wstring(milliseconds));
}

void MakeTree(const std::wstring& root, const std::vector<std::wstring>& entries) {
  CreateDirectoryW(root.c_str(), nullptr);
  for (const std::wstring& entry : entries) {
    const std::wstring path = AddBackslash(root) + entry;
    if (entry.back() == L'\\') ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << Narrow(path);
    else ASSERT_TRUE(WriteTextFile(path, "x")) << Narrow(path);
  }
}

namespace {
bool IsExplorer(DWORD processId) {
  UniqueKernelObject process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, path, &size)) return false;
  return LocaleLower(ExtractFileName(std::wstring(path, size))) == L"explorer.exe";
}

// The process that draws the desktop, and serves PROGMAN: its windows are never closed here.
DWORD DesktopProcess() {
  DWORD process = 0;
  GetWindowThreadProcessId(GetDesktopWindow(), &process);
  return process;
}

BOOL CALLBACK AddShellWindow(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (IsWindowVisible(window) && process != DesktopProcess() && IsExplorer(process))
    reinterpret_cast<std::set<HWND>*>(found)->insert(window);
  return TRUE;
}

// The visible top-level windows of the shell's own windows, the desktop aside (other suites
// run beside this one: their windows are none of this test's business).
std::set<HWND> ShellWindows() {
  std::set<HWND> windows;
  EnumWindows(AddShellWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// Closes a shell window this test opened, so that nothing of the test outlives it.
void CloseShellWindow(HWND window) {
  PostMessageW(window, WM_CLOSE, 0, 0);
  for (int i = 0; i < 50 && IsWindow(window); ++i) PumpMessagesFor(100);
}

}  // namespace

std::set<HWND> CloseShellWindowsOpenedBy(const std::function<void()>& action) {
  const std::set<HWND> before = ShellWindows();
  action();
  std::set<HWND> opened;
  for (int i = 0; i < 50 && opened.empty(); ++i) {
    PumpMessagesFor(100);
    for (HWND window : ShellWindows())
      if (!before.count(window)) opened.insert(window);
  }
  for (HWND window : opened) CloseShellWindow(window);
  return opened;
}

namespace {
HDDEDATA CALLBACK IgnoreDde(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}
}  // namespace

// Wine's shell does not always answer PROGMAN at once: in the 32-bit build it was seen
// silent for more than five seconds. Waits up to 20 s.
bool WaitForProgramManager() {
  DWORD instance = 0;
  if (DdeInitializeW(&instance, IgnoreDde, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return false;
  HSZ name = DdeCreateStringHandleW(instance, L"PROGMAN", CP_WINUNICODE);
  bool answered = false;
  for (int i = 0; i < 400 && !answered; ++i) {
    if (HCONV conversation = DdeConnect(instance, name, name, nullptr)) {
      DdeDisconnect(conversation);
      answered = true;
    } else {
      PumpMessagesFor(50);
    }
  }
  DdeFreeStringHandle(instance, name);
  DdeUninitialize(instance);
  return answered;
}

bool CreateGroupThroughTheShell(const std::wstring& group) {
  if (!WaitForProgramManager()) return false;
  const std::wstring folder = ProgramsFolder() + L"\\" + group;
  // The shell opens a window on every group it creates.
  CloseShellWindowsOpenedBy([&] {
    TDdeClientConv shell;
    EXPECT_TRUE(shell.SetLink(L"PROGMAN", L"PROGMAN") && shell.ExecuteMacro(L"[CreateGroup(" + group + L")]"));
  });
  return Exists(folder);
}

namespace {
void CollectTree(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out) {
  std::vector<std::wstring> entries;
  ListFiles(&entries, AddBackslash(root) + relative + L"*.*", faAnyFile);
  for (const std::wstring& entry : entries) {
    const DWORD attributes = GetFileAttributesW(entry.c_str());
    const std::wstring name = relative + ExtractFileName(entry);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      out.push_back(LocaleLower(name + L"\\"));
      CollectTree(root, name + L"\\", out);
    } else {
      out.push_back(LocaleLower(name));
    }
  }
}
}  // namespace

std::vector<std::wstring> TreeOf(const std::wstring& root) {
  std::vector<std::wstring> out;
  CollectTree(root, L"", out);
  std::sort(out.begin(), out.end());
  return out;
}

void RemoveThroughTheWizard(UiScript& script, const std::function<void(TUninstWiz&)>& atEnd) {
  script.OnModal([&](TForm& form) {
    After(form, 100, [&] {
      Press(form, L"NextBtn");
      Press(form, L"NextBtn");
      Press(form, L"NextBtn");
      atEnd(static_cast<TUninstWiz&>(form));
      form.Close();  // the close box after the run: no question
    });
  });
  script.Answer(IDOK);
  script.OnModal();
  TUninstWiz wizard(nullptr);
  wizard.ShowModal();
}
