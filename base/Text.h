// Text helpers shared by the store and the wizards: path joining, delimited fields,
// locale lower-casing and the line list. Portable: they build on Linux as well.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The path with exactly one backslash appended, unless it is empty or already ends in one.
template <class S>
S AddBackslash(const S& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + typename S::value_type('\\');
}

// The path without its last character when that character is a backslash.
template <class S>
S StripBackslash(const S& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

// Everything up to and including the last backslash or colon ("" when there is none).
template <class S>
S ExtractFilePath(const S& path) {
  for (size_t i = path.size(); i > 0; --i)
    if (path[i - 1] == '\\' || path[i - 1] == ':') return path.substr(0, i);
  return S();
}

// Everything after the last backslash or colon.
template <class S>
S ExtractFileName(const S& path) {
  return path.substr(ExtractFilePath(path).size());
}

// Replaces the extension: the text from the last dot is cut when that dot comes after the
// last backslash or colon, then the new extension is appended.
template <class S>
S ChangeFileExt(const S& path, const S& ext) {
  for (size_t i = path.size(); i > 0; --i) {
    auto c = path[i - 1];
    if (c == '.') return path.substr(0, i - 1) + ext;
    if (c == '\\' || c == ':') break;
  }
  return path + ext;
}

// Field `index` (0-based) of `text` split at `delimiter`; empty fields do not count.
// Answers `fallback` when there is no such field.
std::string GetField(int index, std::string_view text, std::string_view delimiter,
                     std::string_view fallback);

// Lower-cases with the user's locale (ANSI code page on Windows, Windows-1252 elsewhere).
std::string LocaleLower(std::string text);
#ifdef _WIN32
std::wstring LocaleLower(std::wstring text);
#endif
// True when both texts are equal after LocaleLower.
bool SameTextLocale(std::string_view a, std::string_view b);

// An ordered list of text lines; its text form is every line followed by CR LF.
class TStringList {
 public:
  std::vector<std::string> Lines;

  int Count() const { return static_cast<int>(Lines.size()); }
  void Add(std::string line) { Lines.push_back(std::move(line)); }
  void Clear() { Lines.clear(); }
  const std::string& operator[](int i) const { return Lines[static_cast<size_t>(i)]; }
  std::string& operator[](int i) { return Lines[static_cast<size_t>(i)]; }

  // Every line followed by CR LF.
  std::string Text() const;
  // Lines end at CR, LF, CR LF or the end of the text; a final line end adds no empty line.
  void SetText(std::string_view text);
  // Position of the first line equal to `line` without regard to letter case, or -1.
  int IndexOf(std::string_view line) const;
};
