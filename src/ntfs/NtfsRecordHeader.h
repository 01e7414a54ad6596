#pragma once
// The header of an MFT record: signature, update-sequence array, sequence
// number, in-use and directory flags, first attribute, base record.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mirel {

// The fields up to the base reference and the next attribute number.
constexpr size_t kMftRecordHeaderBytes = 0x2A;

enum : uint16_t { rhInUse = 0x0001, rhDirectory = 0x0002 };

struct TMftRecordHeader {
  uint16_t UsaOffset = 0;
  uint16_t UsaCount = 0;
  uint16_t Sequence = 0;
  uint16_t FirstAttribute = 0;
  uint16_t Flags = 0;
  // The base record's number (low 48 bits) and sequence; 0 for a base record.
  int64_t BaseRecord = 0;
  uint16_t BaseSequence = 0;

  bool InUse() const { return Flags & rhInUse; }
  bool IsDirectory() const { return Flags & rhDirectory; }
  bool IsBase() const { return BaseRecord == 0 && BaseSequence == 0; }
};

// nullopt for bytes shorter than the header or without the "FILE" signature.
[[nodiscard]] std::optional<TMftRecordHeader> DecodeMftRecordHeader(std::span<const uint8_t> record);

}  // namespace mirel
