#include "fat/FatTable.h"

#include <algorithm>

#include "core/DebugLog.h"
#include "core/LeReader.h"
#include "platform/ByteSource.h"

namespace mirel::fat {

namespace {

// Table bytes read at a time: 16,384 FAT32 entries.
constexpr uint32_t kBlockBytes = 64 << 10;

}  // namespace

uint32_t DecodeFatEntry(TFatKind kind, uint32_t n, uint32_t readBytes) {
  switch (kind) {
    case TFatKind::Fat12: return (n & 1) ? (readBytes & 0xFFFF) >> 4 : readBytes & 0xFFF;
    case TFatKind::Fat16: return readBytes & 0xFFFF;
    case TFatKind::Fat32: return readBytes & 0x0FFFFFFF;
  }
  return 0;
}

std::optional<uint32_t> ReadFatEntry(std::span<const uint8_t> table, TFatKind kind, uint32_t n) {
  TLeReader r(table);
  const uint64_t at = EntryByteOffset(kind, n);
  const uint32_t width = EntryReadBytes(kind);
  if (!r.Has(at, width)) return std::nullopt;
  return DecodeFatEntry(kind, n, static_cast<uint32_t>(r.UN(at, width)));
}

void TFatTable::Open(const TByteSource* source, TFatKind kind, uint32_t bytesPerSector, uint32_t firstSector,
                     uint32_t maxCluster) {
  Source = source;
  Kind = kind;
  Marks = MarkersOf(kind);
  BytesPerSector = bytesPerSector;
  FirstSector = firstSector;
  Max = maxCluster;
  Reset();
}

void TFatTable::Reset() {
  Block = {};
  BlockFirst = 0;
  BlockSectors = 0;
  LastFailedSector = 0;
}

const uint8_t* TFatTable::Sector(uint32_t sector) {
  if (sector < BlockFirst || sector - BlockFirst >= BlockSectors) {
    // A block aligned to its size; where it cannot be read whole, the sector
    // alone is read, so that one bad sector costs only its own entries.
    const uint32_t per = std::max<uint32_t>(1, kBlockBytes / BytesPerSector);
    BlockFirst = sector / per * per;
    Block.resize(size_t{per} * BytesPerSector);
    ++SectorReads;
    BlockSectors = static_cast<uint32_t>(
        Source->Read(Block.data(), Block.size(), int64_t{BlockFirst} * BytesPerSector) / BytesPerSector);
    if (sector - BlockFirst >= BlockSectors) {
      BlockFirst = sector;
      ++SectorReads;
      BlockSectors = Source->Read(Block.data(), BytesPerSector, int64_t{sector} * BytesPerSector) == BytesPerSector;
    }
  }
  if (BlockSectors == 0 || sector < BlockFirst || sector - BlockFirst >= BlockSectors) {
    if (!ReadFailed) FirstFailedSector = sector;
    ReadFailed = true;
    // A run of lookups in one unreadable sector is logged once.
    if (sector != LastFailedSector && LogReadFailures)
      WriteDebugLog("%s: unable to read FAT sector; Sector Number : %u; Offset : %lld", "FatScaner.GetNextCluster",
                    sector, static_cast<long long>(sector) * BytesPerSector);
    LastFailedSector = sector;
    return nullptr;
  }
  return Block.data() + size_t{sector - BlockFirst} * BytesPerSector;
}

uint32_t TFatTable::Next(uint32_t n) {
  if (n < 2 || n > Max || BytesPerSector == 0 || !Source) return Marks.Bad;
  const uint64_t at = EntryByteOffset(Kind, n);
  auto sector = static_cast<uint32_t>(FirstSector + at / BytesPerSector);
  uint32_t offset = static_cast<uint32_t>(at % BytesPerSector);
  // An entry may straddle two sectors (FAT12 at a sector's last byte): its
  // bytes are gathered one sector at a time.
  uint32_t value = 0;
  for (uint32_t i = 0, width = EntryReadBytes(Kind); i < width;) {
    const uint8_t* bytes = Sector(sector);
    if (!bytes) return Marks.Bad;
    for (; i < width && offset < BytesPerSector; ++i, ++offset) value |= uint32_t{bytes[offset]} << (8 * i);
    ++sector;
    offset = 0;
  }
  return DecodeFatEntry(Kind, n, value);
}

void TFatTable::LogChainEnd(const char* who, const char* what, uint32_t first, uint32_t cur, uint32_t next) {
  WriteDebugLog("%s: cluster chain %s; First = %u; Cluster = %u; Next = %u", who, what, first, cur, next);
}

}  // namespace mirel::fat
