#include "ntfs/NtfsFixups.h"

#include "core/LeReader.h"

namespace mirel {

namespace {

constexpr size_t kUsaOffset = 0x04;
constexpr size_t kUsaCount = 0x06;
constexpr uint32_t kMinSector = 256;
constexpr uint32_t kMaxSector = 4096;

}  // namespace

TFixupResult CheckFixups(std::span<const uint8_t> record, uint32_t sectorSize) {
  TLeReader r(record);
  if (!r.Has(kUsaCount, 2)) return TFixupResult::ArrayOutside;
  const size_t usa = r.U16(kUsaOffset), count = r.U16(kUsaCount);
  if (count <= 1) return TFixupResult::Applied;
  if (sectorSize < kMinSector || sectorSize > kMaxSector || (sectorSize & (sectorSize - 1)) != 0)
    return TFixupResult::BadSectorSize;
  // The array and every sector it protects must lie inside the bytes.
  if (!r.Has(usa, 2 * count) || (count - 1) * size_t{sectorSize} > record.size()) return TFixupResult::ArrayOutside;
  const uint16_t seq = r.U16(usa);
  for (size_t i = 1; i < count; ++i)
    if (r.U16(i * sectorSize - 2) != seq) return TFixupResult::Torn;
  return TFixupResult::Applied;
}

TFixupResult ApplyFixups(std::span<uint8_t> record, uint32_t sectorSize) {
  const TFixupResult check = CheckFixups(record, sectorSize);
  if (check != TFixupResult::Applied) return check;
  TLeReader r(record);
  const size_t usa = r.U16(kUsaOffset), count = r.U16(kUsaCount);
  for (size_t i = 1; i < count; ++i) {
    const size_t end = i * sectorSize - 2;
    record[end] = record[usa + 2 * i];
    record[end + 1] = record[usa + 2 * i + 1];
  }
  return TFixupResult::Applied;
}

}  // namespace mirel
