#include "exfat/ExfatBootSector.h"

#include <algorithm>
#include <cstring>

#include "core/LeReader.h"

namespace mirel::exfat {

namespace {

constexpr size_t kNameOffset = 0x03;
constexpr char kName[] = "EXFAT   ";
constexpr size_t kZeroOffset = 0x0B, kZeroLength = 53;
constexpr size_t kVolumeLength = 0x48;
constexpr size_t kFatOffset = 0x50;
constexpr size_t kFatLength = 0x54;
constexpr size_t kClusterHeapOffset = 0x58;
constexpr size_t kClusterCount = 0x5C;
constexpr size_t kRootCluster = 0x60;
constexpr size_t kSerialNumber = 0x64;
constexpr size_t kVolumeFlags = 0x6A;
constexpr size_t kBytesPerSectorShift = 0x6C;
constexpr size_t kSectorsPerClusterShift = 0x6D;
constexpr size_t kNumberOfFats = 0x6E;
constexpr size_t kPercentInUse = 0x70;
constexpr size_t kSignature = 0x1FE;
static_assert(kSignature + 2 == kBootSectorSize);
// Highest cluster count the 32-bit table can address.
constexpr uint32_t kMaxClusterCount = 0xFFFFFFF5;

}  // namespace

bool IsExfatBootSector(std::span<const uint8_t> sector) {
  if (sector.size() < kBootSectorSize) return false;
  return std::memcmp(sector.data() + kNameOffset, kName, 8) == 0 && sector[kSignature] == 0x55 &&
         sector[kSignature + 1] == 0xAA;
}

std::optional<TExfatBootSector> DecodeBootSector(std::span<const uint8_t> sector) {
  if (!IsExfatBootSector(sector)) return std::nullopt;
  const auto zero = sector.subspan(kZeroOffset, kZeroLength);
  if (std::any_of(zero.begin(), zero.end(), [](uint8_t b) { return b != 0; })) return std::nullopt;
  TLeReader r(sector.first(kBootSectorSize));
  TExfatBootSector b;
  b.VolumeLength = r.U64(kVolumeLength);
  b.FatOffset = r.U32(kFatOffset);
  b.FatLength = r.U32(kFatLength);
  b.ClusterHeapOffset = r.U32(kClusterHeapOffset);
  b.ClusterCount = r.U32(kClusterCount);
  b.RootCluster = r.U32(kRootCluster);
  b.SerialNumber = r.U32(kSerialNumber);
  b.VolumeFlags = r.U16(kVolumeFlags);
  b.BytesPerSectorShift = r.U8(kBytesPerSectorShift);
  b.SectorsPerClusterShift = r.U8(kSectorsPerClusterShift);
  b.NumberOfFats = r.U8(kNumberOfFats);
  if (b.BytesPerSectorShift < kMinSectorShift || b.BytesPerSectorShift > kMaxSectorShift) return std::nullopt;
  if (b.BytesPerSectorShift + b.SectorsPerClusterShift > kMaxClusterShift) return std::nullopt;
  if (b.NumberOfFats != 1 && b.NumberOfFats != 2) return std::nullopt;
  if (b.ClusterCount == 0 || b.ClusterCount > kMaxClusterCount) return std::nullopt;
  // The boot region and its backup come first, then the table(s), then the heap.
  if (b.FatOffset < 2 * (kBackupBootSector) || b.FatLength == 0) return std::nullopt;
  if (uint64_t{b.FatLength} * (uint64_t{1} << b.BytesPerSectorShift) < (uint64_t{b.ClusterCount} + 2) * 4)
    return std::nullopt;
  if (b.ClusterHeapOffset < uint64_t{b.FatOffset} + uint64_t{b.FatLength} * b.NumberOfFats) return std::nullopt;
  const uint64_t heapEnd = b.ClusterHeapOffset + (uint64_t{b.ClusterCount} << b.SectorsPerClusterShift);
  if (heapEnd > b.VolumeLength) return std::nullopt;
  if (b.RootCluster < 2 || b.RootCluster > b.ClusterCount + 1) return std::nullopt;
  return b;
}

uint32_t BootRegionChecksum(std::span<const uint8_t> region, uint32_t bytesPerSector) {
  const size_t n = std::min<size_t>(region.size(), size_t{bytesPerSector} * kChecksummedSectors);
  uint32_t sum = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i == kVolumeFlags || i == kVolumeFlags + 1 || i == kPercentInUse) continue;
    sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
  }
  return sum;
}

std::optional<TExfatBootSector> CheckBootRegion(std::span<const uint8_t> region) {
  std::optional<TExfatBootSector> boot = DecodeBootSector(region);
  if (!boot) return std::nullopt;
  const uint32_t bps = boot->BytesPerSector();
  if (region.size() < size_t{bps} * (kChecksumSector + 1)) return std::nullopt;
  const uint32_t sum = BootRegionChecksum(region, bps);
  TLeReader r(region.subspan(size_t{bps} * kChecksumSector, bps));
  for (size_t off = 0; off < bps; off += 4)
    if (r.U32(off) != sum) return std::nullopt;
  return boot;
}

}  // namespace mirel::exfat
