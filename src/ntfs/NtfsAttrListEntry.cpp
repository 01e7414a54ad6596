#include "ntfs/NtfsAttrListEntry.h"

#include "core/LeReader.h"
#include "core/Text.h"
#include "ntfs/NtfsTypes.h"

namespace mirel {

namespace {

constexpr size_t kType = 0x00;
constexpr size_t kLength = 0x04;
constexpr size_t kNameLength = 0x06;
constexpr size_t kNameOffset = 0x07;
constexpr size_t kLowestVcn = 0x08;
constexpr size_t kReference = 0x10;
constexpr size_t kInstance = 0x18;
static_assert(kInstance + 2 == kAttrListEntryBytes);

}  // namespace

TAttrListStep DecodeAttrListEntry(std::span<const uint8_t> bytes) {
  TLeReader r(bytes);
  TAttrListStep step;
  if (!r.Has(0, kAttrListEntryBytes)) return step;
  const uint16_t length = r.U16(kLength);
  if (length == 0) return step;
  if (length < kAttrListEntryBytes || length > bytes.size()) {
    step.Kind = TAttrListStep::Damaged;
    return step;
  }
  TLeReader e(bytes.first(length));
  TAttrListEntry& out = step.Entry;
  out.Type = e.U32(kType);
  out.Length = length;
  out.LowestVcn = static_cast<int64_t>(e.U64(kLowestVcn));
  const uint64_t ref = e.U64(kReference);
  out.Record = static_cast<int64_t>(ref) & MFT_REF_MASK;
  out.RecordSequence = static_cast<uint16_t>(ref >> 48);
  out.Instance = e.U16(kInstance);
  const size_t nameLength = e.U8(kNameLength);
  if (std::span<const uint8_t> name = e.Bytes(e.U8(kNameOffset), nameLength * 2); !name.empty())
    out.Name = Utf16LeToUtf8(name.data(), nameLength);
  step.Kind = TAttrListStep::Found;
  return step;
}

}  // namespace mirel
