// The heap one store operation takes at its peak, against its bound: the largest index
// text the operation handles (every name with CR LF, plus the zero byte) plus the payload it
// moves. The databases and operations are store_bench's (bench/StoreFixture.h); this program
// counts every heap byte of the process (bench/HeapCounter.cpp replaces the malloc family),
// which store_bench does not, so that its times are those of the system's allocator.
//
// Each operation runs a few times to set up what the store keeps between operations (its
// zlib states and buffers, which live as long as the thread: "kept" is what these runs
// added to the heap), then once more while the heap is counted ("peak", above the level it
// started from). Exits 1, without a table, when an operation did not do its work.
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/HeapCounter.h"
#include "bench/StoreFixture.h"

namespace {

using bench::Shape;
using bench::StoreFixture;

struct Operation {
  const char* Name;
  std::function<bool(const StoreFixture&)> Run;
  bool SmallPayloadsOnly;
};

// zlib's working memory in each direction, with the store's parameters: a fixed cost that
// does not grow with the data. Measured on a second set-up: glibc serves the first large
// blocks by mmap (page-rounded) and later ones from the heap.
void PrintZlibState() {
  const auto deflateOnce = [] {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
    deflateEnd(&stream);
  };
  const auto inflateOnce = [] {
    z_stream stream{};
    inflateInit2(&stream, 15);
    inflateEnd(&stream);
  };
  heap::PeakGrowth(deflateOnce);
  const size_t deflating = heap::PeakGrowth(deflateOnce);
  const size_t inflating = heap::PeakGrowth(inflateOnce);
  std::printf("zlib working state: deflate %zu bytes, inflate %zu bytes\n", deflating, inflating);
}

int Run() {
  const std::vector<Operation> operations = {
      {"write", [](const StoreFixture& db) { return bench::StoreWrite(db, false); }, false},
      {"read", bench::StoreRead, false},
      {"setting", bench::StoreSetting, false},
      {"check", bench::StoreCheck, true},
  };
  std::vector<Shape> shapes;
  for (size_t bytes : {size_t{1} << 10, size_t{1} << 20})
    for (int entries : {10, 1000, 10000}) shapes.push_back({entries, bytes});
  shapes.push_back({10000, size_t{1} << 10, 3});

  PrintZlibState();
  std::printf("%-30s %12s %12s %8s %12s\n", "operation", "peak B", "bound B", "peak/b", "kept B");
  for (const Shape& shape : shapes) {
    const std::string label = bench::ShapeLabel(shape);
    const StoreFixture db(bench::ShapeFile("memory", shape, ".dbc"), shape);
    for (const Operation& operation : operations) {
      if (operation.SmallPayloadsOnly && shape.PayloadBytes != bench::kFillerBytes) continue;
      // Storage the store keeps settles within two runs: the second may give a planned
      // extent a larger spare than the first did.
      const auto before = static_cast<long long>(heap::Current());
      bool done = true;
      for (int warm = 0; warm < 3; ++warm) done = operation.Run(db) && done;
      const long long kept = static_cast<long long>(heap::Current()) - before;
      const size_t peak = heap::PeakGrowth([&] { done = operation.Run(db) && done; });
      if (!done) throw std::runtime_error(std::string(operation.Name) + " " + label + " did not do its work");
      const size_t bound = db.LargestIndexText +
                           (operation.Name == std::string("setting") ? sizeof bench::kSettingsText
                                                                     : db.Payload.size());
      std::printf("%-30s %12zu %12zu %8.2f %12lld\n", (std::string(operation.Name) + "/" + label).c_str(),
                  peak, bound, double(peak) / double(bound), kept);
    }
  }
  return 0;
}

}  // namespace

int main() {
  try {
    return Run();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "store_memory: %s\n", failure.what());
    return 1;
  }
}
