// Conversions between the program's wide window texts and 8-bit texts.
#pragma once

#include <string>
#include <string_view>

// UTF-8 (the text of std::exception messages) to UTF-16. Text that is no valid UTF-8 is read
// in the ANSI code page instead.
std::wstring WideFromUtf8(std::string_view text);

// UTF-16 to UTF-8, for error messages built from window texts and paths.
std::string Utf8FromWide(std::wstring_view text);

// The number in decimal digits, made without the C library's formatting functions, which
// the shipped program leaves out.
std::wstring DecimalText(unsigned long long value);
