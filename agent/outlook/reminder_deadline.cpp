#include "agent/outlook/reminder_deadline.h"

#include "agent/outlook/ole_date.h"

bool IsTooLateForReminderCall(double start, double now) {
  return OleDateToSeconds(now) > OleDateToSeconds(start) + kReminderGraceSeconds;
}
