#pragma once
// The allocation table: entry decoding for 12-, 16- and 32-bit tables, the
// volume reads behind it (a block of sectors cached at a time), chain
// following for live entries and the deleted-file rule that gives a deleted
// entry its clusters.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>
#include <vector>

#include "fat/FatBootSector.h"

namespace mirel {
class TByteSource;
}

namespace mirel::fat {

// The chain markers of a table width: an entry of Bad marks a bad cluster,
// one from EocMin to EocMax ends a chain.
struct TFatMarkers {
  uint32_t Bad = 0;
  uint32_t EocMin = 0;
  uint32_t EocMax = 0;
};

constexpr TFatMarkers MarkersOf(TFatKind kind) {
  switch (kind) {
    case TFatKind::Fat12: return {0xFF7, 0xFF8, 0xFFF};
    case TFatKind::Fat16: return {0xFFF7, 0xFFF8, 0xFFFF};
    case TFatKind::Fat32: return {0x0FFFFFF7, 0x0FFFFFF8, 0x0FFFFFFF};
  }
  return {};
}

// Bytes read for one entry: a FAT12 entry takes a 16-bit word of which it
// owns twelve bits.
constexpr uint32_t EntryReadBytes(TFatKind kind) { return kind == TFatKind::Fat32 ? 4 : 2; }
// Where cluster n's entry starts in the table.
constexpr uint64_t EntryByteOffset(TFatKind kind, uint32_t n) {
  switch (kind) {
    case TFatKind::Fat12: return uint64_t{n} + n / 2;
    case TFatKind::Fat16: return uint64_t{n} * 2;
    case TFatKind::Fat32: return uint64_t{n} * 4;
  }
  return 0;
}
// Cluster n's value from the little-endian bytes read at its offset: odd
// FAT12 entries own the high twelve bits, even ones the low twelve; FAT32
// entries have four reserved top bits.
uint32_t DecodeFatEntry(TFatKind kind, uint32_t n, uint32_t readBytes);
// Cluster n's value from table bytes that start at the table's first byte;
// nothing when they do not reach that far.
[[nodiscard]] std::optional<uint32_t> ReadFatEntry(std::span<const uint8_t> table, TFatKind kind, uint32_t n);

class TFatTable {
public:
  // source: the volume; firstSector: where the table in use starts;
  // maxCluster: the highest data cluster. Drops what was cached.
  void Open(const TByteSource* source, TFatKind kind, uint32_t bytesPerSector, uint32_t firstSector,
            uint32_t maxCluster);
  // Forgets the cached sectors, so that the next lookups read them again.
  void Reset();

  const TFatMarkers& Markers() const { return Marks; }
  uint32_t MaxCluster() const { return Max; }
  // Cluster n's entry; Markers().Bad when n is no data cluster or its table
  // sector cannot be read (logged once per run of lookups in that sector).
  uint32_t Next(uint32_t n);
  bool IsFree(uint32_t n) { return Next(n) == 0; }
  // Whether a table value ends a chain: free, bad, or an end marker.
  bool EndsChain(uint32_t value) const { return value == 0 || value == Marks.Bad || value >= Marks.EocMin; }

  // take(cluster) for the live chain from first, at most maxClusters of it;
  // stops (logged, under who) where the table leaves the volume or loops back.
  template <class Take>
  void FollowChain(uint32_t first, uint64_t maxClusters, const char* who, Take take);
  // The deleted-file rule: the data is taken to lie in the free clusters
  // from first on, passing over those the table gives to live files; take
  // (cluster) for up to count of them. None when first itself is in use
  // again: the data's start is gone. stopped() is polled now and then.
  // Returns how many were taken.
  template <class Take, class Stopped>
  uint64_t WalkFreeClusters(uint32_t first, uint64_t count, Take take, Stopped stopped);

  // Volume reads made for the table.
  uint64_t SectorReads = 0;
  // Set by a sector that could not be read, and the first such sector.
  bool ReadFailed = false;
  uint32_t FirstFailedSector = 0;
  bool LogReadFailures = true;

private:
  // The bytes of an absolute sector of the table, from the cached block,
  // read when needed; null (logged) when it cannot be read.
  const uint8_t* Sector(uint32_t sector);
  // Logs a chain that ends badly.
  static void LogChainEnd(const char* who, const char* what, uint32_t first, uint32_t cur, uint32_t next);

  const TByteSource* Source = nullptr;
  TFatKind Kind = TFatKind::Fat12;
  TFatMarkers Marks{};
  uint32_t BytesPerSector = 0;
  uint32_t FirstSector = 0;
  uint32_t Max = 0;
  std::vector<uint8_t> Block;
  uint32_t BlockFirst = 0;
  uint32_t BlockSectors = 0;
  uint32_t LastFailedSector = 0;
};

template <class Take>
void TFatTable::FollowChain(uint32_t first, uint64_t maxClusters, const char* who, Take take) {
  if (first < 2 || first > Max || maxClusters == 0) return;
  std::unordered_set<uint32_t> seen;
  uint64_t taken = 0;
  for (uint32_t cur = first;;) {
    take(cur);
    seen.insert(cur);
    if (++taken >= maxClusters) return;
    const uint32_t next = Next(cur);
    if (EndsChain(next)) return;
    if (next < 2 || next > Max) return LogChainEnd(who, "leaves the volume", first, cur, next);
    if (seen.count(next)) return LogChainEnd(who, "loops back", first, cur, next);
    cur = next;
  }
}

template <class Take, class Stopped>
uint64_t TFatTable::WalkFreeClusters(uint32_t first, uint64_t count, Take take, Stopped stopped) {
  if (first < 2 || first > Max || count == 0 || !IsFree(first)) return 0;
  uint64_t found = 0;
  for (uint32_t c = first; c <= Max && found < count; ++c) {
    if ((c - first) % 4096 == 0 && stopped()) break;
    if (IsFree(c)) {
      take(c);
      ++found;
    }
  }
  return found;
}

}  // namespace mirel::fat
