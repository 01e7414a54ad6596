#include "ntfs/NtfsStdInfo.h"

#include "core/LeReader.h"

namespace mirel {

namespace {

constexpr size_t kCreated = 0x00;
constexpr size_t kModified = 0x08;
constexpr size_t kRecordChanged = 0x10;
constexpr size_t kAccessed = 0x18;
constexpr size_t kAttributes = 0x20;
// Four bytes of maximum-versions count follow the attributes.
static_assert(kAttributes + 8 == kStdInfoBytes);

}  // namespace

std::optional<TNtfsStdInfo> DecodeStdInfo(std::span<const uint8_t> value) {
  TLeReader r(value);
  if (!r.Has(0, kStdInfoBytes)) return std::nullopt;
  TNtfsStdInfo s;
  s.Times.Created = r.U64(kCreated);
  s.Times.Modified = r.U64(kModified);
  s.Times.Changed = r.U64(kRecordChanged);
  s.Times.Accessed = r.U64(kAccessed);
  s.Attributes = r.U32(kAttributes);
  return s;
}

}  // namespace mirel
