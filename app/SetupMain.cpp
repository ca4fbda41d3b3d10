#include "app/SetupMain.h"

#include "app/Text.h"

std::wstring ParamStr(const std::wstring& commandLine, int index) {
  size_t at = 0;
  const size_t size = commandLine.size();
  for (int n = 0;; ++n) {
    while (at < size && commandLine[at] <= L' ') ++at;
    if (at == size) return {};
    std::wstring param;
    bool quoted = false;
    while (at < size && (quoted || commandLine[at] > L' ')) {
      if (commandLine[at] == L'"') quoted = !quoted;
      else param += commandLine[at];
      ++at;
    }
    if (n == index) return param;
  }
}

TMode DecideMode(const std::wstring& modulePath, const std::wstring& firstArgument) {
  if (LocaleLower(ExtractFileName(modulePath)) != L"setup.exe") return TMode::Uninstall;
  return LocaleLower(firstArgument) == L"-u" ? TMode::Uninstall : TMode::Setup;
}
