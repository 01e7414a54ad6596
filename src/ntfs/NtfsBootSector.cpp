#include "ntfs/NtfsBootSector.h"

#include <algorithm>

#include "core/LeReader.h"

namespace mirel {

namespace {

constexpr size_t kOemName = 0x03;
constexpr size_t kBytesPerSector = 0x0B;
constexpr size_t kSectorsPerCluster = 0x0D;
// Fields FAT uses and NTFS keeps zero: number of FATs, root entries, FAT size.
constexpr size_t kFatCount = 0x10;
constexpr size_t kRootEntries = 0x11;
constexpr size_t kFatSectors16 = 0x16;
constexpr size_t kTotalSectors = 0x28;
constexpr size_t kMftLcn = 0x30;
constexpr size_t kMftMirrorLcn = 0x38;
constexpr size_t kClustersPerRecord = 0x40;
constexpr size_t kClustersPerIndex = 0x44;
constexpr size_t kSerial = 0x48;
static_assert(kSerial + 8 == kNtfsBootSectorBytes);

// The end-of-sector signature of a 512-byte sector.
constexpr size_t kSignature = 0x1FE;

constexpr uint32_t kMaxRecordSize = 65536;

// A size given in clusters, or, when negative, as a power of two in bytes.
// The field may hold just the sign-extended low byte with zero upper bytes.
uint32_t SizeField(TLeReader b, size_t at, uint32_t clusterSize) {
  uint8_t v[4] = {b.U8(at), b.U8(at + 1), b.U8(at + 2), b.U8(at + 3)};
  if (v[0] & 0x80) {
    if (v[3] == 0) {
      v[3] = 0xFF;
      if (v[2] == 0) {
        v[2] = 0xFF;
        if (v[1] == 0) v[1] = 0xFF;
      }
    }
    const auto n =
        static_cast<int32_t>(uint32_t{v[0]} | uint32_t{v[1]} << 8 | uint32_t{v[2]} << 16 | uint32_t{v[3]} << 24);
    const int64_t e = n < 0 ? -int64_t{n} : int64_t{n};
    return e > 16 ? 0 : uint32_t{1} << e;
  }
  const uint64_t size = uint64_t{clusterSize} * b.U32(at);
  return size > kMaxRecordSize ? 0 : static_cast<uint32_t>(size);
}

}  // namespace

int64_t TNtfsBootSector::VolumeBytes() const {
  if (BytesPerSector == 0 || TotalSectors > static_cast<uint64_t>(INT64_MAX) / BytesPerSector) return 0;
  return static_cast<int64_t>(TotalSectors * BytesPerSector);
}

std::optional<TNtfsBootSector> DecodeNtfsBootSector(std::span<const uint8_t> sector) {
  TLeReader b(sector);
  if (!b.Has(0, kNtfsBootSectorBytes)) return std::nullopt;
  if (b.U8(kFatCount) != 0 || b.U16(kRootEntries) != 0 || b.U16(kFatSectors16) != 0) return std::nullopt;
  TNtfsBootSector s;
  s.BytesPerSector = b.U16(kBytesPerSector);
  s.SectorsPerCluster = b.U8(kSectorsPerCluster);
  if (s.BytesPerSector == 0 || s.SectorsPerCluster == 0) return std::nullopt;
  s.TotalSectors = b.U64(kTotalSectors);
  s.MftLcn = static_cast<int64_t>(b.U64(kMftLcn));
  s.MftMirrorLcn = static_cast<int64_t>(b.U64(kMftMirrorLcn));
  s.RecordSize = SizeField(b, kClustersPerRecord, s.ClusterSize());
  s.IndexSize = SizeField(b, kClustersPerIndex, s.ClusterSize());
  s.Serial = b.U64(kSerial);
  static constexpr uint8_t kNtfsName[8] = {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  s.NamedNtfs = std::equal(kNtfsName, kNtfsName + 8, sector.begin() + kOemName);
  s.HasSignature = b.Has(kSignature, 2) && b.U16(kSignature) == 0xAA55;
  return s;
}

}  // namespace mirel
