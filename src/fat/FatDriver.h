#pragma once

namespace mirel {

// Registers FAT12, FAT16 and FAT32 with the volume layer: their scanners,
// their recovery stream, and the free space read from the allocation table.
void RegisterFatFileSystems();

}  // namespace mirel
