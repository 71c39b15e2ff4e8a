#pragma once
// What the reminder handler read from one appointment, handed to MakeReminderCall.
#include <cstdint>
#include <string>

struct ReminderRecord {
  std::string m_strEntryId;  // carried along, not used for the call
  std::string m_strPhone;    // "notifycall"; empty means: call the user's own number
  std::string m_strSubject;
  std::string m_strLocation;
  std::string m_strNotes;
  int32_t m_nMinutes = 0;  // reminder minutes before start: the request's firstocc
  double m_dtStart = 0;    // the appointment's start (OLE date, local time): the spoken minutes
};
