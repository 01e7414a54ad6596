#pragma once
// The exFAT boot region: the main boot sector's geometry, the region's
// checksum sector, and where the backup copy of the region starts.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mirel::exfat {

constexpr size_t kBootSectorSize = 512;
// Sectors 0..10 are summed; sector 11 repeats the sum.
constexpr uint32_t kChecksummedSectors = 11;
constexpr uint32_t kChecksumSector = 11;
// The backup region follows the main one.
constexpr uint32_t kBackupBootSector = 12;
constexpr uint32_t kMinSectorShift = 9, kMaxSectorShift = 12;
// Clusters are at most 32 MiB.
constexpr uint32_t kMaxClusterShift = 25;

struct TExfatBootSector {
  uint64_t VolumeLength = 0;  // sectors
  uint32_t FatOffset = 0;     // sectors
  uint32_t FatLength = 0;     // sectors
  uint32_t ClusterHeapOffset = 0;
  uint32_t ClusterCount = 0;
  uint32_t RootCluster = 0;
  uint32_t SerialNumber = 0;
  uint16_t VolumeFlags = 0;
  uint8_t BytesPerSectorShift = 0;
  uint8_t SectorsPerClusterShift = 0;
  uint8_t NumberOfFats = 0;

  uint32_t BytesPerSector() const { return uint32_t{1} << BytesPerSectorShift; }
  uint32_t ClusterBytes() const { return uint32_t{1} << (BytesPerSectorShift + SectorsPerClusterShift); }
  // The second table is the one in use when the flag says so.
  bool SecondFatActive() const { return (VolumeFlags & 1) != 0 && NumberOfFats == 2; }
};

// Whether the sector carries the exFAT name and signature (its geometry unchecked).
bool IsExfatBootSector(std::span<const uint8_t> sector);

// The geometry of a main boot sector; nothing when the name, signature,
// the zero block where FAT keeps its parameters, or the geometry itself
// (sector and cluster shifts, table and heap places, root cluster) are wrong.
[[nodiscard]] std::optional<TExfatBootSector> DecodeBootSector(std::span<const uint8_t> sector);

// The boot region's checksum over its first eleven sectors (each of
// bytesPerSector bytes), the volume flags and the in-use percentage left out.
uint32_t BootRegionChecksum(std::span<const uint8_t> region, uint32_t bytesPerSector);

// Whether region (twelve sectors: the boot region) decodes and its checksum
// sector holds the checksum of the first eleven.
[[nodiscard]] std::optional<TExfatBootSector> CheckBootRegion(std::span<const uint8_t> region);

}  // namespace mirel::exfat
