// Shared helpers of the store's tests: captured reports, scratch files, byte images and
// the zlib streams that the store should produce.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "filestore/StoreInternal.h"
#include "tests/native/filestore_fault_stream.h"

namespace storetest {

// Collects the store's reports while it lives, instead of printing them.
class CapturedReports : public TStoreReporter {
 public:
  CapturedReports() : Previous_(SetStoreReporter(this)) {}
  ~CapturedReports() override { SetStoreReporter(Previous_); }
  void InflateError(const std::string& text) override { Inflate.push_back(text); }
  void FatalError(const std::string& text) override { Fatal.push_back(text); }

  std::vector<std::string> Inflate;
  std::vector<std::string> Fatal;

 private:
  TStoreReporter* Previous_;
};

inline FilePath ToFilePath(const std::filesystem::path& path) { return path.native(); }

// A folder of its own under the temporary folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    Path_ = std::filesystem::temp_directory_path() /
            ("twstore-" + std::to_string(random()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(Path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path_, ignored);
  }
  FilePath File(const std::string& name) const { return ToFilePath(Path_ / name); }
  const std::filesystem::path& Path() const { return Path_; }

 private:
  std::filesystem::path Path_;
};

inline bool Exists(const FilePath& path) {
  return std::filesystem::exists(std::filesystem::path(path));
}

inline std::string ReadFileBytes(const FilePath& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

inline void WriteFileBytes(const FilePath& path, const std::string& bytes) {
  std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Whether the journal beside a database file holds a write; false when there is none.
inline bool JournalPendingBeside(const FilePath& database) {
  const FilePath path = store::JournalPath(database);
  if (!Exists(path)) return false;
  TMemoryJournal journal;
  journal.Bytes = ReadFileBytes(path);
  return store::JournalPending(journal);
}

inline std::string Int32(int32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[size_t(i)] = static_cast<char>(uint32_t(value) >> (8 * i));
  return bytes;
}

inline int32_t Int32At(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(bytes.at(at + size_t(i)));
  return static_cast<int32_t>(value);
}

inline void PutInt32At(std::string& bytes, size_t at, int32_t value) {
  bytes.replace(at, 4, Int32(value));
}

inline std::string Magic() { return std::string(TFileManager::Magic, TFileManager::MagicLength); }

// The zlib stream of `plain` with the store's settings (default level, window 2^15,
// memory level 9), made directly with the library.
inline std::string ZlibStream(std::string_view plain) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(plain.size() * 2 + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::string Path(std::initializer_list<std::string_view> components) {
  std::string path;
  for (auto component : components) {
    if (!path.empty()) path += '\xFF';
    path += component;
  }
  return path;
}

// Mail-like text of `length` bytes, different for each seed.
inline std::string MessageText(int seed, size_t length) {
  std::string text;
  for (int i = 0; text.size() < length; ++i)
    text += "line " + std::to_string((seed * 7919 + i * 31) % 1009) + " of the message\r\n";
  return text.substr(0, length);
}

// The path of every entry in the tree, components joined by the byte 0xFF.
inline std::vector<std::string> EntryPaths(TStoreInspector& inspector) {
  std::vector<std::string> components, paths;
  inspector.Walk([&](int depth, const TStoreChild& child) {
    components.resize(size_t(depth));
    components.push_back(child.Name);
    if (child.Kind != TDataBuf::KindEntry) return;
    std::string joined;
    for (const auto& component : components) joined += (joined.empty() ? "" : "\xFF") + component;
    paths.push_back(std::move(joined));
  });
  return paths;
}

// Entry operations on a database image in memory.
inline int Put(TMemoryStream& db, std::string_view path, std::string_view text) {
  TDataBuf buffer(text);
  return WriteEntry(path, &buffer, db);
}

inline std::string Get(TMemoryStream& db, std::string_view path, int* status = nullptr) {
  TDataBuf buffer;
  const int result = ReadEntry(path, buffer, db);
  if (status) *status = result;
  return buffer.AsString();
}

// Problems the inspector finds in an image.
inline std::vector<std::string> Problems(const std::string& image) {
  TMemoryStream stream(image);
  TStoreInspector inspector(stream);
  std::vector<std::string> texts;
  for (const TStoreProblem& problem : inspector.Check()) texts.push_back(problem.Text);
  return texts;
}

// The client's own mailbox move: the child appended to the destination without looking for
// one of its name, and removed from the source. It leaves two children of one name in the
// destination when the name was there already.
inline void MoveAsTheClientDoes(const FilePath& database, std::string_view from,
                                std::string_view to, std::string_view name) {
  TFileManager manager(database);
  TFMindex root(manager, nullptr, "");
  TFMindex mailboxes(manager, &root, "Mailboxes");
  TFMindex source(manager, &mailboxes, from);
  TFMindex target(manager, &mailboxes, to);
  const int i = source.IndexOf(name);
  ASSERT_NE(i, -1) << name;
  ASSERT_TRUE(target.AppendChild(source.ChildName(i), source.ChildOffset(i)));
  source.RemoveChild(i);
  target.Flush();
  source.Flush();
  ASSERT_EQ(manager.Finish(), 0);
}

// The client's own rename, which does not look at the new name: here to an empty one.
inline void RenameToEmptyAsTheClientDoes(const FilePath& database,
                                         const std::vector<std::string>& index,
                                         std::string_view name) {
  TFileManager manager(database);
  const store::TChain chain = store::BuildChain(manager, index, index.size());
  const int i = chain.back()->IndexOf(name);
  ASSERT_NE(i, -1) << name;
  ASSERT_TRUE(chain.back()->RenameChild(i, ""));
  chain.back()->Flush();
  ASSERT_EQ(manager.Finish(), 0);
}

}  // namespace storetest
