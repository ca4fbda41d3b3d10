#include "shell/FileChecks.h"

#include <windows.h>

namespace {
DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }
}  // namespace

bool FileExists(const std::wstring& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
