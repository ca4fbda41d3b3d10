#include "bench/StoreFixture.h"

#include <algorithm>
#include <stdexcept>

#include "bench/Payload.h"
#include "filestore/StoreInternal.h"

namespace bench {

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

std::string PayloadLabel(size_t bytes) {
  return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + "MB" : std::to_string(bytes >> 10) + "KB";
}

std::string ShapeLabel(const Shape& shape) {
  return std::to_string(shape.Entries) + "/" + PayloadLabel(shape.PayloadBytes) +
         (shape.Depth == 1 ? "" : "/depth" + std::to_string(shape.Depth));
}

std::filesystem::path ShapeFile(const std::string& prefix, const Shape& shape,
                                const std::string& extension) {
  return DataFolder() / (prefix + "-" + std::to_string(shape.Entries) + "-" +
                         PayloadLabel(shape.PayloadBytes) + "-depth" + std::to_string(shape.Depth) +
                         extension);
}

namespace {

// The payload record of the block at `dataOffset`, read by itself.
StoredStream RecordAt(const FilePath& path, int32_t dataOffset) {
  TFileStream file(path, TOpenMode::ReadOnly);
  char head[store::RecordHeaderLength];
  if (!file.IsOpen() || !file.Seek(dataOffset) || file.Read(head, sizeof head) != sizeof head)
    throw std::runtime_error("cannot read the record at " + std::to_string(dataOffset));
  const int32_t length = store::GetInt32(head + store::RecordLengthAt);
  if (head[store::RecordCompressedAt] != 1 || length < 0 || length > file.Size())
    throw std::runtime_error("no compressed record at " + std::to_string(dataOffset));
  StoredStream stored{std::string(size_t(length), '\0'), store::GetInt32(head + store::RecordPlainLengthAt)};
  if (file.Read(stored.Stream.data(), stored.Stream.size()) != stored.Stream.size())
    throw std::runtime_error("cannot read the record at " + std::to_string(dataOffset));
  return stored;
}

}  // namespace

StoreFixture::StoreFixture(const std::filesystem::path& file, const Shape& shape, TFile how)
    : Form(shape),
      Path(file.native()),
      TargetName(EntryName(shape.Entries / 2)),
      Payload(MailText(shape.PayloadBytes, 7)),
      // The settings entry's name and every entry's, each with CR LF; the zero byte.
      LargestIndexText(sizeof "Initialization\r\n" + size_t(shape.Entries) * (EntryName(0).size() + 2)) {
  if (shape.Depth != 1) Mailbox = {"Mailboxes", "Inbox"};
  for (const std::string& index : Mailbox) Target += index + "\xFF";
  Target += TargetName;
  if (how == Make) WriteStore();
  FindStreams();
}

std::string StoreFixture::EntryBytes(int i) const {
  return i == Form.Entries / 2 ? Payload : MailText(kFillerBytes, uint32_t(i));
}

std::vector<std::pair<std::string, std::string>> StoreFixture::Entries() const {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < Form.Entries; ++i) entries.emplace_back(EntryName(i), EntryBytes(i));
  return entries;
}

// Writes every entry without flushing, then the indexes once: a database of 10,000 entries
// would otherwise take 10,000 rewrites of a growing index to build.
void StoreFixture::WriteStore() const {
  std::filesystem::remove(std::filesystem::path(Path));
  std::filesystem::remove(std::filesystem::path(store::JournalPath(Path)));
  TFileManager manager(Path);
  const store::TChain chain = store::BuildChain(manager, Mailbox, Mailbox.size());
  TDataBuf settings{std::string_view(kSettingsText)};
  chain.front()->WriteChild("Initialization", &settings, false);
  for (int i = 0; i < Form.Entries; ++i) {
    const std::string bytes = EntryBytes(i);
    TDataBuf buffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    chain.back()->WriteChild(EntryName(i), &buffer, false);
  }
  chain.back()->Flush();
  if (manager.Finish() != 0) throw std::runtime_error("cannot build " + store::PathText(Path));
}

// The records on the path, found by walking it as an operation does.
void StoreFixture::FindStreams() {
  std::vector<int32_t> indexes;
  int32_t entry = -1;
  {
    TFileManager manager(Path, TOpenMode::ReadOnly);
    const store::TChain chain = store::BuildChain(manager, Mailbox, Mailbox.size());
    for (const auto& index : chain) indexes.push_back(index->BlockOffset());
    entry = chain.back()->Lookup(TargetName);
    if (manager.Finish() != 0 || chain.size() != Mailbox.size() + 1 || entry == -1)
      throw std::runtime_error("no entry " + TargetName + " in " + store::PathText(Path));
  }
  for (const int32_t offset : indexes) IndexStreams.push_back(RecordAt(Path, offset));
  EntryRecord = RecordAt(Path, entry);
}

bool StoreRead(const StoreFixture& db) {
  TDataBuf buffer;
  return ReadEntry(db.Target, buffer, db.Path) == 0 && buffer.View() == db.Payload;
}

bool StoreWrite(const StoreFixture& db, bool flush) {
  const bool previous = FlushWrites();
  SetFlushWrites(flush);
  TDataBuf buffer(db.Payload.data(), static_cast<int32_t>(db.Payload.size()));
  const int status = WriteEntry(db.Target, &buffer, db.Path);
  SetFlushWrites(previous);
  return status == 0;
}

bool StoreSetting(const StoreFixture& db) {
  return GetInitValue("Version", "", db.Path) == "0.9b2";
}

bool StoreCheck(const StoreFixture& db) { return !CheckDatabase(db.Path).has_value(); }

// ---------------------------------------------------------------------------------------
// Floor

Floor::Floor() {
  if (inflateInit2(&Inflating_, 15) != Z_OK ||
      deflateInit2(&Deflating_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("zlib refused its set-up");
}

Floor::~Floor() {
  inflateEnd(&Inflating_);
  deflateEnd(&Deflating_);
}

std::string_view Floor::Inflate(const StoredStream& stored) {
  const auto length = static_cast<size_t>(stored.PlainLength);
  if (Plain_.size() < length) Plain_.resize(length);
  if (inflateReset(&Inflating_) != Z_OK) throw std::runtime_error("inflateReset");
  Inflating_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.Stream.data()));
  Inflating_.avail_in = static_cast<uInt>(stored.Stream.size());
  Inflating_.next_out = reinterpret_cast<Bytef*>(Plain_.data());
  Inflating_.avail_out = static_cast<uInt>(length);
  if (inflate(&Inflating_, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("inflate");
  return std::string_view(Plain_).substr(0, Inflating_.total_out);
}

std::string_view Floor::Deflate(std::string_view plain) {
  const auto capacity = static_cast<size_t>(double(plain.size()) * 1.2 + 16);
  if (Packed_.size() < capacity) Packed_.resize(capacity);
  if (deflateReset(&Deflating_) != Z_OK) throw std::runtime_error("deflateReset");
  Deflating_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  Deflating_.avail_in = static_cast<uInt>(plain.size());
  Deflating_.next_out = reinterpret_cast<Bytef*>(Packed_.data());
  Deflating_.avail_out = static_cast<uInt>(capacity);
  if (deflate(&Deflating_, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  return std::string_view(Packed_).substr(0, Deflating_.total_out);
}

bool Floor::Read(const StoreFixture& db) {
  for (const StoredStream& index : db.IndexStreams) Inflate(index);
  return Inflate(db.EntryRecord) == db.Payload;
}

void Floor::Write(const StoreFixture& db) {
  for (const StoredStream& index : db.IndexStreams) Deflate(Inflate(index));
  Inflate(db.EntryRecord);
  Deflate(db.Payload);
}

FlushProbe::FlushProbe() : File_((DataFolder() / "flush-probe").native(), TOpenMode::Replace) {}

void FlushProbe::Flush() {
  if (!File_.Seek(0) || File_.Write("probe", 5) != 5 || !File_.Flush())
    throw std::runtime_error("cannot flush the probe file");
}

}  // namespace bench
