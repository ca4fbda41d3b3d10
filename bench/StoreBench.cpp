// The store against SQLite and against its floor, operation by operation, on databases whose
// mailbox index holds 10, 1,000 or 10,000 entries (bench/StoreFixture.h). Every entry holds
// 1 KB of mail-like text except the one the operations address (the middle one), which
// holds the benchmark's payload of 1 KB or 1 MB. Each operation opens and closes its
// database, as every store operation does. The process uses the system's allocator: the
// heap peaks are measured by store_memory, in a run of its own.
//
// The floor is what the format makes every implementation do, measured on the same bytes
// with the same zlib parameters (bench::Floor): for a read, inflate each index on the path
// and the entry's record; for a write, also deflate each index on the path and the payload.
//
// "write" runs without the flushes (as `twdb --no-sync`), "flushed-write" as the store
// writes by default. Its floor is the write's floor and two flushes of a small file in the
// same folder, and its SQLite counterpart runs with synchronous=FULL instead of OFF.
//
// The closing table prints the time ratios (store / SQLite, store / floor).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "bench/SqliteKv.h"
#include "bench/StoreFixture.h"

namespace {

using bench::Shape;

// One database of a given shape, in both stores.
struct Fixture {
  bench::StoreFixture Store;
  SqliteKv Sqlite;          // synchronous=OFF
  SqliteKv SqliteDurable;   // the same file, synchronous=FULL
  std::string SqliteKey;    // the addressed entry's key: its path with "/" between names

  explicit Fixture(const Shape& shape)
      : Store(bench::ShapeFile("db", shape, ".dbc"), shape),
        Sqlite(bench::ShapeFile("db", shape, ".sqlite").string()),
        SqliteDurable(bench::ShapeFile("db", shape, ".sqlite").string(), "FULL") {
    std::string folder;
    for (const std::string& index : Store.Mailbox) folder += index + "/";
    SqliteKey = folder + Store.TargetName;
    std::vector<std::pair<std::string, std::string>> entries = Store.Entries();
    for (auto& entry : entries) entry.first = folder + entry.first;
    Sqlite.Create(entries, {{"Version", "0.9b2"},
                            {"Address", "someone@example.org"},
                            {"SMTPHost", "mail.example.org"}});
  }
};

Fixture& FixtureFor(const Shape& shape) {
  static std::map<std::tuple<int, size_t, int>, std::unique_ptr<Fixture>> fixtures;
  auto& fixture = fixtures[{shape.Entries, shape.PayloadBytes, shape.Depth}];
  if (!fixture) fixture = std::make_unique<Fixture>(shape);
  return *fixture;
}

// Runs `operation` in the timed loop; a run in which it did not do its work is an error.
void Measure(benchmark::State& state, const std::function<bool()>& operation, const char* failure) {
  bool done = true;
  for (auto _ : state) done = operation() && done;
  if (!done) state.SkipWithError(failure);
}

void StoreWrite(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { return bench::StoreWrite(db.Store, false); }, "WriteEntry failed");
}

void StoreFlushedWrite(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { return bench::StoreWrite(db.Store, true); }, "WriteEntry failed");
}

// The whole-file check a writer runs first: every index inflated and split, every child's
// block head read, overlaps of all blocks and free extents.
void StoreCheck(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { return bench::StoreCheck(db.Store); }, "CheckDatabase found a problem");
}

void StoreRead(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { return bench::StoreRead(db.Store); }, "ReadEntry gave other bytes");
}

void StoreSetting(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { return bench::StoreSetting(db.Store); }, "GetInitValue missed the version");
}

void SqliteWrite(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { db.Sqlite.Write(db.SqliteKey, db.Store.Payload); return true; }, "");
}

void SqliteFlushedWrite(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { db.SqliteDurable.Write(db.SqliteKey, db.Store.Payload); return true; }, "");
}

void SqliteRead(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { return db.Sqlite.Read(db.SqliteKey) == db.Store.Payload; },
          "SQLite gave other bytes");
}

void SqliteSetting(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { return db.Sqlite.Setting("Version", "") == "0.9b2"; },
          "SQLite missed the version");
}

bench::Floor& TheFloor() {
  static bench::Floor floor;
  return floor;
}

void ReadFloor(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { return TheFloor().Read(db.Store); },
          "the entry's record inflated to other bytes");
}

void WriteFloor(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  Measure(state, [&] { TheFloor().Write(db.Store); return true; }, "");
}

// The floor under a durable write: the write's floor and two flushes of a small file, one
// for the journal and one for the database.
void FlushedWriteFloor(benchmark::State& state, Shape shape) {
  const Fixture& db = FixtureFor(shape);
  bench::FlushProbe probe;
  Measure(state, [&] {
    TheFloor().Write(db.Store);
    probe.Flush();
    probe.Flush();
    return true;
  }, "");
}

std::string Name(const char* operation, const char* side, const Shape& shape) {
  return std::string(operation) + "/" + side + "/" + bench::ShapeLabel(shape);
}

void RegisterAll() {
  using Function = void (*)(benchmark::State&, Shape);
  struct Sides {
    const char* Operation;
    Function Store;
    Function Sqlite;
    Function Floor;  // or none
  };
  const Sides operations[] = {{"write", StoreWrite, SqliteWrite, WriteFloor},
                              {"read", StoreRead, SqliteRead, ReadFloor},
                              {"setting", StoreSetting, SqliteSetting, nullptr}};
  std::vector<Shape> shapes;
  for (size_t bytes : {size_t{1} << 10, size_t{1} << 20})
    for (int entries : {10, 1000, 10000}) shapes.push_back({entries, bytes});
  shapes.push_back({10000, size_t{1} << 10, 3});
  const auto add = [](const std::string& name, Function function, const Shape& shape) {
    benchmark::RegisterBenchmark(name.c_str(), function, shape)->Unit(benchmark::kMicrosecond);
  };
  const auto addSides = [&](const Sides& sides, const Shape& shape) {
    add(Name(sides.Operation, "store", shape), sides.Store, shape);
    add(Name(sides.Operation, "sqlite", shape), sides.Sqlite, shape);
    if (sides.Floor) add(Name(sides.Operation, "floor", shape), sides.Floor, shape);
  };
  const Sides flushedWrite{"flushed-write", StoreFlushedWrite, SqliteFlushedWrite, FlushedWriteFloor};
  for (const Shape& shape : shapes) {
    for (const Sides& sides : operations) addSides(sides, shape);
    if (shape.PayloadBytes == bench::kFillerBytes) addSides(flushedWrite, shape);
  }
  for (int entries : {10, 1000, 10000}) {
    const Shape shape{entries, size_t{1} << 10};
    add(Name("check", "store", shape), StoreCheck, shape);
  }
}

// Prints the console table as usual, then every store time against its counterpart, in
// wall-clock and in CPU time (the machine may be shared; with --benchmark_repetitions the
// medians). A benchmark that failed stops the program with exit status 1 after the table:
// its ratios are not printed.
class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) Failed = true;
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      Figures& figures = Results[run.benchmark_name()];
      figures.Real.push_back(run.GetAdjustedRealTime());
      figures.Cpu.push_back(run.GetAdjustedCPUTime());
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    if (Failed) return;
    std::printf("\n%-24s %-8s %10s %10s %7s %7s\n", "store operation", "against", "store us",
                "other us", "real", "cpu");
    for (const auto& [name, figures] : Results) {
      if (name.find("/store/") == std::string::npos) continue;
      for (const std::string against : {"sqlite", "floor"}) {
        std::string other = name;
        other.replace(other.find("/store/") + 1, 5, against);
        Print(name, against.c_str(), other);
      }
    }
  }

  bool Failed = false;

 private:
  struct Figures {
    std::vector<double> Real, Cpu;
  };

  void Print(const std::string& name, const char* against, const std::string& other) {
    const auto found = Results.find(other);
    if (found == Results.end()) return;
    const Figures& store = Results[name];
    const Figures& theirs = found->second;
    const double storeReal = bench::Median(store.Real), theirReal = bench::Median(theirs.Real);
    std::printf("%-24s %-8s %10.1f %10.1f %6.2fx %6.2fx\n", name.c_str(), against, storeReal,
                theirReal, storeReal / theirReal, bench::Median(store.Cpu) / bench::Median(theirs.Cpu));
  }

  std::map<std::string, Figures> Results;
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
    std::fprintf(stderr, "store_bench: a benchmark did not do its work; no ratios\n");
    return 1;
  }
}
