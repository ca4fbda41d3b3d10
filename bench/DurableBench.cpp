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
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Payload.h"
#include "bench/SqliteKv.h"
#include "filestore/StoreInternal.h"

namespace {

constexpr size_t kEntryBytes = 1024;

// One database of `entries` entries, in the store and in SQLite (both synchronous modes
// share the file: the mode is a setting of each connection).
struct Fixture {
  std::string StorePath;
  std::string SqlitePath;
  std::string Target;
  std::string Payload;

  explicit Fixture(int entries) : Target(EntryName(entries / 2)), Payload(MailText(kEntryBytes, 7)) {
    const std::string base = (DataFolder() / ("durable-" + std::to_string(entries))).string();
    StorePath = base + ".dbc";
    SqlitePath = base + ".sqlite";
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < entries; ++i) rows.emplace_back(EntryName(i), MailText(kEntryBytes, uint32_t(i)));
    WriteStore(rows);
    SqliteKv(SqlitePath).Create(rows, {{"Version", "0.9b2"}});
  }

  // Every entry, then the root index once: 10,000 entries written one by one would rewrite
  // a growing index 10,000 times.
  void WriteStore(const std::vector<std::pair<std::string, std::string>>& rows) const {
    std::filesystem::remove(StorePath);
    std::filesystem::remove(store::JournalPath(StorePath));
    TFileManager manager(StorePath);
    TFMindex root(manager, nullptr, "");
    for (const auto& [name, value] : rows) {
      TDataBuf buffer(value.data(), static_cast<int32_t>(value.size()));
      root.WriteChild(name, &buffer, false);
    }
    root.Flush();
    if (manager.Finish() != 0) throw std::runtime_error("cannot build " + StorePath);
  }
};

Fixture& FixtureFor(int entries) {
  static std::map<int, std::unique_ptr<Fixture>> fixtures;
  auto& fixture = fixtures[entries];
  if (!fixture) fixture = std::make_unique<Fixture>(entries);
  return *fixture;
}

void StoreWrite(benchmark::State& state, int entries, bool flush) {
  Fixture& db = FixtureFor(entries);
  SetFlushWrites(flush);
  int status = 0;
  for (auto _ : state) {
    TDataBuf buffer(db.Payload.data(), static_cast<int32_t>(db.Payload.size()));
    status |= WriteEntry(db.Target, &buffer, db.StorePath);
  }
  SetFlushWrites(true);
  if (status != 0) state.SkipWithError("WriteEntry failed");
}

void SqliteWrite(benchmark::State& state, int entries, const char* synchronous) {
  Fixture& db = FixtureFor(entries);
  const SqliteKv sqlite(db.SqlitePath, synchronous);
  for (auto _ : state) sqlite.Write(db.Target, db.Payload);
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
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        Real[run.benchmark_name()].push_back(run.GetAdjustedRealTime());
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-22s %12s %12s %8s\n", "write", "store us", "sqlite us", "ratio");
    for (const auto& [name, samples] : Real) {
      const size_t side = name.find("/store/");
      if (side == std::string::npos) continue;
      std::string other = name;
      other.replace(side, 7, "/sqlite/");
      const auto found = Real.find(other);
      if (found == Real.end()) continue;
      const double store = Median(samples), sqlite = Median(found->second);
      std::printf("%-22s %12.1f %12.1f %7.2fx\n", name.c_str(), store, sqlite, store / sqlite);
    }
  }

 private:
  static double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
  }

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
}
