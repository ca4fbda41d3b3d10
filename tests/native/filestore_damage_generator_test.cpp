// Generated damage: every child offset of a few sound databases aimed in turn at every
// other block (itself, its parent, the root, a sibling, an entry, a free extent, the middle
// of a block, the anchor), and damaged block lengths, record lengths and free-list fields.
// Each damaged file takes writes into the damaged index, below it, beside it and at the
// root. Every write through the store ends refused with no byte changed, or accepted with
// the written entry reading back and every entry that read before reading the same. twdb
// refuses every one of these files before writing.
#include <sstream>

#include "tests/native/filestore_support.h"
#include "twdb/Twdb.h"

using namespace storetest;

namespace {

using Components = std::vector<std::string>;

std::string Joined(const Components& path) {
  std::string joined;
  for (const auto& component : path) joined += (joined.empty() ? "" : "\xFF") + component;
  return joined;
}

// A database of a few nested indexes, with free extents left by deleted entries.
std::string NestedDatabase() {
  TMemoryStream db;
  const std::vector<std::pair<Components, std::string>> entries = {
      {{"Initialization"}, "Version=0.9b2\r\nSMTPHost=mail.example.org\r\n"},
      {{"Mailboxes", "Inbox", "msg1"}, "Subject: one\r\n\r\nfirst\r\n"},
      {{"Mailboxes", "Inbox", "gone"}, std::string(300, 'g')},
      {{"Mailboxes", "Inbox", "msg2"}, "Subject: two\r\n\r\nsecond\r\n"},
      {{"Mailboxes", "Sent", "s1"}, "Subject: sent\r\n\r\nthird\r\n"},
      {{"default", "message"}, "From: someone@example.org\r\n"},
      {{"default", "article"}, "Newsgroups: alt.test\r\n"},
      {{"note"}, "a note"},
  };
  for (const auto& [path, text] : entries) EXPECT_EQ(Put(db, Joined(path), text), 0);
  EXPECT_EQ(WriteEntry(Joined({"Mailboxes", "Inbox", "gone"}), nullptr, db), 0);
  return db.Bytes;
}

// One index, three entries and a sub-index, and a free extent between blocks.
std::string FlatDatabase() {
  TMemoryStream db;
  EXPECT_EQ(Put(db, "a", "alpha"), 0);
  EXPECT_EQ(Put(db, "big", std::string(500, 'b') + "end"), 0);
  EXPECT_EQ(Put(db, "b", "beta"), 0);
  EXPECT_EQ(Put(db, Joined({"sub", "c"}), "gamma"), 0);
  EXPECT_EQ(WriteEntry("big", nullptr, db), 0);
  return db.Bytes;
}

struct Child {
  Components Path;
  int32_t Offset;
  int32_t BlockLength;
  uint8_t Kind;
  int32_t ParentOffset;  // the index that holds it
  size_t Slot;           // where its offset lies in the file
};

struct Shape {
  int32_t Root;
  std::vector<Child> Children;
  std::vector<TStoreExtent> Free;
  int32_t End;

  const Child* Find(const Components& path) const {
    for (const auto& child : Children)
      if (child.Path == path) return &child;
    return nullptr;
  }
};

Shape ShapeOf(const std::string& image) {
  TMemoryStream stream(image);
  TStoreInspector inspector(stream);
  Shape shape{inspector.RootOffset(), {}, inspector.FreeExtents(), inspector.EndOffset()};
  std::vector<int32_t> parents{shape.Root};
  std::vector<int> positions{0};
  Components path;
  inspector.Walk([&](int depth, const TStoreChild& child) {
    const auto level = static_cast<size_t>(depth);
    parents.resize(level + 1);
    positions.resize(level + 1);
    path.resize(level);
    path.push_back(child.Name);
    const int32_t parent = parents[level];
    const size_t slot = size_t(parent) + 12 + size_t(Int32At(image, size_t(parent) + 4)) +
                        4 * size_t(positions[level]++);
    shape.Children.push_back({path, child.Offset, child.BlockLength, child.Kind, parent, slot});
    if (child.Kind == TDataBuf::KindIndex) {
      parents.push_back(child.Offset);
      positions.push_back(0);
    }
  });
  return shape;
}

struct Damage {
  std::string What;
  std::string Image;
  Components Index;  // the index whose path the writes go into, below and beside
  Components Child;  // the child whose offset or block was damaged
};

std::vector<Damage> DamagedCopies(const std::string& base) {
  const Shape shape = ShapeOf(base);
  std::vector<Damage> damages;
  auto add = [&](const std::string& what, size_t at, int32_t value, const Components& child) {
    std::string image = base;
    if (Int32At(image, at) == value) return;
    PutInt32At(image, at, value);
    const Components index(child.begin(), child.end() - (child.empty() ? 0 : 1));
    damages.push_back({what, std::move(image), index, child});
  };
  // Child offsets aimed at every other block.
  for (const Child& child : shape.Children) {
    const Components index(child.Path.begin(), child.Path.end() - 1);
    const std::string name = Joined(child.Path) + " aimed at ";
    add(name + "its own index", child.Slot, child.ParentOffset, child.Path);
    add(name + "the root", child.Slot, shape.Root, child.Path);
    add(name + "the anchor", child.Slot, 50, child.Path);
    if (!index.empty()) {
      const Components grand(index.begin(), index.end() - 1);
      const Child* parent = shape.Find(index);
      add(name + "its index's parent", child.Slot,
          grand.empty() ? shape.Root : shape.Find(grand)->Offset, child.Path);
      add(name + "the middle of its index", child.Slot, parent->Offset + parent->BlockLength / 2,
          child.Path);
    }
    for (const Child& other : shape.Children) {
      if (&other == &child) continue;
      add(name + Joined(other.Path), child.Slot, other.Offset, child.Path);
      add(name + "the middle of " + Joined(other.Path), child.Slot,
          other.Offset + other.BlockLength / 2, child.Path);
    }
    for (const TStoreExtent& extent : shape.Free)
      add(name + "a free extent", child.Slot, extent.Offset + 4, child.Path);
  }
  // Block lengths and record lengths.
  for (const Child& child : shape.Children) {
    const size_t prefix = size_t(child.Offset) - 4;
    add(Joined(child.Path) + " block 4 longer", prefix, child.BlockLength + 4, child.Path);
    add(Joined(child.Path) + " block 4 shorter", prefix, child.BlockLength - 4, child.Path);
    add(Joined(child.Path) + " block 1 longer", prefix, child.BlockLength + 1, child.Path);
    const size_t stored = size_t(child.Offset) + 4;
    add(Joined(child.Path) + " record longer", stored, Int32At(base, stored) + 1, child.Path);
  }
  // Free-list fields.
  const size_t record = size_t(shape.End);
  const int32_t count = Int32At(base, record);
  add("free-list count one more", record, count + 1, {});
  add("free-list count huge", record, 0x7FFFFFF0, {});
  for (int32_t i = 0; i < count; ++i) {
    const size_t offset = record + 4 + 4 * size_t(i), length = offset + 4 * size_t(count);
    add("free extent moved back", offset, Int32At(base, offset) - 4, {});
    add("free extent moved on", offset, Int32At(base, offset) + 4, {});
    add("free extent longer", length, Int32At(base, length) + 4, {});
  }
  add("end offset back", 42, shape.End - 4, {});
  return damages;
}

// What the entry operations read from every entry of the sound database.
std::map<std::string, std::string> Readable(const std::string& image, const Shape& sound) {
  std::map<std::string, std::string> read;
  for (const Child& child : sound.Children) {
    if (child.Kind != TDataBuf::KindEntry) continue;
    TMemoryStream stream(image);
    TDataBuf buffer;
    if (ReadEntry(Joined(child.Path), buffer, stream) == 0)
      read[Joined(child.Path)] = buffer.AsString();
  }
  return read;
}

// Writes into the damaged index, replacing one of its entries, below it, beside it and at the
// root.
std::vector<Components> WritePaths(const Damage& damage, const Shape& sound) {
  auto in = [](Components path, const std::string& name) {
    path.push_back(name);
    return path;
  };
  std::vector<Components> paths = {in(damage.Index, "gen-new"), {"gen-root"}};
  const Child* sibling = nullptr;
  const Child* below = nullptr;
  for (const Child& child : sound.Children) {
    if (Components(child.Path.begin(), child.Path.end() - 1) != damage.Index) continue;
    // The damaged child itself is not replaced: when it names an entry of an index off the
    // path, only the whole-file check can see that the block is someone else's.
    if (child.Kind == TDataBuf::KindEntry && !sibling && child.Path != damage.Child)
      sibling = &child;
    if (child.Kind == TDataBuf::KindIndex && !below) below = &child;
  }
  if (sibling) paths.push_back(sibling->Path);
  paths.push_back(in(below ? below->Path : in(damage.Index, "gen-sub"), "gen-below"));
  if (!damage.Index.empty())
    paths.push_back(in(Components(damage.Index.begin(), damage.Index.end() - 1), "gen-beside"));
  return paths;
}

int RunTwdbPut(const FilePath& database, const Components& path, std::string& err) {
  TwdbCommandLine line;
  line.Command = "put";
  line.HasDatabase = true;
  line.Database = database;
  line.Operands = path;
  std::istringstream in("written by twdb");
  std::ostringstream out, errors;
  const int exit = RunTwdb(line, in, out, errors);
  err = errors.str();
  return exit;
}

}  // namespace

TEST(DamageGenerator, WritesIntoDamagedFilesNeverLoseWhatReadBefore) {
  CapturedReports reports;
  ScratchFolder folder;
  const FilePath file = folder.File("damaged.dbc");
  size_t damaged = 0, refused = 0, accepted = 0, seen = 0;
  for (const std::string& base : {NestedDatabase(), FlatDatabase()}) {
    ASSERT_TRUE(Problems(base).empty());
    const Shape sound = ShapeOf(base);
    ASSERT_GE(sound.Free.size(), 1u) << "each database needs a free extent";
    for (const Damage& damage : DamagedCopies(base)) {
      SCOPED_TRACE(damage.What);
      ++damaged;
      const auto before = Readable(damage.Image, sound);
      for (const Components& path : WritePaths(damage, sound)) {
        SCOPED_TRACE(Joined(path));
        TMemoryStream stream(damage.Image);
        TDataBuf text("written");
        if (WriteEntry(Joined(path), &text, stream) != 0) {
          ++refused;
          ASSERT_EQ(stream.Bytes, damage.Image);
          continue;
        }
        ++accepted;
        ASSERT_EQ(Get(stream, Joined(path)), "written");
        for (const auto& [entry, value] : before) {
          if (entry == Joined(path)) continue;
          int status = -1;
          EXPECT_EQ(Get(stream, entry, &status), value) << entry;
          EXPECT_EQ(status, 0) << entry;
        }
      }

      // twdb checks the whole file first and refuses every damaged one. A child aimed at
      // an index deeper down makes another tree, consistent but for blocks no longer named
      // (which the format allows): that one is written, by the same rules.
      const auto problem = [&] {
        TMemoryStream stream(damage.Image);
        return CheckDatabase(stream);
      }();
      const Components path = WritePaths(damage, sound).front();
      WriteFileBytes(file, damage.Image);
      std::string err;
      const int exit = RunTwdbPut(file, path, err);
      if (problem) {
        ++seen;
        EXPECT_EQ(exit, 2) << err;
        EXPECT_NE(err.find("(offset " + std::to_string(problem->Offset) + ")"), std::string::npos)
            << err;
        EXPECT_EQ(ReadFileBytes(file), damage.Image);
      } else if (exit == 0) {
        TMemoryStream written(ReadFileBytes(file));
        EXPECT_EQ(Get(written, Joined(path)), "written by twdb");
        for (const auto& [entry, value] : before) EXPECT_EQ(Get(written, entry), value) << entry;
      } else {
        EXPECT_EQ(ReadFileBytes(file), damage.Image) << err;
      }
    }
  }
  // The generator reaches both outcomes.
  EXPECT_GT(damaged, 400u);
  EXPECT_GT(refused, 0u);
  EXPECT_GT(accepted, 0u);
  // Nearly every damaged file is one the whole-file check sees.
  EXPECT_GT(seen * 100, damaged * 95) << seen << " of " << damaged;
  std::printf("%zu damaged files, %zu seen by the whole-file check; %zu writes refused, %zu "
              "accepted\n",
              damaged, seen, refused, accepted);
}
