// Every fixture image scanned again after a few hundred deterministic
// mutations of its metadata and after truncations: each scan must end, list
// only entries that can be printed, and log what it could not read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "Engine.h"
#include "NtfsTestImage.h"
#include "core/DiskScaner.h"
#include "core/FileSystems.h"
#include "core/LeReader.h"
#include "core/RecoveryStream.h"
#include "core/Text.h"
#include "ntfs/MftReader.h"
#include "platform/RawSource.h"

using namespace mirel;
using namespace mirel::test;

namespace {

constexpr int kMutations = 300;

struct TRegion {
  int64_t Start = 0, Length = 0;
};

// A writable copy of a fixture whose damaged bytes are put back after each scan.
class TDamagedImage {
public:
  explicit TDamagedImage(const std::string& fixture) : File(Dir / fixture) {
    std::filesystem::copy_file(Fixture(fixture), File);
    Fd = ::open(File.c_str(), O_RDWR);
  }
  ~TDamagedImage() { ::close(Fd); }

  TBytes ReadAt(int64_t at, size_t count) const {
    TBytes b(count);
    b.resize(static_cast<size_t>(std::max<ssize_t>(0, ::pread(Fd, b.data(), count, at))));
    return b;
  }
  void Damage(int64_t at, const TBytes& bytes) {
    Saved.emplace_back(at, ReadAt(at, bytes.size()));
    EXPECT_EQ(::pwrite(Fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
  }
  void Repair() {
    for (auto it = Saved.rbegin(); it != Saved.rend(); ++it)
      EXPECT_EQ(::pwrite(Fd, it->second.data(), it->second.size(), it->first), static_cast<ssize_t>(it->second.size()));
    Saved.clear();
  }
  const std::filesystem::path& Path() const { return File; }

private:
  TTempDir Dir;
  std::filesystem::path File;
  int Fd = -1;
  std::vector<std::pair<int64_t, TBytes>> Saved;
};

// The metadata of a FAT image: reserved sectors, the tables, the root region
// or cluster, and every cluster that starts with a "." entry.
std::vector<TRegion> FatMetadata(const TDamagedImage& img, int64_t& metadataEnd) {
  const TBytes boot = img.ReadAt(0, 512);
  TLeReader b(boot);
  const int64_t bps = b.U16(0x0B), spc = b.U8(0x0D), rsv = b.U16(0x0E), nf = b.U8(0x10), re = b.U16(0x11);
  const int64_t fatSize = b.U16(0x16) ? b.U16(0x16) : b.U32(0x24);
  const int64_t total = b.U16(0x13) ? b.U16(0x13) : b.U32(0x20);
  const int64_t rootStart = (rsv + nf * fatSize) * bps, rootBytes = re * 32;
  const int64_t data = rootStart + (rootBytes + bps - 1) / bps * bps, cluster = spc * bps;
  std::vector<TRegion> regions = {{0, rsv * bps}, {rsv * bps, nf * fatSize * bps}};
  if (rootBytes) regions.push_back({rootStart, rootBytes});
  int64_t last = data;
  for (int64_t at = data; at + cluster <= total * bps; at += cluster) {
    const TBytes head = img.ReadAt(at, 12);
    const bool dot =
        head.size() == 12 && std::equal(head.begin(), head.begin() + 11, ".          ") && (head[11] & 0x10);
    const bool fat32Root = !rootBytes && (at - data) / cluster + 2 == b.U32(0x2C);
    if (dot || fat32Root) {
      regions.push_back({at, cluster});
      last = at + cluster;
    }
  }
  metadataEnd = last;
  return regions;
}

// The metadata of an NTFS image: the boot sector, the MFT records in use and
// the cluster bitmap.
std::vector<TRegion> NtfsMetadata(const TDamagedImage& img, int64_t& metadataEnd) {
  TRawSource h = TRawSource::Open(img.Path().string());
  TMftReader reader(&h);
  std::vector<TRegion> regions = {{0, 512}};
  const int64_t records = std::min<int64_t>(reader.MftDataSize / reader.RecordSize, 128);
  for (int64_t n = 0; n < records; ++n) regions.push_back({reader.GetRecordOffset(n), reader.RecordSize});
  bool valid = false;
  auto bitmap = reader.ReadFileInfo(0, valid, reader.GetRecordOffset(BITMAP_RECORD));
  EXPECT_TRUE(bitmap && valid);
  TRunList runs;
  if (bitmap) runs = reader.GetFileDataStreamsRunList(*bitmap, {}).Runs;
  for (const TNtfsRun& r : runs)
    if (r.Lcn >= 0) regions.push_back({reader.ClusterOffset(r.Lcn), int64_t{r.Length} * reader.ClusterSize});
  metadataEnd = reader.GetRecordOffset(std::min<int64_t>(records, 64));
  EXPECT_GT(regions.size(), 20u);
  return regions;
}

// The metadata of an exFAT image: the boot region and its backup, the table,
// and the heap's first clusters (the bitmap, the up-case table, the root).
std::vector<TRegion> ExfatMetadata(const TDamagedImage& img, int64_t& metadataEnd) {
  const TBytes boot = img.ReadAt(0, 512);
  TLeReader b(boot);
  const int64_t bps = int64_t{1} << b.U8(0x6C), cluster = bps << b.U8(0x6D);
  const int64_t fat = b.U32(0x50) * bps, heap = b.U32(0x58) * bps;
  std::vector<TRegion> regions = {{0, 12 * bps}, {12 * bps, 12 * bps}, {fat, b.U32(0x54) * bps}};
  for (int64_t c = 0; c < 6; ++c) regions.push_back({heap + c * cluster, cluster});
  metadataEnd = heap + 6 * cluster;
  return regions;
}

struct TScanOutcome {
  bool Opened = false;  // a scanner was made for the volume
  int LogLines = 0;
  // Lines about deleted files whose clusters live files took: no damage.
  int ReuseLines = 0;
  int Entries = 0;
};

// Scans the volume (a window of length bytes, or all of it), checks every
// entry and reads the start of every file through its recovery stream.
TScanOutcome ScanAndCheck(const std::filesystem::path& image, int64_t length, bool quick, const std::string& what) {
  TCapturedLog log;
  TScanOutcome out;
  std::unique_ptr<TDiskObject> disk;
  try {
    disk = std::make_unique<TDiskObject>("vol.img", image.string(), 0, 0, length);
  } catch (const std::exception&) {
    return out;  // a boot sector that names no usable geometry is refused
  }
  if (!disk->Scaner) return out;
  out.Opened = true;
  disk->Scaner->Options.Quick = quick;
  disk->Scaner->ScanForFiles();
  std::vector<char> buf(16384);
  for (const TDiskItems* list : {&disk->Files, &disk->Folders}) {
    for (TFileInfo* e : *list) {
      ++out.Entries;
      const std::string path = GetEntryPath(*e) + e->Name;
      EXPECT_TRUE(IsPrintableUtf8(path)) << what << ": " << testing::PrintToString(path);
      EXPECT_GE(e->Size, 0) << what << ": " << path;
      if (e->IsFolder) continue;
      std::unique_ptr<TRecoveryStream> st = CreateRecoveryStream(e);
      if (st)
        for (int i = 0; i < 2 && st->Read(buf.data(), buf.size()) > 0; ++i) {
        }
    }
  }
  const std::string text = log.Text();
  out.LogLines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  out.ReuseLines = log.Count("In Use By Other Files");
  return out;
}

const uint32_t kExtremes[] = {0,      1,      2,          0x7F,       0x80,       0xFF,       0x7FFF,
                              0x8000, 0xFFFF, 0x0FFFFFF7, 0x0FFFFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};

enum class TKind { Fat, Ntfs, Exfat };

struct TDamageCase {
  const char* Fixture;
  TKind Kind;
};

class DamagedVolume : public testing::TestWithParam<TDamageCase> {};

}  // namespace

TEST(Text, PrintableUtf8) {
  EXPECT_TRUE(IsPrintableUtf8("plain/Ünïcödé 😀"));
  EXPECT_FALSE(IsPrintableUtf8(std::string("a\0b", 3)));
  EXPECT_FALSE(IsPrintableUtf8("\xC3"));
  EXPECT_FALSE(IsPrintableUtf8("\xC0\x80"));
  EXPECT_FALSE(IsPrintableUtf8("\xED\xA0\x80"));  // a lone surrogate
  EXPECT_FALSE(IsPrintableUtf8("\xF8\x88\x80\x80\x80"));
}

TEST(DamagedVolumeCheck, BootSectorLabelIsDecodedAndEndsAtANul) {
  StartEngine();
  TDamagedImage img("fat12.img");
  img.Damage(0x2C, {0xF8});
  EXPECT_EQ(TDiskObject("v", img.Path().string(), 0).VolumeLabel, "F\u00B0T12VOL");
  img.Damage(0x2D, {0x00});
  EXPECT_EQ(TDiskObject("v", img.Path().string(), 0).VolumeLabel, "F\u00B0");
}

TEST(DamagedVolumeCheck, NtfsNameWithANulIsPrintable) {
  TNtfsImageCopy img;
  img.WriteRecord(55, TRecordBuilder().StdInfo(0x20).FileName(5, std::string("nul\0name.txt", 12)).Build());
  TScannedImage s(img.Path());
  EXPECT_TRUE(s.File("nul\uFFFDname.txt"));
  const uint8_t units[] = {'a', 0, 0, 0, 'b', 0};
  EXPECT_EQ(Utf16LeToUtf8(units, 3), "a\uFFFDb");
}

TEST_P(DamagedVolume, MutatedMetadataNeverBreaksTheScan) {
  StartEngine();
  const TDamageCase& c = GetParam();
  if (!std::filesystem::exists(Fixture(c.Fixture))) GTEST_SKIP() << c.Fixture << " was not made";
  TDamagedImage img(c.Fixture);
  int64_t metadataEnd = 0;
  const std::vector<TRegion> regions = c.Kind == TKind::Ntfs    ? NtfsMetadata(img, metadataEnd)
                                       : c.Kind == TKind::Exfat ? ExfatMetadata(img, metadataEnd)
                                                                : FatMetadata(img, metadataEnd);
  ASSERT_GT(regions.size(), 3u);
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(img.Path()));

  std::mt19937 rng(0x5EED + static_cast<unsigned>(regions.size()));
  auto below = [&](int64_t n) { return n > 0 ? static_cast<int64_t>(rng() % static_cast<uint64_t>(n)) : 0; };
  int opened = 0, logged = 0;
  for (int round = 0; round < kMutations; ++round) {
    const TRegion& r = regions[static_cast<size_t>(round % 5 == 0 ? 0 : below(static_cast<int64_t>(regions.size())))];
    std::string what = std::string(c.Fixture) + " round " + std::to_string(round);
    int64_t length = -1;
    switch (rng() % 5) {
      case 0:  // scattered bytes
        for (int64_t i = 0, n = 1 + below(24); i < n; ++i)
          img.Damage(r.Start + below(r.Length), {static_cast<uint8_t>(rng())});
        break;
      case 1: {  // one field set to an extreme value
        const int width = 1 << below(3);
        const int64_t at = r.Start + below(r.Length - width + 1) / width * width;
        TBytes v(static_cast<size_t>(width));
        PutLe(v, 0, kExtremes[below(std::size(kExtremes))], width);
        img.Damage(at, v);
        break;
      }
      case 2: {  // a sector wiped or filled with garbage
        const int64_t at = r.Start + below(std::max<int64_t>(1, r.Length / 512)) * 512;
        const size_t n = static_cast<size_t>(std::min<int64_t>(512, r.Length));
        TBytes fill(n, rng() % 2 ? 0x00 : 0xFF);
        if (rng() % 2) std::generate(fill.begin(), fill.end(), [&] { return static_cast<uint8_t>(rng()); });
        img.Damage(at, fill);
        break;
      }
      case 3: {  // the same record or cluster copied over another one
        const TRegion& from = regions[static_cast<size_t>(below(static_cast<int64_t>(regions.size())))];
        img.Damage(r.Start, img.ReadAt(from.Start, static_cast<size_t>(std::min(from.Length, r.Length))));
        break;
      }
      default:  // the volume cut short
        length = 512 + below(std::min(size, metadataEnd + 65536) - 512);
        what += " cut at " + std::to_string(length);
        break;
    }
    const TScanOutcome o = ScanAndCheck(img.Path(), length, round % 2 == 0, what);
    img.Repair();
    opened += o.Opened;
    logged += o.LogLines > 0;
    // A scan that lost the rest of its metadata to the cut says so.
    if (o.Opened && length >= 0 && length < metadataEnd) {
      EXPECT_GE(o.LogLines, 1) << what;
    }
    // One line per failure, not a flood: the scan's own few, and one for each
    // stream that could not be read.
    EXPECT_LE(o.LogLines, o.Entries + 16) << what;
  }
  // Most damage leaves a volume that still opens, and some of it is reported.
  EXPECT_GT(opened, kMutations / 2);
  EXPECT_GT(logged, 0);
  // The repairs restored the image exactly: the next scan is the undamaged one.
  const TScanOutcome clean = ScanAndCheck(img.Path(), -1, true, std::string(c.Fixture) + " repaired");
  EXPECT_TRUE(clean.Opened);
  EXPECT_EQ(clean.LogLines, clean.ReuseLines);
}

INSTANTIATE_TEST_SUITE_P(Images, DamagedVolume,
                         testing::Values(TDamageCase{"fat12.img", TKind::Fat}, TDamageCase{"fat16.img", TKind::Fat},
                                         TDamageCase{"fat32.img", TKind::Fat}, TDamageCase{"ntfs.img", TKind::Ntfs},
                                         TDamageCase{"ntfs-c512.img", TKind::Ntfs},
                                         TDamageCase{"exfat.img", TKind::Exfat}),
                         [](const auto& p) {
                           std::string n = p.param.Fixture;
                           n = n.substr(0, n.find('.'));
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });
