#include "exfat/ExfatVolume.h"

#include <vector>

#include "core/DiskObject.h"
#include "exfat/ExfatBootSector.h"
#include "exfat/ExfatScaner.h"
#include "platform/ByteSource.h"

namespace mirel {

using namespace exfat;

namespace {

// The boot region at offset, when it is whole (its checksum right) for a
// sector size of bytesPerSector.
bool WholeRegionAt(const TByteSource& source, int64_t offset, uint32_t bytesPerSector) {
  std::vector<uint8_t> region(size_t{bytesPerSector} * (kChecksumSector + 1));
  if (source.Read(region.data(), region.size(), offset) != region.size()) return false;
  std::optional<TExfatBootSector> boot = CheckBootRegion(region);
  return boot && boot->BytesPerSector() == bytesPerSector;
}

}  // namespace

std::optional<int64_t> FindExfatBootRegion(const TByteSource& source, bool primaryOnly) {
  std::vector<uint8_t> first(kBootSectorSize);
  if (source.Read(first.data(), first.size(), 0) != first.size()) return std::nullopt;
  const bool named = IsExfatBootSector(first);
  if (primaryOnly && !named) return std::nullopt;
  const std::optional<TExfatBootSector> primary = DecodeBootSector(first);
  if (primary && WholeRegionAt(source, 0, primary->BytesPerSector())) return 0;
  for (uint32_t shift = kMinSectorShift; shift <= kMaxSectorShift; ++shift) {
    const uint32_t bps = uint32_t{1} << shift;
    if (WholeRegionAt(source, int64_t{kBackupBootSector} * bps, bps)) return int64_t{kBackupBootSector} * bps;
  }
  // A checksum that fails on both copies: the main sector's geometry still
  // serves when it is sound.
  if (primary) return 0;
  return std::nullopt;
}

void ReadExfatVolumeInfo(TDiskObject& disk) {
  TExfatScaner scaner(&disk);
  // A boot sector the scanner cannot use is logged when it is scanned.
  scaner.LogInitFailures = false;
  if (!scaner.Init()) return;
  disk.SerialNumber = scaner.Boot.SerialNumber;
  disk.VolumeLabel = scaner.Label;
  disk.VolumeBytes = static_cast<int64_t>(scaner.Boot.VolumeLength) * scaner.Boot.BytesPerSector();
  disk.FreeSize = scaner.CountFreeBytes();
}

}  // namespace mirel
