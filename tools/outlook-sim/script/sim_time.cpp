#include "tools/outlook-sim/script/sim_time.h"

#include <cstdio>

namespace sim {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (the well-known era-based algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (*m <= 2));
}

const int64_t kOleEpochDays = DaysFromCivil(1899, 12, 30);
constexpr int64_t kSecondsPerDay = 86400;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ParseDigits(std::string_view text, size_t count, int* out) {
  if (text.size() < count) return false;
  int v = 0;
  for (size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *out = v;
  return true;
}

// A run of decimal digits followed by a unit; value at most 999999999.
bool SplitNumberUnit(std::string_view text, int64_t* number, std::string_view* unit) {
  size_t i = 0;
  int64_t v = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (i >= 9) return false;
    v = v * 10 + (text[i] - '0');
    ++i;
  }
  if (i == 0) return false;
  *number = v;
  *unit = text.substr(i);
  return true;
}

}  // namespace

int64_t CivilToSeconds(const CivilTime& t) {
  const int64_t days = DaysFromCivil(t.year, static_cast<unsigned>(t.month),
                                     static_cast<unsigned>(t.day)) - kOleEpochDays;
  return days * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
}

CivilTime SecondsToCivil(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t rest = seconds - days * kSecondsPerDay;
  CivilTime t;
  CivilFromDays(days + kOleEpochDays, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

double SecondsToOleDate(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t rest = seconds - days * kSecondsPerDay;
  return static_cast<double>(days) + static_cast<double>(rest) / kSecondsPerDay;
}

std::string FormatSeconds(int64_t seconds) {
  const CivilTime t = SecondsToCivil(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

int64_t Resolve(const TimeSpec& when, int64_t nowSeconds) {
  return when.relative ? nowSeconds + when.offsetSeconds : when.absoluteSeconds;
}

std::string ParseTimeSpec(std::string_view text, TimeSpec* out) {
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    int64_t n = 0;
    std::string_view unit;
    if (!SplitNumberUnit(text.substr(1), &n, &unit)) return "bad relative time '" + std::string(text) + "'";
    int64_t factor;
    if (unit == "s") factor = 1;
    else if (unit == "m") factor = 60;
    else if (unit == "h") factor = 3600;
    else if (unit == "d") factor = kSecondsPerDay;
    else return "relative time '" + std::string(text) + "' needs a unit s, m, h or d";
    out->relative = true;
    out->offsetSeconds = (text[0] == '-' ? -n : n) * factor;
    return {};
  }
  // yyyy-mm-dd hh:mm:ss
  CivilTime t;
  const bool shaped = text.size() == 19 && text[4] == '-' && text[7] == '-' &&
                      (text[10] == ' ' || text[10] == 'T') && text[13] == ':' && text[16] == ':';
  if (!shaped || !ParseDigits(text, 4, &t.year) || !ParseDigits(text.substr(5), 2, &t.month) ||
      !ParseDigits(text.substr(8), 2, &t.day) || !ParseDigits(text.substr(11), 2, &t.hour) ||
      !ParseDigits(text.substr(14), 2, &t.minute) || !ParseDigits(text.substr(17), 2, &t.second)) {
    return "bad time '" + std::string(text) + "' (want +15m, -121s or \"yyyy-mm-dd hh:mm:ss\")";
  }
  if (t.year < 1900 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59) {
    return "time out of range '" + std::string(text) + "'";
  }
  out->relative = false;
  out->absoluteSeconds = CivilToSeconds(t);
  return {};
}

std::string ParseDurationMs(std::string_view text, int64_t* out) {
  int64_t n = 0;
  std::string_view unit;
  if (!SplitNumberUnit(text, &n, &unit)) return "bad duration '" + std::string(text) + "'";
  int64_t factor;
  if (unit == "ms") factor = 1;
  else if (unit == "s") factor = 1000;
  else if (unit == "m") factor = 60000;
  else if (unit == "h") factor = 3600000;
  else return "duration '" + std::string(text) + "' needs a unit ms, s, m or h";
  if (n * factor > 10 * kSecondsPerDay * 1000) return "duration '" + std::string(text) + "' too long";
  *out = n * factor;
  return {};
}

}  // namespace sim
