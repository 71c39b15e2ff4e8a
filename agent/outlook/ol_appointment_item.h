#pragma once
// The item of a Reminder event, read as an appointment. MessageClass, EntryID, Subject, Body and
// UserProperties exist on every kind of item; Start, Location and ReminderMinutesBeforeStart
// only on appointments.
#include <string>

#include "agent/framework/dispatch_driver.h"

class COlAppointmentItem : public COleDispatchDriver {
 public:
  COlAppointmentItem() = default;
  COlAppointmentItem(LPDISPATCH dispatch, BOOL autoRelease) : COleDispatchDriver(dispatch, autoRelease) {}

  std::string GetBody();
  std::string GetEntryID();
  std::string GetMessageClass();
  std::string GetSubject();
  LPDISPATCH GetUserProperties();  // the caller owns the reference
  std::string GetLocation();
  long GetReminderMinutesBeforeStart();
  DATE GetStart();  // Outlook's local time
};
