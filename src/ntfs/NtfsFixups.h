#pragma once
// Update-sequence fixups of a multi-sector structure (MFT records): the last
// word of every sector is saved in an array and replaced by a sequence number,
// so a sector written by a different update shows.
#include <cstdint>
#include <span>

namespace mirel {

enum class TFixupResult : uint8_t {
  Applied,
  // The array, or a sector it names, lies past the end of the bytes.
  ArrayOutside,
  // The sector size is no size a sector can have.
  BadSectorSize,
  // A sector's last word is not the sequence number: a torn write.
  Torn,
};

// Checks that every sector the array names ends in the sequence number.
// A count of 0 or 1 names no sector.
[[nodiscard]] TFixupResult CheckFixups(std::span<const uint8_t> record, uint32_t sectorSize);
inline bool FixupsIntact(std::span<const uint8_t> record, uint32_t sectorSize) {
  return CheckFixups(record, sectorSize) == TFixupResult::Applied;
}
// Checks, then puts the saved words back; the bytes are untouched unless Applied.
[[nodiscard]] TFixupResult ApplyFixups(std::span<uint8_t> record, uint32_t sectorSize);

}  // namespace mirel
