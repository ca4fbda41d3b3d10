// A scratch folder under the system's temporary folder, removed with everything in it
// when the test ends.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& Path() const { return Path_; }
  std::wstring operator/(const std::wstring& name) const { return Path_ + L"\\" + name; }

 private:
  std::wstring Path_;
};

// Writes a small file; answers whether it worked.
bool WriteTextFile(const std::wstring& path, const std::string& text);
bool Exists(const std::wstring& path);
// Converts a Unix path of the build to the Windows path Wine gives it on drive Z:.
std::wstring UnixToWine(std::wstring_view unixPath);
inline std::wstring UnixToWine(std::string_view unixPath) {
  return UnixToWine(std::wstring(unixPath.begin(), unixPath.end()));
}
// The system's folder for temporary files, ending in a backslash.
std::wstring TempFolder();
