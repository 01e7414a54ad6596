#include <gtest/gtest.h>

#include "NtfsTestImage.h"
#include "ntfs/RunList.h"

using namespace mirel;
using namespace mirel::test;

namespace {

std::optional<TRunList> Decode(const std::vector<uint8_t>& pairs, int64_t startVcn = 0) {
  return DecodeRunList(pairs, startVcn);
}

}  // namespace

TEST(NtfsRunList, FragmentedFileOfTheFixture) {
  // frag-a.bin: seven single clusters two apart, then five clusters 2046 back.
  const std::vector<uint8_t> pairs = {0x21, 0x01, 0x5B, 0x0A, 0x11, 0x01, 0x02, 0x11, 0x01, 0x02, 0x11,
                                      0x01, 0x02, 0x11, 0x01, 0x02, 0x11, 0x01, 0x02, 0x11, 0x01, 0x02,
                                      0x21, 0x05, 0x02, 0xF8, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Decode(pairs), (TRunList{{0, 2651, 1},
                                     {1, 2653, 1},
                                     {2, 2655, 1},
                                     {3, 2657, 1},
                                     {4, 2659, 1},
                                     {5, 2661, 1},
                                     {6, 2663, 1},
                                     {7, 617, 5}}));
}

TEST(NtfsRunList, CompressedAndSparseFilesOfTheFixture) {
  // compressible.txt: units stored in 3 clusters, each completed by 13
  // without clusters; the last unit in 1.
  const std::vector<uint8_t> compressed = {0x21, 0x03, 0x4C, 0x0A, 0x01, 0x0D, 0x11, 0x03, 0x03, 0x01, 0x0D, 0x11,
                                           0x03, 0x03, 0x01, 0x0D, 0x11, 0x01, 0x03, 0x01, 0x0F, 0x00, 0x00, 0x00};
  EXPECT_EQ(Decode(compressed), (TRunList{{0, 2636, 3},
                                          {3, -1, 13},
                                          {16, 2639, 3},
                                          {19, -1, 13},
                                          {32, 2642, 3},
                                          {35, -1, 13},
                                          {48, 2645, 1},
                                          {49, -1, 15}}));
  // sparse.bin: 2 clusters, a hole of 254, 1 cluster; the hole leaves the
  // running LCN where it was.
  const std::vector<uint8_t> sparse = {0x21, 0x02, 0x6E, 0x02, 0x02, 0xFE, 0x00, 0x21,
                                       0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Decode(sparse), (TRunList{{0, 622, 2}, {2, -1, 254}, {256, 878, 1}}));
  // An extent numbers its runs from its own starting VCN.
  EXPECT_EQ(Decode(sparse, 100).value().back().Vcn, 356);
}

TEST(NtfsRunList, EndsOfTheList) {
  EXPECT_EQ(Decode({}), TRunList{});
  EXPECT_EQ(Decode({0x00, 0x21, 0x04, 0x10, 0x00}), TRunList{});
  // A header without length bytes ends the list with the runs so far.
  EXPECT_EQ(Decode({0x21, 0x04, 0x10, 0x00, 0x10, 0x05, 0x00}), (TRunList{{0, 16, 4}}));
  // Pairs that end without a terminating zero end the list too.
  EXPECT_EQ(Decode({0x11, 0x04, 0x10}), (TRunList{{0, 16, 4}}));
  // One byte of offset 0xFF moves back one cluster.
  EXPECT_EQ(Decode({0x11, 0x02, 0x10, 0x11, 0x02, 0xFF, 0x00}), (TRunList{{0, 16, 2}, {2, 15, 2}}));
}

TEST(NtfsRunList, ExplicitZeroOffsetRule) {
  // The second run's zero offset continues after the first run, and its
  // length is completed from the following run's first length byte.
  EXPECT_EQ(Decode({0x21, 0x04, 0x00, 0x01, 0x11, 0x03, 0x00, 0x01, 0x05, 0x00}),
            (TRunList{{0, 256, 4}, {4, 260, 11}, {7, -1, 5}}));
  // As the first run there is nothing before it: the offset adds nothing and
  // the length stays as decoded.
  EXPECT_EQ(Decode({0x11, 0x04, 0x00, 0x00}), (TRunList{{0, 0, 4}}));
}

TEST(NtfsRunList, RunsOfTwoToThe32ClustersAndMoreKeepEveryCluster) {
  constexpr int64_t kMost = UINT32_MAX;
  // A hole of 2^32 + 5 clusters, then two clusters at LCN 16.
  const std::optional<TRunList> holed = Decode({0x05, 0x05, 0x00, 0x00, 0x00, 0x01, 0x11, 0x02, 0x10, 0x00});
  ASSERT_TRUE(holed);
  EXPECT_EQ(*holed, (TRunList{{0, -1, UINT32_MAX}, {kMost, -1, 6}, {kMost + 6, 16, 2}}));
  TStreamRuns stream;
  ASSERT_TRUE(stream.Place(*holed));
  EXPECT_TRUE(stream.Gaps(kMost + 8).empty());
  EXPECT_EQ(stream.Find(kMost + 5), 1);
  // Exactly 2^32 clusters from LCN 4096: the cut piece goes on where the first ends.
  EXPECT_EQ(Decode({0x25, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x10, 0x00}),
            (TRunList{{0, 4096, UINT32_MAX}, {kMost, 4096 + kMost, 1}}));
  // A long run whose later piece would number an LCN past the range.
  TCapturedLog log;
  EXPECT_EQ(Decode({0x85, 0x01, 0x00, 0x00, 0x00, 0x01, 0xF5, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00}),
            std::nullopt);
  EXPECT_EQ(log.Count("RunList.DecodeRunList: run offset overflows"), 1);
  // A damaged length of 2^56 clusters would be 2^24 runs: the list is refused.
  EXPECT_EQ(Decode({0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}), std::nullopt);
  EXPECT_EQ(log.Count("RunList.DecodeRunList: runs too long for any volume"), 1);
}

TEST(NtfsRunList, RunsReachingPastTheirBytesAreRefused) {
  TCapturedLog log;
  // The second header announces 8 + 8 bytes where 1 is left.
  EXPECT_EQ(Decode({0x21, 0x04, 0x10, 0x00, 0x88, 0x01}), std::nullopt);
  // Fields of more than eight bytes.
  EXPECT_EQ(Decode({0x19, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00}), std::nullopt);
  EXPECT_EQ(Decode({0x91, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00}), std::nullopt);
  // A run list cut in the middle of its last run.
  EXPECT_EQ(Decode({0x21, 0x04, 0x10, 0x00, 0x31, 0x02, 0x10}), std::nullopt);
  EXPECT_EQ(log.Count("RunList.DecodeRunList: run reaches past its attribute"), 4);
}

TEST(NtfsRunList, NumbersOutsideTheRepresentableRangeAreRefused) {
  TCapturedLog log;
  // The first run ends the LCN range; continuing after it cannot be numbered.
  EXPECT_EQ(Decode({0x81, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x11, 0x03, 0x00, 0x00}), std::nullopt);
  EXPECT_EQ(log.Count("RunList.DecodeRunList: run offset overflows"), 1);
  // VCNs that leave the representable range: from the start, or on the way.
  EXPECT_EQ(Decode({0x11, 0x04, 0x10, 0x00}, INT64_MIN), std::nullopt);
  EXPECT_EQ(Decode({0x11, 0x04, 0x10, 0x00}, INT64_MAX - 2), std::nullopt);
  EXPECT_EQ(log.Count("RunList.DecodeRunList: starting VCN out of range"), 1);
  EXPECT_EQ(log.Count("RunList.DecodeRunList: run numbers overflow"), 1);
}
