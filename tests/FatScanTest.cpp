#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "FatImage.h"
#include "core/DiskScaner.h"
#include "core/UpdateView.h"
#include "engine/ScanJob.h"
#include "fat/FatScaner.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// A deleted short entry "$<rest>" for the 11 bytes E5 + rest.
TEntry Deleted(const std::string& rest10, uint8_t attr, uint32_t cluster, uint32_t size) {
  return ShortEntry("\xE5" + rest10, attr, cluster, size);
}

// An entry the checks reject without ending the directory.
TEntry Junk() { return ShortEntry("JUNK    BIN", 0x7F, 0, 0); }

std::vector<TEntry> DotEntries(uint32_t self, uint32_t parent) {
  return {ShortEntry(".          ", 0x10, self, 0), ShortEntry("..         ", 0x10, parent, 0)};
}

class FatScan : public FatTest {
protected:
  std::unique_ptr<TDiskObject> Scan(const TFatImage& img, bool quick = true, bool lostFolders = false) {
    auto disk = Open(img);
    disk->Scaner->Options = {.Quick = quick, .LostFolders = lostFolders};
    disk->Scaner->ScanForFiles();
    return disk;
  }
  static std::vector<std::string> FolderNames(const TDiskObject& disk) {
    std::vector<std::string> names;
    for (TFileInfo* f : disk.Folders)
      if (!IsVolumeRoot(*f)) names.push_back(GetRelativePath(*f));
    std::sort(names.begin(), names.end());
    return names;
  }
  using V = std::vector<std::string>;
};

}  // namespace

TEST_F(FatScan, DeletedShortEntryWithoutLongName) {
  TFatImage img(12, 100);
  img.Put(img.RootPos(), Deleted("ILE    TXT", 0x20, 5, 10));
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"$ILE.TXT 10 100"}));
  EXPECT_TRUE(disk->Files[0]->FsInfo->IsDeleted());
  EXPECT_EQ(disk->Files[0]->Attributes, 0x20u);
  ASSERT_EQ(disk->Folders.Count(), 1);  // the root
  EXPECT_EQ(disk->Folders[0]->Name, "vol.img: ()");
}

TEST_F(FatScan, EndMarkerEndsItsClusterOnlyAndTheFolderGoesOn) {
  TFatImage img(12, 100);
  img.Chain({5, 6});
  img.Put(img.RootPos(), ShortEntry("DIR        ", 0x10, 5, 0));
  int64_t p = img.PutAll(img.ClusterPos(5), DotEntries(5, 0));
  p = img.PutAll(p, {Deleted("A      TXT", 0x20, 20, 10), Deleted("B      TXT", 0x20, 21, 10)});
  img.Put(p + 32, Deleted("C      TXT", 0x20, 22, 10));  // after the end marker: not read
  img.Put(img.ClusterPos(6), Deleted("D      TXT", 0x20, 23, 10));
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"DIR/$A.TXT 10 100", "DIR/$B.TXT 10 100", "DIR/$D.TXT 10 100"}));
}

TEST_F(FatScan, LongNameRunGoesOnInTheFolderNextCluster) {
  TFatImage img(12, 100);
  img.Chain({5, 9});
  img.Put(img.RootPos(), ShortEntry("DIR        ", 0x10, 5, 0));
  TEntry original = ShortEntry("HOLIDA~1JPG", 0x20, 30, 1000);
  auto run = LongEntries(u"Holiday photo with a long name.jpg", original, true);
  ASSERT_EQ(run.size(), 3u);
  int64_t p = img.PutAll(img.ClusterPos(5), DotEntries(5, 0));
  while (p < img.ClusterPos(5) + 512 - 64) img.Put((p += 32) - 32, Junk());
  img.PutAll(p, {run[0], run[1]});  // the cluster's last two entries
  img.PutAll(img.ClusterPos(9), {run[2], Deleted("OLIDA~1JPG", 0x20, 30, 1000)});
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"DIR/Holiday photo with a long name.jpg 1000 100"}));
}

TEST_F(FatScan, LongNameRunGoesOnInTheNextRootWindow) {
  TFatImage img(16, 5000, 1, 64);  // four 512-byte root windows
  TEntry original = ShortEntry("REPORT~1DOC", 0x20, 30, 700);
  auto run = LongEntries(u"Report 2024 final.docx", original, true);
  ASSERT_EQ(run.size(), 2u);
  int64_t p = img.RootPos();
  for (int i = 0; i < 15; ++i, p += 32) img.Put(p, Junk());
  img.Put(p, run[0]);
  img.PutAll(p + 32, {run[1], Deleted("EPORT~1DOC", 0x20, 30, 700)});
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"Report 2024 final.docx 700 100"}));
}

TEST_F(FatScan, FixedRootIsReadInClusterSizedWindowsAndNotBeyondItsRegion) {
  TFatImage big(12, 100, 4, 512);  // 16 KiB of root entries, 2048-byte clusters
  for (int i = 0; i < 511; ++i) big.Put(big.RootPos() + int64_t{32} * i, Junk());
  big.Put(big.RootPos() + int64_t{511} * 32, Deleted("AST    TXT", 0x20, 5, 10));
  auto disk = Scan(big);
  EXPECT_EQ(Listing(*disk), (V{"$AST.TXT 10 100"}));
  ASSERT_EQ(disk->Folders.Count(), 1);
  EXPECT_EQ(FatDirOf(disk->Folders[0])->Entry.ClusChain.size(), 8u);

  TFatImage small(12, 100, 4, 16);  // one 512-byte region, smaller than a cluster
  for (int i = 0; i < 16; ++i) small.Put(small.RootPos() + int64_t{32} * i, Junk());
  // Right after the region lies cluster 2: its bytes are no root entries.
  small.Put(small.RootPos() + 512, Deleted("UTSIDE TXT", 0x20, 5, 10));
  disk = Scan(small);
  EXPECT_TRUE(Listing(*disk).empty());
}

TEST_F(FatScan, FilesInsideDeletedFoldersAreFound) {
  TFatImage img(12, 100);
  img.Put(img.RootPos(), Deleted("OCS       ", 0x10, 5, 0));
  int64_t p = img.PutAll(img.ClusterPos(5), DotEntries(5, 0));
  img.PutAll(
      p, {Deleted("OTES   TXT", 0x20, 20, 300), Deleted("UB        ", 0x10, 6, 0), Deleted("MPTYDIR   ", 0x10, 7, 0)});
  p = img.PutAll(img.ClusterPos(6), DotEntries(6, 5));
  img.Put(p, Deleted("NNER   TXT", 0x20, 21, 2500));
  img.PutAll(img.ClusterPos(7), DotEntries(7, 5));  // a deleted folder with nothing in it
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"$OCS/$OTES.TXT 300 100", "$OCS/$UB/$NNER.TXT 2500 100"}));
  // Only folders with files beneath them are catalogued.
  EXPECT_EQ(FolderNames(*disk), (V{"$OCS", "$OCS/$UB"}));
  EXPECT_EQ(disk->Folders.Count(), 3);
  // Folder sizes are the sums of the files beneath them.
  for (TFileInfo* f : disk->Folders) {
    if (f->Name == "$OCS") {
      EXPECT_EQ(f->Size, 2800);
    }
  }
}

TEST_F(FatScan, DeletedFolderWhoseClusterIsInUseAgainIsNotRead) {
  TFatImage img(12, 100);
  img.Put(img.RootPos(), Deleted("LD        ", 0x10, 5, 0));
  img.Put(img.RootPos() + 32, ShortEntry("NEW     BIN", 0x20, 5, 512));
  img.SetFat(5, 0xFFF);
  // The live file's bytes happen to look like a deleted entry.
  img.Put(img.ClusterPos(5), Deleted("HOST   TXT", 0x20, 20, 10));
  auto disk = Scan(img);
  EXPECT_TRUE(Listing(*disk).empty());
  disk->Scaner->Options.Quick = false;
  disk->Scaner->ScanForFiles();
  EXPECT_EQ(Listing(*disk), (V{"NEW.BIN 512 100"}));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(FatScan, DeletedFolderHoldingItsAncestorsClusterIsNotReadTwice) {
  TFatImage img(12, 100);
  img.Put(img.RootPos(), Deleted("A         ", 0x10, 5, 0));
  int64_t p = img.PutAll(img.ClusterPos(5), DotEntries(5, 0));
  // B says its directory is A's cluster: reading it would find B again, and so on.
  img.PutAll(p, {Deleted("B         ", 0x10, 5, 0), Deleted("F      TXT", 0x20, 20, 10)});
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"$A/$F.TXT 10 100"}));
  auto log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("FatScaner.ReadDir: directory cluster already read in this scan, not read again; Folder = $B"),
            std::string::npos)
      << log[0];
}

TEST_F(FatScan, LiveFolderPointingAtTheRootEndsWithOneLogLine) {
  TFatImage img(32, 66000);
  img.Chain({5});
  int64_t p = img.PutAll(img.RootPos(), {ShortEntry("LOOP       ", 0x10, 2, 0), ShortEntry("SUB        ", 0x10, 5, 0)});
  img.Put(p, Deleted("OOT    TXT", 0x20, 30, 10));
  img.PutAll(img.ClusterPos(5), {Deleted("UB     TXT", 0x20, 31, 10)});
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"$OOT.TXT 10 100", "SUB/$UB.TXT 10 100"}));
  auto log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("already read in this scan, not read again; Folder = LOOP"), std::string::npos) << log[0];
}

TEST_F(FatScan, SelfReferencingDirectoryChainEnds) {
  TFatImage img(16, 5000);
  img.SetFat(5, 5);
  img.Put(img.RootPos(), ShortEntry("SELF       ", 0x10, 5, 0));
  img.Put(img.ClusterPos(5), Deleted("N      TXT", 0x20, 30, 10));
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"SELF/$N.TXT 10 100"}));
  auto log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("FatScaner.GetDirClusChain: cluster chain loops back; First = 5"), std::string::npos) << log[0];
}

TEST_F(FatScan, DirectoryClusterFullOfGarbageEndsTheScan) {
  for (int bits : {12, 16, 32}) {
    TFatImage img(bits, bits == 12 ? 300 : bits == 16 ? 5000 : 66000);
    const int64_t root = img.RootPos();
    img.PutAll(root, {Deleted("ARBAGE    ", 0x10, 5, 0), ShortEntry("LIVE    DIR", 0x10, 6, 0),
                      Deleted("EAL    TXT", 0x20, 100, 10)});
    img.SetFat(6, bits == 12 ? 0xFFF : bits == 16 ? 0xFFFF : 0x0FFFFFFF);
    // Entries of random bytes, most of which pass the checks: printable
    // names, low attributes, clusters inside the garbage, so that folders
    // lead to more garbage folders.
    std::mt19937 rng(static_cast<unsigned>(bits));
    for (uint32_t c = 5; c < 200; ++c) {
      std::vector<uint8_t> noise(512);
      for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>(rng());
        if (i % 32 < 11) noise[i] = static_cast<uint8_t>('A' + rng() % 26);
      }
      for (size_t e = 0; e < noise.size(); e += 32) {
        noise[e] = (e / 32) % 2 ? 0xE5 : noise[e];
        noise[e + 11] = static_cast<uint8_t>(rng() % 0x40);
        const uint32_t target = 5 + rng() % 195;
        noise[e + 20] = noise[e + 21] = 0;
        noise[e + 26] = target & 0xFF;
        noise[e + 27] = static_cast<uint8_t>(target >> 8);
      }
      img.Fill(img.ClusterPos(c), noise);
    }
    auto disk = Scan(img, false);
    bool real = false;
    for (TFileInfo* f : disk->Files) real |= f->Name == "$EAL.TXT";
    EXPECT_TRUE(real) << bits;
    EXPECT_GT(disk->Files.Count(), 100) << bits;  // the garbage was read
    EXPECT_GT(disk->Folders.Count(), 10) << bits;
  }
}

TEST_F(FatScan, TruncatedVolumeEndsWithALogLinePerUnreadableWindow) {
  TFatImage img(16, 5000);
  img.PutAll(img.RootPos(), {ShortEntry("FAR        ", 0x10, 4900, 0), Deleted("EAR    TXT", 0x20, 30, 10)});
  img.SetFat(4900, 0xFFFF);
  img.Put(img.ClusterPos(4900), Deleted("ONE    TXT", 0x20, 31, 10));
  img.Save(Tmp / "vol.img");
  std::filesystem::resize_file(Tmp / "vol.img", static_cast<uintmax_t>(img.ClusterPos(1000)));
  auto disk = Open(Tmp / "vol.img");
  disk->Scaner->ScanForFiles();
  EXPECT_EQ(Listing(*disk), (V{"$EAR.TXT 10 100"}));
  auto log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("FatScaner.ReadFileInfo: unable to read directory window"), std::string::npos) << log[0];
}

TEST_F(FatScan, VolumeLabelEntryIsTreatedAsAFile) {
  TFatImage img(12, 100);
  img.PutAll(img.RootPos(), {ShortEntry("MYLABEL    ", 0x08, 0, 0), Deleted("LDLABEL   ", 0x08, 0, 0)});
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"$LDLABEL 0 0"}));
  disk = Scan(img, false);
  EXPECT_EQ(Listing(*disk), (V{"$LDLABEL 0 0", "MYLABEL 0 100"}));
}

TEST_F(FatScan, QuickModeWalksLiveFoldersButCataloguesDeletedFilesOnly) {
  TFatImage img(12, 100);
  img.Chain({5});
  img.Chain({6, 7});
  img.PutAll(img.RootPos(), {ShortEntry("KEEP       ", 0x10, 5, 0), ShortEntry("LIVE    TXT", 0x20, 6, 700)});
  int64_t p = img.PutAll(img.ClusterPos(5), DotEntries(5, 0));
  img.Put(p, Deleted("ONE    TXT", 0x20, 30, 10));
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"KEEP/$ONE.TXT 10 100"}));
  EXPECT_FALSE(FatDirOf(disk->Folders[1])->IsDeleted());
  disk = Scan(img, false);
  EXPECT_EQ(Listing(*disk), (V{"KEEP/$ONE.TXT 10 100", "LIVE.TXT 700 100"}));
}

TEST_F(FatScan, ConditionIsWhatTheStreamWillDeliver) {
  TFatImage img(12, 100);
  img.SetFat(11, 0xFFF);  // passed over by the file at 10
  img.SetFat(20, 0xFFF);  // the first cluster of the file at 20 is taken again
  img.SetFat(100, 0xFFF);
  img.PutAll(img.RootPos(), {Deleted("HREE   BIN", 0x20, 10, 3 * 512), Deleted("ERO    BIN", 0x20, 0, 0),
                             Deleted("AKEN   BIN", 0x20, 20, 3 * 512), Deleted("DGE    BIN", 0x20, 99, 4 * 512)});
  auto disk = Scan(img);
  // The file at 99 finds only 99 and 101 free before the volume ends.
  EXPECT_EQ(Listing(*disk), (V{"$AKEN.BIN 1536 0", "$DGE.BIN 2048 50", "$ERO.BIN 0 0", "$HREE.BIN 1536 100"}));
}

TEST_F(FatScan, EntriesThatFailTheChecksAreSkipped) {
  TFatImage img(12, 100);
  img.PutAll(img.RootPos(), {
                                Deleted("AD*NAMETXT", 0x20, 5, 10),    // invalid character
                                Deleted("IZE    TXT", 0x20, 0, 10),    // data but no cluster
                                Deleted("AR     TXT", 0x20, 500, 10),  // cluster beyond the volume
                                Deleted("TTR    TXT", 0x40, 5, 10),    // attribute above 0x3F
                                Deleted("OOD    TXT", 0x20, 5, 10),
                            });
  auto disk = Scan(img);
  EXPECT_EQ(Listing(*disk), (V{"$OOD.TXT 10 100"}));
}

namespace {

struct TStopAfterFirstFile : TJobEvents {
  std::stop_source Stop;
  int Files = 0, Done = 0;
  std::vector<int64_t> Progress;
  void FileFound(TDiskObject*, TFileInfo*) override {
    if (++Files == 1) Stop.request_stop();
  }
  void ScanProgress(TDiskObject*, int64_t done, int64_t total) override {
    Progress.push_back(ProgressPercent(done, total));
  }
  void ScanDone(TDiskObject*) override { ++Done; }
};

}  // namespace

TEST_F(FatScan, StopKeepsWhatWasFound) {
  TFatImage img(12, 100);
  int64_t p = img.RootPos();
  for (int i = 0; i < 5; ++i, p += 32) img.Put(p, ShortEntry("DIR" + std::to_string(i) + "       ", 0x10, 5 + i, 0));
  for (int i = 0; i < 5; ++i) img.Put(img.ClusterPos(5 + i), Deleted("ILE    TXT", 0x20, 30 + i, 10));
  for (int i = 0; i < 5; ++i) img.SetFat(5 + i, 0xFFF);
  auto disk = Open(img);
  TStopAfterFirstFile target;
  EXPECT_EQ(TScanJob(*disk, {}, target).Run(target.Stop.get_token()).End, TJobEnd::Cancelled);
  EXPECT_EQ(disk->Files.Count(), 1);
  EXPECT_EQ(target.Done, 1);
  // Six folders found, the first two taken in hand.
  EXPECT_EQ(target.Progress, (std::vector<int64_t>{16, 33}));
  // A new scan runs to the end.
  EXPECT_EQ(TScanJob(*disk, {}, target).Run({}).End, TJobEnd::Completed);
  EXPECT_EQ(disk->Files.Count(), 5);
}

TEST_F(FatScan, WhatLiesInADeletedFolderIsDeletedWhateverItsFirstByteSays) {
  // Deleting a folder may mark only its own entry: those inside keep theirs.
  TFatImage img(12, 100);
  img.Chain({9});
  img.SetFat(22, 0xFFF);
  img.PutAll(img.RootPos(), {Deleted("OCS       ", 0x10, 5, 0), ShortEntry("LIVE    TXT", 0x20, 9, 10)});
  int64_t p = img.PutAll(img.ClusterPos(5), DotEntries(5, 0));
  const TEntry notes = ShortEntry("MEETIN~1TXT", 0x20, 20, 300);
  p = img.PutAll(p, LongEntries(u"Meeting notes.txt", notes));
  img.PutAll(p, {notes, ShortEntry("SUB        ", 0x10, 6, 0), ShortEntry("TAKEN   BIN", 0x20, 22, 100)});
  p = img.PutAll(img.ClusterPos(6), DotEntries(6, 5));
  img.Put(p, ShortEntry("INNER   TXT", 0x20, 21, 700));
  auto disk = Scan(img);
  // Rated like any deleted file: the one whose cluster is in use again has nothing.
  EXPECT_EQ(Listing(*disk),
            (V{"$OCS/Meeting notes.txt 300 100", "$OCS/SUB/INNER.TXT 700 100", "$OCS/TAKEN.BIN 100 0"}));
  for (TFileInfo* f : disk->Files) EXPECT_TRUE(f->FsInfo->IsDeleted()) << f->Name;
  for (TFileInfo* f : disk->Folders) {
    if (!IsVolumeRoot(*f)) {
      EXPECT_TRUE(f->FsInfo->IsDeleted()) << f->Name;
    }
  }
  disk = Scan(img, false);
  EXPECT_EQ(Listing(*disk).size(), 4u);  // and the live file
}

namespace {

// n short entries "<prefix>NN.TXT" of one cluster each, from cluster `first` on.
std::vector<TEntry> Files(const std::string& prefix, int from, int n, uint32_t first) {
  std::vector<TEntry> out;
  for (int i = 0; i < n; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "%s%02d     TXT", prefix.c_str(), from + i);
    out.push_back(ShortEntry(std::string(name, 11), 0x20, first + i, 512));
  }
  return out;
}

}  // namespace

TEST_F(FatScan, DeletedFolderIsReadOnPastItsFilesDataToItsNextClusters) {
  // As a folder grows while files are written into it: its first cluster, the
  // data of the files listed there, a cluster taken since, its next cluster.
  TFatImage img(12, 200);
  img.Put(img.RootPos(), Deleted("IG        ", 0x10, 5, 0));
  int64_t p = img.PutAll(img.ClusterPos(5), DotEntries(5, 0));
  img.PutAll(p, Files("A", 1, 14, 6));  // the cluster is full: data in 6 to 19
  img.SetFat(20, 0xFFF);
  p = img.PutAll(img.ClusterPos(21), Files("A", 15, 16, 22));  // full again: data in 22 to 37
  img.PutAll(img.ClusterPos(38), Files("A", 31, 2, 39));       // then the end marker
  img.PutAll(img.ClusterPos(41), Files("Z", 1, 3, 60));        // free, after the end: no part of it
  auto disk = Scan(img);
  ASSERT_EQ(disk->Files.Count(), 32);
  for (TFileInfo* f : disk->Files) EXPECT_EQ(f->Name[0], 'A') << f->Name;
  EXPECT_EQ(FatDirOf(disk->Folders[1])->Entry.ClusChain.size(), 3u);

  // A next cluster whose slots fail the checks ends the folder.
  TFatImage noise(12, 200);
  noise.Put(noise.RootPos(), Deleted("IG        ", 0x10, 5, 0));
  p = noise.PutAll(noise.ClusterPos(5), DotEntries(5, 0));
  noise.PutAll(p, Files("A", 1, 14, 6));
  std::mt19937 rng(7);
  std::vector<uint8_t> bytes(512);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  noise.Fill(noise.ClusterPos(20), bytes);
  noise.PutAll(noise.ClusterPos(21), Files("Z", 1, 3, 60));
  disk = Scan(noise);
  EXPECT_EQ(disk->Files.Count(), 14);
  EXPECT_TRUE(LogLines().empty());

  // So does text whose 32-byte lines pass those checks (names, attribute, a
  // cluster and a size the volume can hold: 64 KiB clusters) but hold no
  // dates a file system writes.
  TFatImage text(16, 10000, 128);
  text.Put(text.RootPos(), Deleted("IG        ", 0x10, 5, 0));
  p = text.PutAll(text.ClusterPos(5), DotEntries(5, 0));
  p = text.PutAll(p, Files("A", 1, 14, 6));
  while (p < text.ClusterPos(6)) text.Put((p += 32) - 32, Junk());
  const std::string line = "NOTES   TXT written on Mon  ab.\n";
  ASSERT_EQ(line.size(), 32u);
  std::vector<uint8_t> lines;
  for (uint32_t i = 0; i < text.ClusterBytes() / 32; ++i) lines.insert(lines.end(), line.begin(), line.end());
  text.Fill(text.ClusterPos(20), lines);
  disk = Scan(text);
  EXPECT_EQ(disk->Files.Count(), 14);
}

TEST_F(FatScan, LostFoldersAreFoundInFreeSpaceByLongScansThatAskForThem) {
  TFatImage img(16, 5000);
  img.Put(img.RootPos(), ShortEntry("KEPT    TXT", 0x20, 0, 0));
  // A folder and its subfolder that no entry leads to any more.
  int64_t p = img.PutAll(img.ClusterPos(40), DotEntries(40, 0));
  img.PutAll(p, {ShortEntry("A       TXT", 0x20, 50, 100), ShortEntry("SUB        ", 0x10, 41, 0)});
  p = img.PutAll(img.ClusterPos(41), DotEntries(41, 40));
  img.Put(p, ShortEntry("B       TXT", 0x20, 51, 200));
  // A later cluster of some folder: entries without "." and "..", the first
  // of them the end of a long name that began in another cluster.
  const TEntry quarterly = ShortEntry("QUARTE~1TXT", 0x20, 74, 10);
  p = img.PutAll(img.ClusterPos(60), {LongEntries(u"Quarterly report.txt", quarterly)[1], quarterly});
  img.PutAll(p, Files("C", 1, 4, 70));
  // Three good entries in a row are no folder; nor is a "." pair that names
  // another cluster than its own.
  img.PutAll(img.ClusterPos(62), Files("D", 1, 3, 80));
  img.PutAll(img.ClusterPos(64), DotEntries(99, 0));
  img.Put(img.ClusterPos(64) + 64, ShortEntry("E       TXT", 0x20, 90, 10));
  // A folder still in use is no lost one.
  img.Chain({66});
  img.PutAll(img.ClusterPos(66), DotEntries(66, 0));
  img.Put(img.ClusterPos(66) + 64, ShortEntry("F       TXT", 0x20, 91, 10));

  auto disk = Scan(img);
  EXPECT_TRUE(Listing(*disk).empty());  // never in a Quick scan
  disk = Scan(img, false, true);
  EXPECT_EQ(Listing(*disk),
            (V{"$lost_folder_40/A.TXT 100 100", "$lost_folder_40/SUB/B.TXT 200 100", "$lost_folder_60/C01.TXT 512 100",
               "$lost_folder_60/C02.TXT 512 100", "$lost_folder_60/C03.TXT 512 100", "$lost_folder_60/C04.TXT 512 100",
               "$lost_folder_60/QUARTE~1.TXT 10 100", "KEPT.TXT 0 100"}));
  for (TFileInfo* f : disk->Files) {
    if (f->Name != "KEPT.TXT") {
      EXPECT_TRUE(f->FsInfo->IsDeleted()) << f->Name;
    }
  }
  disk = Scan(img, false);
  EXPECT_EQ(Listing(*disk), (V{"KEPT.TXT 0 100"}));
}
