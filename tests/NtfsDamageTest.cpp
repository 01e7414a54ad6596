#include <gtest/gtest.h>

#include <random>

#include "Engine.h"
#include "NtfsTestImage.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "ntfs/NtfsTypes.h"

using namespace mirel;
using namespace mirel::test;

TEST(NtfsDamage, TornRecordCostsOnlyItself) {
  TCapturedLog log;
  TNtfsImageCopy img;
  const int64_t at = img.RecordOffset(78);  // deleted-root.bin
  TBytes rec = img.ReadAt(at, 1024);
  rec[510] ^= 0x55;
  img.WriteAt(at, rec);
  TScannedImage s(img.Path());
  EXPECT_FALSE(s.File("deleted-root.bin"));
  EXPECT_TRUE(s.File("Ünïcödé name.txt"));
  EXPECT_TRUE(s.File("packed/compressible.txt"));  // the next record
  EXPECT_EQ(s.Disk->Files.Count(), 15);
  EXPECT_EQ(log.Count("NtfsScaner.ScanForFiles: record fails its update-sequence check; Record = 78"), 1);
}

TEST(NtfsDamage, WalkSkipsAClusterPastWhatIsNoRecord) {
  TNtfsImageCopy img;
  img.WriteAt(img.RecordOffset(77), TBytes(1024, 0));
  TScannedImage s(img.Path());
  // Records 78 to 80 share the cluster that the walk steps over.
  EXPECT_FALSE(s.File("deleted-root.bin"));
  EXPECT_FALSE(s.File("packed/compressible.txt"));
  ASSERT_TRUE(s.File("packed/small.txt"));
  EXPECT_TRUE(s.File("docs/sub/inner.txt"));
  // Records after the skipped cluster keep their true numbers.
  auto number = [](TFileInfo* e) { return static_cast<TNtfsFileInfo*>(e->FsInfo.get())->RecordNumber; };
  TScannedImage clean(TNtfsImageCopy().Path());
  EXPECT_EQ(number(s.File("packed/small.txt")), number(clean.File("packed/small.txt")));
}

TEST(NtfsDamage, CyclicParentsAreCut) {
  TCapturedLog log;
  TNtfsImageCopy img;
  img.WriteRecord(50, TRecordBuilder(0x0002).StdInfo(0x10).FileName(51, "loopA").Build());
  img.WriteRecord(51, TRecordBuilder(0x0002).StdInfo(0x10).FileName(50, "loopB").Build());
  img.WriteRecord(52, TRecordBuilder().StdInfo(0x20).FileName(50, "inloop.txt").Build());
  img.WriteRecord(53, TRecordBuilder().StdInfo(0x20).FileName(51, "second.txt").Build());
  TScannedImage s(img.Path());
  TFileInfo* a = s.File("loopB/loopA/inloop.txt");
  ASSERT_TRUE(a);
  TFileInfo* b = s.File("loopB/second.txt");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Parent, a->Parent->Parent);
  EXPECT_EQ(b->Parent->Parent, nullptr);  // left at the top, not under its child
  EXPECT_EQ(log.Count("NtfsScaner.AddDirToTree: parent chain loops or is too deep"), 1);
}

TEST(NtfsDamage, MalformedAttributeListEndsItsWalk) {
  TCapturedLog log;
  TNtfsImageCopy img;
  TBytes list = AttrListEntry(0x10, 54, 0);
  TBytes bad = AttrListEntry(0x30, 54, 1);
  PutLe(bad, 4, 7, 2);  // shorter than any entry: the walk could not advance sanely
  list.insert(list.end(), bad.begin(), bad.end());
  img.WriteRecord(54, TRecordBuilder().StdInfo(0x20).FileName(5, "badlist.txt").Resident(0x20, "", list).Build());
  TScannedImage s(img.Path());
  EXPECT_EQ(s.Disk->Files.Count(), 16);  // found without a name: the walk stopped
  EXPECT_GE(log.Count("MftReader.FindExternalAttribute: attribute list entry out of bounds"), 1);
}

TEST(NtfsDamage, ScrambledRecordsNeverBreakTheScan) {
  TNtfsImageCopy img;
  const int64_t first = img.RecordOffset(64), last = img.RecordOffset(91);
  const TBytes original = img.ReadAt(first, static_cast<size_t>(last - first));
  std::mt19937 rng(99);
  for (int round = 0; round < 25; ++round) {
    TBytes mft = original;
    for (int i = 0; i < 300; ++i) mft[rng() % mft.size()] = static_cast<uint8_t>(rng());
    img.WriteAt(first, mft);
    TScannedImage s(img.Path(), round % 2 == 0);
    // A scrambled size may be huge and sparse: read a bounded prefix.
    std::vector<char> buf(1 << 20);
    for (TFileInfo* e : s.Disk->Files) {
      std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
      ASSERT_TRUE(st);
      for (int i = 0; i < 4 && st->Read(buf.data(), buf.size()) > 0; ++i) {
      }
    }
  }
}
