#pragma once
// The allocation bitmap: one bit per cluster of the heap, set while the
// cluster is in use. Cluster numbers start at 2.
#include <cstdint>
#include <span>
#include <vector>

namespace mirel::exfat {

constexpr uint32_t kFirstCluster = 2;

class TAllocationBitmap {
public:
  TAllocationBitmap() = default;
  // bits: the bitmap as recorded; clusters beyond it count as in use.
  TAllocationBitmap(std::span<const uint8_t> bits, uint32_t clusterCount);

  uint32_t ClusterCount() const { return Clusters; }
  // A cluster outside the heap is never free.
  bool IsFree(uint32_t cluster) const {
    const uint64_t i = uint64_t{cluster} - kFirstCluster;
    return cluster >= kFirstCluster && i < Clusters && i / 8 < Bits.size() && !((Bits[i / 8] >> (i % 8)) & 1);
  }
  // Free clusters among the first `upTo` of the heap.
  uint64_t CountFree(uint32_t upTo) const;

private:
  std::vector<uint8_t> Bits;
  uint32_t Clusters = 0;
};

}  // namespace mirel::exfat
