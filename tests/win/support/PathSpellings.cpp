#include "PathSpellings.h"

#include <windows.h>

#include <algorithm>

#include "ScratchFolder.h"
#include "base/Text.h"
#include "shell/SysUtils.h"

std::wstring ThroughDriveZ(const std::wstring& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (!unixName) return {};
  char* name = unixName(path.c_str());
  if (!name) return {};
  const std::wstring result = UnixToWine(std::string_view(name));
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

std::vector<std::wstring> OtherSpellings(const std::wstring& path, const std::wstring& sub) {
  std::wstring slashes = path + L"/";
  std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
  std::vector<std::wstring> spellings = {L"\\\\?\\" + path, L"\\\\.\\" + path + L"\\",
                                         path + L"\\" + sub + L"\\..", slashes};
  const std::wstring shortForm = ShortPathName(path);
  if (!shortForm.empty()) spellings.push_back(LocaleLower(shortForm));
  const std::wstring throughZ = ThroughDriveZ(path);
  if (!throughZ.empty()) spellings.push_back(throughZ);
  return spellings;
}
