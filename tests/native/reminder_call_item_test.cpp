// The one rule by which the agent calls and the ribbon shows: which item is a reminder call and
// which "notifycall" values are a number.
#include <gtest/gtest.h>

#include <string>

#include "common/reminder_call_item.h"

namespace {

using reminder_call::NumberKind;

TEST(ReminderCallItem, OnlyATextValueIsANumberToCall) {
  struct Row {
    bool hasProperty;
    unsigned short vt;
    NumberKind kind;
  };
  const Row rows[] = {
      {false, 8, NumberKind::kNone},   {true, 0, NumberKind::kNone},     {true, 1, NumberKind::kNone},
      {true, 8, NumberKind::kText},    {true, 3, NumberKind::kNotText},  {true, 5, NumberKind::kNotText},
      {true, 7, NumberKind::kNotText}, {true, 11, NumberKind::kNotText}, {true, 8 | 0x4000, NumberKind::kNotText},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(reminder_call::NumberKindOf(row.hasProperty, row.vt), row.kind) << row.hasProperty << " vt " << row.vt;
  }
}

TEST(ReminderCallItem, TheClassIsComparedWholeWithoutRegardToAsciiCase) {
  const struct {
    std::string text;
    bool matches;
  } rows[] = {
      {"IPM.Appointment.ReminderCall", true},   {"ipm.appointment.REMINDERCALL", true},
      {"IPM.Appointment", false},               {"IPM.Appointment.ReminderCalls", false},
      {"IPM.Appointment.ReminderCal", false},   {std::string("IPM.Appointment.ReminderCall\0", 29), false},
      {"IPM.Appointment.Reminder\xC7" "all", false}, {"", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(reminder_call::IsReminderCallClass(row.text.c_str(), row.text.size()), row.matches) << row.text;
    const std::wstring wide(row.text.begin(), row.text.end());
    EXPECT_EQ(reminder_call::IsReminderCallClass(wide.c_str(), wide.size()), row.matches) << row.text;
  }
  EXPECT_FALSE(reminder_call::IsReminderCallClass(static_cast<const char*>(nullptr), 28));
}

}  // namespace
