#pragma once
// The members of Outlook's objects that the agent uses, by DISPID (read late-bound through
// fw::Dispatch), and the event interface its sink answers.
#include <windows.h>
#include <oleauto.h>

namespace ol {

// Application
constexpr DISPID kVersion = 0x116;  // e.g. "16.0.0.1"
// The reminders that have come due (Outlook 2002 and later; Outlook 2000 has no such member).
constexpr DISPID kReminders = 0xFA99;

// Reminders: Count, and Item(Index) as the default member (DISPID_VALUE), 1-based.
constexpr DISPID kCount = 0x50;
// Reminder: shown in Outlook's reminder window, its item, and when it is (or was) due.
constexpr DISPID kIsVisible = 0xFA9D;
constexpr DISPID kReminderItem = 0xFA9E;
constexpr DISPID kNextReminderDate = 0xFA9F;

// The item of a Reminder event. MessageClass, EntryID, Subject, Body and UserProperties exist on
// every kind of item; Start, Location and ReminderMinutesBeforeStart only on appointments.
constexpr DISPID kBody = 0x9100;
constexpr DISPID kEntryID = 0xF01E;
constexpr DISPID kMessageClass = 0x1A;
constexpr DISPID kSubject = 0x37;
constexpr DISPID kUserProperties = 0xF816;
constexpr DISPID kLocation = 0x8208;
constexpr DISPID kReminderMinutesBeforeStart = 0x8501;
constexpr DISPID kStart = 0x820D;  // Outlook's local time

// UserProperties.Find(name, custom): the property called name, or nothing.
constexpr DISPID kFind = 0x67;
// UserProperty.Value is the default member.

// ApplicationEvents: its Reminder(item) event, and Quit() as Outlook closes.
constexpr DISPID kReminderEvent = 0xF004;
constexpr DISPID kQuitEvent = 0xF007;

}  // namespace ol

// {0006304E-0000-0000-C000-000000000046}
inline constexpr IID IID_ApplicationEvents = {0x0006304E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
