#include "agent/outlook/ol_appointment_item.h"

namespace {
constexpr DISPID kDispidBody = 0x9100;
constexpr DISPID kDispidEntryID = 0xF01E;
constexpr DISPID kDispidMessageClass = 0x1A;
constexpr DISPID kDispidSubject = 0x37;
constexpr DISPID kDispidUserProperties = 0xF816;
constexpr DISPID kDispidLocation = 0x8208;
constexpr DISPID kDispidReminderMinutesBeforeStart = 0x8501;
constexpr DISPID kDispidStart = 0x820D;
}  // namespace

std::string COlAppointmentItem::GetBody() {
  std::string result;
  InvokeHelper(kDispidBody, DISPATCH_PROPERTYGET, VT_BSTR, &result, nullptr);
  return result;
}

std::string COlAppointmentItem::GetEntryID() {
  std::string result;
  InvokeHelper(kDispidEntryID, DISPATCH_PROPERTYGET, VT_BSTR, &result, nullptr);
  return result;
}

std::string COlAppointmentItem::GetMessageClass() {
  std::string result;
  InvokeHelper(kDispidMessageClass, DISPATCH_PROPERTYGET, VT_BSTR, &result, nullptr);
  return result;
}

std::string COlAppointmentItem::GetSubject() {
  std::string result;
  InvokeHelper(kDispidSubject, DISPATCH_PROPERTYGET, VT_BSTR, &result, nullptr);
  return result;
}

LPDISPATCH COlAppointmentItem::GetUserProperties() {
  LPDISPATCH result = nullptr;
  InvokeHelper(kDispidUserProperties, DISPATCH_PROPERTYGET, VT_DISPATCH, &result, nullptr);
  return result;
}

std::string COlAppointmentItem::GetLocation() {
  std::string result;
  InvokeHelper(kDispidLocation, DISPATCH_PROPERTYGET, VT_BSTR, &result, nullptr);
  return result;
}

long COlAppointmentItem::GetReminderMinutesBeforeStart() {
  long result = 0;
  InvokeHelper(kDispidReminderMinutesBeforeStart, DISPATCH_PROPERTYGET, VT_I4, &result, nullptr);
  return result;
}

DATE COlAppointmentItem::GetStart() {
  DATE result = 0;
  InvokeHelper(kDispidStart, DISPATCH_PROPERTYGET, VT_DATE, &result, nullptr);
  return result;
}
