#include <gtest/gtest.h>

#include <regex>

#include "Engine.h"
#include "TestSupport.h"
#include "core/DiskList.h"
#include "core/DiskObject.h"
#include "platform/Partitions.h"

using namespace mirel;
using namespace mirel::test;

namespace {

struct TVolumeFacts {
  std::string Name, FileSystem, Label;
  int64_t Base, Length, Total;
  bool Backup;
};

std::vector<TVolumeFacts> Volumes(const std::vector<std::string>& sources) {
  // The file systems are known to the volume list through their drivers.
  StartEngine();
  TDiskList list(sources, false);
  std::vector<TVolumeFacts> out;
  for (TDiskObject* d : list.Items)
    out.push_back(
        {d->Name, d->FileSystemName, d->VolumeLabel, d->Base, d->Length, d->TotalSize, d->BackupBootSector()});
  return out;
}

}  // namespace

TEST(Partitions, MbrWithLogicalPartitionGivesOneVolumePerFileSystem) {
  auto parts = ReadPartitionTable(Fixture("disk-mbr.img"));
  ASSERT_EQ(parts.size(), 3u);  // the extended container is not a volume
  EXPECT_EQ(parts[2].Number, 5);
  EXPECT_EQ(parts[2].Start, 73728LL * 512);

  auto v = Volumes({Fixture("disk-mbr.img")});
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].Name, "disk-mbr.img#1");
  EXPECT_EQ(v[0].FileSystem, "FAT16");
  EXPECT_EQ(v[0].Label, "FAT16VOL");
  EXPECT_EQ(v[1].Name, "disk-mbr.img#2");
  EXPECT_EQ(v[1].FileSystem, "NTFS");
  EXPECT_EQ(v[2].Name, "disk-mbr.img#5");
  EXPECT_EQ(v[2].FileSystem, "FAT12");
  EXPECT_EQ(v[2].Total, 4096LL * 512);  // confined to the partition, not the disk
}

TEST(Partitions, GptAndItsBackupHeader) {
  for (const char* image : {"disk-gpt.img", "disk-gpt-nohdr.img"}) {
    auto v = Volumes({Fixture(image)});
    ASSERT_EQ(v.size(), 2u) << image;
    EXPECT_EQ(v[0].FileSystem, "NTFS") << image;
    EXPECT_EQ(v[1].FileSystem, "FAT16") << image;
    EXPECT_EQ(v[1].Base, 36864LL * 512) << image;
  }
}

TEST(Partitions, OnePartitionByNumberAndClearRefusals) {
  auto v = Volumes({Fixture("disk-mbr.img").string() + "#5"});
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].Name, "disk-mbr.img#5");
  TDiskList list({Fixture("disk-mbr.img").string() + "#3", Fixture("fat12.img").string() + "#1"}, false);
  EXPECT_EQ(list.Count(), 0);
  ASSERT_EQ(list.Rejected.size(), 2u);
  EXPECT_EQ(list.Rejected[0].Reason, "no partition 3");
  EXPECT_EQ(list.Rejected[1].Reason, "holds no partition table");
  // A bare volume is not mistaken for a partitioned disk.
  EXPECT_TRUE(ReadPartitionTable(Fixture("fat12.img")).empty());
  EXPECT_TRUE(ReadPartitionTable(Fixture("ntfs.img")).empty());
}

TEST(BackupBootSector, ZeroedFirstSectorIsReadThroughTheCopy) {
  auto v = Volumes({Fixture("fat32-noboot.img"), Fixture("ntfs-noboot.img"), Fixture("fat32.img")});
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].FileSystem, "FAT32");
  EXPECT_EQ(v[0].Label, "FAT32VOL");
  EXPECT_TRUE(v[0].Backup);
  EXPECT_EQ(v[1].FileSystem, "NTFS");
  EXPECT_TRUE(v[1].Backup);
  EXPECT_FALSE(v[2].Backup);

  TCliRun r = RunMirel({"list", Fixture("fat32-noboot.img")});
  EXPECT_NE(r.Out.find("read through its backup boot sector"), std::string::npos) << r.Out;
}
