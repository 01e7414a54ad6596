#include <gtest/gtest.h>

#include "NtfsTestImage.h"
#include "ntfs/MftReader.h"
#include "ntfs/NtfsScaner.h"
#include "ntfs/RunList.h"
#include "platform/RawSource.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// A reader with geometry but no volume, for records held in memory.
std::unique_ptr<TMftReader> BareReader(uint32_t recordSize = 1024, uint32_t bps = 512) {
  auto r = std::make_unique<TMftReader>(nullptr);
  r->RecordSize = recordSize;
  r->BytesPerSector = bps;
  r->ClusterSize = 4096;
  return r;
}

std::unique_ptr<TNtfsFileInfo> Parse(const TMftReader& r, const TBytes& rec, uint8_t flags = 0) {
  bool valid = false;
  return r.ReadFileInfo(flags, valid, rec);
}

TNtfsAttr AttrOf(const TBytes& bytes) {
  return TNtfsAttr(std::make_shared<const std::vector<uint8_t>>(bytes), 0, bytes.size());
}

// The first attribute of a record built with only that attribute.
TBytes NonResidentAttr(const TBytes& pairs, uint64_t startVcn = 0) {
  TBytes rec = TRecordBuilder().NonResident(0x80, "", pairs, 4096, 0, startVcn).Build(4096);
  size_t first = rec[20] | rec[21] << 8;
  size_t len = rec[first + 4] | rec[first + 5] << 8;
  return TBytes(rec.begin() + static_cast<long>(first), rec.begin() + static_cast<long>(first + len));
}

}  // namespace

TEST(MftReader, FixupsAreCheckedAndRestored) {
  auto r = BareReader();
  // A value that covers the end of the first sector, whose last word the
  // fixup array saves.
  TBytes value(600);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i);
  TBytes rec = TRecordBuilder().Resident(0x80, "", value).Build();
  TBytes fixed = rec;
  ASSERT_TRUE(r->FixupRecord(fixed));
  auto fi = Parse(*r, rec);
  ASSERT_TRUE(fi);
  std::span<const uint8_t> v = fi->AttrsOf(akData).at(0).Value();
  EXPECT_TRUE(std::equal(v.begin(), v.end(), value.begin(), value.end()));

  for (uint16_t count : {0, 1}) {  // 0: returned as read; 1: nothing to fix
    TBytes asRead = rec;
    PutLe(asRead, 6, count, 2);
    TBytes checked = asRead;
    EXPECT_TRUE(r->FixupRecord(checked));
    EXPECT_EQ(checked, asRead);
  }

  TBytes torn = rec;
  torn[1023] ^= 0xFF;  // a sector written by a different update
  EXPECT_FALSE(r->FixupRecord(torn));
  bool valid = true;
  EXPECT_FALSE(r->ReadFileInfo(0, valid, torn));
  EXPECT_FALSE(valid);

  TBytes tooMany = rec;
  PutLe(tooMany, 6, 9, 2);  // sectors past the record
  EXPECT_FALSE(r->FixupRecord(tooMany));
  TBytes arrayOutside = rec;
  PutLe(arrayOutside, 4, 1020, 2);  // the array itself would run past the end
  EXPECT_FALSE(r->FixupRecord(arrayOutside));
  TBytes notFile = rec;
  notFile[0] = 'B';
  EXPECT_FALSE(r->FixupRecord(notFile));
}

TEST(MftReader, DeletedOnlyFilterAndValidity) {
  auto r = BareReader();
  bool valid = false;
  TBytes live = TRecordBuilder(0x0001).StdInfo(0x20).Build();
  EXPECT_FALSE(r->ReadFileInfo(rfDeletedOnly, valid, live));
  EXPECT_TRUE(valid);
  EXPECT_TRUE(r->ReadFileInfo(0, valid, live));

  TBytes extension = TRecordBuilder(0, 77).StdInfo(0x20).Build();
  EXPECT_FALSE(r->ReadFileInfo(rfDeletedOnly, valid, extension));
  EXPECT_TRUE(valid);

  TBytes deletedDir = TRecordBuilder(0x0002).StdInfo(0x10).Build();
  auto fi = r->ReadFileInfo(rfDeletedOnly, valid, deletedDir);
  ASSERT_TRUE(fi);
  EXPECT_TRUE(fi->Deleted);
  EXPECT_TRUE(fi->IsDirectory);

  TBytes zeros(1024, 0);
  EXPECT_FALSE(r->ReadFileInfo(0, valid, zeros));
  EXPECT_FALSE(valid);
}

TEST(MftReader, AttributesThatLeaveTheRecordAreNotIndexed) {
  auto r = BareReader();
  TBytes rec = TRecordBuilder().StdInfo(0x20).FileName(5, "a.txt").Resident(0x80, "", TBytes(40, 1)).Build();
  auto whole = Parse(*r, rec);
  ASSERT_TRUE(whole);
  auto indexed = [](const TNtfsFileInfo& fi) {
    return fi.AttrsOf(akStdInfo).size() + fi.AttrsOf(akFileName).size() + fi.AttrsOf(akData).size();
  };
  EXPECT_EQ(indexed(*whole), 3u);
  // The file name's length now reaches past the record: it and what follows go.
  size_t first = rec[20] | rec[21] << 8;
  size_t second = first + (rec[first + 4] | rec[first + 5] << 8);
  TBytes bad = TRecordBuilder().StdInfo(0x20).FileName(5, "a.txt").Resident(0x80, "", TBytes(40, 1)).Build();
  PutLe(bad, second + 4, 0xFFF0, 2);
  auto cut = Parse(*r, bad);
  ASSERT_TRUE(cut);
  EXPECT_EQ(indexed(*cut), 1u);
  EXPECT_EQ(r->GetFileName(*cut), "");
}

TEST(RunList, AttributeGivesItsPairsAndStartingVcn) {
  auto r = BareReader();
  TBytes pairs = {0x21, 0x10, 0x00, 0x01, 0x01, 0x05, 0x11, 0x02, 0xFF, 0x00};
  EXPECT_EQ(DecodeRunList(AttrOf(NonResidentAttr(pairs))), (TRunList{{0, 256, 16}, {16, -1, 5}, {21, 255, 2}}));
  EXPECT_EQ(DecodeRunList(AttrOf(NonResidentAttr(pairs, 100))).value().front().Vcn, 100);
  // A resident attribute has no runs.
  TBytes resident = TRecordBuilder().Resident(0x80, "", TBytes(8, 1)).Build();
  auto fi = Parse(*r, resident);
  EXPECT_EQ(DecodeRunList(fi->AttrsOf(akData).at(0)), TRunList{});
}

TEST(RunList, ExtentsArePlacedByTheirVcns) {
  TStreamRuns s;
  ASSERT_TRUE(s.Place({{4, 900, 2}, {6, -1, 2}}));  // the third extent comes first
  ASSERT_TRUE(s.Place({{0, 100, 2}}));
  EXPECT_FALSE(s.Place({{7, 500, 3}}));  // would map VCN 7 twice
  EXPECT_FALSE(s.Place({{INT64_MAX - 1, 500, 3}}));
  EXPECT_EQ(s.Runs, (TRunList{{0, 100, 2}, {4, 900, 2}, {6, -1, 2}}));
  EXPECT_EQ(s.Find(1), 0);
  EXPECT_EQ(s.Find(2), -1);  // the lost second extent's range
  EXPECT_EQ(s.Find(7), 2);   // a run without clusters maps its VCNs too
  EXPECT_EQ(s.Find(8), -1);
  EXPECT_EQ(s.Find(-1), -1);
  EXPECT_EQ(s.NextMapped(2), 4);
  EXPECT_EQ(s.NextMapped(6), INT64_MAX);
  EXPECT_EQ(s.Gaps(10), (std::vector<TVcnRange>{{2, 4}, {8, 10}}));
  EXPECT_EQ(s.Gaps(3), (std::vector<TVcnRange>{{2, 3}}));

  // A damaged length that reaches into the next run maps only up to it.
  TStreamRuns d;
  ASSERT_TRUE(d.Place({{0, 10, 5}, {3, 20, 2}}));
  EXPECT_EQ(d.RunEnd(0), 3);
  EXPECT_EQ(d.Find(3), 1);
  EXPECT_EQ(d.Gaps(6), (std::vector<TVcnRange>{{5, 6}}));
}

TEST(MftReader, NamesAndStreams) {
  auto r = BareReader();
  auto dosOnly = Parse(*r, TRecordBuilder().StdInfo(0x20).FileName(77, "LONGNA~1.TXT", 2).Build());
  EXPECT_EQ(r->GetFileName(*dosOnly), "");
  EXPECT_EQ(dosOnly->ParentRecord(), 0);

  auto both = Parse(*r, TRecordBuilder()
                            .StdInfo(0x20)
                            .FileName(0x0003000000000040ULL, "LONGNA~1.TXT", 2)
                            .FileName(0x0003000000000040ULL, "long name.txt", 1)
                            .Build());
  EXPECT_EQ(r->GetFileName(*both), "long name.txt");
  EXPECT_EQ(both->ParentRecord(), 0x40);  // the sequence number is masked off

  auto streams = Parse(*r, TRecordBuilder()
                               .StdInfo(0x20)
                               .Resident(0x80, "", TBytes(10, 1))
                               .NonResident(0x80, "Extra", EncodeRuns({{2, 3000}}), 7000)
                               .NonResident(0x80, "extra", EncodeRuns({{2, 3010}}), 9999, 0, 2)
                               .Build());
  std::vector<TNamedStream> s = r->GetFileStreams(*streams);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].Name, "");
  EXPECT_EQ(s[0].Size, 10);
  EXPECT_EQ(s[1].Name, "Extra");
  EXPECT_EQ(s[1].Size, 7000);
  TStreamRuns extra = r->GetFileDataStreamsRunList(*streams, "EXTRA");
  EXPECT_EQ(extra.DataSize, 7000);
  EXPECT_EQ(extra.Runs, (TRunList{{0, 3000, 2}, {2, 3010, 2}}));
  EXPECT_EQ(extra.LostExtents, 0);
  EXPECT_FALSE(r->GetFileDataStreamsRunList(*streams, "missing").First);
  EXPECT_EQ(r->GetFileSize(*streams), 10);
}

TEST(MftReader, RecordOffsetFollowsTheMftRuns) {
  auto r = BareReader();
  r->MftLcn = 100;
  r->MftRunList = {{0, 100, 1}, {1, 500, 2}};  // 4 records, then 8
  EXPECT_EQ(r->GetRecordOffset(3), 100 * 4096 + 3 * 1024);
  EXPECT_EQ(r->GetRecordOffset(4), 500 * 4096);
  EXPECT_EQ(r->GetRecordOffset(11), 500 * 4096 + 7 * 1024);
  // Past the runs the MFT is taken as contiguous from its first cluster.
  EXPECT_EQ(r->GetRecordOffset(12), 100 * 4096 + 12 * 1024);
  EXPECT_EQ(r->GetRecordOffset(-1), -1);
  // Runs placed by VCN: a record in a hole between them has no place.
  r->MftRunList = {{0, 100, 1}, {3, 500, 2}};
  EXPECT_EQ(r->GetRecordOffset(3), 100 * 4096 + 3 * 1024);
  EXPECT_EQ(r->GetRecordOffset(4), -1);
  EXPECT_EQ(r->GetRecordOffset(11), -1);
  EXPECT_EQ(r->GetRecordOffset(12), 500 * 4096);
}

TEST(MftReader, GeometryAndMftOfTheFixtures) {
  for (auto [name, cluster] : {std::pair{"ntfs.img", 4096u}, {"ntfs-c512.img", 512u}}) {
    TRawSource h = TRawSource::Open(Fixture(name).string());
    TMftReader r(&h);
    EXPECT_EQ(r.ClusterSize, cluster) << name;
    EXPECT_EQ(r.RecordSize, 1024u) << name;
    EXPECT_FALSE(r.MftRunList.empty()) << name;
    EXPECT_GT(r.MftDataSize, 64 * 1024) << name;
    // Records 0-15 and the fixtures' live files and folders are in use; only
    // the bits of the MFT's own records count, not the bitmap's slack.
    const int64_t records = r.MftDataSize / 1024, free = r.CountFreeMftRecords().value_or(-1);
    EXPECT_GT(free, 0) << name;
    EXPECT_LE(free, records - 25) << name;
  }
}

TEST(MftReader, AttributeListAcrossExtensionRecords) {
  // A deleted file as freeing leaves it: every record's sequence number has
  // moved from 7 to 8, the list and the base references still give 7.
  TNtfsImageCopy img;
  const uint64_t seq = uint64_t{7} << 48;
  const TBytes one = Pattern(8192, 1), two = Pattern(8192, 2);
  img.WriteAt(int64_t{3000} * 4096, one);
  img.WriteAt(int64_t{3010} * 4096, two);
  TBytes list;
  for (const TBytes& e : {AttrListEntry(0x10, 40 | seq, 0), AttrListEntry(0x30, 40 | seq, 1),
                          AttrListEntry(0x80, 41 | seq, 5), AttrListEntry(0x80, 41 | seq, 5),  // named twice
                          AttrListEntry(0x80, 40 | seq, 9),                                    // not in that record
                          AttrListEntry(0x80, 42 | seq, 6, 2)})
    list.insert(list.end(), e.begin(), e.end());
  img.WriteRecord(
      40, TRecordBuilder().Sequence(8).StdInfo(0x20).FileName(5, "listed.bin").Resident(0x20, "", list).Build());
  img.WriteRecord(
      41, TRecordBuilder(0, 40 | seq).Sequence(8).NonResident(0x80, "", EncodeRuns({{2, 3000}}), 16384, 5).Build());
  img.WriteRecord(
      42, TRecordBuilder(0, 40 | seq).Sequence(8).NonResident(0x80, "", EncodeRuns({{2, 3010}}), 16384, 6, 2).Build());

  TRawSource h = TRawSource::Open(img.Path().string());
  TMftReader r(&h);
  bool valid = false;
  auto fi = r.ReadFileInfo(0, valid, r.GetRecordOffset(40));
  ASSERT_TRUE(fi);
  fi->RecordNumber = 40;
  EXPECT_EQ(r.GetFileName(*fi), "listed.bin");
  const TStreamRuns data = r.GetFileDataStreamsRunList(*fi, {});
  EXPECT_EQ(data.Runs, (TRunList{{0, 3000, 2}, {2, 3010, 2}}));
  EXPECT_EQ(data.LostExtents, 1);  // the entry whose attribute is not there
  EXPECT_EQ(r.GetFileSize(*fi), 16384);

  TScannedImage scan(img.Path());
  TFileInfo* e = scan.File("listed.bin");
  ASSERT_TRUE(e);
  TBytes both = one;
  both.insert(both.end(), two.begin(), two.end());
  EXPECT_EQ(scan.ReadAll(e), std::string(both.begin(), both.end()));
}
