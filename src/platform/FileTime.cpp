#include "platform/FileTime.h"

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

TFileTime DosDateTimeToFileTime(uint16_t date, uint16_t time, uint8_t tenths) {
  int day = date & 0x1F, month = (date >> 5) & 0x0F, year = 1980 + (date >> 9);
  int sec = (time & 0x1F) * 2, min = (time >> 5) & 0x3F, hour = time >> 11;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || min > 59 || sec > 59) return 0;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  // The fields read as UTC, less the zone's offset at that moment; asked
  // twice, for times next to a change of offset. localtime_r reads the zone
  // rules once, where mktime looks at the zone file on every call.
  const time_t asUtc = timegm(&tm);
  auto offsetAt = [](time_t at) {
    std::tm lt{};
    return localtime_r(&at, &lt) ? static_cast<time_t>(lt.tm_gmtoff) : time_t{0};
  };
  time_t t = asUtc - offsetAt(asUtc);
  t = asUtc - offsetAt(t);
  if (tenths > 199) tenths = 0;
  return UnixToFileTime(static_cast<int64_t>(t) + tenths / 100, (tenths % 100) * 10000000L);
}

std::string FileTimeToIso(TFileTime ft) {
  if (ft == 0) return {};
  time_t t = static_cast<time_t>(FileTimeToUnix(ft));
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return {};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

namespace {

// The zone's offset from UTC for the hour holding t, looked up once per hour
// and zone: listings convert hundreds of thousands of times, and most fall in
// few hours. Only an hour in which the offset changes is converted time by
// time. A new zone (tzset) shows in the names it sets.
bool LocalTime(time_t t, std::tm& out) {
  thread_local time_t cachedHour = 0;
  thread_local bool cached = false, steady = false;
  thread_local long cachedOffset = 0;
  thread_local const char* cachedNames[2] = {nullptr, nullptr};
  const time_t hour = t - ((t % 3600) + 3600) % 3600;
  if (!cached || hour != cachedHour || cachedNames[0] != tzname[0] || cachedNames[1] != tzname[1]) {
    std::tm first{}, last{};
    const time_t end = hour + 3599;
    if (!localtime_r(&hour, &first) || !localtime_r(&end, &last)) return false;
    cached = true;
    cachedHour = hour;
    cachedNames[0] = tzname[0];
    cachedNames[1] = tzname[1];
    steady = first.tm_gmtoff == last.tm_gmtoff;
    cachedOffset = first.tm_gmtoff;
  }
  if (!steady) return localtime_r(&t, &out) != nullptr;
  const time_t shifted = t + cachedOffset;
  return gmtime_r(&shifted, &out) != nullptr;
}

// Writes value as width digits, zero-padded.
char* PutDigits(char* p, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
  return p + width;
}

}  // namespace

std::string FileTimeToLocalText(TFileTime ft) {
  if (ft == 0) return {};
  std::tm tm{};
  if (!LocalTime(static_cast<time_t>(FileTimeToUnix(ft)), tm)) return {};
  const int year = tm.tm_year + 1900;
  // Years outside four digits are rare enough to go the long way.
  if (year < 0 || year > 9999) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min);
    return buf;
  }
  char buf[16];
  char* p = PutDigits(buf, year, 4);
  *p++ = '-';
  p = PutDigits(p, tm.tm_mon + 1, 2);
  *p++ = '-';
  p = PutDigits(p, tm.tm_mday, 2);
  *p++ = ' ';
  p = PutDigits(p, tm.tm_hour, 2);
  *p++ = ':';
  p = PutDigits(p, tm.tm_min, 2);
  return std::string(buf, p);
}

}  // namespace mirel
