// What the store's benchmarks share: the databases they measure, and the floor under each
// operation, that is the work the format makes every implementation do, on the same bytes
// with the store's zlib parameters.
//
// A database has a mailbox index of `Entries` entries of 1 KB of mail-like text ("msg00000"
// on), plus the settings entry "Initialization" in the root. The mailbox index is the root
// (depth 1) or "Inbox" in "Mailboxes" (depth 3), as the client files mail. The entry the
// operations address, the middle one, holds the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

#include "filestore/FileMan.h"

namespace bench {

constexpr size_t kFillerBytes = 1024;
inline constexpr char kSettingsText[] =
    "Version=0.9b2\r\nAddress=someone@example.org\r\nSMTPHost=mail.example.org\r\n";

struct Shape {
  int Entries;
  size_t PayloadBytes;
  int Depth = 1;  // 1: the entries in the root; 3: in Mailboxes, Inbox
};

// The middle one of the samples (the upper one of two); there must be one.
double Median(std::vector<double> samples);

// "1KB", "1MB".
std::string PayloadLabel(size_t bytes);
// "10000/1KB", "10000/1KB/depth3": how the benchmarks name a shape.
std::string ShapeLabel(const Shape& shape);
// Where the database of a shape goes: `prefix`-10000-1KB-depth3 in the benchmarks' folder,
// with the extension given.
std::filesystem::path ShapeFile(const std::string& prefix, const Shape& shape,
                                const std::string& extension);

// A zlib stream as it lies in a block, with its plain length.
struct StoredStream {
  std::string Stream;
  int32_t PlainLength;
};

class StoreFixture {
 public:
  enum TFile { Make, Use };
  // Builds the database at `file` afresh (Make), or takes the one an earlier Make left
  // there (Use). Use allocates little: a process that measures the store's own use of the
  // heap starts from a heap nothing large has passed through.
  StoreFixture(const std::filesystem::path& file, const Shape& shape, TFile how = Make);

  // The entries as written: name, bytes, in order.
  std::vector<std::pair<std::string, std::string>> Entries() const;

  Shape Form;
  FilePath Path;
  std::vector<std::string> Mailbox;  // the indexes above the entries, below the root
  std::string TargetName;            // the addressed entry's name
  std::string Target;                // its entry path (0xFF-separated)
  std::string Payload;               // what it holds
  // The mailbox index's text: every name with CR LF, then a zero byte.
  size_t LargestIndexText;
  std::vector<StoredStream> IndexStreams;  // the indexes on the path, root first
  StoredStream EntryRecord;

 private:
  std::string EntryBytes(int i) const;
  void WriteStore() const;
  void FindStreams();
};

// One zlib state of each kind with the store's parameters (default level, window 2^15,
// memory level 9), set up once and reset before each stream, and output areas kept between
// calls: the floor pays for no set-up, allocation or zero-filling that the format does not
// ask for.
class Floor {
 public:
  Floor();
  ~Floor();
  Floor(const Floor&) = delete;
  Floor& operator=(const Floor&) = delete;

  // One inflate call of a stored stream into an area of its recorded length.
  std::string_view Inflate(const StoredStream& stored);
  // One deflate call into an area of 1.2 times the input and 16 bytes, as the store's.
  std::string_view Deflate(std::string_view plain);

  // A read: each index on the path and the entry's record inflated. False when the record
  // inflated to other bytes than the fixture's payload.
  bool Read(const StoreFixture& db);
  // A write: the read's inflates, and each index on the path and the payload deflated.
  void Write(const StoreFixture& db);

 private:
  z_stream Inflating_{};
  z_stream Deflating_{};
  std::string Plain_, Packed_, Text_;
};

// The store's operations on the fixture's addressed entry, as the benchmarks run them; each
// false when it did not do its work.
bool StoreRead(const StoreFixture& db);                // ReadEntry gives the payload
bool StoreWrite(const StoreFixture& db, bool flush);   // WriteEntry of the payload, status 0
bool StoreSetting(const StoreFixture& db);             // GetInitValue finds the version
bool StoreCheck(const StoreFixture& db);               // CheckDatabase finds it sound

// A small file in the benchmarks' folder, on the disk being measured: each Flush writes 5
// bytes over its start and waits until they are on the disk. A flushed write's floor is
// the write's and two of these.
class FlushProbe {
 public:
  FlushProbe();
  void Flush();

 private:
  TFileStream File_;
};

}  // namespace bench
