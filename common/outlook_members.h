#pragma once
// The members of Outlook's object model that the agent and the add-in call late-bound, by DISPID:
// the numbers are fixed by Outlook's type library (msoutl.olb), so no GetIDsOfNames round trip is
// needed. One list for both, without a Windows header (a DISPID is a LONG), so that a number is
// written once. The Outlook simulator keeps a table of its own, taken from the published type
// library: were it to share this one, a wrong number here would pass every test.

namespace ol {

// Application
constexpr long kVersion = 0x116;     // e.g. "16.0.0.1"
constexpr long kCreateItem = 0x10A;  // CreateItem(ItemType)
// The reminders that have come due (Outlook 2002 and later; Outlook 2000 has no such member).
constexpr long kReminders = 0xFA99;

// Reminders: Count, and Item(Index) as the default member (DISPID_VALUE), 1-based.
constexpr long kCount = 0x50;
// Reminder: shown in Outlook's reminder window, its item, and when it is (or was) due.
constexpr long kIsVisible = 0xFA9D;
constexpr long kReminderItem = 0xFA9E;
constexpr long kNextReminderDate = 0xFA9F;

// Items. MessageClass, Class, EntryID, Subject, Body, UserProperties and Display exist on every
// kind of item; Start, Location, ReminderSet and ReminderMinutesBeforeStart only on appointments.
constexpr long kBody = 0x9100;
constexpr long kClass = 0xF00A;  // OlObjectClass
constexpr long kDisplay = 0xF0A6;  // Display([Modal])
constexpr long kEntryID = 0xF01E;
constexpr long kMessageClass = 0x1A;
constexpr long kSubject = 0x37;
constexpr long kUserProperties = 0xF816;
constexpr long kLocation = 0x8208;
constexpr long kReminderMinutesBeforeStart = 0x8501;
constexpr long kReminderSet = 0x8503;
constexpr long kStart = 0x820D;  // Outlook's local time

// UserProperties: Add(Name, Type), Find(Name, [Custom]): the property called Name, or nothing.
constexpr long kAdd = 0x66;
constexpr long kFind = 0x67;
// UserProperty: Value (the default member, get/put) and Delete().
constexpr long kValue = 0;
constexpr long kDelete = 0x6C;

// Inspector: the item it shows.
constexpr long kCurrentItem = 0x2102;

// ApplicationEvents: its Reminder(item) event, and Quit() as Outlook closes.
constexpr long kReminderEvent = 0xF004;
constexpr long kQuitEvent = 0xF007;

// OlItemType olAppointmentItem and OlUserPropertyType olText.
constexpr long kOlAppointmentItem = 1;
constexpr long kOlText = 1;

}  // namespace ol
