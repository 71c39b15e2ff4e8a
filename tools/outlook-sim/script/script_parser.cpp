#include <cerrno>
#include <cstdlib>
#include <set>

#include "tools/outlook-sim/script/script.h"
#include "tools/outlook-sim/script/script_lexer.h"
#include "tools/outlook-sim/script/utf.h"

namespace sim {
namespace {

class ParseError {
 public:
  explicit ParseError(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

bool ParseInt64(std::string_view text, int64_t min, int64_t max, int64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  std::string s(text);
  int base = 10;
  const char* begin = s.c_str();
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) base = 16;
  if (!(s[0] == '-' || s[0] == '+' || (s[0] >= '0' && s[0] <= '9'))) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(begin, &end, base);
  if (errno != 0 || end != begin + s.size() || v < min || v > max) return false;
  *out = v;
  return true;
}

// Walks the tokens of one statement; every accessor names what it expected in its error.
class Cursor {
 public:
  explicit Cursor(const Statement& st) : st_(st) {}

  bool AtEnd() const { return i_ >= st_.tokens.size(); }
  // The next token is this word, unquoted (case-insensitively).
  bool PeekBareWord(const char* word) const {
    return !AtEnd() && !st_.tokens[i_].quoted && EqualsNoCase(st_.tokens[i_].text, word);
  }
  const Token& Next(const char* what) {
    if (AtEnd()) throw ParseError(std::string("missing ") + what);
    return st_.tokens[i_++];
  }
  std::string Word(const char* what) { return Next(what).text; }
  Text TextValue(const char* what) {
    const Token& t = Next(what);
    Text out;
    if (!t.quoted && t.text == "null") {
      out.null = true;
      return out;
    }
    Utf8ToUtf16(t.text, &out.value);  // the lexer checked the encoding
    return out;
  }
  int64_t Integer(const char* what, int64_t min, int64_t max) {
    const std::string text = Word(what);
    int64_t v = 0;
    if (!ParseInt64(text, min, max, &v)) {
      throw ParseError(std::string("bad ") + what + " '" + text + "' (want an integer from " +
                       std::to_string(min) + " to " + std::to_string(max) + ")");
    }
    return v;
  }
  double Real(const char* what) {
    const std::string text = Word(what);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) {
      throw ParseError(std::string("bad ") + what + " '" + text + "'");
    }
    return v;
  }
  TimeSpec Time(const char* what) {
    TimeSpec when;
    const std::string error = ParseTimeSpec(Word(what), &when);
    if (!error.empty()) throw ParseError(error);
    return when;
  }
  int64_t Duration(const char* what) {
    int64_t ms = 0;
    const std::string error = ParseDurationMs(Word(what), &ms);
    if (!error.empty()) throw ParseError(error);
    return ms;
  }
  void End() {
    if (!AtEnd()) throw ParseError("unexpected '" + st_.tokens[i_].text + "'");
  }

 private:
  const Statement& st_;
  size_t i_ = 0;
};

PropValue ParseProp(Cursor& c) {
  PropValue v;
  const std::string type = c.Word("property type");
  if (EqualsNoCase(type, "text")) {
    v.type = PropType::Text;
    v.text = c.TextValue("text value");
  } else if (EqualsNoCase(type, "i2")) {
    v.type = PropType::I2;
    v.integer = static_cast<int32_t>(c.Integer("i2 value", -32768, 32767));
  } else if (EqualsNoCase(type, "i4")) {
    v.type = PropType::I4;
    v.integer = static_cast<int32_t>(c.Integer("i4 value", INT32_MIN, INT32_MAX));
  } else if (EqualsNoCase(type, "r8")) {
    v.type = PropType::R8;
    v.real = c.Real("r8 value");
  } else if (EqualsNoCase(type, "date")) {
    v.type = PropType::Date;
    v.date = c.Time("date value");
  } else if (EqualsNoCase(type, "bool")) {
    v.type = PropType::Bool;
    const std::string b = c.Word("bool value");
    if (EqualsNoCase(b, "true")) v.boolean = true;
    else if (EqualsNoCase(b, "false")) v.boolean = false;
    else throw ParseError("bad bool value '" + b + "' (want true or false)");
  } else if (EqualsNoCase(type, "empty")) {
    v.type = PropType::Empty;
  } else if (EqualsNoCase(type, "null")) {
    v.type = PropType::Null;
  } else {
    throw ParseError("unknown property type '" + type + "' (text i2 i4 r8 date bool empty null)");
  }
  return v;
}

FieldSetting ParseField(Cursor& c) {
  FieldSetting f;
  const std::string key = c.Word("field");
  auto is = [&](const char* shortName, const char* memberName) {
    return EqualsNoCase(key, shortName) || EqualsNoCase(key, memberName);
  };
  if (is("class", "MessageClass")) {
    f.field = Field::MessageClass;
    f.text = c.TextValue("message class");
  } else if (is("entryid", "EntryID")) {
    f.field = Field::EntryID;
    f.text = c.TextValue("entry id");
  } else if (is("subject", "Subject")) {
    f.field = Field::Subject;
    f.text = c.TextValue("subject");
  } else if (is("body", "Body")) {
    f.field = Field::Body;
    f.text = c.TextValue("body");
  } else if (is("location", "Location")) {
    f.field = Field::Location;
    f.text = c.TextValue("location");
  } else if (is("start", "Start")) {
    f.field = Field::Start;
    f.start = c.Time("start time");
  } else if (is("minutes", "ReminderMinutesBeforeStart")) {
    f.field = Field::Minutes;
    f.minutes = static_cast<int32_t>(c.Integer("minutes", INT32_MIN, INT32_MAX));
  } else if (EqualsNoCase(key, "prop")) {
    f.field = Field::Prop;
    f.propName = c.Word("property name");
    f.prop = ParseProp(c);
  } else if (EqualsNoCase(key, "noprop")) {
    f.field = Field::NoProp;
    f.propName = c.Word("property name");
  } else if (is("reminderset", "ReminderSet")) {
    f.field = Field::ReminderSet;
    const std::string b = c.Word("reminderset value");
    if (EqualsNoCase(b, "true")) f.minutes = 1;
    else if (EqualsNoCase(b, "false")) f.minutes = 0;
    else throw ParseError("bad reminderset value '" + b + "' (want true or false)");
  } else if (EqualsNoCase(key, "kind")) {
    // The item's Class: what kind of Outlook item it is.
    f.field = Field::Kind;
    const std::string kind = c.Word("item kind");
    static const struct {
      const char* name;
      int32_t olClass;
    } kKinds[] = {{"appointment", 26}, {"mail", 43}, {"task", 48}, {"contact", 40}, {"meeting", 53}};
    f.minutes = 0;
    for (const auto& known : kKinds) {
      if (EqualsNoCase(kind, known.name)) f.minutes = known.olClass;
    }
    if (f.minutes == 0) throw ParseError("unknown item kind '" + kind + "' (appointment mail task contact meeting)");
  } else {
    throw ParseError("unknown item field '" + key + "'");
  }
  return f;
}

class Parser {
 public:
  Command Parse(const Statement& st) {
    Cursor c(st);
    Command cmd;
    cmd.line = st.line;
    const std::string name = c.Word("command");
    auto is = [&](const char* n) { return EqualsNoCase(name, n); };
    if (is("version")) {
      cmd.op = Op::Version;
      cmd.text = c.TextValue("version text");
    } else if (is("item")) {
      cmd.op = Op::Item;
      cmd.target = c.Word("item name");
      if (EqualsNoCase(cmd.target, kApplicationObject)) throw ParseError("an item cannot be called Application");
      items_.insert(cmd.target);
      while (!c.AtEnd()) cmd.fields.push_back(ParseField(c));
    } else if (is("fail") || is("unfail")) {
      cmd.op = is("fail") ? Op::Fail : Op::Unfail;
      cmd.target = c.Word("object");
      const std::string member = c.Word("member");
      const MemberInfo* info = nullptr;
      if (EqualsNoCase(cmd.target, kApplicationObject)) {
        cmd.target = std::string(kApplicationObject);
        info = FindMemberByName(ObjectKind::Application, member);
      } else {
        KnownItem(cmd.target);
        info = FindItemScopeMember(member);
      }
      if (!info) throw ParseError("'" + member + "' is no member " + cmd.target + " can fail");
      cmd.member = info->member;
      cmd.text.value = std::u16string(kDefaultFailure);
      // `put` (a bare word) makes only the member's put fail; its reads still answer.
      if (cmd.op == Op::Fail && c.PeekBareWord("put")) {
        if (!(info->kind & kPropertyPut)) throw ParseError("'" + member + "' cannot be put");
        c.Next("put");
        cmd.putOnly = true;
      }
      if (cmd.op == Op::Fail && !c.AtEnd()) cmd.text = c.TextValue("description");
    } else if (is("fire")) {
      cmd.op = Op::Fire;
      cmd.target = KnownItem(c.Word("item name"));
    } else if (is("burst")) {
      cmd.op = Op::Burst;
      cmd.target = KnownItem(c.Word("item name"));
      cmd.count = static_cast<uint32_t>(c.Integer("count", 1, 100000));
    } else if (is("fire-dispid")) {
      cmd.op = Op::FireDispid;
      cmd.dispid = static_cast<int32_t>(static_cast<uint32_t>(c.Integer("dispid", INT32_MIN, UINT32_MAX)));
      cmd.target = KnownItem(c.Word("item name"));
    } else if (is("wait-advise")) {
      cmd.op = Op::WaitAdvise;
      cmd.durationMs = c.Duration("timeout");
      if (!c.AtEnd()) cmd.count = static_cast<uint32_t>(c.Integer("sink count", 1, 1000));
    } else if (is("wait-unadvise")) {
      cmd.op = Op::WaitUnadvise;
      cmd.durationMs = c.Duration("timeout");
    } else if (is("wait-reminders-released")) {
      cmd.op = Op::WaitRemindersReleased;
      cmd.durationMs = c.Duration("timeout");
    } else if (is("sleep")) {
      cmd.op = Op::Sleep;
      cmd.durationMs = c.Duration("duration");
    } else if (is("refcounts")) {
      cmd.op = Op::Refcounts;
    } else if (is("busy")) {
      cmd.op = Op::Busy;
      cmd.durationMs = c.Duration("duration");
      if (!c.AtEnd()) {
        const std::string mode = c.Word("busy mode");
        if (!EqualsNoCase(mode, "reject")) throw ParseError("unknown busy mode '" + mode + "' (want reject)");
        cmd.reject = true;
      }
    } else if (is("remove-addin")) {
      cmd.op = Op::RemoveAddin;
      cmd.target = c.Word("ProgID");
    } else if (is("connect-addin")) {
      cmd.op = Op::ConnectAddin;
      cmd.target = c.Word("ProgID");
    } else if (is("refuse-advise")) {
      cmd.op = Op::RefuseAdvise;
    } else if (is("note")) {
      cmd.op = Op::Note;
      while (!c.AtEnd()) {
        if (!cmd.note.empty()) cmd.note += ' ';
        cmd.note += c.Word("text");
      }
    } else if (is("open-inspector") || is("close-inspector")) {
      cmd.op = is("open-inspector") ? Op::OpenInspector : Op::CloseInspector;
      cmd.target = KnownItem(c.Word("item name"));
    } else if (is("click") || is("explorer-click")) {
      cmd.op = is("click") ? Op::Click : Op::ExplorerClick;
      cmd.target = c.Word("control id");
      clicked_ = true;
    } else if (is("type")) {
      cmd.op = Op::Type;
      cmd.target = c.Word("control id");
      cmd.text = c.TextValue("text");
      clicked_ = true;
    } else if (is("quit") || is("shutdown")) {
      cmd.op = Op::Quit;
    } else if (is("quit-wait")) {
      cmd.op = Op::QuitWait;
      cmd.durationMs = c.Duration("timeout");
    } else if (is("quit-fast")) {
      cmd.op = Op::QuitFast;
    } else if (is("due")) {
      cmd.op = Op::Due;
      cmd.target = KnownItem(c.Word("item name"));
      if (!c.AtEnd()) {
        cmd.hasTime = true;
        cmd.when = c.Time("time it came due");
      }
    } else if (is("state")) {
      cmd.op = Op::State;
      cmd.target = KnownItem(c.Word("item name"));
    } else if (is("guard")) {
      cmd.op = Op::Guard;
      const std::string member = c.Word("member");
      const MemberInfo* info = FindItemScopeMember(member);
      if (!info) throw ParseError("'" + member + "' is no member the guard can watch");
      cmd.member = info->member;
      const std::string mode = c.Word("guard mode");
      if (EqualsNoCase(mode, "deny")) {
        cmd.guard = GuardSetting::Deny;
      } else if (EqualsNoCase(mode, "prompt")) {
        cmd.guard = GuardSetting::Prompt;
        cmd.durationMs = c.Duration("prompt duration");
      } else if (EqualsNoCase(mode, "off")) {
        cmd.guard = GuardSetting::Off;
      } else {
        throw ParseError("unknown guard mode '" + mode + "' (want deny, prompt <duration> or off)");
      }
    } else {
      throw ParseError("unknown command '" + name + "'");
    }
    c.End();
    return cmd;
  }

 private:
  const std::string& KnownItem(const std::string& name) {
    if (!items_.count(name) && !(clicked_ && IsCreatedItemName(name))) {
      throw ParseError("item '" + name + "' is not defined before this line");
    }
    return name;
  }

  // After a ribbon command, the add-in may have created items new1, new2, ...
  static bool IsCreatedItemName(const std::string& name) {
    const size_t prefix = kCreatedItemPrefix.size();
    return name.size() > prefix && name.compare(0, prefix, kCreatedItemPrefix) == 0 &&
           name.find_first_not_of("0123456789", prefix) == std::string::npos;
  }

  std::set<std::string> items_;
  bool clicked_ = false;
};

}  // namespace

ParseResult ParseScript(std::string_view utf8) {
  ParseResult result;
  LexResult lexed = LexScript(utf8);
  if (!lexed.error.empty()) {
    result.error = lexed.error;
    return result;
  }
  Parser parser;
  for (const Statement& st : lexed.statements) {
    try {
      result.commands.push_back(parser.Parse(st));
    } catch (const ParseError& e) {
      result.error = "line " + std::to_string(st.line) + ": " + e.message();
      result.commands.clear();
      return result;
    }
  }
  return result;
}

}  // namespace sim
