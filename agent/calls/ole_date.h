#pragma once
// Dates as OLE Automation carries them, free of Windows: the reminder's start, Outlook's clock
// and the call text's "time left" all come as DATE values.
#include <functional>
#include <optional>

// OLE Automation dates (DATE): days since 1899-12-30 00:00 as a double, the fraction being the
// time of day. Before that day the integer part counts backwards while the fraction still runs
// forwards (-1.25 is 1899-12-29 06:00), so dates are compared through a linear seconds count.
//
// A local date and time as a DATE; false for a date or time that does not exist.
std::optional<double> OleDateFromFields(int year, int month, int day, int hour, int minute, int second);

// Seconds since 1899-12-30 00:00, rounded to the nearest second. Values beyond the years
// 100..9999 are clamped to that range; NaN counts as 0.
long long OleDateToSeconds(double date);

// A clock that tells the current local date and time as a DATE, to the second. The application
// gives the system's (CurrentLocalOleDate, agent/calls/reminder_call.h) to whoever judges or
// times a reminder; tests give fixed or stepped ones.
using LocalClock = std::function<double()>;
