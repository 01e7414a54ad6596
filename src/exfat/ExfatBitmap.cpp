#include "exfat/ExfatBitmap.h"

#include <algorithm>
#include <bit>

namespace mirel::exfat {

TAllocationBitmap::TAllocationBitmap(std::span<const uint8_t> bits, uint32_t clusterCount)
    : Bits(bits.begin(),
           bits.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(bits.size(), (uint64_t{clusterCount} + 7) / 8))),
      Clusters(clusterCount) {}

uint64_t TAllocationBitmap::CountFree(uint32_t upTo) const {
  const uint64_t n = std::min<uint64_t>({upTo, Clusters, uint64_t{Bits.size()} * 8});
  uint64_t used = 0;
  for (uint64_t i = 0; i < n / 8; ++i) used += static_cast<uint64_t>(std::popcount(Bits[i]));
  for (uint64_t i = n / 8 * 8; i < n; ++i) used += (Bits[i / 8] >> (i % 8)) & 1;
  return n - used;
}

}  // namespace mirel::exfat
