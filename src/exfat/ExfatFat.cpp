#include "exfat/ExfatFat.h"

#include "core/LeReader.h"
#include "exfat/ExfatBitmap.h"

namespace mirel::exfat {

std::optional<uint32_t> FatEntryIn(std::span<const uint8_t> block, uint32_t first, uint32_t index) {
  if (index < first) return std::nullopt;
  const uint64_t at = (uint64_t{index} - first) * kFatEntrySize;
  TLeReader r(block);
  if (!r.Has(at, kFatEntrySize)) return std::nullopt;
  return r.U32(at);
}

std::optional<uint32_t> LinkedCluster(uint32_t value, uint32_t clusterCount) {
  if (value < kFirstCluster || uint64_t{value} > uint64_t{clusterCount} + 1) return std::nullopt;
  return value;
}

}  // namespace mirel::exfat
