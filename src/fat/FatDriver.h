#pragma once
#include <cstdint>
#include <span>

namespace mirel {

// Registers FAT12, FAT16 and FAT32 with the volume layer: detection by the
// cluster-count rule, the FAT32 backup boot sector, label, serial and free
// space, the scanners, the recovery stream and the eraser.
void RegisterFatFileSystems();

// The FAT code (1 to 3) of a boot sector by the cluster-count rule; 0 when it
// is no FAT boot sector or leaves no data region. Throws std::runtime_error
// for zero bytes per sector or zero sectors per cluster.
[[nodiscard]] uint8_t DetectFat(std::span<const uint8_t> bootSector);

}  // namespace mirel
