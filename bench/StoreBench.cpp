// The store against SQLite, operation by operation, on databases whose root index holds
// 10, 1,000 or 10,000 entries. Every entry holds 1 KB of mail-like text except the one the
// operations address (the middle one), which holds the benchmark's payload of 1 KB or 1 MB.
// Each operation opens and closes its database, as every store operation does.
//
// After the timed loop each benchmark runs its operation once more while counting heap
// bytes (HeapCounter): "peak_heap" is the operation's peak above its starting level, and
// "bound" the largest index text plus the payload it moves.
//
// The closing table prints the time ratios (store / SQLite, store read / bare inflate).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/HeapCounter.h"
#include "bench/Payload.h"
#include "bench/SqliteKv.h"
#include "filestore/StoreInternal.h"

namespace {

constexpr size_t kFillerBytes = 1024;
const char kSettingsText[] =
    "Version=0.9b2\r\nAddress=someone@example.org\r\nSMTPHost=mail.example.org\r\n";

struct Shape {
  int Entries;
  size_t PayloadBytes;
};

std::string EntryName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "msg%05d", i);
  return name;
}

std::string PayloadLabel(size_t bytes) {
  return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + "MB" : std::to_string(bytes >> 10) + "KB";
}

std::filesystem::path DataFolder() {
  const char* chosen = std::getenv("TW_BENCH_DIR");
  std::filesystem::path folder = chosen ? chosen : "bench-data";
  std::filesystem::create_directories(folder);
  return folder;
}

// One database of a given shape, in both stores.
struct Fixture {
  std::string StorePath;
  SqliteKv Sqlite;
  std::string Target;        // the entry the operations address
  std::string Payload;       // what it holds
  size_t LargestIndexText;   // the root index's text: every name with CR LF, then a zero byte

  Fixture(const std::string& base, const Shape& shape)
      : StorePath(base + ".dbc"), Sqlite(base + ".sqlite"),
        Target(EntryName(shape.Entries / 2)),
        Payload(MailText(shape.PayloadBytes, 7)),
        LargestIndexText(sizeof "Initialization\r\n") {
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < shape.Entries; ++i) {
      const std::string name = EntryName(i);
      entries.emplace_back(name, name == Target ? Payload : MailText(kFillerBytes, i));
      LargestIndexText += name.size() + 2;
    }
    WriteStore(entries);
    Sqlite.Create(entries, {{"Version", "0.9b2"},
                            {"Address", "someone@example.org"},
                            {"SMTPHost", "mail.example.org"}});
  }

  // Writes every entry without flushing, then the root index once: a database of 10,000
  // entries would otherwise take 10,000 rewrites of a growing index to build.
  void WriteStore(const std::vector<std::pair<std::string, std::string>>& entries) const {
    std::filesystem::remove(StorePath);
    TFileManager manager(StorePath);
    TFMindex root(manager, nullptr, "");
    TDataBuf settings{std::string_view(kSettingsText)};
    root.WriteChild("Initialization", &settings, false);
    for (const auto& [name, value] : entries) {
      TDataBuf buffer(value.data(), static_cast<int32_t>(value.size()));
      root.WriteChild(name, &buffer, false);
    }
    root.Flush();
    if (manager.Status() != 0) throw std::runtime_error("cannot build " + StorePath);
  }
};

Fixture& FixtureFor(const Shape& shape) {
  static std::map<std::pair<int, size_t>, std::unique_ptr<Fixture>> fixtures;
  auto& fixture = fixtures[{shape.Entries, shape.PayloadBytes}];
  if (!fixture) {
    const std::string base = (DataFolder() / ("db-" + std::to_string(shape.Entries) + "-" +
                                              PayloadLabel(shape.PayloadBytes))).string();
    fixture = std::make_unique<Fixture>(base, shape);
  }
  return *fixture;
}

// Runs `operation` in the timed loop, then once more to measure its heap peak.
void Measure(benchmark::State& state, const std::function<void()>& operation, size_t bound) {
  for (auto _ : state) operation();
  const size_t peak = heap::PeakGrowth(operation);
  state.counters["peak_heap"] = static_cast<double>(peak);
  state.counters["bound"] = static_cast<double>(bound);
}

void Fail(benchmark::State& state, const std::string& why) { state.SkipWithError(why.c_str()); }

void StoreWrite(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  int status = 0;
  Measure(state, [&] {
    TDataBuf buffer(db.Payload.data(), static_cast<int32_t>(db.Payload.size()));
    status |= WriteEntry(db.Target, &buffer, db.StorePath);
  }, db.LargestIndexText + db.Payload.size());
  if (status != 0) Fail(state, "WriteEntry failed");
}

// The whole-file check a writer runs first: every index inflated and split, every child's
// block head read, overlaps of all blocks and free extents.
void StoreCheck(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  bool sound = true;
  Measure(state, [&] { sound = sound && !CheckDatabase(db.StorePath); },
          db.LargestIndexText + db.Payload.size());
  if (!sound) Fail(state, "CheckDatabase found a problem");
}

void SqliteWrite(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  Measure(state, [&] { db.Sqlite.Write(db.Target, db.Payload); },
          db.LargestIndexText + db.Payload.size());
}

void StoreRead(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  bool same = true;
  Measure(state, [&] {
    TDataBuf buffer;
    ReadEntry(db.Target, buffer, db.StorePath);
    same = same && buffer.View() == db.Payload;
  }, db.LargestIndexText + db.Payload.size());
  if (!same) Fail(state, "ReadEntry gave other bytes");
}

void SqliteRead(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  bool same = true;
  Measure(state, [&] { same = same && db.Sqlite.Read(db.Target) == db.Payload; },
          db.LargestIndexText + db.Payload.size());
  if (!same) Fail(state, "SQLite gave other bytes");
}

void StoreSetting(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  bool found = true;
  Measure(state, [&] { found = found && GetInitValue("Version", "", db.StorePath) == "0.9b2"; },
          db.LargestIndexText + sizeof kSettingsText);
  if (!found) Fail(state, "GetInitValue missed the version");
}

void SqliteSetting(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  bool found = true;
  Measure(state, [&] { found = found && db.Sqlite.Setting("Version", "") == "0.9b2"; },
          db.LargestIndexText + sizeof kSettingsText);
  if (!found) Fail(state, "SQLite missed the version");
}

// The stream exactly as the store writes it: default level, window 2^15, memory level 9.
std::string StoreDeflate(const std::string& plain) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string packed(deflateBound(&stream, plain.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  stream.avail_in = static_cast<uInt>(plain.size());
  stream.next_out = reinterpret_cast<Bytef*>(packed.data());
  stream.avail_out = static_cast<uInt>(packed.size());
  const int rc = deflate(&stream, Z_FINISH);
  packed.resize(stream.total_out);
  deflateEnd(&stream);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  return packed;
}

// The floor under a store read: one inflate call of the same stream into a buffer of the
// recorded length, allocated per call as the store allocates it.
void BareInflate(benchmark::State& state, size_t bytes) {
  const std::string plain = MailText(bytes, 7);
  const std::string packed = StoreDeflate(plain);
  bool same = true;
  Measure(state, [&] {
    auto out = std::make_unique<char[]>(plain.size() + 1);
    z_stream stream{};
    inflateInit(&stream);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.get());
    stream.avail_out = static_cast<uInt>(plain.size());
    same = same && inflate(&stream, Z_FINISH) == Z_STREAM_END;
    inflateEnd(&stream);
  }, plain.size());
  if (!same) Fail(state, "inflate failed");
  state.counters["stream_bytes"] = static_cast<double>(packed.size());
}

// The floor under a store write of the same payload: one deflate call with the store's
// parameters.
void BareDeflate(benchmark::State& state, size_t bytes) {
  const std::string plain = MailText(bytes, 7);
  Measure(state, [&] { benchmark::DoNotOptimize(StoreDeflate(plain)); }, plain.size());
}

// zlib's own working memory for one call in each direction, with the store's parameters:
// a fixed cost of every write and read that does not grow with the data.
struct ZlibState {
  size_t Deflating;
  size_t Inflating;
};

// Measured on a second call: glibc serves the first large blocks by mmap (page-rounded) and
// later ones from the heap, as it does during the benchmarks.
ZlibState MeasureZlibState() {
  const auto deflateOnce = [] {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
    deflateEnd(&stream);
  };
  heap::PeakGrowth(deflateOnce);
  const size_t deflating = heap::PeakGrowth(deflateOnce);
  const std::string packed = StoreDeflate("x");
  const size_t inflating = heap::PeakGrowth([&] {
    z_stream stream{};
    char out[2];
    inflateInit(&stream);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out);
    stream.avail_out = 1;
    inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
  });
  return {deflating, inflating};
}

std::string Name(const char* operation, const char* side, const Shape& shape) {
  return std::string(operation) + "/" + side + "/" + std::to_string(shape.Entries) + "/" +
         PayloadLabel(shape.PayloadBytes);
}

void RegisterAll() {
  using Function = void (*)(benchmark::State&, Shape);
  struct Pair {
    const char* Operation;
    Function Store;
    Function Sqlite;
  };
  const Pair pairs[] = {{"write", StoreWrite, SqliteWrite},
                        {"read", StoreRead, SqliteRead},
                        {"setting", StoreSetting, SqliteSetting}};
  for (size_t bytes : {size_t{1} << 10, size_t{1} << 20})
    for (int entries : {10, 1000, 10000})
      for (const Pair& pair : pairs) {
        const Shape shape{entries, bytes};
        benchmark::RegisterBenchmark(Name(pair.Operation, "store", shape).c_str(), pair.Store, shape)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(Name(pair.Operation, "sqlite", shape).c_str(), pair.Sqlite, shape)
            ->Unit(benchmark::kMicrosecond);
      }
  for (int entries : {10, 1000, 10000}) {
    const Shape shape{entries, size_t{1} << 10};
    benchmark::RegisterBenchmark(Name("check", "store", shape).c_str(), StoreCheck, shape)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("inflate/bare/1MB", BareInflate, size_t{1} << 20)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("deflate/bare/1MB", BareDeflate, size_t{1} << 20)
      ->Unit(benchmark::kMicrosecond);
}

// Prints the console table as usual, then every store time against its counterpart, in
// wall-clock and in CPU time (the machine may be shared; with --benchmark_repetitions the
// medians), and the store's heap peaks against the bound, with and without zlib's fixed
// working state.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(ZlibState zlib) : ConsoleReporter(OO_Tabular), Zlib(zlib) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      Figures& figures = Results[run.benchmark_name()];
      figures.Real.push_back(run.GetAdjustedRealTime());
      figures.Cpu.push_back(run.GetAdjustedCPUTime());
      figures.Peak = run.counters.at("peak_heap").value;
      figures.Bound = run.counters.at("bound").value;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nzlib working state: deflate %zu bytes, inflate %zu bytes\n", Zlib.Deflating,
                Zlib.Inflating);
    std::printf("%-24s %-8s %10s %10s %7s %7s %10s %7s %7s\n", "store operation", "against",
                "store us", "other us", "real", "cpu", "peak B", "peak/b", "-zlib/b");
    for (const auto& [name, figures] : Results) {
      if (name.find("/store/") == std::string::npos) continue;
      std::string other = name;
      other.replace(other.find("/store/"), 7, "/sqlite/");
      Print(name, "sqlite", other);
      if (name.starts_with("read/") && name.ends_with("/1MB")) Print(name, "inflate", "inflate/bare/1MB");
      if (name.starts_with("write/") && name.ends_with("/1MB")) Print(name, "deflate", "deflate/bare/1MB");
    }
  }

 private:
  struct Figures {
    std::vector<double> Real, Cpu;
    double Peak = 0, Bound = 1;
  };

  static double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
  }

  void Print(const std::string& name, const char* against, const std::string& other) {
    const auto found = Results.find(other);
    if (found == Results.end()) return;
    const Figures& store = Results[name];
    const Figures& theirs = found->second;
    const double zlib = static_cast<double>(name.starts_with("write/") ? Zlib.Deflating : Zlib.Inflating);
    const double storeReal = Median(store.Real), theirReal = Median(theirs.Real);
    std::printf("%-24s %-8s %10.1f %10.1f %6.2fx %6.2fx %10.0f %7.2f %7.2f\n", name.c_str(), against,
                storeReal, theirReal, storeReal / theirReal, Median(store.Cpu) / Median(theirs.Cpu),
                store.Peak, store.Peak / store.Bound, (store.Peak - zlib) / store.Bound);
  }

  ZlibState Zlib;
  std::map<std::string, Figures> Results;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  RatioReporter reporter(MeasureZlibState());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
