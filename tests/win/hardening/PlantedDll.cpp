// A DLL planted beside a program under the name of a system DLL, as an attacker would leave
// it in a Downloads folder. When any process loads it, it leaves a marker file beside
// itself: its own path followed by ".loaded", holding the path of the program that loaded
// it. It exports nothing, so a program that needs the real DLL's functions fails to start
// when the planted one is taken instead.
#include <windows.h>

#include <string>

namespace {

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}

void LeaveMarker(HMODULE self) {
  const std::wstring marker = ModulePath(self) + L".loaded";
  const std::wstring loader = ModulePath(nullptr);
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, loader.data(), static_cast<DWORD>(loader.size() * sizeof(wchar_t)), &written,
            nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
  return TRUE;
}
