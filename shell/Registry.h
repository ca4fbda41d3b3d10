// The installation records under HKEY_CURRENT_USER: one owner per open key, values read and
// written as plain results. A value of another type than the one asked for reads as missing.
// Every change passes the fault point first (shell/FaultPoint.h).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "base/Handles.h"

// A value as stored: its type and its bytes.
struct TRegistryValue {
  DWORD Type = REG_NONE;
  std::string Bytes;
  bool operator==(const TRegistryValue& other) const {
    return Type == other.Type && Bytes == other.Bytes;
  }
};

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
  // Any value as stored; nothing when it is missing.
  std::optional<TRegistryValue> ReadValue(const std::wstring& name) const;

  // True when the value was written. Each write goes to the run's log with its result.
  bool WriteString(const std::wstring& name, const std::wstring& value);
  bool WriteInteger(const std::wstring& name, DWORD value);
  // Puts back a value as ReadValue gave it. True when it was written.
  bool WriteValue(const std::wstring& name, const TRegistryValue& value);
  // True when the value is not there afterwards.
  bool DeleteValue(const std::wstring& name);

 private:
  TRegistryKey(HKEY key, std::wstring path) : Key_(key), Path_(std::move(path)) {}
  bool Logged(const std::wstring& name, const std::wstring& value, LSTATUS status) const;
  LSTATUS Set(const std::wstring& name, DWORD type, const void* bytes, DWORD size);
  UniqueKey Key_;
  std::wstring Path_;
};

// True when the key `path` exists under the current user's root, also when its
// permissions refuse the current user reading it.
bool RegistryKeyExists(const std::wstring& path);

// Deletes the key `path` under the current user's root with all its values and subkeys.
// True when it is gone afterwards; the run's log tells which.
bool DeleteRegistryTree(const std::wstring& path);
