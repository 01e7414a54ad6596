#include <gtest/gtest.h>

#include <unistd.h>

#include "TestSupport.h"
#include "platform/Mounts.h"
#include "workers/DestinationPolicy.h"
#include "workers/RecoveredFileWriter.h"

using namespace mirel;
using namespace mirel::test;

TEST(DestinationPolicy, ExistingFileFollowsTheMode) {
  TTempDir tmp;
  std::string path = (tmp / "photo.jpg").string();
  WriteFile(path, {'o', 'l', 'd', '!'});
  std::string why;

  std::string p = path;
  EXPECT_EQ(CreateDestinationFile(p, TOnExists::Skip, {}, why), -1);
  EXPECT_EQ(why, "a file of that name exists");
  EXPECT_EQ(ReadWholeFile(path), "old!");

  int asked = 0;
  p = path;
  EXPECT_EQ(CreateDestinationFile(p, TOnExists::Ask, [&](const std::string&) { ++asked; return TOnExists::Skip; }, why), -1);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(ReadWholeFile(path), "old!");  // skip leaves it untouched

  p = path;
  int fd = CreateDestinationFile(p, TOnExists::Rename, {}, why);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(p, (tmp / "photo (2).jpg").string());
  p = path;
  fd = CreateDestinationFile(p, TOnExists::Rename, {}, why);
  ::close(fd);
  EXPECT_EQ(p, (tmp / "photo (3).jpg").string());

  p = path;
  fd = CreateDestinationFile(p, TOnExists::Overwrite, {}, why);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(ReadWholeFile(path), "");  // truncated: no old bytes can survive past a short copy

  std::string fresh = (tmp / "new.txt").string();
  fd = CreateDestinationFile(fresh, TOnExists::Skip, {}, why);
  EXPECT_GE(fd, 0);
  ::close(fd);
  std::string nowhere = (tmp / "no" / "dir.txt").string();
  EXPECT_EQ(CreateDestinationFile(nowhere, TOnExists::Skip, {}, why), -1);
  EXPECT_EQ(why, "No such file or directory");
}

TEST(DestinationPolicy, UniqueNameKeepsExtensionAndHiddenNames) {
  TTempDir tmp;
  EXPECT_EQ(UniqueName((tmp / "a.tar.gz").string()), (tmp / "a.tar (2).gz").string());
  EXPECT_EQ(UniqueName((tmp / "README").string()), (tmp / "README (2)").string());
  EXPECT_EQ(UniqueName((tmp / ".profile").string()), (tmp / ".profile (2)").string());
  TOnExists m;
  EXPECT_TRUE(ParseOnExists("rename", m));
  EXPECT_EQ(m, TOnExists::Rename);
  EXPECT_FALSE(ParseOnExists("clobber", m));
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
