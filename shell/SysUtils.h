// The system utilities through which the wizards reach the file system, the shell and the
// window system. None shows a message or throws; each answers a plain result.
#pragma once

#include <windows.h>

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

// True when `path` names a file (not a folder).
bool FileExists(const std::wstring& path);

// True when `path` names a folder.
bool FolderExists(const std::wstring& path);

// All file attributes: read-only, hidden, system, volume label, folder, archive.
constexpr DWORD faAnyFile = 0x3F;

// Finds the entries matching `wildcard` whose special attributes (hidden, system, folder,
// volume label) are all in `attributeMask`; "." and ".." never count. Each entry is the
// wildcard's folder part followed by its name. Fills `list` when given; answers the count.
int ListFiles(std::vector<std::wstring>* list, const std::wstring& wildcard, DWORD attributeMask);

// Deletes the folder and everything in it. Links (junctions, symbolic links) inside are
// removed as links; their targets are left whole. Entries the system refuses to delete
// (read-only or open files) stay. True when the folder itself was removed.
bool DeleteTree(const std::wstring& folder);

// Starts a program from a command line with the given show state; does not wait.
void RunProgram(const std::wstring& commandLine, int showState);

// Opens a shell window on the folder.
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
