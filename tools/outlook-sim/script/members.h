#pragma once
// The Outlook object-model members the simulator answers: object, name, DISPID, invoke kind.
#include <cstdint>
#include <string_view>

namespace sim {

// AddIn: the COMAddIn object handed to an add-in; it answers no member. Inspector, Explorer,
// RibbonControl and RibbonUI: the objects a ribbon's callbacks meet (ribbon_host.h).
enum class ObjectKind {
  Application, Item, UserProperties, UserProperty, AddIn, Inspector, Explorer, RibbonControl, RibbonUI,
  Reminders, Reminder
};

enum class Member {
  Version,
  MessageClass,
  EntryID,
  Subject,
  Body,
  UserProperties,
  Location,
  ReminderMinutesBeforeStart,
  Start,
  Find,
  Value,
  // What an add-in's ribbon uses.
  ReminderSet,
  Save,
  Display,
  Add,
  CreateItem,
  CurrentItem,
  ControlId,
  Context,
  Tag,
  Invalidate,
  InvalidateControl,
  // Application.Reminders and its collection (Outlook 2002 and later).
  Reminders,
  Count,
  ReminderAt,
  IsVisible,
  ReminderItem,
  NextReminderDate,
  // The item's OlObjectClass, and UserProperty.Delete.
  Class,
  Delete,
};

// Invoke kinds as the DISPATCH_* flag values.
constexpr unsigned kMethod = 1;
constexpr unsigned kPropertyGet = 2;
constexpr unsigned kPropertyPut = 4;

struct MemberInfo {
  Member member;
  ObjectKind object;
  const char* name;
  int32_t dispid;
  unsigned kind;
};

const MemberInfo& InfoOf(Member m);
const MemberInfo* FindMemberByDispid(ObjectKind object, int32_t dispid);
// ASCII case-insensitive, as GetIDsOfNames.
const MemberInfo* FindMemberByName(ObjectKind object, std::string_view name);
// Any member a script may make fail on an item: the item's own, Find and Value.
const MemberInfo* FindItemScopeMember(std::string_view name);

bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace sim
