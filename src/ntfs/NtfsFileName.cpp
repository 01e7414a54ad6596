#include "ntfs/NtfsFileName.h"

#include "core/LeReader.h"
#include "core/Text.h"
#include "ntfs/NtfsTypes.h"

namespace mirel {

namespace {

constexpr size_t kParentReference = 0x00;
constexpr size_t kCreated = 0x08;
constexpr size_t kModified = 0x10;
constexpr size_t kRecordChanged = 0x18;
constexpr size_t kAccessed = 0x20;
constexpr size_t kAllocatedSize = 0x28;
constexpr size_t kDataSize = 0x30;
constexpr size_t kFlags = 0x38;
constexpr size_t kNameLength = 0x40;
constexpr size_t kNameSpace = 0x41;
constexpr size_t kName = 0x42;
static_assert(kName == kFileNameHeaderBytes);

}  // namespace

std::optional<TNtfsFileName> DecodeFileName(std::span<const uint8_t> value) {
  TLeReader r(value);
  if (!r.Has(0, kFileNameHeaderBytes)) return std::nullopt;
  const size_t length = r.U8(kNameLength);
  std::span<const uint8_t> chars = r.Bytes(kName, length * 2);
  if (length != 0 && chars.empty()) return std::nullopt;
  TNtfsFileName f;
  const uint64_t parent = r.U64(kParentReference);
  f.ParentRecord = static_cast<int64_t>(parent) & MFT_REF_MASK;
  f.ParentSequence = static_cast<uint16_t>(parent >> 48);
  f.Times.Created = r.U64(kCreated);
  f.Times.Modified = r.U64(kModified);
  f.Times.Changed = r.U64(kRecordChanged);
  f.Times.Accessed = r.U64(kAccessed);
  f.AllocatedSize = static_cast<int64_t>(r.U64(kAllocatedSize));
  f.DataSize = static_cast<int64_t>(r.U64(kDataSize));
  f.Flags = r.U32(kFlags);
  f.NameSpace = r.U8(kNameSpace);
  f.Name = Utf16LeToUtf8(chars.data(), length);
  return f;
}

}  // namespace mirel
