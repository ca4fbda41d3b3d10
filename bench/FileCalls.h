// The file calls a store operation cannot do without, made as bare system calls: the floor
// of what opening, reading, writing and closing cost on this system, which the format's
// floor (inflate and deflate alone) leaves out. Under Wine each opening and closing is a
// round trip to its server, which no store that opens the database for each operation can
// avoid.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "bench/StoreFixture.h"

namespace bench {

class FileCalls {
 public:
  // `database`: the fixture's database, which the read opens; the write works on a copy of
  // it of its own, whose bytes it overwrites.
  FileCalls(const StoreFixture& database, const std::filesystem::path& scratch);

  // The database opened as the store opens it (exclusively), its size taken, its header
  // read and then each stream on the entry's path, one call each, and closed.
  void Read();
  // The read's calls on the copy, opened for writing; then the journal opened, the old
  // streams written into it, the new ones written into the copy, the journal cut to
  // nothing, and both closed. Nothing flushed: a flushed write's floor has its flushes.
  void Write();

 private:
  const StoreFixture& Db_;
  std::filesystem::path Copy_, Journal_;
  std::string Bytes_;
};

}  // namespace bench
