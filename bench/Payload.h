// What the benchmarks share: their data folder, entry names and deterministic mail-like
// payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// The folder of the benchmark databases: TW_BENCH_DIR (to measure another disk), else
// "bench-data" in the current folder.
inline std::filesystem::path DataFolder() {
  const char* chosen = std::getenv("TW_BENCH_DIR");
  std::filesystem::path folder = chosen ? chosen : "bench-data";
  std::filesystem::create_directories(folder);
  return folder;
}

// Numbered names, as the client files mail: "msg00042".
inline std::string EntryName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "msg%05d", i);
  return name;
}

// Words drawn from a small vocabulary, CR LF line ends. It compresses about as well as real
// messages do, which a run of one repeated byte (or random bytes) would not.

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
