#include "query/DateTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace mirel {

namespace {

// Days from 1970-01-01 to the proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr int64_t kDaysTo1970 = 25569;  // 1899-12-30 .. 1970-01-01

bool LocalTime(TFileTime ft, std::tm& tm, int& ms) {
  // The last instant of the year 9999 (UTC); later values are garbage.
  if (ft > 0x24C85A5ED1C03FFFULL) return false;
  time_t t = static_cast<time_t>(FileTimeToUnix(ft));
  if (!localtime_r(&t, &tm) || tm.tm_year + 1900 > 9999) return false;
  ms = static_cast<int>(FileTimeNanos(ft) / 1000000);
  return true;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  double days =
      static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kDaysTo1970);
  return days + ((hour * 60.0 + minute) * 60.0 + second + ms / 1000.0) / 86400.0;
}

bool FileTimeToDateTime(TFileTime ft, TDateTime& out) {
  std::tm tm{};
  int ms = 0;
  if (!LocalTime(ft, tm, ms)) return false;
  out = EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return true;
}

int CompareDateTime(TDateTime a, TDateTime b) {
  if (std::fabs(a - b) < OneMillisecond) return 0;
  return a < b ? -1 : 1;
}

std::string FileTimeToRowText(TFileTime ft) {
  std::tm tm{};
  int ms = 0;
  if (ft == 0 || !LocalTime(ft, tm, ms)) return {};
  char buf[48];
  if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0 && ms == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

}  // namespace mirel
