// COlSink::OnReminder: turns the Reminder event of a reminder-call appointment into a
// ReminderRecord queued for the main window, which makes the call once the event has returned.
// The event call itself never waits for the user: what the user must know goes to the notifier.
#include <mbstring.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "agent/calls/call_text.h"
#include "agent/calls/notifier.h"
#include "agent/calls/reminder_record.h"
#include "agent/framework/ole_text.h"
#include "common/win/variant.h"
#include "agent/outlook/local_clock.h"
#include "agent/outlook/ol_appointment_item.h"
#include "agent/outlook/ol_sink.h"
#include "agent/outlook/ol_user_properties.h"
#include "agent/outlook/ol_user_property.h"
#include "agent/outlook/ole_date.h"
#include "agent/outlook/reminder_deadline.h"
#include "agent/outlook/reminder_handover.h"

namespace {

constexpr char kReminderCallClass[] = "IPM.Appointment.ReminderCall";
constexpr char kPhoneProperty[] = "notifycall";

// Case-insensitive (multibyte-aware) whole-text comparison; a class with an embedded zero is
// never the reminder-call class.
bool IsReminderCallClass(const std::string& messageClass) {
  if (std::strlen(messageClass.c_str()) != messageClass.size()) return false;
  return _mbsicmp(reinterpret_cast<const unsigned char*>(messageClass.c_str()),
                  reinterpret_cast<const unsigned char*>(kReminderCallClass)) == 0;
}

// The text of a VT_BSTR value up to its first zero character; empty for any other type.
std::string PhoneFromValue(const VARIANT& value) {
  if (value.vt != VT_BSTR || !value.bstrVal) return std::string();
  return fw::WideToAnsi(value.bstrVal, static_cast<size_t>(lstrlenW(value.bstrVal)));
}

// Outlook's own description of a failed read, or its status code when it gave none.
std::string Reason(const COleException& error) {
  if (const auto* raised = dynamic_cast<const COleDispatchException*>(&error)) {
    if (!raised->m_strDescription.empty()) return raised->m_strDescription;
  }
  char code[32] = {};
  // The system C runtime's formatter (see recent_file_list.cpp): the text always fits.
  ::_snprintf(code, sizeof code - 1, "error 0x%08lX", static_cast<unsigned long>(error.m_sc));
  return code;
}

// A read that does not decide whether the call is made: its failure leaves the field empty.
template <typename Read>
std::string TextOrEmpty(Read read) {
  try {
    return read();
  } catch (const COleException&) {
    return std::string();
  }
}

}  // namespace

void COlSink::OnReminder(LPDISPATCH itemDispatch) {
  COlAppointmentItem item(itemDispatch, FALSE);  // Outlook's item is only lent to us
  // The collection and the property are released only after the record has been handed over.
  COlUserProperties properties;
  COlUserProperty property;

  // The message class, the start and the phone number decide whether a call is made: when one
  // of them cannot be read the user learns which and why, and nothing is called.
  const char* member = "MessageClass";
  DATE start = 0;
  DATE now = 0;
  std::string phone;
  try {
    if (!IsReminderCallClass(item.GetMessageClass())) return;

    member = "Start";
    start = item.GetStart();
    now = CurrentLocalOleDate();
    if (IsTooLateForReminderCall(start, now)) {
      Notify("It is too late to make reminder call");
      return;
    }

    member = "UserProperties";
    properties.AttachDispatch(item.GetUserProperties(), TRUE);
    VARIANT custom;
    VariantInit(&custom);
    custom.vt = VT_I2;
    custom.iVal = 1;
    member = "UserProperties.Find";
    property.AttachDispatch(properties.Find(kPhoneProperty, custom), TRUE);
    if (property.m_lpDispatch) {
      member = "UserProperty.Value";
      win::Variant value;
      *value.put() = property.GetValue();
      phone = PhoneFromValue(*value.get());
    }
  } catch (const COleException& error) {
    Notify(std::string("Cannot make reminder call. Outlook failed to give the appointment's ") + member +
           ":\r\n" + Reason(error));
    return;
  }

  auto record = std::make_unique<ReminderRecord>();
  record->m_strEntryId = TextOrEmpty([&] { return item.GetEntryID(); });
  record->m_strPhone = phone;
  record->m_strSubject = TextOrEmpty([&] { return item.GetSubject(); });
  record->m_strLocation = TextOrEmpty([&] { return item.GetLocation(); });
  record->m_strNotes = TextOrEmpty([&] { return item.GetBody(); });
  try {
    record->m_nMinutes = item.GetReminderMinutesBeforeStart();
  } catch (const COleException&) {
    // The reminder comes due its minutes before the start, so the time left now stands in.
    record->m_nMinutes = RoundedMinutes(OleDateToSeconds(start) - OleDateToSeconds(now));
  }
  record->m_dtStart = start;

  if (!HandOverReminderRecord(std::move(record))) {
    Notify("Cannot make reminder call. The reminder could not be queued for calling.");
  }
}
