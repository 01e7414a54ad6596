#include <gtest/gtest.h>

#include <unistd.h>
#include <regex>
#include <sstream>

#include "TestSupport.h"

using namespace mirel;
using namespace mirel::test;

namespace {

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

}  // namespace

TEST(CliList, RecognisesEachFileSystemWithLabelAndSerial) {
  TCliRun r = RunMirel({"list", Fixture("fat12.img"), Fixture("fat16.img"), Fixture("fat32.img"), Fixture("ntfs.img")});
  EXPECT_EQ(r.Status, 0) << r.Err;
  auto lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 5u) << r.Out;
  EXPECT_TRUE(lines[0].starts_with("NAME ")) << lines[0];
  std::regex fat12(R"(^fat12\.img +\S+fat12\.img +image +FAT12 +FAT12VOL +12AB-34CD +1474560 +\d+$)");
  EXPECT_TRUE(std::regex_match(lines[1], fat12)) << lines[1];
  EXPECT_TRUE(std::regex_search(lines[2], std::regex(R"(^fat16\.img .* FAT16 +FAT16VOL +16AB-34CD )"))) << lines[2];
  EXPECT_TRUE(std::regex_search(lines[3], std::regex(R"(^fat32\.img .* FAT32 +FAT32VOL +32AB-34CD )"))) << lines[3];
  EXPECT_TRUE(std::regex_search(lines[4], std::regex(R"(^ntfs\.img .* NTFS )"))) << lines[4];
}

TEST(CliList, SameFileNameTwiceGetsUniqueVolumeNames) {
  TCliRun r = RunMirel({"list", Fixture("fat12.img"), Fixture("fat12.img")});
  auto lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 3u) << r.Out;
  EXPECT_TRUE(lines[1].starts_with("fat12.img ")) << lines[1];
  EXPECT_TRUE(lines[2].starts_with("fat12.img~2 ")) << lines[2];
}

TEST(CliList, BadSourcesAreNamedWithTheReasonAndOthersStillListed) {
  TTempDir tmp;
  TBpb bpb;
  bpb.FatSize = 9;
  bpb.TotalSectors = 2880;
  bpb.SectorsPerCluster = 0;
  auto zero = MakeBootSector(bpb);
  zero.resize(2880 * 512);
  WriteFile(tmp / "zero-spc.img", zero);
  WriteFile(tmp / "blank.img", std::vector<uint8_t>(65536, 0));
  WriteFile(tmp / "tiny.img", std::vector<uint8_t>(100, 0));

  TCliRun r = RunMirel({"list", (tmp / "missing.img").string(), (tmp / "zero-spc.img").string(),
                        (tmp / "blank.img").string(), (tmp / "tiny.img").string(), Fixture("fat12.img")});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("missing.img: No such file or directory"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("zero-spc.img: boot sector gives zero sectors per cluster"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("blank.img: no FAT, exFAT or NTFS file system found"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("tiny.img: too small to hold a boot sector"), std::string::npos) << r.Err;
  EXPECT_NE(r.Out.find("fat12.img "), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("zero-spc"), std::string::npos) << r.Out;
}

TEST(CliList, PermissionDeniedTellsHowToGetAccess) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads everything";
  TTempDir tmp;
  WriteFile(tmp / "locked.img", std::vector<uint8_t>(512, 0));
  std::filesystem::permissions(tmp / "locked.img", std::filesystem::perms::none);
  TCliRun r = RunMirel({"list", (tmp / "locked.img").string()});
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("root rights"), std::string::npos) << r.Err;
}

TEST(Cli, UsageErrors) {
  EXPECT_EQ(RunMirel({}).Status, 1);
  TCliRun r = RunMirel({"frobnicate"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("unknown command 'frobnicate'"), std::string::npos);
  EXPECT_EQ(RunMirel({"list", "--format"}).Status, 1);
}
