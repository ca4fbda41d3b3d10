#include "base/WideText.h"

#include <windows.h>

namespace {

std::wstring ToWide(UINT codePage, DWORD flags, std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (length == 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
  return wide;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring wide = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text);
  return wide.empty() && !text.empty() ? ToWide(CP_ACP, 0, text) : wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::wstring DecimalText(unsigned long long value) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}
