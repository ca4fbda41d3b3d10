#include "ScratchFolder.h"

#include "base/Handles.h"
#include "shell/SysUtils.h"

namespace {
// Clears the attributes that keep an entry from being deleted, then deletes the tree.
void ForceRemove(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileW((path + L"\\*").c_str(), &data));
  if (search) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        ForceRemove(child);
      else if (!DeleteFileW(child.c_str()))
        RemoveDirectoryW(child.c_str());
    } while (FindNextFileW(search.get(), &data));
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(path.c_str());
}
}  // namespace

ScratchFolder::ScratchFolder(const std::wstring& name) {
  Path_ = TempFolder() + L"twtest-" + name + L"-" + std::to_wstring(GetCurrentProcessId());
  ForceRemove(Path_);
  CreateDirectoryW(Path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { ForceRemove(Path_); }

bool WriteTextFile(const std::wstring& path, const std::string& text) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring UnixToWine(std::wstring_view unixPath) {
  std::wstring path = L"Z:";
  for (wchar_t c : unixPath) path += c == L'/' ? L'\\' : c;
  return path;
}

std::wstring TempFolder() {
  return QueryString([](wchar_t* buffer, DWORD capacity) { return GetTempPathW(capacity, buffer); });
}
