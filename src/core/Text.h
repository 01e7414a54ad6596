#pragma once
// Name decoding: UTF-16LE (NTFS names, FAT long names) and code page 437 (FAT
// short names) to UTF-8.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mirel {

// Decodes count UTF-16LE code units; unpaired surrogates and NULs become U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* data, size_t units);
std::string Utf16ToUtf8(std::span<const char16_t> units);
void AppendUtf8(std::string& out, uint32_t codePoint);
std::string Cp437ToUtf8(const uint8_t* data, size_t count);
std::string ToLowerAscii(std::string s);
// Whether s is well-formed UTF-8 (no overlong forms, no surrogates) without
// NUL: text that any listing can print as it is.
bool IsPrintableUtf8(std::string_view s);
// s as a quoted JSON string; bytes that are not UTF-8 become U+FFFD, so every
// line a report holds parses.
std::string JsonString(std::string_view s);

}  // namespace mirel
