#pragma once
// Registers the NTFS detection, scanner, stream, volume information and
// eraser with the engine.
#include <cstdint>
#include <optional>
#include <span>

#include "core/DiskObject.h"

namespace mirel {

void RegisterNtfsFileSystem();
// fsNtfs for a boot sector with no FAT tables, root entries or 16-bit table
// size, and a sector and cluster size; 0 otherwise.
[[nodiscard]] uint8_t DetectNtfs(std::span<const uint8_t> bootSector);
// The serial from the boot sector, the label from $Volume and the free bytes
// from the cluster bitmap.
void ReadNtfsVolumeInfo(TDiskObject& disk, const TByteSource& handle);
// Clear bits of the MFT's record bitmap; nothing when it cannot be read.
[[nodiscard]] std::optional<int64_t> CountFreeMftRecords(const TDiskObject& disk);

}  // namespace mirel
