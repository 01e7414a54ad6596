#include "core/ByteRanges.h"

#include <gtest/gtest.h>

namespace mirel {
namespace {

using R = TByteRange;

TEST(ByteRanges, MergesTouchingAndOverlappingRangesInAnyOrder) {
  TByteRanges m;
  m.Add(100, 10);
  m.Add(0, 5);
  m.Add(50, 10);
  m.Add(110, 5);  // touches 100+10
  m.Add(55, 50);  // bridges 50+10 and 100+15
  EXPECT_EQ(m.Ranges(), (std::vector<R>{{0, 5}, {50, 65}}));
  EXPECT_EQ(m.TotalLength(), 70);
  m.Add(5, 45);  // closes the last gap
  EXPECT_EQ(m.Ranges(), (std::vector<R>{{0, 115}}));
}

TEST(ByteRanges, IgnoresEmptyAndNegativeRangesAndSaturatesAtTheTop) {
  TByteRanges m;
  m.Add(10, 0);
  m.Add(-1, 5);
  m.Add(7, -3);
  EXPECT_TRUE(m.Empty());
  m.Add(INT64_MAX - 1, 10);
  ASSERT_EQ(m.Count(), 1u);
  EXPECT_EQ(m.Ranges()[0].End(), INT64_MAX);
}

TEST(ByteRanges, IntersectsOnlyBytesInside) {
  TByteRanges m;
  m.Add(10, 10);
  m.Add(40, 5);
  EXPECT_FALSE(m.Intersects(0, 10));
  EXPECT_TRUE(m.Intersects(0, 11));
  EXPECT_TRUE(m.Intersects(19, 1));
  EXPECT_FALSE(m.Intersects(20, 20));
  EXPECT_TRUE(m.Intersects(20, 21));
  EXPECT_FALSE(m.Intersects(45, 100));
  EXPECT_FALSE(m.Intersects(15, 0));
}

TEST(ByteRanges, DescribesAtMostTheGivenNumberOfRanges) {
  TByteRanges m;
  for (int i = 0; i < 5; ++i) m.Add(i * 100, 1);
  EXPECT_EQ(m.Describe(2), "0+1, 100+1, ...");
  EXPECT_EQ(m.Describe(), "0+1, 100+1, 200+1, 300+1, 400+1");
}

}  // namespace
}  // namespace mirel
