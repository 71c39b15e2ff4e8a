#pragma once
// What makes an Outlook item a reminder call, and which number it names: the one rule the agent
// (which calls) and the add-in's ribbon (which shows what will be called) both follow, so that
// the ribbon never shows a number the agent does not call. Plain constexpr code on character
// arrays, no runtime library and no Windows header: the add-in is built without the C++ runtime,
// and the rule is tested natively.
#include <cstddef>

namespace reminder_call {

// The message class of a reminder-call appointment (compared without regard to ASCII case, as
// Outlook compares message classes) and the message class of a plain appointment.
constexpr char kMessageClass[] = "IPM.Appointment.ReminderCall";
constexpr wchar_t kMessageClassW[] = L"IPM.Appointment.ReminderCall";
constexpr wchar_t kAppointmentClassW[] = L"IPM.Appointment";
// The user property that holds the number to call.
constexpr char kNumberProperty[] = "notifycall";
constexpr wchar_t kNumberPropertyW[] = L"notifycall";
// OlObjectClass of an appointment item (the item's Class): only appointments are reminder calls.
constexpr long kOlAppointment = 26;

// The VARIANT types that matter here (VARENUM), spelled out so that no Windows header is needed.
constexpr unsigned short kVtEmpty = 0;
constexpr unsigned short kVtNull = 1;
constexpr unsigned short kVtBstr = 8;

// What the "notifycall" property's value gives. Only text is a number to call: a field a form
// made as Number, Date, Yes/No... holds no telephone number (a Number field would have lost a
// leading 0 or "+" anyway), so the user's own number is called, and the ribbon says why.
enum class NumberKind {
  kNone,     // no property, or one without a value: the user's own number is called
  kText,     // its text (up to its first NUL) is the number; empty text: the own number
  kNotText,  // a value of another type: the user's own number is called
};

constexpr NumberKind NumberKindOf(bool hasProperty, unsigned short valueType) {
  if (!hasProperty || valueType == kVtEmpty || valueType == kVtNull) return NumberKind::kNone;
  return valueType == kVtBstr ? NumberKind::kText : NumberKind::kNotText;
}

// True when text (length characters, NULs included) is the reminder-call class. Char is char
// (the ANSI code page, in which the class's letters are ASCII) or wchar_t.
template <typename Char>
constexpr bool IsReminderCallClass(const Char* text, std::size_t length) {
  constexpr std::size_t kLength = sizeof kMessageClass - 1;
  if (!text || length != kLength) return false;
  for (std::size_t i = 0; i < kLength; ++i) {
    Char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<Char>(c - 'A' + 'a');
    char expected = kMessageClass[i];
    if (expected >= 'A' && expected <= 'Z') expected = static_cast<char>(expected - 'A' + 'a');
    if (c != static_cast<Char>(expected)) return false;
  }
  return true;
}

}  // namespace reminder_call
