#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "NtfsTestImage.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/RecoveryStream.h"
#include "ntfs/EfsImage.h"
#include "ntfs/MftReader.h"
#include "ntfs/NtfsTypes.h"
#include "ntfs/RecoveryNtfsStream.h"
#include "platform/RawSource.h"

using namespace mirel;
using namespace mirel::test;

namespace {

// Free clusters of ntfs.img where hand-built records keep their data.
constexpr int64_t FREE_LCN = 3000;

std::string Str(const TBytes& b, size_t from = 0, size_t n = std::string::npos) {
  std::string s(b.begin(), b.end());
  return s.substr(from, n);
}

TBytes EfsData(uint32_t length, uint32_t claimed) {
  TBytes efs = Pattern(length, 9);
  PutLe(efs, 0, claimed, 4);
  return efs;
}

// A deleted, encrypted file of size bytes at FREE_LCN with the given $EFS value.
TBytes EncryptedRecord(int64_t size, const TBytes& efs, bool withEfs = true) {
  TRecordBuilder b;
  b.StdInfo(faEncrypted | faArchive).FileName(5, "secret.bin");
  b.NonResident(0x80, "", EncodeRuns({{static_cast<uint64_t>((size + 4095) / 4096), FREE_LCN}}), size);
  if (withEfs) b.Resident(0x100, "$EFS", efs);
  return b.Build();
}

uint32_t U32(const std::string& s, size_t at) {
  TLeReader r(s.data(), s.size());
  return r.U32(at);
}

}  // namespace

TEST(NtfsStream, ResidentDataAndSeeks) {
  TNtfsImageCopy img;
  const TBytes data = Pattern(100, 3);
  img.WriteRecord(40, TRecordBuilder().StdInfo(0x20).FileName(5, "tiny.dat").Resident(0x80, "", data).Build());
  // A value whose declared length reaches past its record: only the length is known.
  TBytes damaged = TRecordBuilder().StdInfo(0x20).FileName(5, "damaged.dat").Resident(0x80, "", data).Build();
  size_t at = damaged[20] | damaged[21] << 8;
  while (damaged[at] != 0x80) at += damaged[at + 4] | damaged[at + 5] << 8;
  at += 16;  // the value length
  PutLe(damaged, at, 5000, 4);
  img.WriteRecord(41, damaged);
  TScannedImage s(img.Path());
  TFileInfo* bad = s.File("damaged.dat");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->Condition, 0);
  std::unique_ptr<TRecoveryStream> lost = CreateRecoveryStream(bad);
  EXPECT_TRUE(s.ReadAll(bad) == std::string(5000, '\0'));
  EXPECT_EQ(lost->Missing().Ranges(), (std::vector<TByteRange>{{0, 5000}}));

  TFileInfo* e = s.File("tiny.dat");
  ASSERT_TRUE(e);
  std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
  ASSERT_TRUE(st);
  std::string buf(4096, '\0');
  EXPECT_EQ(st->Read(buf.data(), buf.size()), 100u);
  EXPECT_EQ(buf.substr(0, 100), Str(data));
  EXPECT_EQ(st->Seek(40, TSeekOrigin::Beginning), 40);
  EXPECT_EQ(st->Read(buf.data(), buf.size()), 60u);
  EXPECT_EQ(st->Seek(0, TSeekOrigin::End), 100);
  EXPECT_EQ(st->Seek(10, TSeekOrigin::End), 90);
  EXPECT_EQ(st->Read(buf.data(), 4), 4u);
  EXPECT_EQ(st->Seek(-4, TSeekOrigin::Current), 90);
  EXPECT_EQ(st->Seek(-5, TSeekOrigin::Beginning), -5);  // no bound, but nothing to read
  EXPECT_EQ(st->Read(buf.data(), 10), 0u);
}

TEST(NtfsStream, EncryptedFileImageLayout) {
  TNtfsImageCopy img;
  const TBytes disk = Pattern(4096, 5);
  img.WriteAt(FREE_LCN * 4096, disk);
  const TBytes efs = EfsData(400, 400);
  img.WriteRecord(40, EncryptedRecord(100, efs));
  TScannedImage s(img.Path());
  TFileInfo* e = s.File("secret.bin");
  ASSERT_TRUE(e);
  const std::string image = s.ReadAll(e);
  ASSERT_EQ(image.size(), 508u + 512 + 512);
  EXPECT_EQ(image.substr(0, 50), Str(TBytes(EFS01.begin(), EFS01.end()), 0, 50));
  EXPECT_EQ(U32(image, 50), 416u);
  EXPECT_EQ(image.substr(54, 8), std::string("G\0U\0R\0E\0", 8));
  EXPECT_EQ(image.substr(66, 400), Str(efs));
  EXPECT_EQ(image.substr(466, 42), Str(TBytes(EFS02.begin(), EFS02.end())));
  const std::string chunk = image.substr(508, 512);
  EXPECT_EQ(U32(chunk, 0), 1024u);
  EXPECT_EQ(U32(chunk, 18), 0u);
  EXPECT_EQ(U32(chunk, 24), 0x1F0u);
  EXPECT_EQ(U32(chunk, 28), 100u);
  EXPECT_EQ(U32(chunk, 32), 100u);
  EXPECT_EQ(U32(chunk, 44), 512u);
  // The data as stored, in the whole 512-byte blocks the header announces.
  EXPECT_EQ(image.substr(1020), Str(disk, 0, 512));
  // Any read size gives the same image, and the stream knows its length.
  EXPECT_EQ(s.ReadAll(e, {}, 1), image);
  std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
  EXPECT_EQ(st->GetSize(), static_cast<int64_t>(image.size()));
  EXPECT_EQ(st->Seek(0, TSeekOrigin::End), static_cast<int64_t>(image.size()));
}

TEST(NtfsStream, EncryptedFileIsRecoveredAsItsRawImage) {
  TNtfsImageCopy img;
  const TBytes disk = Pattern(size_t{2} * 4096, 5);
  img.WriteAt(FREE_LCN * 4096, disk);
  img.WriteRecord(40, EncryptedRecord(1532, EfsData(400, 400)));
  // Its second 512-byte block lies on a cluster past the end of the volume.
  TRecordBuilder far;
  far.StdInfo(faEncrypted | faArchive).FileName(5, "far.bin");
  far.NonResident(0x80, "", EncodeRuns({{1, FREE_LCN}, {1, 10000000 - FREE_LCN}}), 5000)
      .Resident(0x100, "$EFS", EfsData(400, 400));
  img.WriteRecord(41, far.Build());
  TScannedImage s(img.Path());
  TFileInfo* e = s.File("secret.bin");
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->FsInfo->IsEncrypted());
  const std::string image = s.ReadAll(e);
  ASSERT_EQ(image.size(), 508u + 512 + 1536);

  TTempDir dest;
  TCliRun r = RunMirel({"recover", img.Path().string(), "--to", dest.Path().string(), "secret.bin"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_FALSE(std::filesystem::exists(dest / "secret.bin"));
  EXPECT_TRUE(ReadWholeFile(dest / "secret.bin.efs") == image);

  // Lost data are named at their places in the image: after the header and
  // the first chunk's header.
  std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(s.File("far.bin"));
  EXPECT_EQ(st->Missing().Ranges(), (std::vector<TByteRange>{{508 + 512 + 4096, 5120 - 4096}}));
}

TEST(NtfsStream, EncryptedDataOfWholeChunksEndsWithAnEmptyChunkHeader) {
  TNtfsImageCopy img;
  const TBytes disk = Pattern(65536, 6);
  img.WriteAt(FREE_LCN * 4096, disk);
  img.WriteRecord(40, EncryptedRecord(65536, EfsData(200, 200)));
  TScannedImage s(img.Path());
  const std::string image = s.ReadAll(s.File("secret.bin"));
  const size_t header = 66 + 200 + 42;
  ASSERT_EQ(image.size(), header + 512 + 65536 + 512);
  EXPECT_EQ(image.substr(header + 512, 65536), Str(disk));
  const std::string last = image.substr(header + 512 + 65536);
  EXPECT_EQ(U32(last, 0), 512u);
  EXPECT_EQ(U32(last, 18), 1u);
  EXPECT_EQ(U32(last, 28), 0u);
  EXPECT_EQ(U32(last, 44), 0u);
}

TEST(NtfsStream, EncryptedFileWithoutUsableEfsDataIsServedPlain) {
  const TBytes disk = Pattern(4096, 7);
  struct TCase {
    const char* Why;
    TBytes Record;
  } cases[] = {
      {"missing", EncryptedRecord(100, {}, false)},
      {"oversize", EncryptedRecord(100, EfsData(400, 70000))},
      {"longer than stored", EncryptedRecord(100, EfsData(400, 4000))},
      {"empty", EncryptedRecord(100, EfsData(400, 0))},
  };
  for (const TCase& c : cases) {
    TCapturedLog log;
    TNtfsImageCopy img;
    img.WriteAt(FREE_LCN * 4096, disk);
    img.WriteRecord(40, c.Record);
    TScannedImage s(img.Path());
    TFileInfo* e = s.File("secret.bin");
    ASSERT_TRUE(e) << c.Why;
    EXPECT_EQ(s.ReadAll(e), Str(disk, 0, 100)) << c.Why;
    EXPECT_FALSE(static_cast<TNtfsFileInfo*>(e->FsInfo.get())->Encrypted) << c.Why;
    EXPECT_EQ(s.ReadAll(e), Str(disk, 0, 100)) << c.Why;  // and stays plain
  }
}

TEST(NtfsStream, CompressedUnitSplitOverTwoRuns) {
  // The first unit of a file that ntfs-3g compressed, its three stored
  // clusters moved apart: two at one place, one at another.
  TNtfsImageCopy img;
  TScannedImage fixture(Fixture("ntfs.img"));
  TFileInfo* packed = fixture.File("packed/compressible.txt");
  ASSERT_TRUE(packed);
  TRawSource h = TRawSource::Open(Fixture("ntfs.img").string());
  TMftReader r(&h);
  const TRunList runs = r.GetFileDataStreamsRunList(*static_cast<TNtfsFileInfo*>(packed->FsInfo.get()), {}).Runs;
  ASSERT_GE(runs.size(), 2u);
  ASSERT_EQ(runs[0].Length, 3u);  // 16 clusters stored in 3
  TBytes stored = img.ReadAt(runs[0].Lcn * 4096, size_t{3} * 4096);
  img.WriteAt(int64_t{3100} * 4096, TBytes(stored.begin(), stored.begin() + 8192));
  img.WriteAt(int64_t{3200} * 4096, TBytes(stored.begin() + 8192, stored.end()));
  img.WriteRecord(40, TRecordBuilder()
                          .StdInfo(faCompressed | faArchive)
                          .FileName(5, "split.txt")
                          .NonResident(0x80, "", EncodeRuns({{2, 3100}, {1, 100}, {13, SPARSE}}), 65536, 0, 0, 4, 1)
                          .Build());
  TScannedImage s(img.Path());
  TFileInfo* e = s.File("split.txt");
  ASSERT_TRUE(e);
  std::string want = ReadWholeFile(Fixture("ntfs.files") / "packed/compressible.txt").substr(0, 65536);
  EXPECT_EQ(s.ReadAll(e), want);
  EXPECT_EQ(s.ReadAll(e, {}, 1000), want);
}

TEST(NtfsStream, DamagedDataIsMissingNotDelivered) {
  TCapturedLog log;
  TNtfsImageCopy img;
  TBytes garbage = Pattern(size_t{3} * 4096, 8);
  garbage[0] = 0x10;  // a stored chunk that claims 17 bytes: no LZNT1 data
  garbage[1] = 0x30;
  img.WriteAt(FREE_LCN * 4096, garbage);
  img.WriteRecord(40, TRecordBuilder()
                          .StdInfo(faCompressed | faArchive)
                          .FileName(5, "garbage.txt")
                          .NonResident(0x80, "", EncodeRuns({{3, FREE_LCN}, {13, SPARSE}}), 65536, 0, 0, 4, 1)
                          .Build());
  // Runs far past the end of the 16 MiB volume.
  img.WriteRecord(41, TRecordBuilder()
                          .StdInfo(faArchive)
                          .FileName(5, "beyond.bin")
                          .NonResident(0x80, "", EncodeRuns({{2, 10000000}}), 8192)
                          .Build());
  TScannedImage s(img.Path());
  // A unit that does not decode is no data of the file: zeros, named missing.
  std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(s.File("garbage.txt"));
  std::string raw(70000, 'x');
  raw.resize(st->Read(raw.data(), raw.size()));
  EXPECT_EQ(raw.size(), 65536u);
  EXPECT_EQ(raw.find_first_not_of('\0'), std::string::npos);
  EXPECT_EQ(st->Missing().Ranges(), (std::vector<TByteRange>{{0, 65536}}));
  EXPECT_EQ(log.Count("compressed unit does not decode"), 1);

  TFileInfo* beyond = s.File("beyond.bin");
  ASSERT_TRUE(beyond);
  EXPECT_EQ(beyond->Condition, 0);  // clusters past the source count as in use
  st = CreateRecoveryStream(beyond);
  EXPECT_EQ(st->Missing().Ranges(), (std::vector<TByteRange>{{0, 8192}}));  // known when opened
  EXPECT_TRUE(s.ReadAll(beyond) == std::string(8192, '\0'));
  EXPECT_EQ(log.Count("RecoveryNtfsStream.SetPosition: unable to read clusters"), 1);
}

TEST(NtfsStream, RunListStartingAtAnImpossibleVcnDeliversNoOtherData) {
  TNtfsImageCopy img;
  img.WriteAt(FREE_LCN * 4096, Pattern(size_t{2} * 4096, 3));
  // The data's runs start at VCN 2^63 (the run lookup must not overflow on
  // it): none of them holds the file's clusters, whose bytes are not found.
  img.WriteRecord(42, TRecordBuilder()
                          .StdInfo(faArchive)
                          .FileName(5, "far.bin")
                          .NonResident(0x80, "", EncodeRuns({{2, FREE_LCN}}), 8192, 0, uint64_t{1} << 63)
                          .Build());
  TScannedImage s(img.Path());
  TFileInfo* far = s.File("far.bin");
  ASSERT_TRUE(far);
  const std::string back = s.ReadAll(far);
  EXPECT_LE(back.size(), 8192u);
  EXPECT_EQ(back.find_first_not_of('\0'), std::string::npos);
}

TEST(NtfsStream, KernelCopyAndReadsTogetherDeliverTheSameBytes) {
  // Plain data in two runs with a hole between, ending inside a cluster: the
  // runs go across in the kernel, the hole and the tail through Read.
  TNtfsImageCopy img;
  const TBytes first = Pattern(size_t{2} * 4096, 5), second = Pattern(size_t{3} * 4096, 6);
  img.WriteAt(FREE_LCN * 4096, first);
  img.WriteAt((FREE_LCN + 40) * 4096, second);
  const int64_t size = 6 * 4096 + 1000;
  img.WriteRecord(40, TRecordBuilder()
                          .StdInfo(faArchive)
                          .FileName(5, "runs.bin")
                          .NonResident(0x80, "", EncodeRuns({{2, FREE_LCN}, {2, SPARSE}, {3, 40}}), size)
                          .Build());
  TScannedImage s(img.Path());
  TFileInfo* e = s.File("runs.bin");
  ASSERT_TRUE(e);
  const std::string want = s.ReadAll(e);
  ASSERT_EQ(want.size(), static_cast<size_t>(size));
  EXPECT_TRUE(want.substr(0, 8192) == Str(first));
  EXPECT_TRUE(want.substr(8192, 8192) == std::string(8192, '\0'));
  EXPECT_TRUE(want.substr(16384) == Str(second, 0, size - 16384));

  std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
  ASSERT_TRUE(st);
  const int fd = memfd_create("runs", 0);
  ASSERT_GE(fd, 0);
  // A cluster at a time: the copies start inside runs and the last one ends
  // inside a cluster.
  std::string buf(4096, '\0');
  size_t copied = 0;
  for (;;) {
    size_t n = st->CopyTo(fd, buf.size());
    copied += n;
    if (n == 0) {
      n = st->Read(buf.data(), buf.size());
      if (n == 0) break;
      ASSERT_EQ(::write(fd, buf.data(), n), static_cast<ssize_t>(n));
    }
  }
  EXPECT_EQ(copied, static_cast<size_t>(size - 8192));  // all but the hole
  std::string got(static_cast<size_t>(size) + 1, '\0');
  EXPECT_EQ(::pread(fd, got.data(), got.size(), 0), size);
  got.resize(static_cast<size_t>(size));
  EXPECT_TRUE(got == want);
  ::close(fd);
}

TEST(NtfsStream, FileWhoseRecordWasReusedSinceTheScanIsMissingWhole) {
  // The catalogue keeps no copy of a file's record: opening the file reads it
  // again, and a record taken by another file since is not taken for it.
  TNtfsImageCopy img;
  const TBytes data = Pattern(300, 4);
  img.WriteRecord(40, TRecordBuilder().StdInfo(faArchive).FileName(5, "old.txt").Resident(0x80, "", data).Build());
  TScannedImage s(img.Path());
  TFileInfo* e = s.File("old.txt");
  ASSERT_TRUE(e);
  EXPECT_EQ(s.ReadAll(e), Str(data));

  TCapturedLog log;
  TBytes reused =
      TRecordBuilder(0x0001).StdInfo(faArchive).FileName(5, "new.txt").Resident(0x80, "", Pattern(300, 8)).Build();
  img.WriteRecord(40, reused);
  auto lostWhole = [&] {
    std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
    std::string got(400, 'x');
    got.resize(st->Read(got.data(), got.size()));
    return got == std::string(300, '\0') && st->Missing().Ranges() == std::vector<TByteRange>{{0, 300}};
  };
  EXPECT_TRUE(lostWhole());
  PutLe(reused, 22, 0, 2);  // deleted again, but its sequence number moved on
  PutLe(reused, 16, 2, 2);
  img.WriteRecord(40, reused);
  EXPECT_TRUE(lostWhole());
  EXPECT_EQ(log.Count("MftReader.LoadRecord: the record was reused since the scan"), 2);
}

TEST(NtfsStream, ClustersOfADeletedFileTakenByALiveFileAreMissingZeros) {
  // victim.bin was deleted, then keep/live.txt grew over 4 of its 16 clusters.
  TScannedImage s(Fixture("ntfs.img"));
  TFileInfo* e = s.File("victim.bin");
  ASSERT_TRUE(e);
  ASSERT_EQ(e->Condition, 75);
  const std::string original = ReadWholeFile(Fixture("ntfs.files") / "victim.bin");
  std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
  ASSERT_TRUE(st);
  // Those clusters hold the live file's bytes: only a copy through Read,
  // which leaves them out, may deliver anything.
  const int fd = memfd_create("victim", 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(st->CopyTo(fd, original.size()), 0u);
  ::close(fd);
  std::string got(original.size() + 100, 'x');
  got.resize(st->Read(got.data(), got.size()));
  ASSERT_EQ(got.size(), original.size());

  const std::vector<TByteRange>& missing = st->Missing().Ranges();
  ASSERT_FALSE(missing.empty());
  int64_t clusters = 0;
  const auto* ntfs = dynamic_cast<const TRecoveryNtfsStream*>(st.get());
  ASSERT_TRUE(ntfs);
  ASSERT_EQ(ntfs->Data.Runs.size(), 1u);
  const std::string volume = ReadWholeFile(Fixture("ntfs.img"));
  const int64_t firstByte = ntfs->Data.Runs[0].Lcn * 4096;
  size_t at = 0;
  for (const TByteRange& r : missing) {
    EXPECT_EQ(r.Offset % 4096, 0);
    clusters += (r.Length + 4095) / 4096;
    EXPECT_TRUE(got.substr(at, r.Offset - at) == original.substr(at, r.Offset - at));
    EXPECT_TRUE(got.substr(r.Offset, r.Length) == std::string(r.Length, '\0'));
    // What the volume holds there is not the deleted file's.
    const auto onDisk = volume.begin() + firstByte + r.Offset;
    EXPECT_FALSE(std::equal(onDisk, onDisk + r.Length, original.begin() + r.Offset));
    EXPECT_FALSE(std::all_of(onDisk, onDisk + r.Length, [](char b) { return b == 0; }));
    at = static_cast<size_t>(r.End());
  }
  EXPECT_TRUE(got.substr(at) == original.substr(at));
  EXPECT_EQ(clusters, 4);
}

TEST(NtfsStream, LiveFilesAndWholeDeletedFilesHaveNothingMissing) {
  TScannedImage s(Fixture("ntfs.img"), false);
  for (const char* path : {"keep/live.txt", "deleted-root.bin", "keep/frag-b.bin", "frag-a.bin"}) {
    TFileInfo* e = s.File(path);
    ASSERT_TRUE(e) << path;
    std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
    std::string got(static_cast<size_t>(e->Size) + 10, 'x');
    got.resize(st->Read(got.data(), got.size()));
    EXPECT_TRUE(st->Missing().Empty()) << path;
    EXPECT_TRUE(got == ReadWholeFile(Fixture("ntfs.files") / path)) << path;
  }
}
