#include "shell/Constants.h"

#include <windows.h>

#include "shell/SysUtils.h"
#include "base/Text.h"

namespace tw {

const std::wstring ProductName = L"Tarnwhistle";
const std::wstring ProductKey = L"Software\\" + ProductName;
const std::wstring MixmasterKey = L"Software\\Mixmaster";
const std::wstring UninstallEntryKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + ProductName;
const std::wstring Publisher = L"The Tarnwhistle developers";
const std::wstring ClientExe = L"TW.exe";
const std::wstring UninstallerExe = L"Uninst" + ClientExe;
const std::wstring VersionSuffix = L".9b2";
const std::wstring SetupTitle = L"Tarnwhistle Setup";
const std::wstring UninstallTitle = L"Tarnwhistle Uninstall";
// Short: the Start page shows it on one line, which must hold it whole at every DPI.
const std::wstring CopyrightNotice =
    L"(c) Tarnwhistle developers\nFree software: see License.txt";

const std::wstring DatabaseExt = L".dbc";
const std::wstring EncryptedExt = L".pgp";
const std::wstring IniExt = L".ini";
const std::wstring BackupExt = L".bak";

const std::string DefaultMessagePath = "default\xFF" "message";
const std::string DefaultArticlePath = "default\xFF" "article";

namespace {
std::wstring LocaleUpper(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}
}  // namespace

ProgramNames DeriveProgramNames(const std::wstring& modulePath) {
  ProgramNames names;
  names.ProgramPath = LocaleUpper(modulePath);
  names.ProgramFolder = LocaleLower(ExtractFilePath(names.ProgramPath));
  names.ProgramDatabase = ChangeFileExt(names.ProgramPath, DatabaseExt);
  return names;
}

const ProgramNames& Program() {
  static const ProgramNames names = DeriveProgramNames(ModuleFileName());
  return names;
}

std::wstring AboutText(const std::wstring& title) {
  return title + L"  " + VersionSuffix + L"\n" + CopyrightNotice;
}

}  // namespace tw
