// The store against SQLite and against its floor, operation by operation, on databases whose
// mailbox index holds 10, 1,000 or 10,000 entries. Every entry holds 1 KB of mail-like text
// except the one the operations address (the middle one), which holds the benchmark's
// payload of 1 KB or 1 MB. The mailbox index is the root (depth 1), or "Inbox" in
// "Mailboxes" as the client files mail (depth 3: Mailboxes, Inbox, entry). Each operation
// opens and closes its database, as every store operation does.
//
// The floor is what the format makes every implementation do, measured on the same bytes
// with the same zlib parameters: for a read, inflate each index on the path and the entry's
// record; for a write, also deflate each index on the path and the payload.
//
// "write" runs without the flushes (as `twdb --no-sync`), "flushed-write" as the store
// writes by default: the journal and the database flushed. Its floor is the write's floor
// and two flushes of a small file in the same folder, and its SQLite counterpart runs with
// synchronous=FULL instead of OFF.
//
// After the timed loop each benchmark runs its operation once more while counting heap
// bytes (HeapCounter): "peak_heap" is the operation's peak above its starting level, and
// "bound" the largest index text plus the payload it moves.
//
// The closing table prints the time ratios (store / SQLite, store / floor).
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
#include <tuple>
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
  int Depth = 1;  // 1: the entries in the root; 3: in Mailboxes, Inbox
};

// The indexes above the entries at each depth.
std::vector<std::string> MailboxPath(const Shape& shape) {
  if (shape.Depth == 1) return {};
  return {"Mailboxes", "Inbox"};
}

std::string PayloadLabel(size_t bytes) {
  return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + "MB" : std::to_string(bytes >> 10) + "KB";
}

// A zlib stream as it lies in a block, with its plain length.
struct StoredStream {
  std::string Stream;
  int32_t PlainLength;
};

std::string ReadWholeFile(const std::string& path) {
  TFileStream file(path, TOpenMode::ReadOnly);
  std::string bytes(static_cast<size_t>(file.Size()), '\0');
  if (file.Read(bytes.data(), bytes.size()) != bytes.size())
    throw std::runtime_error("cannot read " + path);
  return bytes;
}

// The payload record of the block at `dataOffset` in the file's bytes.
StoredStream RecordAt(const std::string& file, int32_t dataOffset) {
  const char* record = file.data() + dataOffset;
  if (record[store::RecordCompressedAt] != 1) throw std::runtime_error("a record stored plain");
  const int32_t length = store::GetInt32(record + store::RecordLengthAt);
  return {std::string(record + store::RecordHeaderLength, static_cast<size_t>(length)),
          store::GetInt32(record + store::RecordPlainLengthAt)};
}

// One database of a given shape, in both stores, and the streams a read of the addressed
// entry must inflate.
struct Fixture {
  std::string StorePath;
  SqliteKv Sqlite;          // synchronous=OFF
  SqliteKv SqliteDurable;   // the same file, synchronous=FULL
  std::string Target;        // the entry path the operations address (0xFF-separated)
  std::string SqliteKey;     // the same entry's key in SQLite
  std::string Payload;       // what it holds
  size_t LargestIndexText;   // the mailbox index's text: every name with CR LF, then a zero byte
  std::vector<StoredStream> IndexStreams;  // the indexes on the path, root first
  StoredStream EntryRecord;

  Fixture(const std::string& base, const Shape& shape)
      : StorePath(base + ".dbc"), Sqlite(base + ".sqlite"), SqliteDurable(base + ".sqlite", "FULL"),
        Payload(MailText(shape.PayloadBytes, 7)),
        LargestIndexText(sizeof "Initialization\r\n") {
    std::vector<std::pair<std::string, std::string>> entries;
    const std::string target = EntryName(shape.Entries / 2);
    for (int i = 0; i < shape.Entries; ++i) {
      const std::string name = EntryName(i);
      entries.emplace_back(name, name == target ? Payload : MailText(kFillerBytes, i));
      LargestIndexText += name.size() + 2;
    }
    const std::vector<std::string> mailbox = MailboxPath(shape);
    for (const auto& index : mailbox) {
      Target += index + "\xFF";
      SqliteKey += index + "/";
    }
    Target += target;
    SqliteKey += target;
    WriteStore(mailbox, entries);
    for (auto& [name, value] : entries)
      if (!mailbox.empty()) name = SqliteKey.substr(0, SqliteKey.rfind('/') + 1) + name;
    Sqlite.Create(entries, {{"Version", "0.9b2"},
                            {"Address", "someone@example.org"},
                            {"SMTPHost", "mail.example.org"}});
    FindStreams(mailbox, target);
  }

  // Writes every entry without flushing, then the indexes once: a database of 10,000
  // entries would otherwise take 10,000 rewrites of a growing index to build.
  void WriteStore(const std::vector<std::string>& mailbox,
                  const std::vector<std::pair<std::string, std::string>>& entries) const {
    std::filesystem::remove(StorePath);
    TFileManager manager(StorePath);
    const store::TChain chain = store::BuildChain(manager, mailbox, mailbox.size());
    TDataBuf settings{std::string_view(kSettingsText)};
    chain.front()->WriteChild("Initialization", &settings, false);
    for (const auto& [name, value] : entries) {
      TDataBuf buffer(value.data(), static_cast<int32_t>(value.size()));
      chain.back()->WriteChild(name, &buffer, false);
    }
    chain.back()->Flush();
    if (manager.Status() != 0) throw std::runtime_error("cannot build " + StorePath);
  }

  void FindStreams(const std::vector<std::string>& mailbox, const std::string& target) {
    const std::string file = ReadWholeFile(StorePath);
    TStoreInspector inspector(StorePath);
    IndexStreams.push_back(RecordAt(file, inspector.RootOffset()));
    std::vector<std::string> path;
    std::vector<TStoreChild> children;
    for (const std::string& name : mailbox) {
      inspector.List(path, children);
      IndexStreams.push_back(RecordAt(file, Child(children, name).Offset));
      path.push_back(name);
    }
    inspector.List(path, children);
    EntryRecord = RecordAt(file, Child(children, target).Offset);
  }

  static const TStoreChild& Child(const std::vector<TStoreChild>& children,
                                  const std::string& name) {
    for (const auto& child : children)
      if (child.Name == name) return child;
    throw std::runtime_error("no child " + name);
  }
};

Fixture& FixtureFor(const Shape& shape) {
  static std::map<std::tuple<int, size_t, int>, std::unique_ptr<Fixture>> fixtures;
  auto& fixture = fixtures[{shape.Entries, shape.PayloadBytes, shape.Depth}];
  if (!fixture) {
    const std::string base = (DataFolder() / ("db-" + std::to_string(shape.Entries) + "-" +
                                              PayloadLabel(shape.PayloadBytes) + "-depth" +
                                              std::to_string(shape.Depth))).string();
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

// `WriteEntry` of the payload, with the journal and the database flushed or not.
void TimeStoreWrite(benchmark::State& state, const Shape& shape, bool flush) {
  Fixture& db = FixtureFor(shape);
  const bool previous = FlushWrites();
  SetFlushWrites(flush);
  int status = 0;
  Measure(state, [&] {
    TDataBuf buffer(db.Payload.data(), static_cast<int32_t>(db.Payload.size()));
    status |= WriteEntry(db.Target, &buffer, db.StorePath);
  }, db.LargestIndexText + db.Payload.size());
  SetFlushWrites(previous);
  if (status != 0) Fail(state, "WriteEntry failed");
}

void StoreWrite(benchmark::State& state, Shape shape) { TimeStoreWrite(state, shape, false); }

void StoreFlushedWrite(benchmark::State& state, Shape shape) { TimeStoreWrite(state, shape, true); }

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
  Measure(state, [&] { db.Sqlite.Write(db.SqliteKey, db.Payload); },
          db.LargestIndexText + db.Payload.size());
}

void SqliteFlushedWrite(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  Measure(state, [&] { db.SqliteDurable.Write(db.SqliteKey, db.Payload); },
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
  Measure(state, [&] { same = same && db.Sqlite.Read(db.SqliteKey) == db.Payload; },
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

// A deflate state with the store's parameters (default level, window 2^15, memory level 9),
// set up once and reset before each stream. The store keeps one per thread the same way:
// setting a state up is not work the format asks for, so the floor does not pay it either.
class FloorDeflater {
 public:
  FloorDeflater() {
    if (deflateInit2(&Stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::runtime_error("deflateInit2");
  }
  FloorDeflater(const FloorDeflater&) = delete;
  FloorDeflater& operator=(const FloorDeflater&) = delete;
  ~FloorDeflater() { deflateEnd(&Stream); }

  z_stream& Reset() {
    if (deflateReset(&Stream) != Z_OK) throw std::runtime_error("deflateReset");
    return Stream;
  }

 private:
  z_stream Stream{};
};

// One deflate call with the store's parameters into an output area as large as the
// store's (1.2 times the input and 16 bytes).
std::string StoreDeflate(const std::string& plain) {
  static FloorDeflater deflater;
  z_stream& stream = deflater.Reset();
  std::string packed(static_cast<size_t>(plain.size() * 1.2 + 16), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  stream.avail_in = static_cast<uInt>(plain.size());
  stream.next_out = reinterpret_cast<Bytef*>(packed.data());
  stream.avail_out = static_cast<uInt>(packed.size());
  const int rc = deflate(&stream, Z_FINISH);
  packed.resize(stream.total_out);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  return packed;
}

// One inflate call of a stored stream into a buffer of its recorded length.
std::string StoreInflate(const StoredStream& stored) {
  std::string plain(static_cast<size_t>(stored.PlainLength), '\0');
  z_stream stream{};
  if (inflateInit2(&stream, 15) != Z_OK) throw std::runtime_error("inflateInit2");
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.Stream.data()));
  stream.avail_in = static_cast<uInt>(stored.Stream.size());
  stream.next_out = reinterpret_cast<Bytef*>(plain.data());
  stream.avail_out = static_cast<uInt>(plain.size());
  const int rc = inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  if (rc != Z_STREAM_END) throw std::runtime_error("inflate");
  return plain;
}

// The floor under a read: each index on the path and the entry's record inflated.
void ReadFloor(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  bool same = true;
  Measure(state, [&] {
    for (const StoredStream& index : db.IndexStreams) benchmark::DoNotOptimize(StoreInflate(index));
    same = same && StoreInflate(db.EntryRecord) == db.Payload;
  }, db.LargestIndexText + db.Payload.size());
  if (!same) Fail(state, "the entry's record inflated to other bytes");
}

// The floor under a write: the read's floor, and each index on the path and the payload
// deflated.
void WriteFloorOnce(const Fixture& db) {
  for (const StoredStream& index : db.IndexStreams)
    benchmark::DoNotOptimize(StoreDeflate(StoreInflate(index)));
  benchmark::DoNotOptimize(StoreInflate(db.EntryRecord));
  benchmark::DoNotOptimize(StoreDeflate(db.Payload));
}

void WriteFloor(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  Measure(state, [&] { WriteFloorOnce(db); }, db.LargestIndexText + db.Payload.size());
}

// A small file beside the databases, on the same disk: each Flush writes 5 bytes over the
// start of it and waits until they are on the disk.
class FlushProbe {
 public:
  FlushProbe() : File((DataFolder() / "flush-probe").string(), TOpenMode::Replace) {}

  void Flush() {
    if (!File.Seek(0) || File.Write("probe", 5) != 5 || !File.Flush())
      throw std::runtime_error("cannot flush the probe file");
  }

 private:
  TFileStream File;
};

// The floor under a durable write: the write's floor and two flushes of a small file, one
// for the journal and one for the database.
void FlushedWriteFloor(benchmark::State& state, Shape shape) {
  Fixture& db = FixtureFor(shape);
  FlushProbe probe;
  Measure(state, [&] {
    WriteFloorOnce(db);
    probe.Flush();
    probe.Flush();
  }, db.LargestIndexText + db.Payload.size());
}

// zlib's own working memory in each direction, with the store's parameters: a fixed cost
// that does not grow with the data. The store sets its deflate state up once per thread,
// an inflate state for each stream.
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
  const StoredStream stored{StoreDeflate("x"), 1};
  const size_t inflating = heap::PeakGrowth([&] { benchmark::DoNotOptimize(StoreInflate(stored)); });
  return {deflating, inflating};
}

std::string Name(const char* operation, const char* side, const Shape& shape) {
  return std::string(operation) + "/" + side + "/" + std::to_string(shape.Entries) + "/" +
         PayloadLabel(shape.PayloadBytes) + (shape.Depth == 1 ? "" : "/depth3");
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
    if (shape.PayloadBytes == kFillerBytes) addSides(flushedWrite, shape);
  }
  for (int entries : {10, 1000, 10000}) {
    const Shape shape{entries, size_t{1} << 10};
    add(Name("check", "store", shape), StoreCheck, shape);
  }
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
      std::string floor = name;
      floor.replace(floor.find("/store/"), 7, "/floor/");
      Print(name, "floor", floor);
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
    // The store's deflate state lives as long as its thread, set up before the measured run:
    // only the inflate state comes and goes within an operation.
    const double zlib = static_cast<double>(Zlib.Inflating);
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
