// Deterministic mail-like text for the benchmark payloads: words drawn from a small
// vocabulary, CR LF line ends. It compresses about as well as real messages do, which a
// run of one repeated byte (or random bytes) would not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string MailText(size_t length, uint32_t seed) {
  static const char* const kWords[] = {
      "the",    "remailer", "message", "from",   "to",      "subject", "anonymous",
      "chain",  "key",      "pool",    "latency", "reply",  "block",   "news",
      "group",  "header",   "mixmaster", "server", "and",   "of",      "a",
      "is",     "we",       "sent",    "through", "host",   "smtp",    "address"};
  constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];
  std::string text;
  text.reserve(length + 16);
  uint32_t state = seed * 2654435761u + 1;
  size_t lineStart = 0;
  while (text.size() < length) {
    state = state * 1664525u + 1013904223u;
    text += kWords[(state >> 16) % kWordCount];
    if (text.size() - lineStart > 68) {
      text += "\r\n";
      lineStart = text.size();
    } else {
      text += ' ';
    }
  }
  text.resize(length);
  return text;
}
