#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>

#include "TestSupport.h"
#include "core/Text.h"
#include "platform/Mounts.h"
#include "workers/DestinationPolicy.h"
#include "workers/RecoveredFileWriter.h"

using namespace mirel;
using namespace mirel::test;

TEST(DestinationPolicy, NumberedAndTemporaryNames) {
  EXPECT_EQ(NumberedName("a.tar.gz", 2), "a.tar (2).gz");
  EXPECT_EQ(NumberedName("README", 3), "README (3)");
  EXPECT_EQ(NumberedName(".profile", 2), ".profile (2)");
  TOnExists m;
  EXPECT_TRUE(ParseOnExists("rename", m));
  EXPECT_EQ(m, TOnExists::Rename);
  EXPECT_FALSE(ParseOnExists("clobber", m));

  const std::string temp = TempFileName("photo.jpg");
  EXPECT_EQ(temp.rfind(".photo.jpg.mirel-", 0), 0u) << temp;
  EXPECT_EQ(temp.size(), std::string(".photo.jpg.mirel-").size() + 6);
  EXPECT_NE(TempFileName("photo.jpg"), temp);
  // A name at the length limit is cut between characters to leave room.
  std::string longName;
  while (longName.size() < 254) longName += "\xc3\xa9";  // é
  const std::string cut = TempFileName(longName);
  EXPECT_LE(cut.size(), 255u);
  EXPECT_TRUE(IsPrintableUtf8(cut)) << cut;
}

TEST(SafeFileName, HostileNamesStayInsideTheDestination) {
  EXPECT_EQ(SafeFileName("../../etc/passwd"), ".._.._etc_passwd");
  EXPECT_EQ(SafeFileName(".."), "_..");
  EXPECT_EQ(SafeFileName("."), "_.");
  EXPECT_EQ(SafeFileName(""), "_");
  EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SafeFileName("Ünïcödé name.txt"), "Ünïcödé name.txt");
}

TEST(Mounts, TableParsingAndLongestPrefix) {
  TTempDir tmp;
  std::string info =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
      "40 27 0:50 / /media/usb\\040stick rw,nosuid shared:1 - fuseblk /dev/sdb1 rw,user_id=0\n"
      "41 27 8:33 / /media/card ro,relatime - vfat /dev/sdc1 ro,fmask=0022\n"
      "garbage line\n";
  WriteFile(tmp / "mountinfo", std::vector<uint8_t>(info.begin(), info.end()));
  auto table = ReadMountTable((tmp / "mountinfo").string());
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table[2].MountPoint, "/media/usb stick");
  EXPECT_EQ(table[2].Source, "/dev/sdb1");
  EXPECT_TRUE(table[3].ReadOnly);
  EXPECT_EQ(table[3].Major, 8u);
  EXPECT_EQ(MountOf("/media/usb stick/photos/x.jpg", table).FsType, "fuseblk");
  EXPECT_EQ(MountOf("/media/usb stickers", table).FsType, "ext4");  // prefix of a name is not a folder
  EXPECT_EQ(MountOf("/media/card", table).FsType, "vfat");
  EXPECT_EQ(GetVolumeFileSystem("/proc/self"), "proc");
}

TEST(Mounts, LoopMountOfTheImageIsFoundFromAnyPathBelowIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a loop device";
  TTempDir tmp;
  const std::string image = (tmp / "vol.img").string(), other = (tmp / "other.img").string();
  const std::string mnt = (tmp / "mnt").string();
  std::filesystem::create_directory(mnt);
  if (std::system(("truncate -s 8M '" + image + "' && cp '" + image + "' '" + other + "' && mkfs.ext2 -q '" + image +
                   "' && mount -o loop '" + image + "' '" + mnt + "' 2>/dev/null")
                      .c_str()) != 0)
    GTEST_SKIP() << "cannot loop-mount an ext2 image here";
  struct TUnmount {
    std::string Dir;
    ~TUnmount() {
      if (std::system(("umount '" + Dir + "' 2>/dev/null").c_str()) != 0)
        std::fprintf(stderr, "cannot unmount %s; it is left mounted\n", Dir.c_str());
    }
  } unmount{mnt};

  const auto table = ReadMountTable();
  std::optional<TMountEntry> m = MountFromSource(mnt + "/not/made/yet", image, table);
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->MountPoint, mnt);
  // The loop device itself, named as the source, is found as well.
  ASSERT_EQ(LoopDevicesBackedBy(image).size(), 1u);
  EXPECT_TRUE(MountFromSource(mnt, m->Source, table).has_value()) << m->Source;
  EXPECT_FALSE(MountFromSource((tmp / "beside").string(), image, table).has_value());
  EXPECT_FALSE(MountFromSource(mnt, other, table).has_value());
}
