#pragma once
// Local wall-clock times as whole seconds since the OLE Automation epoch (1899-12-30 00:00:00),
// durations, and the script's time syntax. No time zones: everything is local time, as
// Outlook's Start is.
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

struct CivilTime {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};

// Seconds since 1899-12-30 00:00:00 of a valid civil time (years 1900 to 9999).
int64_t CivilToSeconds(const CivilTime& t);
CivilTime SecondsToCivil(int64_t seconds);
// The VT_DATE value of a time at or after the epoch: whole days plus the fraction of the day.
double SecondsToOleDate(int64_t seconds);
// "yyyy-mm-dd hh:mm:ss"
std::string FormatSeconds(int64_t seconds);

// A Start or date value of the script: relative to the moment it is resolved, or absolute.
struct TimeSpec {
  bool relative = true;
  int64_t offsetSeconds = 0;    // relative
  int64_t absoluteSeconds = 0;  // absolute
};
int64_t Resolve(const TimeSpec& when, int64_t nowSeconds);

// "+15m", "-121s", "+1h", "+2d", "+0s"; "2026-12-08 10:00:00" or "2026-12-08T10:00:00".
// Returns an error text, empty on success.
std::string ParseTimeSpec(std::string_view text, TimeSpec* out);
// "250ms", "5s", "2m", "1h": a non-negative duration in milliseconds (at most 10 days).
std::string ParseDurationMs(std::string_view text, int64_t* out);

}  // namespace sim
