// A FAT volume that cannot be read in full, made by mkfs.fat and mtools: cut
// short, or served with failing sectors. What is lost is named, rated and
// reported; nothing is delivered as if it were data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "FaultyImage.h"
#include "NtfsTestImage.h"
#include "TestSupport.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "fat/FatStream.h"

using namespace mirel;
using namespace mirel::test;

namespace {

constexpr size_t BIG = 1 << 20;

// A 64 MiB FAT32 volume: folder d holding a deleted 1 MiB file, and a
// deleted 300,000-byte file in the root.
class FatUnreadable : public testing::Test {
protected:
  void SetUp() override {
    Big = Pattern(BIG, 3);
    Mid = Pattern(300000, 9);
    WriteFile(Tmp / "big.bin", Big);
    WriteFile(Tmp / "mid.bin", Mid);
    const std::string i = " -i '" + Image().string() + "' ";
    const std::string script = "cd '" + Tmp.Path().string() +
                               "' && export MTOOLS_SKIP_CHECK=1; mkfs.fat -C -F 32 vol.img 65536 >/dev/null && mmd" +
                               i + "::/d && mcopy" + i + "big.bin ::/d/big.bin && mcopy" + i +
                               "mid.bin ::/mid.bin && mdel" + i + "::/d/big.bin ::/mid.bin";
    ASSERT_EQ(std::system(script.c_str()), 0) << script;
  }
  std::filesystem::path Image() const { return Tmp / "vol.img"; }
  // Where a file's data start on the volume.
  static int64_t FirstByte(TFileInfo* e) {
    TRecoveryFatStream s(e->Disk, e);
    return s.Chain().empty() ? -1 : s.Chain()[0];
  }

  TTempDir Tmp;
  TBytes Big, Mid;
};

std::string AsString(const TBytes& b) { return std::string(b.begin(), b.end()); }

TEST_F(FatUnreadable, OneBadSectorInAFileCostsThatSectorAndIsNamed) {
  int64_t at;
  {
    TScannedImage plain(Image());
    TFileInfo* big = plain.File("d/$ig.bin");
    ASSERT_TRUE(big);
    at = FirstByte(big);
    ASSERT_GT(at, 0);
  }
  // A sector half way into the file.
  const int64_t bad = at / 512 + 1000;
  TFaultyImage faulty(Image(), {{bad, 1}});
  ASSERT_TRUE(faulty.Mounted()) << faulty.Error;
  TScannedImage s(faulty.Path());
  TFileInfo* big = s.File("d/$ig.bin");
  ASSERT_TRUE(big);
  EXPECT_EQ(big->Condition, 100);  // the clusters are free; one sector just cannot be read
  TBytes want = Big;
  std::fill_n(want.begin() + 1000 * 512, 512, 0);
  for (size_t chunk : {size_t{4096}, size_t{65536}, size_t{1000}}) {
    auto stream = CreateRecoveryStream(big);
    std::string got;
    std::vector<char> buf(chunk);
    while (size_t n = stream->Read(buf.data(), buf.size())) got.append(buf.data(), n);
    EXPECT_TRUE(got == AsString(want)) << chunk;
    EXPECT_EQ(stream->Missing().Ranges(), (std::vector<TByteRange>{{1000 * 512, 512}})) << chunk;
  }
}

TEST_F(FatUnreadable, UnreadableFolderIsAWarningAndTheRestIsListed) {
  int64_t dirByte;
  {
    TScannedImage plain(Image());
    ASSERT_TRUE(plain.Folder("d"));
    dirByte = FatDirOf(plain.Folder("d"))->Entry.ClusChain.at(0);
  }
  TFaultyImage faulty(Image(), {{dirByte / 512, 1}});
  ASSERT_TRUE(faulty.Mounted()) << faulty.Error;
  TCliRun r = RunMirel({"scan", faulty.Path()});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_NE(r.Err.find("warning: 1 folder could not be read in full: d/"), std::string::npos) << r.Err;
  EXPECT_NE(r.Out.find("$id.bin"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("$ig.bin"), std::string::npos) << r.Out;
}

TEST_F(FatUnreadable, FreeSpaceTheLostFolderSearchCannotReadIsAWarning) {
  // Sectors near the volume's end: free, far past both files.
  TFaultyImage faulty(Image(), {{120000, 100}});
  ASSERT_TRUE(faulty.Mounted()) << faulty.Error;
  TCliRun r = RunMirel({"scan", faulty.Path()});
  EXPECT_EQ(r.Status, 0) << r.Err;  // a Quick scan does not search there
  r = RunMirel({"scan", faulty.Path(), "--all"});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_NE(r.Err.find("warning: 100 clusters of free space could not be read in the search for lost folders"),
            std::string::npos)
      << r.Err;
  EXPECT_NE(r.Out.find("$ig.bin"), std::string::npos) << r.Out;
}

TEST_F(FatUnreadable, ImageCutInsideTheDataIsSaidAndRatedBelowFull) {
  std::filesystem::resize_file(Image(), 1900000);
  TCliRun list = RunMirel({"list", Image().string()});
  EXPECT_EQ(list.Status, 0) << list.Err;
  EXPECT_NE(list.Err.find("image holds 1900000 of 67108864 bytes of the volume"), std::string::npos) << list.Err;

  TScannedImage s(Image());
  EXPECT_LE(s.Disk->FreeSize, s.Disk->TotalSize);
  TFileInfo* big = s.File("d/$ig.bin");
  TFileInfo* mid = s.File("$id.bin");
  ASSERT_TRUE(big && mid);
  EXPECT_LT(big->Condition, 100);
  EXPECT_EQ(mid->Condition, 0);  // it lies wholly past the cut
  auto stream = CreateRecoveryStream(big);
  std::string got = s.ReadAll(big);
  ASSERT_EQ(got.size(), BIG);
  const int64_t cut = 1900000 - FirstByte(big);
  EXPECT_TRUE(got.substr(0, static_cast<size_t>(cut)) == AsString(Big).substr(0, static_cast<size_t>(cut)));
  EXPECT_EQ(got.find_first_not_of('\0', static_cast<size_t>(cut)), std::string::npos);
  std::vector<char> all(BIG);
  while (stream->Read(all.data(), all.size()) > 0) {
  }
  EXPECT_EQ(stream->Missing().Ranges(), (std::vector<TByteRange>{{cut, static_cast<int64_t>(BIG) - cut}}));

  TCliRun scan = RunMirel({"scan", Image().string()});
  EXPECT_EQ(scan.Status, 3);
  EXPECT_NE(scan.Err.find("image holds 1900000 of 67108864 bytes"), std::string::npos) << scan.Err;
}

TEST_F(FatUnreadable, ImageCutBeforeTheRootFolderCannotBeScanned) {
  std::filesystem::resize_file(Image(), 100 * 1024);
  TCliRun r = RunMirel({"scan", Image().string()});
  EXPECT_EQ(r.Status, 2) << r.Err;
  EXPECT_NE(r.Err.find("cannot scan: the root folder (at byte"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("past the end of the source"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");
  TCliRun list = RunMirel({"list", Image().string()});
  EXPECT_NE(list.Out.find("FAT32"), std::string::npos);
  // No free space beyond what the image holds.
  EXPECT_TRUE(std::regex_search(list.Out, std::regex(" 102400 +0\n"))) << list.Out;
}

}  // namespace
