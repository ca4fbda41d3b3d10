// Folder paths that come from the registry, the command line or the user: their full form,
// the folder they really name once links are followed, and that folder's identity on disk.
// Two spellings of one folder ("\\?\C:\x", "C:\y\..\x", a second drive letter for the same
// volume, a junction) resolve to one identity, so folders are compared by identity and
// never by their text.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The path with every forward slash turned into a backslash.
std::wstring WithBackslashes(const std::wstring& path);

// The path without a device prefix: "\\?\C:\x" and "\\.\C:\x" become "C:\x",
// "\\?\UNC\server\share\x" (in either letter case) becomes "\\server\share\x", and a
// volume named by its GUID ("\\?\Volume{...}\x") the path on the folder it is mounted on.
// A device path that names no drive, share or mounted volume ("\\?\GLOBALROOT\...",
// "\\.\pipe\...", a volume that is not there) has no such form: empty, never a relative
// path. An administrative share of this machine ("\\localhost\C$\x", also through
// 127.0.0.1 or the computer's own name) becomes the drive path it shares ("C:\x"). Any
// other path comes back unchanged.
std::wstring StripDevicePrefix(const std::wstring& path);

// True for a full path: a drive letter with a colon and a separator ("C:\x", "C:/x"), or
// a UNC path ("\\server\share"), device prefixes included. False for a relative path, for
// one relative to a drive's current folder ("C:x") and for one relative to the current
// drive's root ("\x").
bool IsAbsolute(const std::wstring& path);

// The full form of `path`: backslashes only, device prefix stripped, "." and ".." folded,
// made full against the current folder when relative. Empty when the system cannot form
// it, or when it is a device path with no such form. Links are not followed (see
// ResolvePath).
std::wstring FullPath(const std::wstring& path);

// True for the root of a drive or share, in any spelling FullPath folds: "C:\", "C:",
// "c:/", "\\?\C:\", "C:\x\..", "\\server\share\". False for anything that is not
// absolute.
bool IsDriveRoot(const std::wstring& path);

// The folder `path` really names: its full form with every link, junction or mounted
// drive letter on the way followed to the target's own path. A part that does not exist
// is kept as written after the deepest part that does. Without a trailing backslash
// (except for a drive root). Empty when the path has no full form.
std::wstring ResolvePath(const std::wstring& path);

// The text form of a resolved folder for prefix tests on paths that need not exist:
// lower case, short where the folder exists, with a trailing backslash. Empty when the
// path has no full form.
std::wstring FolderKey(const std::wstring& path);

// What makes a folder (or file) the one it is, whatever path reached it: the volume's
// serial number and the file index on that volume.
struct TFolderIdentity {
  DWORD VolumeSerial = 0;
  DWORD IndexHigh = 0;
  DWORD IndexLow = 0;
  bool operator==(const TFolderIdentity& other) const {
    return VolumeSerial == other.VolumeSerial && IndexHigh == other.IndexHigh &&
           IndexLow == other.IndexLow;
  }
};

// The identity of the existing entry `path` resolves to; nothing when it does not exist or
// cannot be opened.
std::optional<TFolderIdentity> FolderIdentity(const std::wstring& path);

// True when both paths name one existing folder (or file), however each is spelled.
bool IsSameFolder(const std::wstring& a, const std::wstring& b);

// True when the existing folder `outer` is a parent, at any depth, of what `inner`
// resolves to; not when they are the same. `inner` need not exist.
bool IsInsideFolder(const std::wstring& inner, const std::wstring& outer);

// IsSameFolder or IsInsideFolder.
bool IsSameOrInsideFolder(const std::wstring& inner, const std::wstring& outer);

// True when `path` itself is a link or junction: a reparse point (the entry's own
// attributes, EntryAttributes), or a folder whose resolved path is not its resolved parent
// followed by its own name.
bool IsLinkedFolder(const std::wstring& path);
