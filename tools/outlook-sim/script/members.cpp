#include "tools/outlook-sim/script/members.h"

namespace sim {
namespace {

const MemberInfo kMembers[] = {
    {Member::Version, ObjectKind::Application, "Version", 0x116, kPropertyGet},
    {Member::MessageClass, ObjectKind::Item, "MessageClass", 0x1A, kPropertyGet | kPropertyPut},
    {Member::EntryID, ObjectKind::Item, "EntryID", 0xF01E, kPropertyGet},
    {Member::Subject, ObjectKind::Item, "Subject", 0x37, kPropertyGet},
    {Member::Body, ObjectKind::Item, "Body", 0x9100, kPropertyGet},
    {Member::UserProperties, ObjectKind::Item, "UserProperties", 0xF816, kPropertyGet},
    {Member::Location, ObjectKind::Item, "Location", 0x8208, kPropertyGet},
    {Member::ReminderMinutesBeforeStart, ObjectKind::Item, "ReminderMinutesBeforeStart", 0x8501,
     kPropertyGet},
    {Member::Start, ObjectKind::Item, "Start", 0x820D, kPropertyGet},
    {Member::Find, ObjectKind::UserProperties, "Find", 0x67, kMethod},
    {Member::Value, ObjectKind::UserProperty, "Value", 0, kPropertyGet | kPropertyPut},
    {Member::ReminderSet, ObjectKind::Item, "ReminderSet", 0x8503, kPropertyGet | kPropertyPut},
    {Member::Save, ObjectKind::Item, "Save", 0xF048, kMethod},
    {Member::Display, ObjectKind::Item, "Display", 0xF0A6, kMethod},
    {Member::Add, ObjectKind::UserProperties, "Add", 0x66, kMethod},
    {Member::CreateItem, ObjectKind::Application, "CreateItem", 0x10A, kMethod},
    {Member::CurrentItem, ObjectKind::Inspector, "CurrentItem", 0x2102, kPropertyGet},
    {Member::ControlId, ObjectKind::RibbonControl, "Id", 1, kPropertyGet},
    {Member::Context, ObjectKind::RibbonControl, "Context", 2, kPropertyGet},
    {Member::Tag, ObjectKind::RibbonControl, "Tag", 3, kPropertyGet},
    {Member::Invalidate, ObjectKind::RibbonUI, "Invalidate", 1, kMethod},
    {Member::InvalidateControl, ObjectKind::RibbonUI, "InvalidateControl", 2, kMethod},
    // Outlook's type library: _Application.Reminders, _Reminders.Count and Item(Index) (the
    // default member, 1-based), _Reminder.IsVisible, Item and NextReminderDate.
    {Member::Reminders, ObjectKind::Application, "Reminders", 0xFA99, kPropertyGet},
    {Member::Count, ObjectKind::Reminders, "Count", 0x50, kPropertyGet},
    {Member::ReminderAt, ObjectKind::Reminders, "Item", 0, kMethod | kPropertyGet},
    {Member::IsVisible, ObjectKind::Reminder, "IsVisible", 0xFA9D, kPropertyGet},
    {Member::ReminderItem, ObjectKind::Reminder, "Item", 0xFA9E, kPropertyGet},
    {Member::NextReminderDate, ObjectKind::Reminder, "NextReminderDate", 0xFA9F, kPropertyGet},
    // _AppointmentItem.Class (OlObjectClass) and UserProperty.Delete.
    {Member::Class, ObjectKind::Item, "Class", 0xF00A, kPropertyGet},
    {Member::Delete, ObjectKind::UserProperty, "Delete", 0x6C, kMethod},
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

const MemberInfo& InfoOf(Member m) {
  for (const MemberInfo& info : kMembers) {
    if (info.member == m) return info;
  }
  return kMembers[0];  // unreachable: every Member has an entry
}

const MemberInfo* FindMemberByDispid(ObjectKind object, int32_t dispid) {
  for (const MemberInfo& info : kMembers) {
    if (info.object == object && info.dispid == dispid) return &info;
  }
  return nullptr;
}

const MemberInfo* FindMemberByName(ObjectKind object, std::string_view name) {
  for (const MemberInfo& info : kMembers) {
    if (info.object == object && EqualsNoCase(info.name, name)) return &info;
  }
  return nullptr;
}

const MemberInfo* FindItemScopeMember(std::string_view name) {
  for (const MemberInfo& info : kMembers) {
    const bool itemScope = info.object == ObjectKind::Item || info.object == ObjectKind::UserProperties ||
                           info.object == ObjectKind::UserProperty;
    if (itemScope && EqualsNoCase(info.name, name)) return &info;
  }
  return nullptr;
}

}  // namespace sim
