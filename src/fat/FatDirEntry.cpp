#include "fat/FatDirEntry.h"

#include <array>
#include <iterator>
#include <string_view>
#include <vector>

#include "core/Text.h"

namespace mirel::fat {

namespace {

constexpr std::array<bool, 256> MakeInvalidNameChars() {
  std::array<bool, 256> t{};
  for (int b = 0x00; b <= 0x19; ++b) t[b] = true;
  for (uint8_t b : {0x22, 0x2A, 0x2B, 0x2C, 0x2E, 0x2F, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x5B, 0x5C, 0x5D, 0x7C})
    t[b] = true;
  return t;
}
constexpr std::array<bool, 256> kInvalidNameChars = MakeInvalidNameChars();

std::string_view Trimmed(const uint8_t* p, size_t n) {
  size_t b = 0, e = n;
  while (b < e && p[b] <= 0x20) ++b;
  while (e > b && p[e - 1] <= 0x20) --e;
  return {reinterpret_cast<const char*>(p + b), e - b};
}

void LowerAscii(std::string& s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The bytes no long name holds: controls and the characters FAT reserves.
constexpr std::array<bool, 256> kNotInLongNames = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  for (unsigned char c : std::string_view("/\\:*?\"<>|")) t[c] = true;
  return t;
}();

bool StorableLongName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (kNotInLongNames[c]) return false;
  return true;
}

}  // namespace

bool IsInvalidNameChar(uint8_t b) { return kInvalidNameChars[b]; }

bool IsDotEntry(const uint8_t* e, int dots) {
  for (int i = 0; i < 11; ++i)
    if (e[i] != static_cast<uint8_t>(i < dots ? '.' : ' ')) return false;
  return (EntryAttributes(e) & 0x10) != 0 && !IsLongNameEntry(e);
}

namespace {

bool ValidDosDate(uint16_t date) {
  const int month = (date >> 5) & 0x0F, day = date & 0x1F;
  return month >= 1 && month <= 12 && day >= 1;
}

bool ValidDosTime(uint16_t time) { return (time >> 11) < 24 && ((time >> 5) & 0x3F) < 60 && (time & 0x1F) < 30; }

}  // namespace

bool PlausibleEntry(const uint8_t* e) {
  if (IsLongNameEntry(e)) {
    if (EntryAttributes(e) != kLongNameAttr || e[12] != 0 || e[26] != 0 || e[27] != 0) return false;
    const uint8_t seq = e[0] & 0x1F;
    return e[0] == kDeletedMark || ((e[0] & 0xA0) == 0 && seq >= 1 && seq <= kMaxLongNameEntries);
  }
  if (e[0] == ' ' || (e[12] & ~0x18) != 0 || e[13] > 199) return false;
  if (!ValidDosDate(U16(e + 24)) || !ValidDosTime(U16(e + 22))) return false;
  const uint16_t cdate = U16(e + 16), ctime = U16(e + 14);
  if ((cdate || ctime) && (!ValidDosDate(cdate) || !ValidDosTime(ctime))) return false;
  return !(EntryAttributes(e) & 0x10) || EntrySize(e) == 0;
}

std::string ShortEntryName(const uint8_t* e, bool deleted) {
  uint8_t raw[11];
  for (int i = 0; i < 11; ++i) raw[i] = e[i];
  if (deleted)
    raw[0] = '$';
  else if (raw[0] == 0x05)
    raw[0] = kDeletedMark;
  std::string_view base = Trimmed(raw, 8), ext = Trimmed(raw + 8, 3);
  std::string b(base), x(ext);
  if (e[12] & 0x08) LowerAscii(b);
  if (e[12] & 0x10) LowerAscii(x);
  std::string name = Cp437ToUtf8(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  if (!x.empty()) name += "." + Cp437ToUtf8(reinterpret_cast<const uint8_t*>(x.data()), x.size());
  return name;
}

uint8_t ShortNameChecksum(const uint8_t* e) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + e[i]);
  return sum;
}

bool HoldsEndOfLongName(const TDirEntryBytes& e) {
  for (size_t off : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30})
    if (const uint16_t u = U16(e.data() + off); u == 0x0000 || u == 0xFFFF) return true;
  return false;
}

std::string BuildLongName(std::span<const TDirEntryBytes> run, const uint8_t* shortEntry) {
  if (run.empty()) return {};
  const bool deleted = shortEntry[0] == kDeletedMark;
  const uint8_t checksum = run.back()[13];
  // A live short entry names its long-name entries by the checksum; of a
  // deleted one the first byte is lost, so only the run's agreement is known.
  if (!deleted && checksum != ShortNameChecksum(shortEntry)) return {};
  static constexpr size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  // On the stack: every entry of every folder goes through here.
  std::array<char16_t, kMaxLongNameEntries * std::size(kUnitOffsets)> units;
  size_t count = 0;
  size_t taken = 0;
  bool ended = false;
  for (auto it = run.rbegin(); it != run.rend() && !ended && taken < kMaxLongNameEntries; ++it, ++taken) {
    const TDirEntryBytes& lfn = *it;
    if ((lfn[0] == kDeletedMark) != deleted || lfn[13] != checksum) break;
    for (size_t off : kUnitOffsets) {
      uint16_t u = U16(lfn.data() + off);
      if (u == 0x0000 || u == 0xFFFF) {
        ended = true;
        break;
      }
      units[count++] = static_cast<char16_t>(u);
    }
  }
  std::string name = Utf16ToUtf8(std::span<const char16_t>(units.data(), count));
  if (!StorableLongName(name)) return {};
  return name;
}

TFileTime EntryCreationTime(const uint8_t* e) { return DosDateTimeToFileTime(U16(e + 16), U16(e + 14), e[13]); }

TFileTime EntryWriteTime(const uint8_t* e) { return DosDateTimeToFileTime(U16(e + 24), U16(e + 22)); }

uint16_t EntryAccessDosDate(const uint8_t* e) { return U16(e + 18); }

}  // namespace mirel::fat
