#include <gtest/gtest.h>

#include "FatImage.h"
#include "core/DiskObject.h"
#include "fat/FatScaner.h"

using namespace mirel;
using namespace mirel::test;

namespace {

class FatTable : public FatTest {
protected:
  // A live or deleted file record starting at first.
  static TFatChainEntry File(uint32_t first, bool deleted) {
    TFatChainEntry r;
    r.FirstCluster = first;
    r.Deleted = deleted;
    return r;
  }
  // The cluster numbers of a chain of byte positions.
  static std::vector<uint32_t> Clusters(const TFatScaner& s, const TClusChain& chain) {
    std::vector<uint32_t> out;
    for (int64_t pos : chain) out.push_back(static_cast<uint32_t>((pos - s.DataStart) / s.ClusterSize + 2));
    return out;
  }
  using V = std::vector<uint32_t>;
};

}  // namespace

TEST_F(FatTable, Fat12OddAndEvenEntries) {
  TFatImage img(12, 100);
  img.SetFat(2, 0x123);
  img.SetFat(3, 0x456);
  // Cluster 2 lies at table bytes 3 and 4 (low twelve bits), cluster 3 at 4
  // and 5 (high twelve bits).
  const size_t fat = 512;
  EXPECT_EQ(img.Bytes[fat + 3], 0x23);
  EXPECT_EQ(img.Bytes[fat + 4], 0x61);
  EXPECT_EQ(img.Bytes[fat + 5], 0x45);
  auto disk = Open(img);
  ASSERT_EQ(disk->FileSystem, fsFat12);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  EXPECT_EQ(s.GetNextCluster(2), 0x123u);
  EXPECT_EQ(s.GetNextCluster(3), 0x456u);
  EXPECT_EQ(s.EocMin, 0xFF8u);
  EXPECT_EQ(s.BadCluster, 0xFF7u);
  EXPECT_EQ(s.MaxCluster, 101u);
}

TEST_F(FatTable, Fat12EntryStraddlingTwoSectorsTakesItsSecondByteFromTheNext) {
  TFatImage img(12, 400);  // a two-sector table
  // Cluster 341 starts at table byte 511, the last of the first sector.
  img.SetFat(340, 0x123);
  img.SetFat(341, 0xABC);
  img.SetFat(342, 0x456);
  auto disk = Open(img);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  EXPECT_EQ(s.GetNextCluster(341), 0xABCu);
  EXPECT_EQ(s.GetNextCluster(342), 0x456u);  // the second sector is now the cached one
  EXPECT_EQ(s.GetNextCluster(340), 0x123u);
  EXPECT_EQ(s.GetNextCluster(341), 0xABCu);
  // Both sectors came with one read of the table.
  EXPECT_EQ(s.Table.SectorReads, 1u);
}

TEST_F(FatTable, Fat16ReadsSixteenBitEntries) {
  TFatImage img(16, 5000);
  img.SetFat(300, 0xFFF7);
  img.Chain({10, 11, 4000});
  auto disk = Open(img);
  ASSERT_EQ(disk->FileSystem, fsFat16);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  EXPECT_EQ(s.EocMax, 0xFFFFu);
  EXPECT_EQ(s.EocMin, 0xFFF8u);
  EXPECT_EQ(s.GetNextCluster(300), s.BadCluster);
  EXPECT_EQ(s.GetNextCluster(11), 4000u);
  TFatChainEntry r = File(10, false);
  s.GetFileClusChain(r, 3 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{10, 11, 4000}));
}

TEST_F(FatTable, Fat32ReadsTheActiveTableWhenMirroringIsOff) {
  TFatImage img(32, 66000);
  const int64_t second = (int64_t{img.Bpb.Reserved} + img.FatSectors) * 512;
  img.SetFat(5, 0x11);
  PutLe(img.Bytes, static_cast<size_t>(second + 4 * 5), 0x22, 4);
  PutLe(img.Bytes, 0x28, 0x0081, 2);
  auto disk = Open(img);
  ASSERT_EQ(disk->FileSystem, fsFat32);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  EXPECT_EQ(s.ActiveFat, 1);
  EXPECT_EQ(s.GetNextCluster(5), 0x22u);

  PutLe(img.Bytes, 0x28, 0x0001, 2);  // bit 7 clear: mirrored, the first is read
  disk = Open(img);
  TFatScaner& m = Fat(*disk);
  ASSERT_TRUE(m.Init());
  EXPECT_EQ(m.ActiveFat, 0);
  EXPECT_EQ(m.GetNextCluster(5), 0x11u);
}

TEST_F(FatTable, Fat32IgnoresTheTopFourBits) {
  TFatImage img(32, 66000);
  img.SetFat(9, 0xF0000007);
  auto disk = Open(img);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  EXPECT_EQ(s.GetNextCluster(9), 7u);
}

TEST_F(FatTable, LiveChainEndsAtEndMarkBadClusterOrFree) {
  TFatImage img(12, 100);
  img.Chain({5, 6, 7});
  img.SetFat(20, 21);
  img.SetFat(21, 0xFF7);
  img.SetFat(30, 31);  // 31 is free
  auto disk = Open(img);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  TFatChainEntry r = File(5, false);
  s.GetFileClusChain(r, 10 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{5, 6, 7}));
  s.GetFileClusChain(r, 2 * 512 - 1);  // a file needs no more than its size
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{5, 6}));
  r.FirstCluster = 20;
  s.GetFileClusChain(r, 10 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{20, 21}));
  r.FirstCluster = 30;
  s.GetFileClusChain(r, 10 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{30, 31}));
  r.FirstCluster = 0;
  s.GetFileClusChain(r, 10 * 512);
  EXPECT_TRUE(r.ClusChain.empty());
  r.FirstCluster = 102;  // above the last cluster
  s.GetFileClusChain(r, 10 * 512);
  EXPECT_TRUE(r.ClusChain.empty());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(FatTable, LoopingChainsEndWithOneLogLineEach) {
  TFatImage img(12, 100);
  img.SetFat(5, 6);
  img.SetFat(6, 5);
  img.SetFat(7, 7);
  img.SetFat(8, 0xFF0);  // a reserved value: no cluster of this volume
  auto disk = Open(img);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  TFatChainEntry r = File(5, false);
  s.GetFileClusChain(r, 50 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{5, 6}));
  r.FirstCluster = 7;
  s.GetFileClusChain(r, 50 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{7}));
  r.FirstCluster = 8;
  s.GetFileClusChain(r, 50 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{8}));
  auto log = LogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[0].find("FatScaner.GetFileClusChain: cluster chain loops back; First = 5"), std::string::npos)
      << log[0];
  EXPECT_NE(log[1].find("loops back; First = 7"), std::string::npos) << log[1];
  EXPECT_NE(log[2].find("leaves the volume; First = 8"), std::string::npos) << log[2];
}

TEST_F(FatTable, DeletedChainTakesTheFreeClustersSkippingLiveOnes) {
  TFatImage img(12, 100);
  img.SetFat(11, 0xFFF);  // a live one-cluster file
  img.Chain({40, 41});
  auto disk = Open(img);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  TFatChainEntry r = File(10, true);
  s.GetFileClusChain(r, 3 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{10, 12, 13}));
  // The stream reads three free clusters: the rating says so.
  EXPECT_EQ(s.ComputeCondition(r, 3 * 512), 100);
  // All free: the contiguous clusters.
  r.FirstCluster = 20;
  s.GetFileClusChain(r, 3 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{20, 21, 22}));
  EXPECT_EQ(s.ComputeCondition(r, 3 * 512), 100);
  r.FirstCluster = 39;
  s.GetFileClusChain(r, 4 * 512);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{39, 42, 43, 44}));
  EXPECT_EQ(s.ComputeCondition(r, 4 * 512), 100);
}

TEST_F(FatTable, DeletedChainIsEmptyWhenItsFirstClusterIsInUseAgain) {
  TFatImage img(12, 100);
  img.SetFat(10, 0xFFF);
  auto disk = Open(img);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  TFatChainEntry r = File(10, true);
  s.GetFileClusChain(r, 3 * 512);
  EXPECT_TRUE(r.ClusChain.empty());
  // Nothing of it will be delivered: it rates 0, not the 66 that the free
  // clusters after it would suggest.
  EXPECT_EQ(s.ComputeCondition(r, 3 * 512), 0);
}

TEST_F(FatTable, DeletedChainLengthFollowsTheSize) {
  TFatImage img(12, 100, 4);  // 2048-byte clusters
  auto disk = Open(img);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  ASSERT_EQ(s.ClusterSize, 2048u);
  TFatChainEntry r = File(10, true);
  s.GetFileClusChain(r, 5000);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{10, 11, 12}));
  s.GetFileClusChain(r, 4096);
  EXPECT_EQ(Clusters(s, r.ClusChain), (V{10, 11}));
  s.GetFileClusChain(r, 0);
  EXPECT_TRUE(r.ClusChain.empty());
  EXPECT_EQ(s.ComputeCondition(r, 0), 0);
  // Past the last cluster nothing is free: the chain stops there.
  r.FirstCluster = s.MaxCluster - 1;
  s.GetFileClusChain(r, 4 * 2048);
  EXPECT_EQ(r.ClusChain.size(), 2u);
  EXPECT_EQ(s.ComputeCondition(r, 4 * 2048), 50);
}

TEST_F(FatTable, ClusterOffsetsFollowTheGeometry) {
  TFatImage img(16, 5000, 2);
  auto disk = Open(img);
  TFatScaner& s = Fat(*disk);
  ASSERT_TRUE(s.Init());
  EXPECT_EQ(s.ClusterSize, 1024u);
  EXPECT_EQ(s.ClusterOffset(2), img.ClusterPos(2));
  EXPECT_EQ(s.ClusterOffset(4000), img.ClusterPos(4000));
  EXPECT_EQ(s.RootDirSectors, 4u);  // 64 entries
}

TEST_F(FatTable, UnusableGeometryFailsInitWithOneLogLine) {
  struct TCase {
    const char* What;
    void (*Spoil)(std::vector<uint8_t>&);
  } cases[] = {
      {"700-byte sectors", [](std::vector<uint8_t>& b) { PutLe(b, 0x0B, 700, 2); }},
      {"no tables", [](std::vector<uint8_t>& b) { PutLe(b, 0x16, 0, 2); }},
      {"no reserved sector", [](std::vector<uint8_t>& b) { PutLe(b, 0x0E, 0, 2); }},
  };
  for (const TCase& c : cases) {
    TFatImage img(12, 100);
    c.Spoil(img.Bytes);
    std::filesystem::remove(Tmp / "debug.log");
    auto disk = Open(img);
    ASSERT_NE(disk->Scaner, nullptr) << c.What;
    EXPECT_FALSE(disk->Scaner->Init()) << c.What;
    auto log = LogLines();
    ASSERT_EQ(log.size(), 1u) << c.What;
    EXPECT_NE(log[0].find("FatScaner.Init: unusable geometry"), std::string::npos) << log[0];
    disk->Scaner->ScanForFiles();  // ends at once
    EXPECT_EQ(disk->Files.Count(), 0);
  }
}

TEST_F(FatTable, Fat32RootClusterOutsideTheVolumeFailsInit) {
  TFatImage img(32, 66000);
  PutLe(img.Bytes, 0x2C, 70000, 4);
  auto disk = Open(img);
  EXPECT_FALSE(Fat(*disk).Init());
  auto log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("root cluster outside the volume; RootCluster = 70000"), std::string::npos) << log[0];
}

TEST_F(FatTable, FreeSpaceComesFromTheTable) {
  TFatImage img(12, 100);
  img.Chain({5, 6, 7});
  auto disk = Open(img);
  EXPECT_EQ(disk->FreeSize, (100 - 3) * 512);

  TFatImage big(32, 66000);  // cluster 2 holds the root
  big.Chain({5, 6});
  disk = Open(big);
  EXPECT_EQ(disk->FreeSize, int64_t{66000 - 3} * 512);
  // A plausible count in the information sector is taken as it is.
  PutLe(big.Bytes, 512, 0x41615252, 4);
  PutLe(big.Bytes, 512 + 484, 0x61417272, 4);
  PutLe(big.Bytes, 512 + 488, 1234, 4);
  disk = Open(big);
  EXPECT_EQ(disk->FreeSize, 1234 * 512);
}
