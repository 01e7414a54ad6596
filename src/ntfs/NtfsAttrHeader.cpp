#include "ntfs/NtfsAttrHeader.h"

#include <algorithm>

#include "core/LeReader.h"

namespace mirel {

namespace {

constexpr size_t kType = 0x00;
constexpr size_t kLength = 0x04;
constexpr size_t kNonResident = 0x08;
constexpr size_t kNameLength = 0x09;
constexpr size_t kNameOffset = 0x0A;
constexpr size_t kFlags = 0x0C;
constexpr size_t kInstance = 0x0E;
static_assert(kInstance + 2 == kAttrHeaderBytes);

constexpr size_t kValueLength = 0x10;
constexpr size_t kValueOffset = 0x14;
static_assert(kValueOffset + 4 == kResidentHeaderBytes);  // two bytes of flags and padding follow

constexpr size_t kStartVcn = 0x10;
constexpr size_t kLastVcn = 0x18;
constexpr size_t kMappingPairsOffset = 0x20;
constexpr size_t kCompressionUnit = 0x22;
constexpr size_t kAllocatedSize = 0x28;
constexpr size_t kDataSize = 0x30;
constexpr size_t kInitializedSize = 0x38;
static_assert(kInitializedSize + 8 == kNonResidentHeaderBytes);

}  // namespace

std::span<const uint8_t> TNtfsAttrHeader::Name(std::span<const uint8_t> attr) const {
  if (NameLength == 0) return {};
  return TLeReader(attr).Bytes(NameOffset, size_t{NameLength} * 2);
}

std::span<const uint8_t> TNtfsAttrHeader::Value(std::span<const uint8_t> attr) const {
  if (NonResident) return {};
  return TLeReader(attr.first(std::min<size_t>(attr.size(), Length))).Bytes(ValueOffset, ValueLength);
}

std::span<const uint8_t> TNtfsAttrHeader::MappingPairs(std::span<const uint8_t> attr) const {
  const size_t end = std::min<size_t>(attr.size(), Length);
  // Pairs that start inside the header would decode the header as runs.
  if (!NonResident || MappingPairsOffset < kNonResidentHeaderBytes || MappingPairsOffset >= end) return {};
  return attr.subspan(MappingPairsOffset, end - MappingPairsOffset);
}

std::optional<TNtfsAttrHeader> DecodeAttrHeader(std::span<const uint8_t> bytes) {
  TLeReader r(bytes);
  if (!r.Has(0, kAttrHeaderBytes)) return std::nullopt;
  TNtfsAttrHeader h;
  h.Length = r.U16(kLength);
  if (h.Length < kAttrHeaderBytes || h.Length > bytes.size()) return std::nullopt;
  TLeReader a(bytes.first(h.Length));
  h.Type = a.U32(kType);
  h.NonResident = a.U8(kNonResident) != 0;
  h.NameLength = a.U8(kNameLength);
  h.NameOffset = a.U16(kNameOffset);
  h.Flags = a.U16(kFlags);
  h.Instance = a.U16(kInstance);
  if (!h.NonResident) {
    h.ValueLength = a.U32(kValueLength);
    h.ValueOffset = a.U16(kValueOffset);
    return h;
  }
  h.StartVcn = static_cast<int64_t>(a.U64(kStartVcn));
  h.LastVcn = static_cast<int64_t>(a.U64(kLastVcn));
  h.MappingPairsOffset = a.U16(kMappingPairsOffset);
  h.CompressionUnit = a.U16(kCompressionUnit);
  h.AllocatedSize = static_cast<int64_t>(a.U64(kAllocatedSize));
  h.DataSize = static_cast<int64_t>(a.U64(kDataSize));
  h.InitializedSize = static_cast<int64_t>(a.U64(kInitializedSize));
  return h;
}

std::optional<TAttrExtent> AttrExtentAt(std::span<const uint8_t> record, size_t offset) {
  // The type and length must fit before anything is decided; then the same
  // bounds as DecodeAttrHeader's.
  TLeReader r(record);
  if (!r.Has(offset, kLength + 4) || r.U32(offset + kType) == kAttrEndMarker) return std::nullopt;
  if (!r.Has(offset, kAttrHeaderBytes)) return std::nullopt;
  const uint16_t length = r.U16(offset + kLength);
  if (length < kAttrHeaderBytes || length > record.size() - offset) return std::nullopt;
  return TAttrExtent{r.U32(offset + kType), length, r.U8(offset + kNameLength)};
}

std::optional<TNtfsAttrHeader> AttrAt(std::span<const uint8_t> record, size_t offset) {
  if (!AttrExtentAt(record, offset)) return std::nullopt;
  return DecodeAttrHeader(record.subspan(offset));
}

}  // namespace mirel
