#pragma once
// A parsed simulator script: the commands in order, with their checked arguments.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/outlook-sim/script/members.h"
#include "tools/outlook-sim/script/sim_time.h"

namespace sim {

// A text for a BSTR: null (no BSTR at all) or UTF-16 text, possibly empty.
struct Text {
  bool null = false;
  std::u16string value;
};

enum class PropType { Text, I2, I4, R8, Date, Bool, Empty, Null };

struct PropValue {
  PropType type = PropType::Empty;
  Text text;
  int32_t integer = 0;  // I2, I4
  double real = 0;      // R8
  TimeSpec date;        // Date
  bool boolean = false; // Bool
};

enum class Field { MessageClass, EntryID, Subject, Body, Location, Start, Minutes, Prop, NoProp, Kind, ReminderSet };

struct FieldSetting {
  Field field = Field::Subject;
  Text text;             // the text fields
  TimeSpec start;        // Start
  int32_t minutes = 0;   // Minutes; Kind: the OlObjectClass; ReminderSet: 1 or 0
  std::string propName;  // Prop, NoProp (UTF-8)
  PropValue prop;        // Prop
};

enum class Op {
  Version,
  Item,
  Fail,
  Unfail,
  Fire,
  Burst,
  FireDispid,
  WaitAdvise,
  WaitUnadvise,
  Sleep,
  Refcounts,
  Busy,
  RemoveAddin,
  ConnectAddin,
  RefuseAdvise,
  Note,
  Quit,
  // The ribbon (ribbon_host.h).
  OpenInspector,
  CloseInspector,
  Click,
  Type,
  ExplorerClick,
  QuitWait,   // Quit to the sinks, then wait for every outside reference to go
  QuitFast,   // fast shutdown: no add-in call
  Due,        // the item's reminder comes due (Application.Reminders) and fires
  Guard,      // the object-model guard for one member
  State,      // logs the item's class, reminder and user properties
  WaitRemindersReleased,  // a client has read Application.Reminders and let go of it again
};

enum class GuardSetting { Off, Deny, Prompt };

struct Command {
  Op op = Op::Note;
  int line = 0;
  std::string target;  // item name; "Application" for Fail/Unfail on it; ProgID for RemoveAddin,
                       // ConnectAddin; control id for Click, Type, ExplorerClick
  std::vector<FieldSetting> fields;  // Item
  Text text;                         // Version: the version; Fail: the description; Type: the text
  std::string note;                  // Note (UTF-8)
  Member member = Member::Version;   // Fail, Unfail, Guard
  int64_t durationMs = 0;            // waits, Sleep, Busy, QuitWait, Guard prompt
  uint32_t count = 1;                // Burst; WaitAdvise: the number of sinks
  int32_t dispid = 0;                // FireDispid
  bool reject = false;               // Busy: refuse calls outright instead of "retry later"
  bool putOnly = false;              // Fail: only a put of the member fails
  bool hasTime = false;              // Due: when the reminder came due (else now)
  TimeSpec when;                     // Due
  GuardSetting guard = GuardSetting::Off;  // Guard (member, durationMs for Prompt)
};

struct ParseResult {
  std::vector<Command> commands;
  std::string error;  // "line N: ..."; empty on success
};

ParseResult ParseScript(std::string_view utf8);

// The object name a script uses for the Application.
constexpr std::string_view kApplicationObject = "Application";
// Items an add-in creates (Application.CreateItem) are named new1, new2, ... in creation order.
constexpr std::string_view kCreatedItemPrefix = "new";
// Default description of a scripted failure.
constexpr std::u16string_view kDefaultFailure = u"The operation failed.";

}  // namespace sim
