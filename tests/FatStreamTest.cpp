#include <gtest/gtest.h>

#include "FatImage.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "fat/FatScaner.h"
#include "fat/FatStream.h"

using namespace mirel;
using namespace mirel::test;

namespace {

constexpr uint32_t kCluster = 2048;

// Bytes that tell their cluster and their place in it.
std::vector<uint8_t> ClusterBytes(uint32_t cluster) {
  std::vector<uint8_t> b(kCluster);
  for (uint32_t i = 0; i < kCluster; ++i) b[i] = static_cast<uint8_t>(cluster * 7 + i / 3);
  return b;
}

std::vector<uint8_t> Expected(std::initializer_list<uint32_t> clusters, size_t size) {
  std::vector<uint8_t> out;
  for (uint32_t c : clusters) {
    auto b = ClusterBytes(c);
    out.insert(out.end(), b.begin(), b.end());
  }
  out.resize(size);
  return out;
}

class FatStream : public FatTest {
protected:
  void SetUp() override {
    FatTest::SetUp();
    Img = std::make_unique<TFatImage>(12, 100, 4);
    for (uint32_t c = 2; c < 60; ++c) Img->Fill(Img->ClusterPos(c), ClusterBytes(c));
  }
  // Scans in the Long mode and returns the file named name.
  TFileInfo* Find(const std::string& name) {
    if (!Disk) {
      Disk = Open(*Img);
      Disk->Scaner->Options.Quick = false;
      Disk->Scaner->ScanForFiles();
    }
    for (TFileInfo* e : Disk->Files)
      if (e->Name == name) return e;
    return nullptr;
  }
  static TRecoveryFatStream& Fat(TRecoveryStream& s) { return dynamic_cast<TRecoveryFatStream&>(s); }
  static std::vector<uint8_t> ReadAll(TRecoveryStream& s, size_t chunk = 64 * 1024) {
    std::vector<uint8_t> out, buf(chunk);
    for (size_t n; (n = s.Read(buf.data(), buf.size())) > 0;) out.insert(out.end(), buf.begin(), buf.begin() + n);
    return out;
  }
  std::unique_ptr<TFatImage> Img;
  std::unique_ptr<TDiskObject> Disk;
};

TEntry DeletedFile(const std::string& rest, uint32_t cluster, uint32_t size) {
  return ShortEntry("\xE5" + rest, 0x20, cluster, size);
}

}  // namespace

TEST_F(FatStream, DeletedFileReadsItsContiguousClusters) {
  Img->Put(Img->RootPos(), DeletedFile("ILE    BIN", 10, 5000));
  TFileInfo* e = Find("$ILE.BIN");
  ASSERT_NE(e, nullptr);
  auto s = CreateRecoveryStream(e);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetSize(), 5000);
  std::vector<uint8_t> buf(8192);
  EXPECT_EQ(s->Read(buf.data(), buf.size()), 5000u);
  buf.resize(5000);
  EXPECT_EQ(buf, Expected({10, 11, 12}, 5000));
  // Two whole clusters in one read, the part of the third through the cache.
  EXPECT_EQ(Fat(*s).VolumeReads(), 2u);
  EXPECT_EQ(s->Read(buf.data(), 10), 0u);
}

TEST_F(FatStream, SeekThenReadGivesTheBytesThere) {
  Img->Put(Img->RootPos(), DeletedFile("ILE    BIN", 10, 5000));
  auto s = CreateRecoveryStream(Find("$ILE.BIN"));
  EXPECT_EQ(s->Seek(4096, TSeekOrigin::Beginning), 4096);
  std::vector<uint8_t> buf(100);
  EXPECT_EQ(s->Read(buf.data(), buf.size()), 100u);
  auto third = ClusterBytes(12);
  EXPECT_EQ(buf, std::vector<uint8_t>(third.begin(), third.begin() + 100));
  EXPECT_EQ(s->Seek(5, TSeekOrigin::End), 4995);
  EXPECT_EQ(s->Read(buf.data(), buf.size()), 5u);
}

TEST_F(FatStream, SmallReadsInsideOneClusterReadTheVolumeOnce) {
  Img->Put(Img->RootPos(), DeletedFile("ILE    BIN", 10, 5000));
  auto s = CreateRecoveryStream(Find("$ILE.BIN"));
  std::vector<uint8_t> a(1000), b(1000);
  EXPECT_EQ(s->Read(a.data(), 0), 0u);
  EXPECT_EQ(Fat(*s).VolumeReads(), 0u);
  EXPECT_EQ(s->Read(a.data(), a.size()), 1000u);
  EXPECT_EQ(s->Read(b.data(), b.size()), 1000u);
  EXPECT_EQ(Fat(*s).VolumeReads(), 1u);
  auto first = ClusterBytes(10);
  EXPECT_EQ(b, std::vector<uint8_t>(first.begin() + 1000, first.begin() + 2000));
}

TEST_F(FatStream, FileWrittenAroundALiveFileComesBackWhole) {
  Img->SetFat(31, 0xFFF);
  Img->PutAll(Img->RootPos(),
              {DeletedFile("ROUND  BIN", 30, 3 * kCluster - 100), ShortEntry("LIVE    BIN", 0x20, 31, kCluster)});
  TFileInfo* e = Find("$ROUND.BIN");
  ASSERT_NE(e, nullptr);
  // Rated by what the stream delivers: three free clusters.
  EXPECT_EQ(e->Condition, 100);
  auto s = CreateRecoveryStream(e);
  EXPECT_EQ(ReadAll(*s), Expected({30, 32, 33}, 3 * kCluster - 100));
  EXPECT_TRUE(s->Missing().Empty());
  EXPECT_EQ(Fat(*s).VolumeReads(), 3u);  // cluster 30 alone, 32 (a run of one), the part of 33
}

TEST_F(FatStream, LiveFileFollowsTheTableAndStopsWhereItsChainDoes) {
  Img->Chain({40, 45, 41});
  Img->SetFat(50, 0);  // 50's chain ends at once: the table lost the rest
  Img->PutAll(Img->RootPos(),
              {ShortEntry("LIVE    BIN", 0x20, 40, 3 * kCluster), ShortEntry("BROKEN  BIN", 0x20, 50, 3 * kCluster)});
  auto live = CreateRecoveryStream(Find("LIVE.BIN"));
  EXPECT_EQ(ReadAll(*live, 1000), Expected({40, 45, 41}, 3 * kCluster));
  EXPECT_TRUE(live->Missing().Empty());
  // The rest of a broken chain is lost: zeros, named as missing.
  auto broken = CreateRecoveryStream(Find("BROKEN.BIN"));
  EXPECT_EQ(broken->GetSize(), 3 * kCluster);
  std::vector<uint8_t> want = Expected({50}, kCluster);
  want.resize(3 * kCluster, 0);
  EXPECT_EQ(ReadAll(*broken), want);
  EXPECT_EQ(broken->Missing().Ranges(), (std::vector<TByteRange>{{kCluster, 2 * kCluster}}));
}

TEST_F(FatStream, DeletedFileWhoseFirstClusterIsInUseAgainIsMissingWhole) {
  Img->SetFat(20, 0xFFF);
  Img->Put(Img->RootPos(), DeletedFile("ONE    BIN", 20, 2 * kCluster));
  TFileInfo* e = Find("$ONE.BIN");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Condition, 0);
  auto s = CreateRecoveryStream(e);
  EXPECT_EQ(ReadAll(*s), std::vector<uint8_t>(2 * kCluster, 0));
  EXPECT_EQ(s->Missing().Ranges(), (std::vector<TByteRange>{{0, 2 * kCluster}}));
}

TEST_F(FatStream, TwoStreamsOnOneEntryKeepTheirOwnChains) {
  Img->Put(Img->RootPos(), DeletedFile("ILE    BIN", 10, 5000));
  TFileInfo* e = Find("$ILE.BIN");
  auto a = CreateRecoveryStream(e);
  std::vector<uint8_t> firstHalf(2500);
  ASSERT_EQ(a->Read(firstHalf.data(), firstHalf.size()), 2500u);
  const TClusChain before = Fat(*a).Chain();
  // A cluster of the range is given to a live file after the first stream was
  // made: a second stream sees it, the first keeps reading by its own chain.
  Img->SetFat(11, 0xFFF);
  Img->Save(Tmp / "vol.img");
  auto b = CreateRecoveryStream(e);
  EXPECT_NE(Fat(*b).Chain(), before);
  EXPECT_EQ(Fat(*a).Chain(), before);
  std::vector<uint8_t> rest(8192);
  ASSERT_EQ(a->Read(rest.data(), rest.size()), 2500u);
  firstHalf.insert(firstHalf.end(), rest.begin(), rest.begin() + 2500);
  EXPECT_EQ(firstHalf, Expected({10, 11, 12}, 5000));
}

TEST_F(FatStream, EntryWithoutFileRecordGivesAnEmptyStream) {
  Img->Chain({5});
  Img->Put(Img->RootPos(), ShortEntry("DIR        ", 0x10, 5, 0));
  Img->Put(Img->ClusterPos(5), DeletedFile("N      TXT", 20, 10));
  ASSERT_NE(Find("$N.TXT"), nullptr);
  TFileInfo* folder = nullptr;
  for (TFileInfo* f : Disk->Folders)
    if (f->Name == "DIR") folder = f;
  ASSERT_NE(folder, nullptr);
  TRecoveryFatStream s(Disk.get(), folder);
  EXPECT_EQ(s.Entry, nullptr);
  EXPECT_EQ(s.GetSize(), 0);
  uint8_t buf[16];
  EXPECT_EQ(s.Read(buf, sizeof buf), 0u);
}

TEST_F(FatStream, VolumeCutInsideAFileGivesZerosThereAndNamesThem) {
  Img->Put(Img->RootPos(), DeletedFile("ILE    BIN", 58, 3 * kCluster));
  Img->Save(Tmp / "vol.img");
  // The volume ends inside the file's second cluster.
  std::filesystem::resize_file(Tmp / "vol.img", static_cast<uintmax_t>(Img->ClusterPos(59) + 100));
  Disk = Open(Tmp / "vol.img");
  Disk->Scaner->ScanForFiles();
  ASSERT_EQ(Disk->Files.Count(), 1);
  // Only the clusters the source holds whole count.
  EXPECT_EQ(Disk->Files[0]->Condition, 33);
  // What the volume still holds comes back, whatever the size of the reads;
  // the rest is zeros and said to be missing.
  auto expected = Expected({58, 59}, kCluster + 100);
  expected.resize(3 * kCluster, 0);
  for (size_t chunk : {size_t{1000}, size_t{64 * 1024}}) {
    auto s = CreateRecoveryStream(Disk->Files[0]);
    EXPECT_EQ(ReadAll(*s, chunk), expected) << chunk;
    EXPECT_EQ(s->Missing().Ranges(), (std::vector<TByteRange>{{kCluster + 100, 2 * kCluster - 100}})) << chunk;
  }
}
