// The benchmark's metadata read is the floor a scan is measured against: it
// must read what the live structure of the volume names, each byte once, and
// nothing a scan would not need.
#include <gtest/gtest.h>

#include "FatImage.h"
#include "MetadataRead.h"
#include "core/DiskScaner.h"
#include "fat/FatScaner.h"

using namespace mirel;
using namespace mirel::test;
using mirel::bench::TByteRange;
using mirel::bench::TMetadataRead;

namespace {

bool Covered(const std::vector<TByteRange>& ranges, int64_t at, int64_t length) {
  for (const TByteRange& r : ranges)
    if (at >= r.Offset && at + length <= r.Offset + r.Length) return true;
  return false;
}

// No byte read twice, and the byte count is the ranges' sum.
void ExpectDisjoint(const TMetadataRead& read) {
  std::vector<TByteRange> sorted = read.Ranges;
  std::sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.Offset < b.Offset; });
  int64_t sum = 0;
  for (size_t i = 0; i < sorted.size(); ++i) {
    sum += sorted[i].Length;
    if (i > 0) {
      EXPECT_LE(sorted[i - 1].Offset + sorted[i - 1].Length, sorted[i].Offset);
    }
  }
  EXPECT_EQ(sum, read.Bytes);
  EXPECT_GE(read.Reads * int64_t{TMetadataRead::kChunk}, read.Bytes);
}

class MetadataRead : public FatTest {};

// Real volumes: the live folders photos, keep and wrap are read; the deleted
// tree docs/sub is not.
TEST_F(MetadataRead, ReadsTheTablesAndEveryLiveDirectoryOfFatVolumes) {
  for (const char* name : {"fat12", "fat16", "fat32", "fat32c8"}) {
    SCOPED_TRACE(name);
    auto disk = Open(Fixture(std::string(name) + ".img"));
    TMetadataRead read(*disk);
    ASSERT_TRUE(read.Run()) << read.Error;
    const TFatScaner& fat = Fat(*disk);
    ASSERT_FALSE(read.Ranges.empty());
    EXPECT_EQ(read.Ranges[0].Offset, 0);
    EXPECT_GE(read.Ranges[0].Length, fat.DataStart);
    ExpectDisjoint(read);

    disk->Scaner->Options.Quick = false;
    disk->Scaner->ScanForFiles();
    int live = 0, deleted = 0;
    for (TFileInfo* folder : disk->Folders) {
      const TFatDirInfo* dir = FatDirOf(folder);
      ASSERT_NE(dir, nullptr);
      if (dir->IsDeleted()) {
        ++deleted;
        EXPECT_FALSE(Covered(read.Ranges, fat.ClusterOffset(dir->Entry.FirstCluster), fat.ClusterSize)) << folder->Name;
        continue;
      }
      ++live;
      for (int64_t window : dir->Entry.ClusChain)
        EXPECT_TRUE(Covered(read.Ranges, window, fat.ClusterSize)) << folder->Name << " at " << window;
    }
    EXPECT_EQ(live, 4);  // the root, photos, keep, wrap
    EXPECT_EQ(deleted, 2);
  }
}

TEST_F(MetadataRead, ReadsTheWholeMftOfAnNtfsVolume) {
  TDiskObject disk("ntfs", Fixture("ntfs.img").string(), 0);
  TMetadataRead read(disk);
  ASSERT_TRUE(read.Run()) << read.Error;
  TSourceHandle source = disk.AllocHandle();
  TMftReader mft(&source);
  ASSERT_GT(mft.MftDataSize, 0);
  EXPECT_EQ(read.Bytes, mft.MftDataSize);
  EXPECT_EQ(read.Ranges[0].Offset, mft.MftLcn * mft.ClusterSize);
  ExpectDisjoint(read);
}

// A folder whose chain loops and which names itself as a subfolder: each of
// its clusters is read once and the walk ends.
TEST_F(MetadataRead, DirectoryLoopsAreReadOnce) {
  TFatImage img(16, 5000);
  img.Chain({5, 6});
  img.SetFat(6, 5);
  img.Put(img.RootPos(), ShortEntry("LOOP       ", 0x10, 5, 0));
  img.PutAll(img.ClusterPos(5), {ShortEntry(".          ", 0x10, 5, 0), ShortEntry("..         ", 0x10, 0, 0),
                                 ShortEntry("SELF       ", 0x10, 5, 0)});
  img.Put(img.ClusterPos(6), ShortEntry("AGAIN      ", 0x10, 6, 0));
  auto disk = Open(img);
  TMetadataRead read(*disk);
  ASSERT_TRUE(read.Run()) << read.Error;
  EXPECT_EQ(read.Bytes, Fat(*disk).DataStart + 2 * int64_t{img.ClusterBytes()});
  ExpectDisjoint(read);
}

TEST_F(MetadataRead, RefusesWhatIsNoVolume) {
  WriteFile(Tmp / "zeros.img", std::vector<uint8_t>(64 * 1024, 0));
  TDiskObject disk("zeros", (Tmp / "zeros.img").string(), 0);
  TMetadataRead read(disk);
  EXPECT_FALSE(read.Run());
  EXPECT_FALSE(read.Error.empty());
  EXPECT_EQ(read.Bytes, 0);
}

}  // namespace
