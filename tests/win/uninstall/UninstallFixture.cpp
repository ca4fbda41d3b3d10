#include "UninstallFixture.h"

#include <algorithm>

#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/Registry.h"
#include "shell/SysUtils.h"
#include "tests/win/support/ScratchFolder.h"
#include "tests/win/support/UiScript.h"

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
