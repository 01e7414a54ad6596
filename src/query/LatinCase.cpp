#include "query/LatinCase.h"

#include <cstdint>

namespace mirel {

namespace {

// The other case of a code point in U+00C0..U+017F, or the point itself.
// Dotted capital I, dotless small i, kra, n-apostrophe and long s are left
// alone: their partners are outside the range or of another length.
uint32_t LatinOtherCase(uint32_t cp, bool toUpper) {
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return toUpper ? cp : cp + 0x20;
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return toUpper ? cp - 0x20 : cp;
  if (cp == 0xFF) return toUpper ? 0x178 : cp;
  if (cp == 0x178) return toUpper ? cp : 0xFF;
  bool evenIsUpper;
  if ((cp >= 0x100 && cp <= 0x12F) || (cp >= 0x132 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177))
    evenIsUpper = true;
  else if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E))
    evenIsUpper = false;
  else
    return cp;
  bool isUpper = ((cp % 2) == 0) == evenIsUpper;
  if (isUpper == toUpper) return cp;
  return isUpper ? cp + 1 : cp - 1;
}

std::string MapCase(std::string_view s, bool toUpper) {
  std::string out(s);
  for (size_t i = 0; i < out.size(); ++i) {
    auto b0 = static_cast<uint8_t>(out[i]);
    if (b0 < 0x80) {
      out[i] = toUpper ? AsciiUpper(out[i]) : AsciiLower(out[i]);
      continue;
    }
    // Only two-byte sequences led by C3..C5 can hold the Latin letters.
    if (b0 < 0xC3 || b0 > 0xC5 || i + 1 >= out.size()) continue;
    auto b1 = static_cast<uint8_t>(out[i + 1]);
    if ((b1 & 0xC0) != 0x80) continue;
    uint32_t cp = LatinOtherCase(((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu), toUpper);
    out[i] = static_cast<char>(0xC0 | (cp >> 6));
    out[i + 1] = static_cast<char>(0x80 | (cp & 0x3F));
    ++i;
  }
  return out;
}

}  // namespace

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

std::string Utf8Lower(std::string_view s) { return MapCase(s, false); }
std::string Utf8Upper(std::string_view s) { return MapCase(s, true); }

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a == b || Utf8Lower(a) == Utf8Lower(b));
}

}  // namespace mirel
