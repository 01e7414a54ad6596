#pragma once
// The header of an MFT attribute: the common fields, then those of a resident
// attribute (value) or of a non-resident one (run list, sizes).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mirel {

// The common part; the shortest attribute a record can hold.
constexpr size_t kAttrHeaderBytes = 0x10;
constexpr size_t kResidentHeaderBytes = 0x18;
constexpr size_t kNonResidentHeaderBytes = 0x40;
constexpr uint32_t kAttrEndMarker = 0xFFFFFFFF;

struct TNtfsAttrHeader {
  uint32_t Type = 0;
  // Bytes the attribute takes in its record (only the low 16 bits count).
  uint16_t Length = 0;
  bool NonResident = false;
  uint8_t NameLength = 0;  // in UTF-16 units
  uint16_t NameOffset = 0;
  // 0x00FF compression method, 0x4000 encrypted, 0x8000 sparse.
  uint16_t Flags = 0;
  uint16_t Instance = 0;
  // Resident attributes.
  uint32_t ValueLength = 0;
  uint16_t ValueOffset = 0;
  // Non-resident attributes; fields past the attribute's end read as 0.
  int64_t StartVcn = 0;
  int64_t LastVcn = 0;
  uint16_t MappingPairsOffset = 0;
  uint16_t CompressionUnit = 0;
  int64_t AllocatedSize = 0;
  int64_t DataSize = 0;
  int64_t InitializedSize = 0;

  // Views into the attribute's bytes (those decoded); empty where a field
  // points outside them, or mapping pairs into the header.
  [[nodiscard]] std::span<const uint8_t> Name(std::span<const uint8_t> attr) const;
  [[nodiscard]] std::span<const uint8_t> Value(std::span<const uint8_t> attr) const;
  [[nodiscard]] std::span<const uint8_t> MappingPairs(std::span<const uint8_t> attr) const;
};

// The attribute at the start of bytes; nullopt when fewer than
// kAttrHeaderBytes are there, or its length is shorter than that or runs past
// the bytes. The end marker decodes as an attribute of type kAttrEndMarker
// when its length fits; AttrAt treats it as the end.
[[nodiscard]] std::optional<TNtfsAttrHeader> DecodeAttrHeader(std::span<const uint8_t> bytes);

// The attribute at offset of a record's bytes, for walks: nullopt at the end
// marker and where no attribute fits.
[[nodiscard]] std::optional<TNtfsAttrHeader> AttrAt(std::span<const uint8_t> record, size_t offset);

// Only the type, length and name length of the attribute AttrAt finds
// there: walks that pass over most attributes need no more, and a scan walks
// every record.
struct TAttrExtent {
  uint32_t Type = 0;
  uint16_t Length = 0;
  uint8_t NameLength = 0;
};
[[nodiscard]] std::optional<TAttrExtent> AttrExtentAt(std::span<const uint8_t> record, size_t offset);

}  // namespace mirel
