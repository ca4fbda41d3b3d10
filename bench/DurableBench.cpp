// A write that survives a crash, against SQLite giving the same guarantee: the store's
// journaled write with its flushes against SQLite with synchronous=FULL and its default
// rollback journal; and the same write without the flushes (twdb --no-sync) against SQLite
// with synchronous=OFF, whose journal still protects against a killed process. Databases
// whose root index holds 10, 1,000 or 10,000 entries of 1 KB of mail-like text; the write
// replaces the middle one with 1 KB. Each write opens and closes its database.
//
// The scratch databases go to TW_BENCH_DIR (default ./bench-data), which must lie on the
// disk being measured: on a memory file system a flush costs nothing. The closing table
// prints each store time against SQLite's (medians, with --benchmark_repetitions).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/SqliteKv.h"
#include "bench/StoreFixture.h"

namespace {

// One database of `entries` entries, in the store and in SQLite (both synchronous modes
// share the file: the mode is a setting of each connection).
struct Fixture {
  bench::StoreFixture Store;
  std::string SqlitePath;

  explicit Fixture(const bench::Shape& shape)
      : Store(bench::ShapeFile("durable", shape, ".dbc"), shape),
        SqlitePath(bench::ShapeFile("durable", shape, ".sqlite").string()) {
    SqliteKv(SqlitePath).Create(Store.Entries(), {{"Version", "0.9b2"}});
  }
};

Fixture& FixtureFor(int entries) {
  static std::map<int, std::unique_ptr<Fixture>> fixtures;
  auto& fixture = fixtures[entries];
  if (!fixture) fixture = std::make_unique<Fixture>(bench::Shape{entries, bench::kFillerBytes});
  return *fixture;
}

void StoreWrite(benchmark::State& state, int entries, bool flush) {
  const Fixture& db = FixtureFor(entries);
  bool done = true;
  for (auto _ : state) done = bench::StoreWrite(db.Store, flush) && done;
  if (!done) state.SkipWithError("WriteEntry failed");
}

void SqliteWrite(benchmark::State& state, int entries, const char* synchronous) {
  const Fixture& db = FixtureFor(entries);
  const SqliteKv sqlite(db.SqlitePath, synchronous);
  for (auto _ : state) sqlite.Write(db.Store.TargetName, db.Store.Payload);
}

// The pairs, by name: "<mode>/<side>/<entries>".
void RegisterAll() {
  for (int entries : {10, 1000, 10000}) {
    std::string count = "/";
    count += std::to_string(entries);
    benchmark::RegisterBenchmark(("durable/store" + count).c_str(), StoreWrite, entries, true)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("durable/sqlite" + count).c_str(), SqliteWrite, entries, "FULL")
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("nosync/store" + count).c_str(), StoreWrite, entries, false)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("nosync/sqlite" + count).c_str(), SqliteWrite, entries, "OFF")
        ->Unit(benchmark::kMicrosecond);
  }
}

// The console table as usual, then every store write against SQLite's in the same mode.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) Failed = true;
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        Real[run.benchmark_name()].push_back(run.GetAdjustedRealTime());
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    if (Failed) return;
    std::printf("\n%-22s %12s %12s %8s\n", "write", "store us", "sqlite us", "ratio");
    for (const auto& [name, samples] : Real) {
      const size_t side = name.find("/store/");
      if (side == std::string::npos) continue;
      std::string other = name;
      other.replace(side, 7, "/sqlite/");
      const auto found = Real.find(other);
      if (found == Real.end()) continue;
      const double store = bench::Median(samples), sqlite = bench::Median(found->second);
      std::printf("%-22s %12.1f %12.1f %7.2fx\n", name.c_str(), store, sqlite, store / sqlite);
    }
  }

  bool Failed = false;

 private:
  std::map<std::string, std::vector<double>> Real;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.Failed) {
    std::fprintf(stderr, "durable_bench: a benchmark did not do its work; no ratios\n");
    return 1;
  }
}
