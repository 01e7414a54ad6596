// The NTFS boot sector decoder: the input is the first sector of a volume.
#include <cstdlib>
#include <span>

#include "FuzzSupport.h"
#include "ntfs/NtfsBootSector.h"

using namespace mirel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<TNtfsBootSector> boot = DecodeNtfsBootSector(std::span<const uint8_t>(data, size));
  if (!boot) return 0;
  if (size < kNtfsBootSectorBytes || boot->BytesPerSector == 0 || boot->SectorsPerCluster == 0) std::abort();
  if (boot->RecordSize > 65536 || boot->IndexSize > 65536 || boot->VolumeBytes() < 0) std::abort();
  return 0;
}
