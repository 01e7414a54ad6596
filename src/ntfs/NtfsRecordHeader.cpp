#include "ntfs/NtfsRecordHeader.h"

#include <algorithm>

#include "core/LeReader.h"
#include "ntfs/NtfsTypes.h"

namespace mirel {

namespace {

constexpr size_t kSignature = 0x00;
constexpr size_t kUsaOffset = 0x04;
constexpr size_t kUsaCount = 0x06;
constexpr size_t kSequence = 0x10;
constexpr size_t kFirstAttribute = 0x14;
constexpr size_t kFlags = 0x16;
constexpr size_t kBaseReference = 0x20;
constexpr size_t kNextAttributeId = 0x28;
static_assert(kNextAttributeId + 2 == kMftRecordHeaderBytes);

constexpr uint8_t kFileSignature[4] = {'F', 'I', 'L', 'E'};

}  // namespace

std::optional<TMftRecordHeader> DecodeMftRecordHeader(std::span<const uint8_t> record) {
  TLeReader r(record);
  if (!r.Has(0, kMftRecordHeaderBytes)) return std::nullopt;
  if (!std::equal(std::begin(kFileSignature), std::end(kFileSignature), record.begin() + kSignature))
    return std::nullopt;
  TMftRecordHeader h;
  h.UsaOffset = r.U16(kUsaOffset);
  h.UsaCount = r.U16(kUsaCount);
  h.Sequence = r.U16(kSequence);
  h.FirstAttribute = r.U16(kFirstAttribute);
  h.Flags = r.U16(kFlags);
  const uint64_t base = r.U64(kBaseReference);
  h.BaseRecord = static_cast<int64_t>(base) & MFT_REF_MASK;
  h.BaseSequence = static_cast<uint16_t>(base >> 48);
  return h;
}

}  // namespace mirel
