// The destination folder as the user or the command line gives it: checked before anything
// is installed there, and the folder that a pick with Browse leads to.
#pragma once

#include <string>

// The destination as typed, checked before anything is installed there.
struct TDestinationCheck {
  std::wstring Folder;   // the full path, backslashes only, no trailing backslash
  std::wstring Refusal;  // why the folder cannot be used, for the user; empty when it can
  bool Accepted() const { return Refusal.empty(); }
};

// The caption of the message that shows a refusal.
inline constexpr wchar_t DestinationRefusedCaption[] = L"Invalid path";

// Checks a destination folder: a full path (a drive letter or a UNC path, forward slashes
// allowed), a folder that can be a program's home (JudgeHome), and one that is new, empty
// or an earlier installation: setup never mixes its files with other files, which its
// uninstaller could then not tell from its own. An accepted folder comes back in its full
// form, which is what the installation records.
TDestinationCheck CheckDestination(const std::wstring& typed);

// The destination for a folder picked with Browse: the folder itself when it is empty or an
// earlier installation and can be a home, else the folder "Tarnwhistle" in it, as other
// installers do.
std::wstring BrowsedDestination(const std::wstring& picked);
