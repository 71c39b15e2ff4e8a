#include "agent/outlook/reminder_sink.h"

#include <mbstring.h>

#include <cstring>
#include <deque>

#include "agent/calls/call_text.h"
#include "agent/framework/win_app.h"
#include "agent/framework/ole.h"
#include "agent/framework/ole_text.h"
#include "agent/outlook/outlook_objects.h"
#include "agent/outlook/outlook_rules.h"
#include "common/win/variant.h"

DATE CurrentLocalOleDate() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return OleDateFromFields(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond)
      .value_or(0.0);
}

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

// A read that decides whether the call is made: the user learns which member failed and why.
Outcome Unreadable(const char* member, const fw::CallStatus& status) {
  return Outcome::Failed(std::string("Cannot make reminder call. Outlook failed to give the appointment's ") +
                         member + ":\r\n" + status.Reason());
}

// A read that does not decide whether the call is made: its failure leaves the field empty.
std::string TextOrEmpty(const fw::Dispatch& item, DISPID id) {
  std::string text;
  if (!item.Get(id, &text).Ok()) text.clear();
  return text;
}

// Find answers an object, or nothing when the item has no such property.
fw::CallStatus FoundProperty(win::Variant& found, fw::Dispatch* property) {
  VARIANT& value = *found.get();
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return fw::CallStatus{};
  if (value.vt != VT_DISPATCH) {
    const HRESULT hr = VariantChangeType(&value, &value, 0, VT_DISPATCH);
    if (FAILED(hr)) return fw::CallStatus{hr, std::string()};
  }
  *property = fw::Dispatch::Borrow(value.pdispVal);
  return fw::CallStatus{};
}

// Both ends run on the user-interface thread: the event handler queues, the main window takes.
std::deque<std::unique_ptr<ReminderRecord>>& Queue() {
  static std::deque<std::unique_ptr<ReminderRecord>> queue;
  return queue;
}

}  // namespace

COlSink::COlSink(Tell tell, Clock clock) : tell_(std::move(tell)), clock_(std::move(clock)) { EnableAutomation(); }

// Never unadvises here: the connection point's reference would bring the count back through zero.
COlSink::~COlSink() = default;

const fw::DispatchMap* COlSink::GetDispatchMap() const {
  static const fw::DispatchEntry kEntries[] = {
      fw::DispatchFunction<&COlSink::OnReminder>("Reminder", ol::kReminderEvent, VT_EMPTY, VTS_DISPATCH),
      fw::kEndOfDispatchMap,
  };
  static const fw::DispatchMap kMap{AutomationTarget::GetDispatchMap(), kEntries};
  return &kMap;
}

const fw::InterfaceMap* COlSink::GetInterfaceMap() const {
  static const fw::InterfaceEntry kEntries[] = {{&IID_ApplicationEvents}, fw::kEndOfInterfaceMap};
  static const fw::InterfaceMap kMap{AutomationTarget::GetInterfaceMap(), kEntries};
  return &kMap;
}

bool COlSink::Advise(IUnknown* source) {
  Unadvise();
  if (!AfxConnectionAdvise(source, IID_ApplicationEvents, GetIDispatch(FALSE), FALSE, &cookie_)) return false;
  source_ = win::ComPtr<IUnknown>::Retain(source);
  return true;
}

void COlSink::Unadvise() {
  if (!source_) return;
  AfxConnectionUnadvise(source_.get(), IID_ApplicationEvents, GetIDispatch(FALSE), FALSE, cookie_);
  source_.reset();
}

void COlSink::OnReminder(LPDISPATCH itemDispatch) {
  const Outcome outcome = HandleReminder(fw::Dispatch::Borrow(itemDispatch));
  if (!outcome && tell_) tell_(outcome.Message());
}

Outcome COlSink::HandleReminder(const fw::Dispatch& item) {
  // The message class, the start and the phone number decide whether a call is made.
  std::string messageClass;
  fw::CallStatus status = item.Get(ol::kMessageClass, &messageClass);
  if (!status.Ok()) return Unreadable("MessageClass", status);
  if (!IsReminderCallClass(messageClass)) return Outcome::Done();

  DATE start = 0;
  status = item.GetDate(ol::kStart, &start);
  if (!status.Ok()) return Unreadable("Start", status);
  const DATE now = clock_();
  if (IsTooLateForReminderCall(start, now)) return Outcome::Failed("It is too late to make reminder call");

  // The collection and the property are released only after the record has been handed over.
  fw::Dispatch properties;
  status = item.Get(ol::kUserProperties, &properties);
  if (!status.Ok()) return Unreadable("UserProperties", status);
  win::Variant found;
  fw::Dispatch property;
  status = properties.Call(ol::kFind, &found, fw::ArgText(kPhoneProperty), fw::ArgShort(1));
  if (status.Ok()) status = FoundProperty(found, &property);
  if (!status.Ok()) return Unreadable("UserProperties.Find", status);
  std::string phone;
  if (property) {
    win::Variant value;
    status = property.Get(DISPID_VALUE, &value);
    if (!status.Ok()) return Unreadable("UserProperty.Value", status);
    phone = PhoneFromValue(*value.get());
  }

  auto record = std::make_unique<ReminderRecord>();
  record->m_strEntryId = TextOrEmpty(item, ol::kEntryID);
  record->m_strPhone = phone;
  record->m_strSubject = TextOrEmpty(item, ol::kSubject);
  record->m_strLocation = TextOrEmpty(item, ol::kLocation);
  record->m_strNotes = TextOrEmpty(item, ol::kBody);
  long minutes = 0;
  // The reminder comes due its minutes before the start, so the time left now stands in.
  record->m_nMinutes = item.Get(ol::kReminderMinutesBeforeStart, &minutes).Ok()
                           ? minutes
                           : RoundedMinutes(OleDateToSeconds(start) - OleDateToSeconds(now));
  record->m_dtStart = start;

  if (!HandOverReminderRecord(std::move(record))) {
    return Outcome::Failed("Cannot make reminder call. The reminder could not be queued for calling.");
  }
  return Outcome::Done();
}

bool HandOverReminderRecord(std::unique_ptr<ReminderRecord> record) {
  const HWND window = fw::GetMainWindowHandle();
  // A null window would post to the thread's queue, where no window procedure takes the record.
  if (!record || !window || !IsWindow(window)) return false;
  // Nothing runs between the post and the push that could take the wake-up first.
  if (!PostMessageA(window, kReminderQueuedMessage, 0, 0)) return false;
  Queue().push_back(std::move(record));
  return true;
}

std::unique_ptr<ReminderRecord> TakeReminderRecord() {
  if (Queue().empty()) return nullptr;
  std::unique_ptr<ReminderRecord> record = std::move(Queue().front());
  Queue().pop_front();
  return record;
}
