#include "KeyAccess.h"

#include <windows.h>
#include <sddl.h>

namespace {

bool SetKeyDacl(const std::wstring& path, const wchar_t* sddl) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool set = false;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    set = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
  }
  RegCloseKey(key);
  return set;
}

}  // namespace

bool DenyReading(const std::wstring& path) {
  // Everyone: reading denied, everything else allowed.
  if (!SetKeyDacl(path, L"D:(D;;KR;;;WD)(A;;KA;;;WD)")) return false;
  HKEY key = nullptr;
  const LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status == ERROR_ACCESS_DENIED;
}

void AllowEverything(const std::wstring& path) { SetKeyDacl(path, L"D:(A;;KA;;;WD)"); }
