// The store as twdb and setup run it: a plain process that calls ReadEntry and WriteEntry in
// a loop on a database of 10,000 entries, with nothing in between (the system's own
// allocator, no benchmark library), beside the floor measured in the same run and on the
// same bytes. Built natively and for Windows, where it runs under Wine on Windows' heap.
//
//   store_loop --make [--entries N]                   builds the databases
//   store_loop [--entries N] [--rounds N] [--round-ms N] [--only TEXT]
//                                                     measures on them (with --only, the
//                                                     cases whose name holds TEXT, and
//                                                     their floors)
//
// The databases are built by a run of their own, so that the measuring process begins with
// a heap that nothing large has passed through, as a program that only uses the store
// does: glibc's malloc, for one, gives memory back to the system, or keeps it, depending on
// what the process has freed before.
// Each round runs every case in turn for about round-ms milliseconds; the figures are the
// medians of the rounds' means, so that a burst of another job's load spreads over all
// cases alike. Cases, at depth 1 and depth 3:
//   read           ReadEntry of the middle entry          floor: Floor::Read
//   write          WriteEntry of 1 KB, without flushes    floor: Floor::Write
//   flushed write  WriteEntry as the store writes          floor: Floor::Write and two
//                  by default                                     flushes of a small file
// Beside each floor, the file calls the operation cannot do without (bench/FileCalls.h),
// timed as a case of their own: the floor leaves them out, and under Wine they cost more
// than the format's work.
// Every operation is checked (status 0, the bytes read back); when one fails the program
// says which and exits 1 without a figure.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <gnu/libc-version.h>
#include <time.h>
#endif

#include "bench/FileCalls.h"
#include "bench/StoreFixture.h"

namespace {

using bench::Floor;
using bench::StoreFixture;

// CPU time of this thread, in microseconds. Windows counts it in scheduler ticks (under Wine
// 10 ms), too coarse for a round: there the figures are wall-clock time alone.
#ifdef _WIN32
constexpr bool kCpuTime = false;
double CpuMicroseconds() { return 0; }
#else
constexpr bool kCpuTime = true;
double CpuMicroseconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}
#endif

double WallMicroseconds() {
  using namespace std::chrono;
  return double(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count()) / 1e3;
}

std::string Platform() {
#ifdef _WIN32
  return "Windows (" + std::string(sizeof(void*) == 8 ? "x86_64" : "i686") + "), its heap";
#else
  return std::string("glibc ") + gnu_get_libc_version() + ", its malloc";
#endif
}

struct Case {
  Case(std::string name, std::function<void()> run) : Name(std::move(name)), Run(std::move(run)) {}

  std::string Name;
  std::function<void()> Run;  // throws when the operation did not do its work
  int Iterations = 1;
  std::vector<double> Wall, Cpu;  // per round: the mean of one operation
};

void Require(bool done, const std::string& what) {
  if (!done) throw std::runtime_error(what);
}

// The nine cases of one database: for each kind, the store's operation, its floor and its
// file calls.
constexpr size_t kCasesPerKind = 3;
std::vector<Case> CasesFor(const StoreFixture& db, Floor& floor, bench::FlushProbe& probe,
                           bench::FileCalls& files, const std::string& depth) {
  return {
      {"read, " + depth, [&db] { Require(bench::StoreRead(db), "ReadEntry did not give the entry"); }},
      {"read floor, " + depth, [&] { Require(floor.Read(db), "the floor inflated other bytes"); }},
      {"read file calls, " + depth, [&files] { files.Read(); }},
      {"write, " + depth, [&db] { Require(bench::StoreWrite(db, false), "WriteEntry failed"); }},
      {"write floor, " + depth, [&] { floor.Write(db); }},
      {"write file calls, " + depth, [&files] { files.Write(); }},
      {"flushed write, " + depth, [&db] { Require(bench::StoreWrite(db, true), "WriteEntry failed"); }},
      {"flushed floor, " + depth,
       [&] {
         floor.Write(db);
         probe.Flush();
         probe.Flush();
       }},
      {"flushed file calls, " + depth, [&files] { files.Write(); }},
  };
}

// Enough iterations of a case for about `roundMs` milliseconds.
void Calibrate(Case& c, double roundMs) {
  c.Run();  // warm: the first run sets up what the later ones reuse
  const double start = WallMicroseconds();
  int runs = 0;
  do {
    c.Run();
    ++runs;
  } while (WallMicroseconds() - start < roundMs * 100);  // a tenth of a round
  c.Iterations = std::max(1, int(double(runs) * 10));
}

void RunRound(Case& c) {
  const double wall = WallMicroseconds(), cpu = CpuMicroseconds();
  for (int i = 0; i < c.Iterations; ++i) c.Run();
  c.Wall.push_back((WallMicroseconds() - wall) / c.Iterations);
  c.Cpu.push_back((CpuMicroseconds() - cpu) / c.Iterations);
}

// Per kind: the store's time, the floor's and their ratio (in CPU time too, natively); then
// the floor with the file calls added and the store's ratio to that.
void Report(const std::vector<Case>& cases) {
  std::printf("%-24s %11s %11s %8s%s %11s %8s\n", "case (us, medians)", "store", "floor", "wall",
              kCpuTime ? "      cpu" : "", "+files", "wall");
  for (size_t i = 0; i + kCasesPerKind - 1 < cases.size(); i += kCasesPerKind) {
    const Case& store = cases[i];
    const Case& floor = cases[i + 1];
    const Case& files = cases[i + 2];
    const double wall = bench::Median(store.Wall), floorWall = bench::Median(floor.Wall);
    const double withFiles = floorWall + bench::Median(files.Wall);
    std::printf("%-24s %11.1f %11.1f %7.2fx", store.Name.c_str(), wall, floorWall, wall / floorWall);
    if (kCpuTime) std::printf(" %7.2fx", bench::Median(store.Cpu) / bench::Median(floor.Cpu));
    std::printf(" %11.1f %7.2fx\n", withFiles, wall / withFiles);
  }
}

struct Options {
  bool Make = false;
  int Entries = 10000;
  int Rounds = 15;
  double RoundMs = 40;
  std::string Only;
};

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--make") {
      options.Make = true;
      continue;
    }
    if (i + 1 >= argc)
      throw std::runtime_error(
          "usage: store_loop [--make] [--entries N] [--rounds N] [--round-ms N] [--only TEXT]");
    if (arg == "--only") {
      options.Only = argv[++i];
      continue;
    }
    const int value = std::atoi(argv[++i]);
    if (value <= 0) throw std::runtime_error(arg + " wants a positive number");
    if (arg == "--entries")
      options.Entries = value;
    else if (arg == "--rounds")
      options.Rounds = value;
    else if (arg == "--round-ms")
      options.RoundMs = value;
    else
      throw std::runtime_error("unknown option " + arg);
  }
  return options;
}

std::vector<bench::Shape> Shapes(const Options& options) {
  return {{options.Entries, bench::kFillerBytes, 1}, {options.Entries, bench::kFillerBytes, 3}};
}

int Run(const Options& options) {
  if (options.Make) {
    for (const bench::Shape& shape : Shapes(options))
      StoreFixture(bench::ShapeFile("loop", shape, ".dbc"), shape, StoreFixture::Make);
    return 0;
  }
  std::printf("store_loop: %d entries of 1 KB, the middle one addressed; %s; zlib %s; %s\n",
              options.Entries, Platform().c_str(), zlibVersion(), __VERSION__);
  Floor floor;
  bench::FlushProbe probe;
  std::vector<StoreFixture> dbs;
  std::vector<bench::FileCalls> files;
  dbs.reserve(2);
  files.reserve(2);
  for (const bench::Shape& shape : Shapes(options)) {
    const std::filesystem::path file = bench::ShapeFile("loop", shape, ".dbc");
    if (!std::filesystem::exists(file)) throw std::runtime_error("no " + file.string() + ": run store_loop --make first");
    dbs.emplace_back(file, shape, StoreFixture::Use);
    files.emplace_back(dbs.back(), bench::ShapeFile("file-calls", shape, ".dbc"));
  }
  std::vector<Case> cases;
  for (size_t d = 0; d < dbs.size(); ++d) {
    const std::string depth = "depth " + std::string(dbs[d].Mailbox.empty() ? "1" : "3");
    std::vector<Case> kinds = CasesFor(dbs[d], floor, probe, files[d], depth);
    for (size_t i = 0; i < kinds.size(); i += kCasesPerKind) {
      if (kinds[i].Name.find(options.Only) == std::string::npos) continue;
      for (size_t k = i; k < i + kCasesPerKind; ++k) cases.push_back(std::move(kinds[k]));
    }
  }
  if (cases.empty()) throw std::runtime_error("no case's name holds " + options.Only);
  for (Case& c : cases) Calibrate(c, options.RoundMs);
  for (int round = 0; round < options.Rounds; ++round)
    for (Case& c : cases) RunRound(c);
  for (StoreFixture& db : dbs)
    if (const auto problem = CheckDatabase(db.Path))
      throw std::runtime_error("the database is not sound after the run: " + problem->Text);
  std::printf("%d rounds of about %.0f ms per case\n", options.Rounds, options.RoundMs);
  Report(cases);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(Parse(argc, argv));
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "store_loop: %s\n", failure.what());
    return 1;
  }
}
