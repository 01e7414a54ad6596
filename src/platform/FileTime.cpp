#include "platform/FileTime.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <string>

namespace mirel {

int64_t FileTimeToUnix(TFileTime ft) {
  int64_t rel = static_cast<int64_t>(ft - FILETIME_UNIX_EPOCH);
  if (ft < FILETIME_UNIX_EPOCH) rel = -static_cast<int64_t>(FILETIME_UNIX_EPOCH - ft);
  int64_t secs = rel / 10000000;
  if (rel % 10000000 < 0) --secs;
  return secs;
}

long FileTimeNanos(TFileTime ft) {
  int64_t rel = static_cast<int64_t>(ft % 10000000ULL);
  int64_t epochRem = static_cast<int64_t>(FILETIME_UNIX_EPOCH % 10000000ULL);
  int64_t r = (rel - epochRem) % 10000000;
  if (r < 0) r += 10000000;
  return static_cast<long>(r * 100);
}

TFileTime UnixToFileTime(int64_t seconds, long nanos) {
  int64_t v = seconds * 10000000 + nanos / 100;
  return static_cast<TFileTime>(static_cast<int64_t>(FILETIME_UNIX_EPOCH) + v);
}

std::string FileTimeToIso(TFileTime ft) {
  if (ft == 0) return {};
  time_t t = static_cast<time_t>(FileTimeToUnix(ft));
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return {};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

namespace {

// The zone's offset from UTC for the hour holding t, looked up once per hour
// and zone: scans and listings convert hundreds of thousands of times, and
// most fall in few hours. An hour in which the offset changes is not cached.
// A new zone (tzset) shows in the names it sets.
struct THourOffset {
  time_t Hour = 0;
  long Offset = 0;
  bool Cached = false, Steady = false;
  const char* Names[2] = {nullptr, nullptr};
};

// The offset at t, or false when it changes within t's hour (or is unknown).
bool SteadyOffsetAt(time_t t, long& offset) {
  thread_local THourOffset c;
  const time_t hour = t - ((t % 3600) + 3600) % 3600;
  if (!c.Cached || hour != c.Hour || c.Names[0] != tzname[0] || c.Names[1] != tzname[1]) {
    std::tm first{}, last{};
    const time_t end = hour + 3599;
    c.Cached = localtime_r(&hour, &first) && localtime_r(&end, &last);
    c.Hour = hour;
    c.Names[0] = tzname[0];
    c.Names[1] = tzname[1];
    c.Steady = c.Cached && first.tm_gmtoff == last.tm_gmtoff;
    c.Offset = first.tm_gmtoff;
  }
  offset = c.Offset;
  return c.Steady;
}

long OffsetAt(time_t t) {
  long offset = 0;
  if (SteadyOffsetAt(t, offset)) return offset;
  std::tm lt{};
  return localtime_r(&t, &lt) ? lt.tm_gmtoff : 0;
}

// The calendar date of a day counted from 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

// Local year, month, day, hour and minute of t (the other fields are not set).
bool LocalTime(time_t t, std::tm& out) {
  long offset = 0;
  if (!SteadyOffsetAt(t, offset)) return localtime_r(&t, &out) != nullptr;
  const int64_t shifted = static_cast<int64_t>(t) + offset;
  const int64_t days = shifted >= 0 ? shifted / 86400 : (shifted - 86399) / 86400;
  const int64_t secs = shifted - days * 86400;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  if (y - 1900 < INT_MIN || y - 1900 > INT_MAX) return false;
  out.tm_year = static_cast<int>(y - 1900);
  out.tm_mon = static_cast<int>(m) - 1;
  out.tm_mday = static_cast<int>(d);
  out.tm_hour = static_cast<int>(secs / 3600);
  out.tm_min = static_cast<int>(secs % 3600 / 60);
  return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Writes value as width digits, zero-padded.
char* PutDigits(char* p, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
  return p + width;
}

}  // namespace

TFileTime DosDateTimeToFileTime(uint16_t date, uint16_t time, uint8_t tenths) {
  int day = date & 0x1F, month = (date >> 5) & 0x0F, year = 1980 + (date >> 9);
  int sec = (time & 0x1F) * 2, min = (time >> 5) & 0x3F, hour = time >> 11;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || min > 59 || sec > 59) return 0;
  // The fields read as UTC, less the zone's offset at that moment; asked
  // twice, for times next to a change of offset.
  const int secondOfDay = hour * 3600 + min * 60 + sec;
  const time_t asUtc = static_cast<time_t>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + secondOfDay);
  time_t t = asUtc - OffsetAt(asUtc);
  t = asUtc - OffsetAt(t);
  if (tenths > 199) tenths = 0;
  return UnixToFileTime(static_cast<int64_t>(t) + tenths / 100, (tenths % 100) * 10000000L);
}

size_t FileTimeToLocalText(TFileTime ft, std::span<char, LOCAL_TEXT_MAX> out) {
  if (ft == 0) return 0;
  std::tm tm{};
  if (!LocalTime(static_cast<time_t>(FileTimeToUnix(ft)), tm)) return 0;
  const int year = tm.tm_year + 1900;
  // Years outside four digits are rare enough to go the long way.
  if (year < 0 || year > 9999) {
    const int n = std::snprintf(out.data(), out.size(), "%04d-%02d-%02d %02d:%02d", year, tm.tm_mon + 1, tm.tm_mday,
                                tm.tm_hour, tm.tm_min);
    return n < 0 ? 0 : std::min(static_cast<size_t>(n), out.size() - 1);
  }
  char* p = PutDigits(out.data(), year, 4);
  *p++ = '-';
  p = PutDigits(p, tm.tm_mon + 1, 2);
  *p++ = '-';
  p = PutDigits(p, tm.tm_mday, 2);
  *p++ = ' ';
  p = PutDigits(p, tm.tm_hour, 2);
  *p++ = ':';
  p = PutDigits(p, tm.tm_min, 2);
  return static_cast<size_t>(p - out.data());
}

std::string FileTimeToLocalText(TFileTime ft) {
  char buf[LOCAL_TEXT_MAX];
  return std::string(buf, FileTimeToLocalText(ft, buf));
}

}  // namespace mirel
