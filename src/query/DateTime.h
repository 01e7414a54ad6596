#pragma once
// Date-times of the filter: days since 1899-12-30 as a double, the fraction
// being the time of day, in local wall-clock time. Dates before 1899-12-30
// are plain negative day counts, so the scale is monotonic throughout.
#include <cstdint>
#include <string>

#include "platform/FileTime.h"

namespace mirel {

using TDateTime = double;

constexpr double OneMillisecond = 1.0 / 86400000.0;

// Whether a calendar date exists (years 1 to 9999).
bool IsValidDate(int year, int month, int day);
// The date-time of a local wall-clock time; the date must be valid.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0);
// The FILETIME (UTC) as local date-time; false when it cannot be converted
// (beyond the year 9999).
[[nodiscard]] bool FileTimeToDateTime(TFileTime ft, TDateTime& out);
// -1, 0 or 1; two date-times less than a millisecond apart are equal.
int CompareDateTime(TDateTime a, TDateTime b);

// Local "YYYY-MM-DD HH:MM:SS", the time left out at exactly midnight; empty
// for a zero (unrecorded) time or one that cannot be converted.
std::string FileTimeToRowText(TFileTime ft);

}  // namespace mirel
