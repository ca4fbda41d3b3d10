#include "shell/Paths.h"

#include <cwchar>
#include <cwctype>

#include "base/Handles.h"
#include "base/Text.h"
#include "shell/SysUtils.h"

namespace {

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return LocaleLower(a) == LocaleLower(b); }

bool IsDriveLetter(wchar_t c) { return c < 128 && std::iswalpha(c); }

// The names by which this machine reaches itself in a UNC path.
bool IsThisMachine(const std::wstring& server) {
  if (SameText(server, L"localhost") || server == L"127.0.0.1" || server == L"::1") return true;
  for (COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname,
                                      ComputerNameDnsFullyQualified}) {
    const std::wstring name = QueryString([&](wchar_t* buffer, DWORD capacity) {
      DWORD size = capacity;
      if (GetComputerNameExW(format, buffer, &size)) return size;
      return GetLastError() == ERROR_MORE_DATA ? size : 0;
    });
    if (!name.empty() && SameText(server, name)) return true;
  }
  return false;
}

// "\\server\X$\rest" on this machine as "X:\rest"; any other path unchanged.
std::wstring WithoutLocalAdminShare(const std::wstring& path) {
  if (!StartsWith(path, L"\\\\")) return path;
  const size_t serverEnd = path.find(L'\\', 2);
  if (serverEnd == std::wstring::npos || path.size() < serverEnd + 3) return path;
  const wchar_t drive = path[serverEnd + 1];
  const size_t shareEnd = serverEnd + 3;
  if (!IsDriveLetter(drive) || path[serverEnd + 2] != L'$' ||
      (path.size() > shareEnd && path[shareEnd] != L'\\'))
    return path;
  if (!IsThisMachine(path.substr(2, serverEnd - 2))) return path;
  const std::wstring rest = path.size() > shareEnd ? path.substr(shareEnd) : L"\\";
  return std::wstring(1, drive) + L":" + rest;
}

// "Volume{GUID}\\rest" as the path of the folder the volume is mounted on ("C:\\rest");
// empty when the volume is unknown or mounted nowhere.
std::wstring OnMountedVolume(const std::wstring& volumePath) {
  const size_t end = volumePath.find(L'\\');
  const std::wstring volume = L"\\\\?\\" + volumePath.substr(0, end) + L"\\";
  const std::wstring mounts = QueryString([&](wchar_t* buffer, DWORD capacity) -> DWORD {
    DWORD needed = 0;
    if (GetVolumePathNamesForVolumeNameW(volume.c_str(), buffer, capacity, &needed))
      return static_cast<DWORD>(wcslen(buffer));
    return GetLastError() == ERROR_MORE_DATA ? needed : 0;
  });
  if (mounts.empty()) return {};
  return end == std::wstring::npos ? mounts : AddBackslash(mounts) + volumePath.substr(end + 1);
}

std::wstring SystemFullPath(const std::wstring& path) {
  return QueryString([&](wchar_t* buffer, DWORD capacity) {
    return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
  });
}

// The length of the root part of a full path: "C:\" or "\\server\share\" (without a
// trailing backslash when the path ends there). 0 when the path has no root.
size_t RootLength(const std::wstring& full) {
  if (full.size() >= 2 && IsDriveLetter(full[0]) && full[1] == L':')
    return full.size() >= 3 && full[2] == L'\\' ? 3 : 2;
  if (!StartsWith(full, L"\\\\")) return 0;
  const size_t serverEnd = full.find(L'\\', 2);
  if (serverEnd == std::wstring::npos) return full.size();
  const size_t shareEnd = full.find(L'\\', serverEnd + 1);
  return shareEnd == std::wstring::npos ? full.size() : shareEnd + 1;
}

std::wstring WithoutTrailingBackslash(const std::wstring& full) {
  const size_t root = RootLength(full);
  std::wstring path = full;
  while (path.size() > root && path.back() == L'\\') path.pop_back();
  return path;
}

// The folder above a full path without a trailing backslash; empty at a root.
std::wstring ParentOf(const std::wstring& full) {
  const size_t root = RootLength(full);
  if (full.size() <= root) return {};
  const size_t slash = full.rfind(L'\\');
  if (slash == std::wstring::npos || slash < root) return full.substr(0, root);
  return full.substr(0, slash);
}

std::wstring LastName(const std::wstring& full) {
  const size_t slash = full.rfind(L'\\');
  return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

// Opens an existing file or folder for its attributes only, following links.
UniqueHandle OpenForIdentity(const std::wstring& path) {
  return UniqueHandle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The path of an open file as the system names its target; empty when it cannot.
std::wstring FinalPathOf(HANDLE file) {
  return QueryString([&](wchar_t* buffer, DWORD capacity) {
    return GetFinalPathNameByHandleW(file, buffer, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
}

// ResolvePath for a full path without a trailing backslash.
std::wstring ResolveFull(const std::wstring& full) {
  if (const UniqueHandle file = OpenForIdentity(full)) {
    const std::wstring final = FinalPathOf(file.get());
    if (!final.empty()) return WithoutTrailingBackslash(StripDevicePrefix(final));
  }
  const std::wstring parent = ParentOf(full);
  if (parent.empty()) return full;
  const std::wstring resolvedParent = ResolveFull(parent);
  return AddBackslash(resolvedParent) + LastName(full);
}

// The identity of an entry by a path that is already resolved.
std::optional<TFolderIdentity> IdentityOfResolved(const std::wstring& resolved) {
  if (resolved.empty()) return std::nullopt;
  const UniqueHandle file = OpenForIdentity(resolved);
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return TFolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

}  // namespace

std::wstring WithBackslashes(const std::wstring& path) {
  std::wstring result = path;
  for (wchar_t& c : result)
    if (c == L'/') c = L'\\';
  return result;
}

std::wstring StripDevicePrefix(const std::wstring& path) {
  if (!StartsWith(path, L"\\\\?\\") && !StartsWith(path, L"\\\\.\\")) return WithoutLocalAdminShare(path);
  const std::wstring rest = path.substr(4);
  if (SameText(rest.substr(0, 4), L"UNC\\")) return WithoutLocalAdminShare(L"\\\\" + rest.substr(4));
  if (rest.size() >= 2 && IsDriveLetter(rest[0]) && rest[1] == L':') {
    if (rest.size() == 2) return rest + L"\\";  // the volume itself: its root
    return rest[2] == L'\\' ? rest : std::wstring();
  }
  if (SameText(rest.substr(0, 7), L"Volume{")) return OnMountedVolume(rest);
  // A device of the system's own namespace ("GLOBALROOT", "pipe", a disk): no folder.
  return {};
}

bool IsAbsolute(const std::wstring& path) {
  const std::wstring p = WithBackslashes(path);
  if (p.size() >= 3 && IsDriveLetter(p[0]) && p[1] == L':' && p[2] == L'\\') return true;
  return p.size() >= 3 && StartsWith(p, L"\\\\") && p[2] != L'\\';
}

std::wstring FullPath(const std::wstring& path) {
  const std::wstring stripped = StripDevicePrefix(WithBackslashes(path));
  if (stripped.empty()) return {};
  const std::wstring full = SystemFullPath(stripped);
  return full.empty() ? full : StripDevicePrefix(full);
}

bool IsDriveRoot(const std::wstring& path) {
  if (!IsAbsolute(path)) return false;
  const std::wstring full = FullPath(path);
  return !full.empty() && WithoutTrailingBackslash(full).size() <= RootLength(full);
}

std::wstring ResolvePath(const std::wstring& path) {
  const std::wstring full = FullPath(path);
  return full.empty() ? full : ResolveFull(WithoutTrailingBackslash(full));
}

std::wstring FolderKey(const std::wstring& path) {
  const std::wstring resolved = ResolvePath(path);
  if (resolved.empty()) return {};
  const std::wstring shortForm = ShortPathName(resolved);
  return AddBackslash(LocaleLower(shortForm.empty() ? resolved : shortForm));
}

std::optional<TFolderIdentity> FolderIdentity(const std::wstring& path) {
  // Opened by its resolved path: a volume reached through two drive letters may report a
  // serial number for each.
  return IdentityOfResolved(ResolvePath(path));
}

bool IsSameFolder(const std::wstring& a, const std::wstring& b) {
  const auto first = FolderIdentity(a);
  const auto second = first ? FolderIdentity(b) : std::nullopt;
  return first && second && *first == *second;
}

bool IsInsideFolder(const std::wstring& inner, const std::wstring& outer) {
  const auto outerIdentity = FolderIdentity(outer);
  if (!outerIdentity) return false;
  const std::wstring resolved = ResolvePath(inner);
  if (resolved.empty()) return false;
  // The parents of a resolved path are resolved themselves.
  for (std::wstring parent = ParentOf(resolved); !parent.empty(); parent = ParentOf(parent)) {
    const auto identity = IdentityOfResolved(parent);
    if (identity && *identity == *outerIdentity) return true;
  }
  return false;
}

bool IsSameOrInsideFolder(const std::wstring& inner, const std::wstring& outer) {
  return IsSameFolder(inner, outer) || IsInsideFolder(inner, outer);
}

bool IsLinkedFolder(const std::wstring& path) {
  const std::wstring full = WithoutTrailingBackslash(FullPath(path));
  if (full.empty() || full.size() <= RootLength(full)) return false;
  const DWORD attributes = EntryAttributes(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  // Where links show as plain folders, the resolved path tells: a link's target lies in
  // another folder or goes by another name. A short name typed for the folder is no link.
  const std::wstring resolved = ResolvePath(full);
  if (!IsSameFolder(ParentOf(full), ParentOf(resolved))) return true;
  const std::wstring name = LastName(full);
  return !SameText(name, LastName(resolved)) && !SameText(name, LastName(ShortPathName(resolved)));
}
