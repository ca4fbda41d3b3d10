// The installation records under HKEY_CURRENT_USER: one owner per open key, values read and
// written as plain results. A value of another type than the one asked for reads as missing.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "base/Handles.h"

class TRegistryKey {
 public:
  // Opens `path` under the current user's root with full access; invalid when it cannot.
  static TRegistryKey Open(const std::wstring& path);
  // Opens `path` for reading only; invalid when it cannot.
  static TRegistryKey OpenReadOnly(const std::wstring& path);
  // Opens `path`, creating it (and the keys above it) when missing; invalid when it cannot.
  static TRegistryKey Create(const std::wstring& path);

  bool Valid() const { return Key_.valid(); }

  // A REG_SZ or REG_EXPAND_SZ value; nothing when missing or of another type.
  std::optional<std::wstring> ReadString(const std::wstring& name) const;
  // A REG_DWORD value; nothing when missing or of another type.
  std::optional<DWORD> ReadInteger(const std::wstring& name) const;
  bool HasValue(const std::wstring& name) const;

  // True when the value was written. Each write goes to the run's log with its result.
  bool WriteString(const std::wstring& name, const std::wstring& value);
  bool WriteInteger(const std::wstring& name, DWORD value);

 private:
  TRegistryKey(HKEY key, std::wstring path) : Key_(key), Path_(std::move(path)) {}
  bool Logged(const std::wstring& name, const std::wstring& value, LSTATUS status) const;
  UniqueKey Key_;
  std::wstring Path_;
};

// True when the key `path` exists under the current user's root, also when its
// permissions refuse the current user reading it.
bool RegistryKeyExists(const std::wstring& path);

// Deletes the key `path` under the current user's root with all its values and subkeys.
// True when it is gone afterwards; the run's log tells which.
bool DeleteRegistryTree(const std::wstring& path);
