#include "setup/HeaderManager.h"

namespace {
bool IsContinuation(const std::string& line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}
}  // namespace

int THeaderManager::HeaderIndex(std::string_view name) const {
  for (int i = 0; i < lines_.Count(); ++i) {
    const std::string_view prefix = std::string_view(lines_[i]).substr(0, name.size());
    if (prefix.empty()) return -1;  // the empty line ends the header block
    if (SameTextLocale(prefix, name)) return i;
  }
  return -1;
}

std::string THeaderManager::HeaderText(std::string_view name) const {
  const int index = HeaderIndex(name);
  if (index < 0) return {};
  std::string text = lines_[index];
  for (int i = index + 1; i < lines_.Count() && IsContinuation(lines_[i]); ++i)
    text += "\r\n" + lines_[i];
  return text;
}

std::string THeaderManager::HeaderValue(std::string_view name) const {
  const std::string text = HeaderText(name);
  if (text.empty()) return {};
  return text.substr(name.size(), MaxValueLength);
}
