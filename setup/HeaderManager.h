// Header lookup in a stored message: the lines before the first empty line are its
// headers, each "Name: value", optionally folded onto following lines that begin with a
// blank or a tab.
#pragma once

#include <string>
#include <string_view>

#include "base/Text.h"

class THeaderManager {
 public:
  // Works on `lines` as they are at each call; the list must outlive the manager.
  explicit THeaderManager(const TStringList& lines) : lines_(lines) {}

  // Names are given with their colon and blank ("From: ") and match without regard to
  // letter case.

  // The index of the header's line, or -1 (also when it comes after the header block).
  int HeaderIndex(std::string_view name) const;
  // The header's line with its continuation lines joined by CR LF, or "".
  std::string HeaderText(std::string_view name) const;
  // What follows the name in HeaderText, at most MaxValueLength characters; "" when absent.
  std::string HeaderValue(std::string_view name) const;

  static constexpr size_t MaxValueLength = 1024;

 private:
  const TStringList& lines_;
};
