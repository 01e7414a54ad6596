#pragma once
// exFAT directory entries (32 bytes each) and the entry sets they form: a
// file entry, its stream extension and its file-name entries. Pure decoders
// over entry bytes; a deleted set differs from a live one only in the in-use
// bit of each entry's type.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/FileTime.h"

namespace mirel::exfat {

constexpr size_t kEntrySize = 32;
constexpr uint8_t kInUseBit = 0x80;
constexpr uint8_t kEndOfDirectory = 0x00;
// Entry types with the in-use bit set; the deleted form lacks it.
constexpr uint8_t kTypeBitmap = 0x81;
constexpr uint8_t kTypeUpcase = 0x82;
constexpr uint8_t kTypeLabel = 0x83;
constexpr uint8_t kTypeFile = 0x85;
constexpr uint8_t kTypeStream = 0xC0;
constexpr uint8_t kTypeName = 0xC1;
// A file entry's set: the stream extension and 1..17 name entries.
constexpr uint8_t kMinSecondaries = 2, kMaxSecondaries = 18;
constexpr size_t kNameUnitsPerEntry = 15;
constexpr size_t kMaxNameUnits = 255;
constexpr size_t kMaxLabelUnits = 11;

constexpr bool IsInUse(uint8_t type) { return (type & kInUseBit) != 0; }
constexpr uint8_t LiveType(uint8_t type) { return type | kInUseBit; }

// An allocation bitmap or up-case table entry: where its data lies.
struct TDataEntry {
  uint8_t Flags = 0;  // bitmap: bit 0 chooses the second bitmap
  uint32_t FirstCluster = 0;
  uint64_t DataLength = 0;
};
[[nodiscard]] std::optional<TDataEntry> DecodeBitmapEntry(std::span<const uint8_t> e);
[[nodiscard]] std::optional<TDataEntry> DecodeUpcaseEntry(std::span<const uint8_t> e);

// The volume label (live entries only); nothing for a malformed count.
[[nodiscard]] std::optional<std::string> DecodeLabelEntry(std::span<const uint8_t> e);

// A timestamp as recorded: the DOS-style date and time, the 10 ms units
// past it (0..199) and the UTC offset byte (bit 7: valid; bits 0..6: signed
// quarter hours east of UTC).
TFileTime DecodeTimestamp(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset);

struct TEntrySet {
  bool Deleted = false;
  uint8_t Secondaries = 0;
  uint16_t Attributes = 0;
  TFileTime Created = 0, Modified = 0, Accessed = 0;
  bool NoFatChain = false;
  bool AllocationPossible = false;
  uint32_t FirstCluster = 0;
  uint64_t ValidDataLength = 0;
  uint64_t DataLength = 0;
  std::string Name;

  size_t Bytes() const { return (size_t{Secondaries} + 1) * kEntrySize; }
};

// The checksum of a set's entries (the set's own checksum field left out),
// computed as the set was written: with the in-use bit of every type set.
uint16_t EntrySetChecksum(std::span<const uint8_t> set);

// How many bytes of directory the set starting at a file entry claims;
// 0 when the first byte is no file entry or its secondary count is wrong.
size_t EntrySetBytes(std::span<const uint8_t> first);

// The set at the start of bytes: a file entry, its stream extension and its
// name entries, all live or all deleted, checksum right, the name's length
// within what the name entries hold. Nothing otherwise.
[[nodiscard]] std::optional<TEntrySet> DecodeEntrySet(std::span<const uint8_t> bytes);

}  // namespace mirel::exfat
