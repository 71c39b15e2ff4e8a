#include "agent/calls/ole_date.h"

#include <cmath>

namespace {

constexpr double kFirstDate = -657434.0;     // 0100-01-01
constexpr double kLastDate = 2958465.999988; // 9999-12-31 23:59:59
constexpr long long kSecondsPerDay = 86400;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

constexpr long long kDaysFrom1970To1899 = -25569;  // 1899-12-30 is 25569 days before 1970-01-01

}  // namespace

std::optional<double> OleDateFromFields(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  const long long days = DaysFromCivil(year, month, day) - kDaysFrom1970To1899;
  const double fraction = (hour * 3600.0 + minute * 60.0 + second) / kSecondsPerDay;
  // Negative dates keep the time of day as a positive fraction moving away from zero.
  return days >= 0 ? days + fraction : days - fraction;
}

long long OleDateToSeconds(double date) {
  if (std::isnan(date)) date = 0;
  if (date < kFirstDate) date = kFirstDate;
  if (date > kLastDate) date = kLastDate;
  const double wholeDays = std::trunc(date);
  const double fraction = std::fabs(date - wholeDays);
  return static_cast<long long>(wholeDays) * kSecondsPerDay + std::llround(fraction * kSecondsPerDay);
}
