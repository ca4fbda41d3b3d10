// The system utilities through which the wizards reach the file system, the shell and the
// window system. None shows a message or throws; each answers a plain result.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The text a Win32 call writes into a buffer of the caller's, however long it is.
// `query(buffer, capacity)` answers the length it wrote; or, when the buffer was too small,
// the capacity it needs or the capacity it had (it then wrote a truncated text); or 0 on
// failure, which answers "".
template <class Query>
std::wstring QueryString(Query query) {
  std::wstring text(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = query(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) return {};
    if (length < text.size()) {
      text.resize(length);
      return text;
    }
    text.resize(length > text.size() ? length : text.size() * 2);
  }
}

// Full path of the running executable as the system reports it.
std::wstring ModuleFileName();

// The process's current folder.
std::wstring CurrentDirectory();

// Short (8.3) form of an existing path; empty when the system reports none.
std::wstring ShortPathName(const std::wstring& path);

// The Windows folder, as the system reports it.
std::wstring WindowsDirectory();

// The system folder (System32), as the system reports it.
std::wstring SystemDirectory();

// The full path of a program of the system named without a folder ("explorer.exe";
// ".exe" added when the name has no extension): from the Windows folder, else from the
// system folder. Never from the program's own folder, the current one or the search path,
// where anyone may have put a program of that name. Empty when neither holds it.
std::wstring SystemProgram(const std::wstring& name);

// True when `path` names a file (not a folder).
bool FileExists(const std::wstring& path);

// True when `path` names a folder.
bool FolderExists(const std::wstring& path);

// True when `path` names a file or a folder.
bool PathExists(const std::wstring& path);

// The attributes of the entry `path` itself, a link not followed: read through a handle
// opened on the entry (FILE_FLAG_OPEN_REPARSE_POINT), with the link mark of its listing
// too, where the system opens a Unix link's target instead (Wine). INVALID_FILE_ATTRIBUTES
// when there is no such entry.
DWORD EntryAttributes(const std::wstring& path);

// True when the entry `path` itself is a junction or symbolic link.
bool IsLinkEntry(const std::wstring& path);

// All file attributes: read-only, hidden, system, volume label, folder, archive.
constexpr DWORD faAnyFile = 0x3F;

// Finds the entries matching `wildcard` whose special attributes (hidden, system, folder,
// volume label) are all in `attributeMask`; "." and ".." never count. Each entry is the
// wildcard's folder part followed by its name. Fills `list` when given; answers the count.
int ListFiles(std::vector<std::wstring>* list, const std::wstring& wildcard, DWORD attributeMask);

// Says which entries DeleteTree leaves in place, by their full path.
using TKeepEntry = std::function<bool(const std::wstring& path)>;

// Deletes the folder and everything in it, but the entries `keep` names (a kept folder
// stays with everything in it, and so do the folders that lead to it). A link (junction or
// symbolic link) is removed as a link, the folder given included: what it leads to is never
// touched. Entries the system refuses to delete (read-only or open files) stay. True when
// the folder itself was removed.
bool DeleteTree(const std::wstring& folder, const TKeepEntry& keep = {});

// Starts a program from a command line with the given show state; does not wait. The
// program, the command line's first word (quoted when it holds blanks), is a full path, or
// the name of a program of the system (SystemProgram); any other program is not started.
void RunProgram(const std::wstring& commandLine, int showState);

// Opens a shell window on the folder: the Windows folder's explorer.exe.
void ExploreFolder(const std::wstring& folder);

// Writes a shell link at `linkFile` that starts `target`, shows `iconFile`'s first icon
// and works in the target's folder. Answers the component layer's status (>= 0 success).
HRESULT CreateShortcut(const std::wstring& target, const std::wstring& linkFile,
                       const std::wstring& iconFile, const std::wstring& description,
                       const std::wstring& arguments);

// Places `window` centred over `reference`; does nothing without a reference.
void CenterOver(HWND window, HWND reference);

// Places `window` centred in `area` (screen coordinates), each half of the difference in
// size truncated toward zero.
void CenterInArea(HWND window, const RECT& area);

// Plays the system sound that belongs to a message-box type.
void PlayBeep(UINT soundType);
