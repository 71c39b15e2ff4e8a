#pragma once
// When a reminder call is still worth making: up to two minutes after the appointment's start.

constexpr long long kReminderGraceSeconds = 2 * 60;

// True when now (a DATE, local time) lies more than the grace period after start (a DATE, local
// time). Both are compared to the second: exactly two minutes after the start is still in time.
bool IsTooLateForReminderCall(double start, double now);
