#pragma once
// An entry of an $ATTRIBUTE_LIST: which record holds (a part of) an attribute
// of the file, by type, name, lowest VCN and instance number.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace mirel {

// The fields up to the instance number; entries are padded beyond it.
constexpr size_t kAttrListEntryBytes = 0x1A;

struct TAttrListEntry {
  uint32_t Type = 0;
  uint16_t Length = 0;
  int64_t LowestVcn = 0;
  // The record holding the attribute: number (low 48 bits) and sequence.
  int64_t Record = 0;
  uint16_t RecordSequence = 0;
  uint16_t Instance = 0;
  // UTF-8; empty for an unnamed attribute or a name outside the entry.
  std::string Name;
};

struct TAttrListStep {
  enum TKind : uint8_t {
    Found,
    // A zero length: the list ends here.
    End,
    // The entry is shorter than its fields or runs past the list.
    Damaged,
  } Kind = End;
  TAttrListEntry Entry;
};

// The entry at the start of bytes (the rest of the list).
[[nodiscard]] TAttrListStep DecodeAttrListEntry(std::span<const uint8_t> bytes);

}  // namespace mirel
