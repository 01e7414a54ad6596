#pragma once
// The exFAT allocation table: 32-bit entries, one per cluster, linking the
// clusters of data that does not lie in one contiguous run.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mirel::exfat {

constexpr size_t kFatEntrySize = 4;
constexpr uint32_t kBadCluster = 0xFFFFFFF7;
constexpr uint32_t kEndOfChain = 0xFFFFFFFF;

// The entry of cluster `index` in a block of the table that starts at
// cluster `first`; nothing when the block does not hold it.
[[nodiscard]] std::optional<uint32_t> FatEntryIn(std::span<const uint8_t> block, uint32_t first, uint32_t index);

// The cluster an entry links to; nothing for the end of a chain, a bad
// cluster, or a value outside the heap (clusters 2..clusterCount+1).
[[nodiscard]] std::optional<uint32_t> LinkedCluster(uint32_t value, uint32_t clusterCount);

}  // namespace mirel::exfat
