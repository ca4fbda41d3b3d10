#include "tests/native/filestore_support.h"

using namespace storetest;

namespace {

using Extents = std::vector<std::pair<int32_t, int32_t>>;

Extents ExtentsOf(const TFreeList& list) {
  Extents extents;
  for (int i = 0; i < list.Count(); ++i)
    extents.emplace_back(list.Offsets[size_t(i)], list.Lengths[size_t(i)]);
  return extents;
}

}  // namespace

TEST(FreeList, AdjacentReleasesJoinIntoOneExtent) {
  TFreeList list;
  list.AddExtent(100, 10);  // first
  list.AddExtent(120, 10);  // third
  EXPECT_EQ(ExtentsOf(list), (Extents{{100, 10}, {120, 10}}));
  list.AddExtent(110, 10);  // second closes the gap
  EXPECT_EQ(ExtentsOf(list), (Extents{{100, 30}}));

  // Touching only the following extent moves its offset down.
  list.AddExtent(90, 10);
  EXPECT_EQ(ExtentsOf(list), (Extents{{90, 40}}));
  // Not touching anything: inserted in order.
  list.AddExtent(50, 5);
  list.AddExtent(200, 5);
  list.AddExtent(60, 5);
  EXPECT_EQ(ExtentsOf(list), (Extents{{50, 5}, {60, 5}, {90, 40}, {200, 5}}));
}

TEST(FreeList, TakeFirstFitUsesTheFirstExtentLongEnough) {
  TFreeList list;
  list.AddExtent(100, 8);
  list.AddExtent(200, 32);
  EXPECT_EQ(list.TakeFirstFit(16), 200);  // only the second is long enough
  EXPECT_EQ(ExtentsOf(list), (Extents{{100, 8}, {216, 16}}));
  EXPECT_EQ(list.TakeFirstFit(8), 100);  // equal length removes the extent
  EXPECT_EQ(ExtentsOf(list), (Extents{{216, 16}}));
  EXPECT_EQ(list.TakeFirstFit(17), -1);
  EXPECT_EQ(list.TakeFirstFit(13), 216);  // a remainder too short for any block stays
  EXPECT_EQ(ExtentsOf(list), (Extents{{229, 3}}));
}

TEST(FreeList, OverlapsFindsSharedBytes) {
  TFreeList list;
  list.AddExtent(100, 50);
  list.AddExtent(200, 10);
  EXPECT_TRUE(list.Overlaps(149, 1));
  EXPECT_FALSE(list.Overlaps(150, 50));
  EXPECT_TRUE(list.Overlaps(0, 101));
  EXPECT_FALSE(list.Overlaps(0, 100));
  EXPECT_TRUE(list.Overlaps(205, 100));
  EXPECT_FALSE(list.Overlaps(210, 100));
}

TEST(FreeList, RecordIsCountThenOffsetsThenLengths) {
  TFreeList list;
  TMemoryStream empty;
  ASSERT_TRUE(list.WriteTo(empty));
  EXPECT_EQ(empty.Bytes, Int32(0));

  list.AddExtent(100, 8);
  list.AddExtent(300, 12);
  TMemoryStream stream;
  ASSERT_TRUE(list.WriteTo(stream));
  EXPECT_EQ(stream.Bytes, Int32(2) + Int32(100) + Int32(300) + Int32(8) + Int32(12));

  TFreeList read;
  stream.Seek(0);
  ASSERT_TRUE(read.ReadFrom(stream));
  EXPECT_EQ(ExtentsOf(read), ExtentsOf(list));
}

TEST(FreeList, RecordLongerThanTheStreamIsAShortRead) {
  // A count of two billion extents must not be believed, nor allocated for.
  TMemoryStream stream(Int32(0x7FFFFFF0) + Int32(1) + Int32(2));
  TFreeList list;
  EXPECT_FALSE(list.ReadFrom(stream));
  EXPECT_EQ(list.Count(), 0);

  TMemoryStream cut(Int32(2) + Int32(100) + Int32(200) + Int32(8));
  EXPECT_FALSE(list.ReadFrom(cut));

  TMemoryStream negative(Int32(-3));
  EXPECT_TRUE(list.ReadFrom(negative));
  EXPECT_EQ(list.Count(), 0);
}
