#include "core/Text.h"

#include <cstdio>

namespace mirel {

namespace {

// Writes one code point at p (four bytes of room); returns the bytes written.
size_t EncodeUtf8(char* p, uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    p[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    p[0] = static_cast<char>(0xC0 | (cp >> 6));
    p[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    p[0] = static_cast<char>(0xE0 | (cp >> 12));
    p[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    p[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  p[0] = static_cast<char>(0xF0 | (cp >> 18));
  p[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  p[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  p[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// Converts n UTF-16 units, unit(i) giving each, in one pass into a buffer of
// the worst-case size; the result is allocated once at its exact length, as
// it may stay in the catalogue for the whole session.
template <class UnitAt>
std::string ConvertUtf16(size_t n, UnitAt unit) {
  // Three bytes per unit at most: a surrogate pair makes four from two units.
  char local[768];
  std::string wide;
  char* buf = local;
  if (n > sizeof local / 3) {
    wide.resize(n * 3);
    buf = wide.data();
  }
  char* p = buf;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
      const uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    // No name holds a NUL: one is damage, and would cut the name short
    // wherever it is handled as C text.
    if (c == 0) c = 0xFFFD;
    p += EncodeUtf8(p, c);
  }
  return std::string(buf, p);
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  char bytes[4];
  out.append(bytes, EncodeUtf8(bytes, cp));
}

std::string Utf16ToUtf8(std::span<const char16_t> u) {
  return ConvertUtf16(u.size(), [u](size_t i) { return uint32_t{u[i]}; });
}

std::string Utf16LeToUtf8(const uint8_t* data, size_t units) {
  return ConvertUtf16(units, [data](size_t i) { return uint32_t{data[2 * i]} | uint32_t{data[2 * i + 1]} << 8; });
}

namespace {
// Upper half of code page 437.
const char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
}  // namespace

std::string Cp437ToUtf8(const uint8_t* data, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = data[i];
    AppendUtf8(out, b < 0x80 ? b : kCp437High[b - 0x80]);
  }
  return out;
}

std::string ToLowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

namespace {

// Length of the well-formed UTF-8 sequence at s[i] (no overlong forms, no
// surrogates), or 0 when the byte there starts none.
size_t Utf8SequenceAt(std::string_view s, size_t i) {
  static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  const uint8_t c = static_cast<uint8_t>(s[i]);
  const size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
  if (n == 9 || i + n >= s.size()) return 0;
  uint32_t cp = n == 0 ? c : c & (0x3Fu >> n);
  for (size_t k = 1; k <= n; ++k) {
    const uint8_t t = static_cast<uint8_t>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (t & 0x3F);
  }
  if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n + 1;
}

}  // namespace

bool IsPrintableUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8SequenceAt(s, i);
    if (n == 0 || s[i] == 0) return false;
    i += n;
  }
  return true;
}

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8SequenceAt(s, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out.append(s.substr(i, n));
    }
    i += n;
  }
  return out + "\"";
}

}  // namespace mirel
