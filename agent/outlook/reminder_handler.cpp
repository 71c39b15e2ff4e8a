// COlSink::OnReminder: turns the Reminder event of a reminder-call appointment into a
// ReminderRecord posted to the main window, which makes the call once the event has returned.
#include <mbstring.h>

#include <cstring>
#include <memory>
#include <string>

#include "agent/calls/reminder_record.h"
#include "agent/framework/ole_text.h"
#include "agent/framework/ole_variant.h"
#include "agent/outlook/local_clock.h"
#include "agent/outlook/ol_appointment_item.h"
#include "agent/outlook/ol_sink.h"
#include "agent/outlook/ol_user_properties.h"
#include "agent/outlook/ol_user_property.h"
#include "agent/outlook/reminder_command.h"
#include "agent/outlook/reminder_deadline.h"

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

}  // namespace

void COlSink::OnReminder(LPDISPATCH itemDispatch) {
  COlAppointmentItem item(itemDispatch, FALSE);  // Outlook's item is only lent to us

  if (!IsReminderCallClass(item.GetMessageClass())) return;

  if (IsTooLateForReminderCall(item.GetStart(), CurrentLocalOleDate())) {
    MessageBoxA(nullptr, "It is too late to make reminder call", "Brisomel", MB_OK);
    return;
  }

  // The collection and the property are released only after the record has been posted.
  COlUserProperties properties(item.GetUserProperties(), TRUE);
  VARIANT custom;
  VariantInit(&custom);
  custom.vt = VT_I2;
  custom.iVal = 1;
  COlUserProperty property(properties.Find(kPhoneProperty, custom), TRUE);
  std::string phone;
  if (property.m_lpDispatch) {
    fw::Variant value;
    *value.put() = property.GetValue();
    phone = PhoneFromValue(*value.get());
  }

  auto record = std::make_unique<ReminderRecord>();
  record->m_strEntryId = item.GetEntryID();
  record->m_strPhone = phone;
  record->m_strSubject = item.GetSubject();
  record->m_strLocation = item.GetLocation();
  record->m_strNotes = item.GetBody();
  record->m_nMinutes = item.GetReminderMinutesBeforeStart();

  PostReminderRecord(std::move(record));
}
