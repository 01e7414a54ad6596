#include <gtest/gtest.h>

#include <algorithm>

#include <stdexcept>

#include "Engine.h"
#include "TestSupport.h"
#include "core/DiskObject.h"
#include "core/FileSystems.h"

using namespace mirel;
using namespace mirel::test;

namespace {

uint8_t DetectWithClusters(uint32_t clusters, TBpb bpb = {}) {
  bpb.FatSize = 64;
  bpb.TotalSectors = SectorsForClusters(bpb, clusters);
  return DetectFileSystem(MakeBootSector(bpb));
}

}  // namespace

TEST(DetectFileSystem, ClusterCountBoundaries) {
  StartEngine();
  EXPECT_EQ(DetectWithClusters(1), fsFat12);
  EXPECT_EQ(DetectWithClusters(4084), fsFat12);
  EXPECT_EQ(DetectWithClusters(4085), fsFat16);
  EXPECT_EQ(DetectWithClusters(65524), fsFat16);
  EXPECT_EQ(DetectWithClusters(65525), fsFat32);
  TBpb fat32;
  fat32.RootEntries = 0;
  fat32.SectorsPerCluster = 8;
  EXPECT_EQ(DetectWithClusters(65524, fat32), fsFat16);
  EXPECT_EQ(DetectWithClusters(2000000, fat32), fsFat32);
}

TEST(DetectFileSystem, PartialClusterDoesNotCount) {
  StartEngine();
  TBpb bpb;
  bpb.SectorsPerCluster = 4;
  bpb.FatSize = 64;
  bpb.TotalSectors = SectorsForClusters(bpb, 4085) - 1;  // 4084 whole clusters and 3 sectors
  EXPECT_EQ(DetectFileSystem(MakeBootSector(bpb)), fsFat12);
}

TEST(DetectFileSystem, ThirtyTwoBitFieldsUsedWhenSixteenBitAreZero) {
  StartEngine();
  TBpb bpb;
  bpb.FatSize = 64;
  bpb.Force32BitTotal = true;
  bpb.TotalSectors = SectorsForClusters(bpb, 4085);
  EXPECT_EQ(DetectFileSystem(MakeBootSector(bpb)), fsFat16);

  TBpb big;
  big.RootEntries = 0;
  big.FatSize = 80000;  // only the 32-bit field can hold it
  big.TotalSectors = SectorsForClusters(big, 70000);
  EXPECT_EQ(DetectFileSystem(MakeBootSector(big)), fsFat32);
}

TEST(DetectFileSystem, NtfsRuleIgnoresOemName) {
  StartEngine();
  auto b = MakeBootSector({});
  b[0x10] = 0;  // number of FATs
  PutLe(b, 0x11, 0, 2);
  PutLe(b, 0x16, 0, 2);
  std::copy_n("WHATEVER", 8, b.begin() + 3);
  EXPECT_EQ(DetectFileSystem(b), fsNtfs);
  // One of the three fields set: back to the FAT rule.
  b[0x10] = 2;
  PutLe(b, 0x13, 5000, 2);
  PutLe(b, 0x16, 8, 2);
  EXPECT_NE(DetectFileSystem(b), fsNtfs);
}

TEST(DetectFileSystem, UnusableSectorsAreNoFileSystem) {
  StartEngine();
  std::vector<uint8_t> blank(512, 0);
  EXPECT_EQ(DetectFileSystem(blank), fsNone);
  std::vector<uint8_t> shortSector(100, 0);
  EXPECT_EQ(DetectFileSystem(shortSector), fsNone);
  // Tables larger than the volume: no data region.
  TBpb bpb;
  bpb.FatSize = 500;
  bpb.TotalSectors = 100;
  EXPECT_EQ(DetectFileSystem(MakeBootSector(bpb)), fsNone);
}

TEST(DetectFileSystem, ZeroGeometryIsRejectedNotDividedBy) {
  StartEngine();
  TBpb bpb;
  bpb.FatSize = 9;
  bpb.TotalSectors = 2880;
  bpb.BytesPerSector = 0;
  EXPECT_THROW((void)DetectFileSystem(MakeBootSector(bpb)), std::runtime_error);
  bpb.BytesPerSector = 512;
  bpb.SectorsPerCluster = 0;
  EXPECT_THROW((void)DetectFileSystem(MakeBootSector(bpb)), std::runtime_error);
}
