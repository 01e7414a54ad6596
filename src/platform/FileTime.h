#pragma once
// FILETIME: a 64-bit count of 100 ns intervals since 1601-01-01 UTC.
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

namespace mirel {

using TFileTime = uint64_t;

constexpr uint64_t FILETIME_UNIX_EPOCH = 116444736000000000ULL;  // 1970-01-01 as FILETIME

// Whole seconds since the Unix epoch (may be negative for dates before 1970).
int64_t FileTimeToUnix(TFileTime ft);
// Nanoseconds past that second.
long FileTimeNanos(TFileTime ft);
TFileTime UnixToFileTime(int64_t seconds, long nanos = 0);

// A FAT date/time pair, recorded in local time, to UTC through the C library's
// time-zone rules; tenths is the 10 ms creation refinement (0..199). A zero or
// impossible date gives 0 (no time).
TFileTime DosDateTimeToFileTime(uint16_t date, uint16_t time, uint8_t tenths = 0);

// "2024-05-01T12:30:00Z"; empty for 0.
std::string FileTimeToIso(TFileTime ft);
// Local "YYYY-MM-DD HH:MM" for tables; empty for 0.
std::string FileTimeToLocalText(TFileTime ft);
// The same text written to out (no closing NUL); returns its length. For
// listings, which would otherwise allocate a string per line.
constexpr size_t LOCAL_TEXT_MAX = 40;
size_t FileTimeToLocalText(TFileTime ft, std::span<char, LOCAL_TEXT_MAX> out);

}  // namespace mirel
