// Whether a file or a folder is there: the questions both wizards ask of the file system
// before they copy, write or remove.
#pragma once

#include <string>

// True when `path` names an existing file (not a folder).
bool FileExists(const std::wstring& path);

// True when `path` names an existing folder.
bool FolderExists(const std::wstring& path);
