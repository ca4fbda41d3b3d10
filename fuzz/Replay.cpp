// Runs every file of the given folders (or the given files) through the fuzz target once,
// so that the committed corpus is exercised on every test run, with or without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
namespace fs = std::filesystem;

std::vector<uint8_t> ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Replay(const fs::path& file) {
  // Named first, so that a crash shows which input caused it.
  std::printf("%s\n", file.string().c_str());
  std::fflush(stdout);
  const std::vector<uint8_t> image = ReadWhole(file);
  LLVMFuzzerTestOneInput(image.data(), image.size());
}
}  // namespace

int main(int argc, char** argv) {
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path given = argv[i];
    if (fs::is_directory(given)) {
      for (const auto& item : fs::directory_iterator(given)) {
        if (!item.is_regular_file()) continue;
        Replay(item.path());
        ++replayed;
      }
    } else {
      Replay(given);
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  // An empty corpus would make the test pass without running anything.
  return replayed > 0 ? 0 : 1;
}
