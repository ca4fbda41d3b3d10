#include "shell/Registry.h"

#include <shlwapi.h>

#include <vector>

#include "base/WideText.h"
#include "shell/FaultPoint.h"
#include "shell/RunLog.h"

namespace {

HKEY OpenKey(const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

}  // namespace

TRegistryKey TRegistryKey::Open(const std::wstring& path) {
  return TRegistryKey(OpenKey(path, KEY_ALL_ACCESS), path);
}

TRegistryKey TRegistryKey::OpenReadOnly(const std::wstring& path) {
  return TRegistryKey(OpenKey(path, KEY_READ), path);
}

TRegistryKey TRegistryKey::Create(const std::wstring& path) {
  HKEY key = nullptr;
  if (InjectedFault(L"create registry key", path) != 0 ||
      RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    key = nullptr;
  return TRegistryKey(key, path);
}

std::optional<std::wstring> TRegistryKey::ReadString(const std::wstring& name) const {
  DWORD type = 0, bytes = 0;
  if (!Valid() ||
      RegQueryValueExW(Key_.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;
  // Room for a terminator that the stored value may lack; the value may grow between calls.
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
  for (;;) {
    bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    const LSTATUS status = RegQueryValueExW(Key_.get(), name.c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (status == ERROR_MORE_DATA) {
      buffer.resize(bytes / sizeof(wchar_t) + 1);
      continue;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    break;
  }
  std::wstring value(buffer.data(), bytes / sizeof(wchar_t));
  // The stored terminators are not part of the text.
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return value;
}

std::optional<DWORD> TRegistryKey::ReadInteger(const std::wstring& name) const {
  DWORD type = 0, value = 0, bytes = sizeof(value);
  if (!Valid() ||
      RegQueryValueExW(Key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD || bytes != sizeof(value))
    return std::nullopt;
  return value;
}

bool TRegistryKey::HasValue(const std::wstring& name) const {
  return Valid() &&
         RegQueryValueExW(Key_.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TRegistryKey::Logged(const std::wstring& name, const std::wstring& value, LSTATUS status) const {
  LogResult(L"registry value HKCU\\" + Path_ + L"\\" + name + L" = " + value,
            status == ERROR_SUCCESS, static_cast<unsigned long>(status));
  return status == ERROR_SUCCESS;
}

LSTATUS TRegistryKey::Set(const std::wstring& name, DWORD type, const void* bytes, DWORD size) {
  if (!Valid()) return ERROR_INVALID_HANDLE;
  if (const DWORD fault = InjectedFault(L"registry value", name)) return fault;
  return RegSetValueExW(Key_.get(), name.c_str(), 0, type, static_cast<const BYTE*>(bytes), size);
}

bool TRegistryKey::WriteString(const std::wstring& name, const std::wstring& value) {
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return Logged(name, value, Set(name, REG_SZ, value.c_str(), bytes));
}

bool TRegistryKey::WriteInteger(const std::wstring& name, DWORD value) {
  return Logged(name, DecimalText(value), Set(name, REG_DWORD, &value, sizeof(value)));
}

std::optional<TRegistryValue> TRegistryKey::ReadValue(const std::wstring& name) const {
  TRegistryValue value;
  DWORD bytes = 0;
  if (!Valid() ||
      RegQueryValueExW(Key_.get(), name.c_str(), nullptr, &value.Type, nullptr, &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  // The value may grow between the two calls.
  for (;;) {
    value.Bytes.resize(bytes);
    const LSTATUS status = RegQueryValueExW(Key_.get(), name.c_str(), nullptr, &value.Type,
                                            reinterpret_cast<BYTE*>(value.Bytes.data()), &bytes);
    if (status == ERROR_SUCCESS) break;
    if (status != ERROR_MORE_DATA) return std::nullopt;
  }
  value.Bytes.resize(bytes);
  return value;
}

bool TRegistryKey::WriteValue(const std::wstring& name, const TRegistryValue& value) {
  return Logged(name, L"(as it was)",
                Set(name, value.Type, value.Bytes.data(), static_cast<DWORD>(value.Bytes.size())));
}

bool TRegistryKey::DeleteValue(const std::wstring& name) {
  LSTATUS status = ERROR_INVALID_HANDLE;
  if (Valid()) {
    status = InjectedFault(L"delete registry value", name);
    if (status == ERROR_SUCCESS) status = RegDeleteValueW(Key_.get(), name.c_str());
  }
  const bool gone = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  LogResult(L"registry value HKCU\\" + Path_ + L"\\" + name + L" deleted", gone,
            static_cast<unsigned long>(status));
  return gone;
}

bool RegistryKeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  const LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
  UniqueKey opened(status == ERROR_SUCCESS ? key : nullptr);
  // A key whose permissions refuse reading is there all the same.
  return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
}

bool DeleteRegistryTree(const std::wstring& path) {
  LSTATUS status = InjectedFault(L"delete registry key", path);
  if (status == ERROR_SUCCESS) status = SHDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
  const bool gone = !RegistryKeyExists(path);
  LogResult(L"registry key HKCU\\" + path + L" deleted", gone, static_cast<unsigned long>(status));
  return gone;
}
