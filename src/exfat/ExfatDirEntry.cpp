#include "exfat/ExfatDirEntry.h"

#include "core/LeReader.h"
#include "core/Text.h"

namespace mirel::exfat {

namespace {

// Common to every entry.
constexpr size_t kType = 0x00;
constexpr size_t kSecondaryFlags = 0x01;
// Bitmap and up-case entries.
constexpr size_t kDataFirstCluster = 0x14;
constexpr size_t kDataLength = 0x18;
// Volume label.
constexpr size_t kLabelCount = 0x01;
constexpr size_t kLabelText = 0x02;
// File entry.
constexpr size_t kSecondaryCount = 0x01;
constexpr size_t kSetChecksum = 0x02;
constexpr size_t kAttributes = 0x04;
constexpr size_t kCreateStamp = 0x08;
constexpr size_t kModifiedStamp = 0x0C;
constexpr size_t kAccessedStamp = 0x10;
constexpr size_t kCreate10ms = 0x14;
constexpr size_t kModified10ms = 0x15;
constexpr size_t kCreateUtcOffset = 0x16;
constexpr size_t kModifiedUtcOffset = 0x17;
constexpr size_t kAccessedUtcOffset = 0x18;
// Stream extension.
constexpr size_t kNameLength = 0x03;
constexpr size_t kValidDataLength = 0x08;
constexpr size_t kStreamFirstCluster = 0x14;
constexpr size_t kStreamDataLength = 0x18;
constexpr uint8_t kAllocationPossible = 0x01;
constexpr uint8_t kNoFatChain = 0x02;
// Set in the type of every secondary entry.
constexpr uint8_t kSecondaryBit = 0x40;
// File name entry.
constexpr size_t kNameText = 0x02;
static_assert(kNameText + kNameUnitsPerEntry * 2 == kEntrySize);
static_assert(kLabelText + kMaxLabelUnits * 2 <= kEntrySize);
static_assert(kStreamDataLength + 8 == kEntrySize);

constexpr int64_t kQuarterHour = int64_t{15} * 60;

int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return int64_t{era} * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::optional<TDataEntry> DecodeDataEntry(std::span<const uint8_t> e, uint8_t type) {
  TLeReader r(e);
  if (e.size() < kEntrySize || r.U8(kType) != type) return std::nullopt;
  TDataEntry d;
  d.Flags = r.U8(kSecondaryFlags);
  d.FirstCluster = r.U32(kDataFirstCluster);
  d.DataLength = r.U64(kDataLength);
  return d;
}

// Units no exFAT name holds: controls and the characters the file system reserves.
bool IsForbiddenNameUnit(uint16_t u) {
  if (u < 0x20) return true;
  switch (u) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|': return true;
    default: return false;
  }
}

}  // namespace

std::optional<TDataEntry> DecodeBitmapEntry(std::span<const uint8_t> e) { return DecodeDataEntry(e, kTypeBitmap); }

std::optional<TDataEntry> DecodeUpcaseEntry(std::span<const uint8_t> e) { return DecodeDataEntry(e, kTypeUpcase); }

std::optional<std::string> DecodeLabelEntry(std::span<const uint8_t> e) {
  TLeReader r(e);
  if (e.size() < kEntrySize || r.U8(kType) != kTypeLabel) return std::nullopt;
  const uint8_t count = r.U8(kLabelCount);
  if (count > kMaxLabelUnits) return std::nullopt;
  return Utf16LeToUtf8(e.data() + kLabelText, count);
}

TFileTime DecodeTimestamp(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset) {
  const auto date = static_cast<uint16_t>(stamp >> 16), time = static_cast<uint16_t>(stamp & 0xFFFF);
  if (tenMs > 199) tenMs = 0;
  if (!(utcOffset & 0x80)) return DosDateTimeToFileTime(date, time, tenMs);
  const unsigned day = date & 0x1F, month = (date >> 5) & 0x0F;
  const int year = 1980 + (date >> 9);
  const int sec = (time & 0x1F) * 2, min = (time >> 5) & 0x3F, hour = time >> 11;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || min > 59 || sec > 59) return 0;
  // Seven-bit two's complement: quarter hours east of UTC.
  const int quarters = (utcOffset & 0x40) ? static_cast<int>(utcOffset & 0x7F) - 128 : utcOffset & 0x3F;
  const int64_t local = DaysFromCivil(year, month, day) * 86400 + int64_t{hour} * 3600 + int64_t{min} * 60 + sec;
  return UnixToFileTime(local - quarters * kQuarterHour + tenMs / 100, (tenMs % 100) * 10000000L);
}

uint16_t EntrySetChecksum(std::span<const uint8_t> set) {
  uint16_t sum = 0;
  for (size_t i = 0; i < set.size(); ++i) {
    if (i == kSetChecksum || i == kSetChecksum + 1) continue;
    uint8_t b = set[i];
    if (i % kEntrySize == kType) b = LiveType(b);
    sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
  }
  return sum;
}

size_t EntrySetBytes(std::span<const uint8_t> first) {
  if (first.size() < kEntrySize || LiveType(first[kType]) != kTypeFile) return 0;
  const uint8_t n = first[kSecondaryCount];
  if (n < kMinSecondaries || n > kMaxSecondaries) return 0;
  return (size_t{n} + 1) * kEntrySize;
}

std::optional<TEntrySet> DecodeEntrySet(std::span<const uint8_t> bytes) {
  const size_t total = EntrySetBytes(bytes);
  if (total == 0 || bytes.size() < total) return std::nullopt;
  TLeReader f(bytes.first(kEntrySize));
  TEntrySet s;
  s.Deleted = !IsInUse(f.U8(kType));
  s.Secondaries = f.U8(kSecondaryCount);
  // Every entry of the set shares the file entry's state: the stream
  // extension, the name entries, then any other secondary entries.
  const uint8_t stateBit = s.Deleted ? 0 : kInUseBit;
  TLeReader st(bytes.subspan(kEntrySize, kEntrySize));
  const size_t units = st.U8(kNameLength);
  const size_t nameEntries = (units + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
  if (units == 0 || nameEntries + 1 > s.Secondaries) return std::nullopt;
  for (size_t i = 1; i <= s.Secondaries; ++i) {
    const uint8_t type = bytes[i * kEntrySize];
    if ((type & kInUseBit) != stateBit) return std::nullopt;
    if (i == 1 && LiveType(type) != kTypeStream) return std::nullopt;
    if (i > 1 && i <= nameEntries + 1 && LiveType(type) != kTypeName) return std::nullopt;
    if ((type & kSecondaryBit) == 0) return std::nullopt;
  }
  if (EntrySetChecksum(bytes.first(total)) != f.U16(kSetChecksum)) return std::nullopt;
  s.Attributes = f.U16(kAttributes);
  s.Created = DecodeTimestamp(f.U32(kCreateStamp), f.U8(kCreate10ms), f.U8(kCreateUtcOffset));
  s.Modified = DecodeTimestamp(f.U32(kModifiedStamp), f.U8(kModified10ms), f.U8(kModifiedUtcOffset));
  s.Accessed = DecodeTimestamp(f.U32(kAccessedStamp), 0, f.U8(kAccessedUtcOffset));
  const uint8_t flags = st.U8(kSecondaryFlags);
  s.AllocationPossible = (flags & kAllocationPossible) != 0;
  s.NoFatChain = (flags & kNoFatChain) != 0;
  s.FirstCluster = st.U32(kStreamFirstCluster);
  s.ValidDataLength = st.U64(kValidDataLength);
  s.DataLength = st.U64(kStreamDataLength);
  if (s.ValidDataLength > s.DataLength) return std::nullopt;
  std::u16string name(units, u'\0');
  for (size_t k = 0; k < units; ++k) {
    const size_t at = (2 + k / kNameUnitsPerEntry) * kEntrySize + kNameText + (k % kNameUnitsPerEntry) * 2;
    const auto u = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
    if (IsForbiddenNameUnit(u)) return std::nullopt;
    name[k] = static_cast<char16_t>(u);
  }
  if (name == u"." || name == u"..") return std::nullopt;
  s.Name = Utf16ToUtf8(name);
  return s;
}

}  // namespace mirel::exfat
