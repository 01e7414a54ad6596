#pragma once
// What the volume layer asks of exFAT before any scan: whether a source holds
// an exFAT volume and which copy of its boot region to use, and the volume's
// serial, label, size and free space.
#include <cstdint>
#include <optional>

namespace mirel {

class TByteSource;
class TDiskObject;

// Where the boot region to use starts: 0 for the main one, the backup's
// offset when only that one is whole. primaryOnly: only when the first
// sector names exFAT (a damaged main region is then still read through its
// backup); otherwise the backup is also sought behind a first sector that
// names nothing. Nothing when no exFAT boot region is found.
[[nodiscard]] std::optional<int64_t> FindExfatBootRegion(const TByteSource& source, bool primaryOnly);

// Serial, label, the volume's size and its free space (from the allocation bitmap).
void ReadExfatVolumeInfo(TDiskObject& disk);

}  // namespace mirel
