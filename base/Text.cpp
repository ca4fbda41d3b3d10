#include "base/Text.h"

#include <array>

#ifdef _WIN32
#include <windows.h>
#endif

std::string GetField(int index, std::string_view text, std::string_view delimiter,
                     std::string_view fallback) {
  if (index < 0 || text.empty() || delimiter.empty()) return std::string(fallback);
  std::string_view rest = text;
  std::string_view field;
  auto take = [&] {
    size_t at = rest.find(delimiter);
    if (at == std::string_view::npos) {
      field = rest;
      rest = {};
    } else {
      field = rest.substr(0, at);
      rest = rest.substr(at + delimiter.size());
    }
  };
  for (int n = 0; n <= index; ++n) {
    take();
    while (field.empty() && !rest.empty()) take();
  }
  return std::string(field.empty() ? fallback : field);
}

#ifdef _WIN32
std::string LocaleLower(std::string text) {
  if (!text.empty()) CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring LocaleLower(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}
#else
namespace {
// Windows-1252: ASCII, the Latin-1 capitals 0xC0-0xDE except 0xD7, and the three capitals
// that the code page puts in 0x80-0x9F (S caron, OE, Z caron) plus Y diaeresis.
unsigned char Lower1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
  }
}

// Looked up per byte: child lookups lower-case every name they search for.
const std::array<unsigned char, 256> kLower1252 = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = Lower1252(static_cast<unsigned char>(c));
  return table;
}();
}  // namespace

std::string LocaleLower(std::string text) {
  for (char& c : text) c = static_cast<char>(kLower1252[static_cast<unsigned char>(c)]);
  return text;
}
#endif

bool SameTextLocale(std::string_view a, std::string_view b) {
  return a.size() == b.size() && LocaleLower(std::string(a)) == LocaleLower(std::string(b));
}

std::string TStringList::Text() const {
  std::string text;
  for (const auto& line : Lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(std::string_view text) {
  Lines.clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find_first_of("\r\n", i);
    if (end == std::string_view::npos) end = text.size();
    Lines.emplace_back(text.substr(i, end - i));
    i = end;
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
}

int TStringList::IndexOf(std::string_view line) const {
  for (int i = 0; i < Count(); ++i)
    if (SameTextLocale(Lines[static_cast<size_t>(i)], line)) return i;
  return -1;
}
