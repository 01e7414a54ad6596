// What an NTFS volume cannot give is named, never handed out as the file's
// bytes: a source cut short, sectors that fail, extents whose records now
// belong to another file or whose run lists are damaged, and metadata
// without which nothing can be listed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "Engine.h"
#include "FaultyImage.h"
#include "NtfsTestImage.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "ntfs/MftReader.h"
#include "ntfs/NtfsTypes.h"
#include "platform/RawSource.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// Free clusters of ntfs.img where hand-built records keep their data.
constexpr int64_t FREE_LCN = 3000;

std::string Str(const TBytes& b) { return std::string(b.begin(), b.end()); }

struct TStreamRead {
  std::string Data;
  TByteRanges Missing;
};

TStreamRead ReadStream(TFileInfo* entry) {
  std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(entry);
  TStreamRead out;
  std::string buf(65536, '\0');
  while (size_t n = st->Read(buf.data(), buf.size())) out.Data.append(buf.data(), n);
  out.Missing = st->Missing();
  return out;
}

// Every byte named missing is zero and every other byte is the original's.
void ExpectTrueToOriginal(const TStreamRead& got, const std::string& original, const std::string& what) {
  ASSERT_EQ(got.Data.size(), original.size()) << what;
  for (size_t i = 0; i < original.size(); ++i) {
    const bool lost = got.Missing.Intersects(static_cast<int64_t>(i), 1);
    if (got.Data[i] != (lost ? '\0' : original[i])) {
      ADD_FAILURE() << what << ": byte " << i << (lost ? " is named missing but not zero" : " differs");
      return;
    }
  }
}

TNtfsFileInfo& Ntfs(TFileInfo* e) { return *static_cast<TNtfsFileInfo*>(e->FsInfo.get()); }

TBytes ListOf(const std::vector<TBytes>& entries) {
  TBytes list;
  for (const TBytes& e : entries) list.insert(list.end(), e.begin(), e.end());
  return list;
}

}  // namespace

TEST(NtfsLostData, ImageCutShort) {
  TTempDir tmp;
  const int64_t cut = 5 << 20;
  std::string head = ReadWholeFile(Fixture("ntfs.img")).substr(0, cut);
  WriteFile(tmp / "cut.img", TBytes(head.begin(), head.end()));
  TScannedImage s(tmp / "cut.img", false);
  TScannedImage whole(Fixture("ntfs.img"), false);
  EXPECT_TRUE(s.Disk->IsCutShort());
  EXPECT_GT(s.Disk->VolumeBytes, 16 * int64_t{1 << 20} - 4096);
  EXPECT_GT(s.Disk->FreeSize, 0);
  EXPECT_LE(s.Disk->FreeSize, cut);
  EXPECT_EQ(s.Disk->Scaner->ScanFailure, "");
  EXPECT_EQ(s.Disk->Scaner->ScanWarnings, std::vector<std::string>{});

  TRawSource h = TRawSource::Open(Fixture("ntfs.img").string());
  TMftReader reader(&h);
  const int64_t cs = reader.ClusterSize, cutCluster = cut / cs;
  int past = 0, before = 0;
  for (TFileInfo* e : s.Disk->Files) {
    const std::string path = GetRelativePath(*e);
    TFileInfo* original = whole.File(path);
    ASSERT_TRUE(original) << path;
    const TStreamRuns runs = reader.GetFileDataStreamsRunList(Ntfs(original), {});
    bool beyond = false;
    for (size_t i = 0; i < runs.Runs.size(); ++i)
      beyond = beyond || (runs.Runs[i].Lcn >= 0 && runs.Runs[i].Vcn * cs < e->Size &&
                          runs.Runs[i].Lcn + (runs.RunEnd(i) - runs.Runs[i].Vcn) > cutCluster);
    const TStreamRead got = ReadStream(e);
    ExpectTrueToOriginal(got, whole.ReadAll(original), path);
    EXPECT_EQ(!got.Missing.Empty(), beyond) << path;
    if (beyond) {
      EXPECT_LT(e->Condition, 100) << path;
      ++past;
    } else {
      EXPECT_EQ(e->Condition, original->Condition) << path;
      ++before;
    }
  }
  EXPECT_GE(past, 10);
  EXPECT_GE(before, 5);

  // A plain file in pieces on both sides of the cut: exactly its clusters
  // past the cut are missing.
  TFileInfo* frag = s.File("frag-a.bin");
  ASSERT_TRUE(frag);
  TByteRanges want;
  for (const TNtfsRun& r : reader.GetFileDataStreamsRunList(Ntfs(whole.File("frag-a.bin")), {}).Runs)
    for (int64_t c = 0; c < r.Length; ++c)
      if (r.Lcn + c >= cutCluster) want.Add((r.Vcn + c) * cs, cs);
  EXPECT_FALSE(want.Empty());
  EXPECT_EQ(ReadStream(frag).Missing, want);
}

TEST(NtfsLostData, MftCutShortIsWarnedAbout) {
  TNtfsImageCopy img;
  TRawSource h = TRawSource::Open(img.Path().string());
  TMftReader reader(&h);
  // The image ends inside record 80; what lies before it is still found.
  TTempDir tmp;
  const TBytes head = img.ReadAt(0, static_cast<size_t>(img.RecordOffset(80) + 512));
  WriteFile(tmp / "cut.img", head);
  TScannedImage s(tmp / "cut.img");
  int found = 0;
  for (TFileInfo* e : s.Disk->Files) {
    EXPECT_LT(Ntfs(e).RecordNumber, 80) << e->Name;
    ++found;
  }
  EXPECT_GE(found, 7);
  EXPECT_EQ(s.Disk->Scaner->ScanFailure, "");
  const int64_t records = (reader.MftDataSize + 4095) / 4096 * 4;
  EXPECT_EQ(s.Disk->Scaner->ScanWarnings,
            (std::vector<std::string>{"MFT records 80.." + std::to_string(records - 1) +
                                          " could not be read: the source ends before the MFT does",
                                      "part of the cluster bitmap ($Bitmap) could not be read: files with clusters "
                                      "there are rated as overwritten"}));
}

TEST(NtfsLostData, FailingSectorsCostThemselvesOnly) {
  TNtfsImageCopy img;
  const TBytes big = Pattern(1 << 20, 7);
  img.WriteAt(FREE_LCN * 4096, big);
  img.WriteRecord(40, TRecordBuilder()
                          .StdInfo(faArchive)
                          .FileName(5, "big.bin")
                          .NonResident(0x80, "", EncodeRuns({{256, FREE_LCN}}), 1 << 20)
                          .Build());
  TScannedImage clean(img.Path());
  TFileInfo* packedClean = clean.File("packed/compressible.txt");
  ASSERT_TRUE(packedClean);
  TRawSource h = TRawSource::Open(img.Path().string());
  TMftReader reader(&h);
  const TRunList packedRuns = reader.GetFileDataStreamsRunList(Ntfs(packedClean), {}).Runs;
  ASSERT_GE(packedRuns.size(), 2u);

  // A sector in the middle of big.bin, the last stored one of the second
  // compression unit of compressible.txt (past the end of its compressed
  // data), and one in the MFT record of deleted-root.bin.
  const int64_t bigSector = (FREE_LCN * 4096 + 614400) / 512;
  ASSERT_EQ(packedRuns[2].Vcn, 16);
  const int64_t unitSector = (reader.ClusterOffset(packedRuns[2].Lcn) + int64_t{packedRuns[2].Length} * 4096) / 512 - 1;
  const int64_t recordSector = img.RecordOffset(78) / 512;
  TFaultyImage faulty(img.Path(), {{bigSector, 1}, {unitSector, 1}, {recordSector, 1}});
  ASSERT_TRUE(faulty.Mounted()) << faulty.Error;
  TScannedImage s(faulty.Path());

  TFileInfo* e = s.File("big.bin");
  ASSERT_TRUE(e);
  const TStreamRead got = ReadStream(e);
  EXPECT_EQ(got.Missing.Ranges(), (std::vector<TByteRange>{{614400, 512}}));
  ExpectTrueToOriginal(got, Str(big), "big.bin");

  // The way the writer reads: kernel copies where the bytes lie as they are,
  // reads where the copy stops.
  std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
  TTempDir tmp;
  const int fd = ::open((tmp / "out").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  std::string buf(65536, '\0');
  for (;;) {
    if (st->CopyTo(fd, buf.size()) > 0) continue;
    const size_t n = st->Read(buf.data(), buf.size());
    if (n == 0) break;
    ASSERT_EQ(::write(fd, buf.data(), n), static_cast<ssize_t>(n));
  }
  ::close(fd);
  EXPECT_TRUE(ReadWholeFile(tmp / "out") == got.Data);
  EXPECT_EQ(st->Missing().Ranges(), (std::vector<TByteRange>{{614400, 512}}));

  // LZNT1 output of a unit with an unreadable stored cluster cannot be
  // trusted: the unit is missing as a whole, the others decode.
  TFileInfo* packed = s.File("packed/compressible.txt");
  ASSERT_TRUE(packed);
  const TStreamRead unit = ReadStream(packed);
  EXPECT_EQ(unit.Missing.Ranges(), (std::vector<TByteRange>{{65536, 65536}}));
  ExpectTrueToOriginal(unit, ReadWholeFile(Fixture("ntfs.files") / "packed/compressible.txt"), "compressible.txt");

  EXPECT_FALSE(s.File("deleted-root.bin"));
  EXPECT_EQ(s.Disk->Scaner->ScanFailure, "");
  EXPECT_EQ(s.Disk->Scaner->ScanWarnings, std::vector<std::string>{"MFT record 78 could not be read (read error)"});
}

TEST(NtfsLostData, MetadataThatCannotBeReadFailsTheScan) {
  TNtfsImageCopy img;
  TRawSource h = TRawSource::Open(img.Path().string());
  TMftReader reader(&h);
  const int64_t mft = reader.ClusterOffset(reader.MftLcn);
  {
    // A read error inside $MFT record 0.
    TFaultyImage faulty(img.Path(), {{mft / 512 + 1, 1}});
    ASSERT_TRUE(faulty.Mounted()) << faulty.Error;
    TScannedImage s(faulty.Path());
    EXPECT_EQ(s.Disk->Files.Count(), 0);
    EXPECT_EQ(s.Disk->Scaner->ScanFailure, "$MFT record 0 (the MFT's own record, at byte " + std::to_string(mft) +
                                               ") could not be read (read error)");
  }
  // The MFT's run list: its first header announces more bytes than follow.
  const TRecordBytes rec = reader.OpenMftRec(mft);
  ASSERT_TRUE(rec);
  size_t at = 0;
  const TNtfsAttr data = NextAttrIn(rec, akData, at);
  ASSERT_TRUE(data.NonResident());
  const int64_t pairs = mft + (data.Span().data() - rec->data()) + data.Header().MappingPairsOffset;

  TBytes geometry = img.ReadAt(0, 512);
  geometry[0x40] = 0x7F;  // 127 clusters per record
  TBytes far = img.ReadAt(0, 512);
  PutLe(far, 0x30, 1 << 30, 8);
  struct TCase {
    const char* What;
    int64_t Offset;
    TBytes Bytes;
    std::string Failure;
  } cases[] = {
      {"zeroed sector", mft + 512, TBytes(512, 0),
       "$MFT record 0 (the MFT's own record, at byte " + std::to_string(mft) +
           ") is damaged: it is no valid MFT record"},
      {"run list",
       pairs,
       {0x88},
       "$MFT record 0 (the MFT's own record, at byte " + std::to_string(mft) + ") has a damaged run list"},
      {"record size", 0, geometry,
       "the boot sector's geometry cannot be used (512 bytes per sector, 8 sectors per cluster, MFT records of 0 "
       "bytes)"},
      {"MFT place", 0, far,
       "the boot sector places the MFT at cluster 1073741824, outside the 16777216 bytes the "
       "source holds"},
  };
  for (const TCase& c : cases) {
    TNtfsImageCopy damaged;
    damaged.WriteAt(c.Offset, c.Bytes);
    TScannedImage s(damaged.Path());
    EXPECT_EQ(s.Disk->Files.Count(), 0) << c.What;
    EXPECT_EQ(s.Disk->Scaner->ScanFailure, c.Failure) << c.What;
  }
}

TEST(NtfsLostData, ExtensionRecordsMustStillBeTheFiles) {
  // spliced.bin: the two extents of its data lie in records 41 and 42.
  // Freeing a file moves each of its records' sequence numbers on by one (4
  // to 5 here). The clusters a record maps hold the file's data while the
  // record is the file's, another file's once it is another's.
  const TBytes first = Pattern(8192, 1), second = Pattern(8192, 2);
  const uint64_t ours = 40 | uint64_t{4} << 48;
  struct TCase {
    const char* What;
    bool FileLive;
    int64_t Changed;  // the record that differs from the file's own
    uint16_t Flags;
    uint64_t Base;
    uint16_t Seq;
    bool Whole;
  } cases[] = {
      {"freed with the file", false, 42, 0, ours, 5, true},
      {"in use while the file is deleted", false, 42, 1, ours, 5, false},
      {"another file's base record now", false, 42, 1, 0, 5, false},
      {"another file's extension, freed", false, 42, 0, 77 | uint64_t{4} << 48, 5, false},
      {"reused and freed again since", false, 42, 0, ours, 6, false},
      {"the first extent's record in use", false, 41, 1, ours, 5, false},
      {"a live file's, exact", true, 42, 1, ours, 4, true},
      {"a live file's, sequence moved on", true, 42, 1, ours, 5, false},
      {"a live file's, not in use", true, 42, 0, ours, 4, false},
  };
  for (const TCase& c : cases) {
    TNtfsImageCopy img;
    img.WriteAt(FREE_LCN * 4096, first);
    img.WriteAt((FREE_LCN + 10) * 4096, second);
    const uint64_t ref = uint64_t{4} << 48;
    const uint16_t seq = c.FileLive ? 4 : 5;
    const uint16_t flags = c.FileLive ? 0x0001 : 0;
    const TBytes list = ListOf({AttrListEntry(0x10, 40 | ref, 0), AttrListEntry(0x30, 40 | ref, 1),
                                AttrListEntry(0x80, 41 | ref, 5), AttrListEntry(0x80, 42 | ref, 6, 2)});
    img.WriteRecord(40, TRecordBuilder(flags)
                            .Sequence(seq)
                            .StdInfo(faArchive)
                            .FileName(5, "spliced.bin")
                            .Resident(0x20, "", list)
                            .Build());
    for (int64_t n : {41, 42}) {
      const bool changed = n == c.Changed;
      TRecordBuilder b(changed ? c.Flags : flags, changed ? c.Base : ours);
      b.Sequence(changed ? c.Seq : seq);
      if (changed && c.Base == 0) b.StdInfo(faArchive).FileName(5, "other.bin");
      b.NonResident(0x80, "", EncodeRuns({{2, n == 41 ? FREE_LCN : FREE_LCN + 10}}), 16384, n == 41 ? 5 : 6,
                    n == 41 ? 0 : 2);
      img.WriteRecord(n, b.Build());
    }

    TCapturedLog log;
    TScannedImage s(img.Path(), !c.FileLive);
    TFileInfo* e = s.File("spliced.bin");
    ASSERT_TRUE(e) << c.What;
    // Without its first extent the size is known only as far as the runs left reach.
    EXPECT_EQ(e->Size, 16384) << c.What;
    const TStreamRead got = ReadStream(e);
    if (c.Whole) {
      EXPECT_TRUE(got.Data == Str(first) + Str(second)) << c.What;
      EXPECT_TRUE(got.Missing.Empty()) << c.What;
      EXPECT_EQ(e->Condition, 100) << c.What;
      continue;
    }
    const TByteRange gap{c.Changed == 41 ? 0 : 8192, 8192};
    EXPECT_TRUE(got.Data ==
                (c.Changed == 41 ? std::string(8192, '\0') + Str(second) : Str(first) + std::string(8192, '\0')))
        << c.What;
    EXPECT_EQ(got.Missing.Ranges(), std::vector<TByteRange>{gap}) << c.What;
    EXPECT_EQ(e->Condition, 50) << c.What;
    EXPECT_GE(log.Count("MftReader.GetFileDataStreamsRunList: extent left out"), 1) << c.What;
  }
}

TEST(NtfsLostData, RefusedMiddleExtentLeavesItsRangeOnly) {
  TNtfsImageCopy img;
  const TBytes first = Pattern(8192, 1), third = Pattern(8192, 3);
  img.WriteAt(FREE_LCN * 4096, first);
  img.WriteAt((FREE_LCN + 20) * 4096, third);
  const uint64_t ref = uint64_t{1} << 48;
  img.WriteRecord(40, TRecordBuilder()
                          .StdInfo(faArchive)
                          .FileName(5, "three.bin")
                          .Resident(0x20, "",
                                    ListOf({AttrListEntry(0x10, 40 | ref, 0), AttrListEntry(0x30, 40 | ref, 1),
                                            AttrListEntry(0x80, 41 | ref, 5), AttrListEntry(0x80, 42 | ref, 6, 2),
                                            AttrListEntry(0x80, 43 | ref, 7, 4)}))
                          .Build());
  img.WriteRecord(41, TRecordBuilder(0, 40 | ref).NonResident(0x80, "", EncodeRuns({{2, FREE_LCN}}), 24576, 5).Build());
  // Its only header announces 8 + 8 bytes of pairs where the attribute ends first.
  img.WriteRecord(42, TRecordBuilder(0, 40 | ref).NonResident(0x80, "", {0x88, 0x02, 0x00}, 24576, 6, 2).Build());
  img.WriteRecord(
      43, TRecordBuilder(0, 40 | ref).NonResident(0x80, "", EncodeRuns({{2, FREE_LCN + 20}}), 24576, 7, 4).Build());
  TScannedImage s(img.Path());
  TFileInfo* e = s.File("three.bin");
  ASSERT_TRUE(e);
  const TStreamRead got = ReadStream(e);
  EXPECT_TRUE(got.Data == Str(first) + std::string(8192, '\0') + Str(third));
  EXPECT_EQ(got.Missing.Ranges(), (std::vector<TByteRange>{{8192, 8192}}));
  EXPECT_EQ(e->Condition, 66);
}
