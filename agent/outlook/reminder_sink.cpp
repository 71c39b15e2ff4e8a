#include "agent/outlook/reminder_sink.h"

#include <utility>

#include "agent/calls/call_text.h"
#include "agent/calls/text_encoding.h"
#include "agent/framework/ole/ole.h"
#include "agent/framework/ole/ole_text.h"
#include "agent/outlook/outlook_objects.h"
#include "agent/outlook/outlook_rules.h"
#include "common/reminder_call_item.h"
#include "common/win/variant.h"

bool ReminderHandOver::Queue(std::unique_ptr<ReminderRecord> record) {
  // A null window would post to the thread's queue, where no window procedure takes the record.
  if (!record || !target_ || !IsWindow(target_)) return false;
  // Nothing runs between the post and the push that could take the wake-up first.
  if (!PostMessageA(target_, kReminderQueuedMessage, 0, 0)) return false;
  records_.push_back(std::move(record));
  return true;
}

std::unique_ptr<ReminderRecord> ReminderHandOver::Take() {
  if (records_.empty()) return nullptr;
  std::unique_ptr<ReminderRecord> record = std::move(records_.front());
  records_.pop_front();
  return record;
}

namespace {

// The number the item names, by the rule the ribbon shows it by: the text of a text property (up
// to its first NUL); nothing (the user's own number) for a value of any other type.
std::string PhoneFromValue(const VARIANT& value) {
  if (reminder_call::NumberKindOf(true, value.vt) != reminder_call::NumberKind::kText || !value.bstrVal) {
    return std::string();
  }
  return fw::WideToAnsi(value.bstrVal, static_cast<size_t>(lstrlenW(value.bstrVal)));
}

// A read that decides whether the call is made: the user learns which member failed and why.
Outcome Unreadable(const char* member, const fw::CallStatus& status) {
  return Outcome::Failed(std::string("Cannot make reminder call. Outlook failed to give the appointment's ") +
                         member + ":\r\n" + status.Reason());
}

// A text of the item as UTF-8, so that what the code page lacks is still spoken.
fw::CallStatus GetUtf8(const fw::Dispatch& item, DISPID id, std::string* text) {
  text->clear();
  win::Variant value;
  fw::CallStatus status = item.Get(id, &value);
  VARIANT& v = *value.get();
  if (status.Ok() && v.vt != VT_BSTR) status.hr = VariantChangeType(&v, &v, 0, VT_BSTR);
  if (status.Ok() && v.bstrVal) *text = Utf16ToUtf8(reinterpret_cast<const char16_t*>(v.bstrVal), SysStringLen(v.bstrVal));
  return status;
}

// A read that does not decide whether the call is made: its failure leaves the field empty.
std::string TextOrEmpty(const fw::Dispatch& item, DISPID id) {
  std::string text;
  if (!item.Get(id, &text).Ok()) text.clear();
  return text;
}

std::string Utf8OrEmpty(const fw::Dispatch& item, DISPID id) {
  std::string text;
  if (!GetUtf8(item, id, &text).Ok()) text.clear();
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

}  // namespace

const char kGuardRefusedBody[] =
    "Outlook refused Brisomel the notes (Body) of an appointment, so reminder calls go out without "
    "their notes.\r\n\r\nOutlook's object-model guard refuses this to programs it does not trust. An "
    "administrator can allow it: Outlook's Trust Center (Programmatic Access), or the programmatic "
    "access policy.";
const char kGuardRefusedNumber[] =
    "Outlook refused Brisomel the phone number (\"notifycall\") of an appointment, so its reminder "
    "call could not go out.\r\n\r\nOutlook's object-model guard refuses this to programs it does not "
    "trust. An administrator can allow it: Outlook's Trust Center (Programmatic Access), or the "
    "programmatic access policy.";

COlSink::COlSink(Tell tell, ReminderHandOver* handOver, Clock clock)
    : tell_(std::move(tell)), handOver_(handOver), clock_(std::move(clock)) {
  EnableAutomation();
}

// Never unadvises here: the connection point's reference would bring the count back through zero.
COlSink::~COlSink() = default;

const fw::DispatchMap* COlSink::GetDispatchMap() const {
  static const fw::DispatchEntry kEntries[] = {
      fw::DispatchFunction<&COlSink::OnReminder>("Reminder", ol::kReminderEvent, VT_EMPTY, VTS_DISPATCH),
      fw::DispatchFunction<&COlSink::OnQuit>("Quit", ol::kQuitEvent, VT_EMPTY, VTS_NONE),
      fw::kEndOfDispatchMap,
  };
  static const fw::DispatchMap kMap{AutomationTarget::GetDispatchMap(), kEntries};
  return &kMap;
}

void* COlSink::GetInterfaceHook(REFIID iid) {
  return IsEqualIID(iid, IID_ApplicationEvents) ? GetIDispatch(FALSE) : AutomationTarget::GetInterfaceHook(iid);
}

bool COlSink::Advise(IUnknown* source) {
  Unadvise();
  if (!AfxConnectionAdvise(source, IID_ApplicationEvents, GetIDispatch(FALSE), FALSE, &cookie_)) return false;
  source_ = win::ComPtr<IUnknown>::Retain(source);
  return true;
}

void COlSink::Unadvise() {
  if (!source_) return;
  // A gone Outlook cannot take the Unadvise: the proxy is only let go.
  if (!lost_) AfxConnectionUnadvise(source_.get(), IID_ApplicationEvents, GetIDispatch(FALSE), FALSE, cookie_);
  source_.reset();
}

void COlSink::End() {
  Unadvise();
  if (endReported_) return;
  endReported_ = true;
  if (ended_) ended_();
}

fw::CallStatus COlSink::Watch(fw::CallStatus status) {
  if (!status.Ok() && IsOutlookConnectionLost(static_cast<uint32_t>(status.hr))) lost_ = true;
  return status;
}

void COlSink::OnReminder(LPDISPATCH itemDispatch) {
  const Outcome outcome = HandleReminder(fw::Dispatch::Borrow(itemDispatch));
  if (lost_) {
    End();  // nothing to tell: Outlook has gone, and the agent with it
    return;
  }
  if (!outcome && tell_) tell_(outcome.Message());
}

// Outlook closes: Outlook 2000 to 2007 wait until every outside reference is gone.
void COlSink::OnQuit() { End(); }

Outcome COlSink::GuardRefusedNumber() {
  if (toldGuardNumber_) return Outcome::Done();  // told once per start
  toldGuardNumber_ = true;
  return Outcome::Failed(kGuardRefusedNumber);
}

void COlSink::TellGuardRefusedBody() {
  if (toldGuardBody_) return;
  toldGuardBody_ = true;
  if (tell_) tell_(kGuardRefusedBody);
}

Outcome COlSink::HandleReminder(const fw::Dispatch& item, Origin origin, long long dueSeconds) {
  // The message class, the start and the phone number decide whether a call is made.
  std::string messageClass;
  fw::CallStatus status = Watch(item.Get(ol::kMessageClass, &messageClass));
  if (!status.Ok()) return Unreadable("MessageClass", status);
  if (!reminder_call::IsReminderCallClass(messageClass.c_str(), messageClass.size())) return Outcome::Done();

  DATE start = 0;
  status = Watch(item.GetDate(ol::kStart, &start));
  if (!status.Ok()) return Unreadable("Start", status);
  const DATE now = clock_();
  if (IsTooLateForReminderCall(start, now)) {
    // A reminder left in Outlook's window from long ago is no news to the user.
    if (origin == Origin::Startup) return Outcome::Done();
    return Outcome::Failed("It is too late to make reminder call");
  }

  // The collection and the property are released only after the record has been handed over.
  // The object-model guard may refuse any of these reads: then no number, no call.
  fw::Dispatch properties;
  status = Watch(item.Get(ol::kUserProperties, &properties));
  if (IsObjectModelGuardRefusal(static_cast<uint32_t>(status.hr))) return GuardRefusedNumber();
  if (!status.Ok()) return Unreadable("UserProperties", status);
  win::Variant found;
  fw::Dispatch property;
  status = Watch(properties.Call(ol::kFind, &found, fw::ArgText(reminder_call::kNumberProperty), fw::ArgShort(1)));
  if (status.Ok()) status = FoundProperty(found, &property);
  if (IsObjectModelGuardRefusal(static_cast<uint32_t>(status.hr))) return GuardRefusedNumber();
  if (!status.Ok()) return Unreadable("UserProperties.Find", status);
  std::string phone;
  if (property) {
    win::Variant value;
    status = Watch(property.Get(DISPID_VALUE, &value));
    if (IsObjectModelGuardRefusal(static_cast<uint32_t>(status.hr))) return GuardRefusedNumber();
    if (!status.Ok()) return Unreadable("UserProperty.Value", status);
    phone = PhoneFromValue(*value.get());
  }

  auto record = std::make_unique<ReminderRecord>();
  record->m_strEntryId = TextOrEmpty(item, ol::kEntryID);
  record->m_strPhone = phone;
  record->m_strSubject = Utf8OrEmpty(item, ol::kSubject);
  record->m_strLocation = Utf8OrEmpty(item, ol::kLocation);
  const fw::CallStatus body = Watch(GetUtf8(item, ol::kBody, &record->m_strNotes));
  if (!body.Ok()) {
    record->m_strNotes.clear();
    if (IsObjectModelGuardRefusal(static_cast<uint32_t>(body.hr))) TellGuardRefusedBody();
  }
  // Unreadable, the minutes stay unknown: the call counts the time left when it is made.
  long minutes = 0;
  if (item.Get(ol::kReminderMinutesBeforeStart, &minutes).Ok()) record->m_nMinutes = static_cast<int32_t>(minutes);
  record->start = start;

  // One call per coming due, whether the event or the start-up look found it first.
  const std::string key = ReminderKey(record->m_strEntryId, OleDateToSeconds(start));
  const long long nowSeconds = OleDateToSeconds(now);
  if (origin == Origin::Startup) {
    if (!ledger_.StartupMayCall(key)) return Outcome::Done();
    const std::optional<long long> called = record_ ? record_->CalledAt(key) : std::nullopt;
    if (called && CalledForComingDue(*called, dueSeconds)) return Outcome::Done();
    ledger_.NoteStartupCall(key, nowSeconds);
  } else if (!ledger_.EventMayCall(key, nowSeconds)) {
    return Outcome::Done();
  }

  if (!handOver_ || !handOver_->Queue(std::move(record))) {
    return Outcome::Failed("Cannot make reminder call. The reminder could not be queued for calling.");
  }
  return Outcome::Done();
}

void COlSink::CallDueReminders() {
  // Without Outlook's process there is no telling what an earlier agent of its session called;
  // without the session's record (the registry refused it), only what came due since Outlook
  // started is surely new.
  win::ComPtr<IDispatch> application;
  const bool shared = record_ && record_->Shared();
  const double outlookStarted = record_ ? record_->OutlookStarted() : 0;
  if ((!shared && outlookStarted <= 0) || !source_ || FAILED(source_.As(IID_IDispatch, &application))) {
    ledger_.StartupDone();
    return;
  }
  const fw::Dispatch outlook = fw::Dispatch::Borrow(application.get());
  fw::Dispatch reminders;
  long count = 0;
  if (Watch(outlook.Get(ol::kReminders, &reminders)).Ok() && Watch(reminders.Get(ol::kCount, &count)).Ok()) {
    for (long index = 1; index <= count && !lost_ && source_; ++index) {
      win::Variant found;
      fw::Dispatch reminder;
      fw::CallStatus status = Watch(reminders.Call(DISPID_VALUE, &found, fw::ArgLong(index)));
      if (status.Ok()) status = FoundProperty(found, &reminder);
      if (!status.Ok() || !reminder) continue;
      long visible = 0;
      DATE due = 0;
      fw::Dispatch item;
      if (!Watch(reminder.Get(ol::kIsVisible, &visible)).Ok() || !visible) continue;
      if (!Watch(reminder.GetDate(ol::kNextReminderDate, &due)).Ok()) continue;
      // Shown but not due yet cannot be; a clock set back could make it so.
      if (OleDateToSeconds(due) > OleDateToSeconds(clock_())) continue;
      if (!shared && !CameDueSinceStart(due, outlookStarted, clock_())) continue;
      if (!Watch(reminder.Get(ol::kReminderItem, &item)).Ok() || !item) continue;
      const Outcome outcome = HandleReminder(item, Origin::Startup, OleDateToSeconds(due));
      if (!outcome && !lost_ && tell_) tell_(outcome.Message());
    }
  }
  ledger_.StartupDone();
  if (lost_) End();
}
