// The installer's table of names: product and file names, registry keys, database entry
// paths and the values derived from the running executable. Built once at start.
#pragma once

#include <string>

namespace tw {

// Product, version and program files.
extern const std::wstring ProductName;     // "Tarnwhistle"
extern const std::wstring ProductKey;      // "Software\Tarnwhistle"
extern const std::wstring MixmasterKey;    // "Software\Mixmaster"
// The entry of Settings' "Apps & features" (and of "Programs and Features").
extern const std::wstring UninstallEntryKey;  // "Software\Microsoft\...\Uninstall\Tarnwhistle"
extern const std::wstring Publisher;          // "The Tarnwhistle developers"
extern const std::wstring ClientExe;       // "TW.exe"
extern const std::wstring UninstallerExe;  // "UninstTW.exe"
extern const std::wstring VersionSuffix;   // ".9b2"
extern const std::wstring SetupTitle;      // "Tarnwhistle Setup"
extern const std::wstring UninstallTitle;  // "Tarnwhistle Uninstall"
extern const std::wstring CopyrightNotice; // two lines joined by a line feed

// File extensions.
extern const std::wstring DatabaseExt;   // ".dbc"
extern const std::wstring EncryptedExt;  // ".pgp"
extern const std::wstring IniExt;        // ".ini"
extern const std::wstring BackupExt;     // ".bak"

// Database entry paths (ANSI bytes, components separated by 0xFF); the settings entry is
// the store's own InitEntryName.
extern const std::string DefaultMessagePath;  // "default" 0xFF "message"
extern const std::string DefaultArticlePath;  // "default" 0xFF "article"

// Values derived from the running executable's module file name.
struct ProgramNames {
  std::wstring ProgramPath;      // full path, upper-cased
  std::wstring ProgramFolder;    // folder part of ProgramPath, lower-cased, with its separator
  std::wstring ProgramDatabase;  // ProgramPath with the extension ".dbc"
};

// Derives the names from a module file name (exposed so that tests can give any path).
ProgramNames DeriveProgramNames(const std::wstring& modulePath);
// The names of the running executable, derived on first use.
const ProgramNames& Program();

// "<title>  <suffix>\n<notice>": the text of a wizard's About box.
std::wstring AboutText(const std::wstring& title);

}  // namespace tw
