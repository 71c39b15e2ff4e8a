// The simulator's script language: tokens, commands, arguments and the errors for bad input.
#include <gtest/gtest.h>

#include "tools/outlook-sim/script/script.h"
#include "tools/outlook-sim/script/script_lexer.h"

namespace sim {
namespace {

std::vector<std::string> Texts(const Statement& st) {
  std::vector<std::string> out;
  for (const Token& t : st.tokens) out.push_back(t.text);
  return out;
}

TEST(OutlookSimLexer, SplitsStatementsOnLinesAndSemicolonsAndSkipsComments) {
  const LexResult r = LexScript("\xEF\xBB\xBF" "a b # comment ; not split\r\n\n c \"d;e#f\" ; g\n");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.statements.size(), 3u);
  EXPECT_EQ(Texts(r.statements[0]), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(r.statements[0].line, 1);
  EXPECT_EQ(Texts(r.statements[1]), (std::vector<std::string>{"c", "d;e#f"}));
  EXPECT_EQ(r.statements[1].line, 3);
  EXPECT_TRUE(r.statements[1].tokens[1].quoted);
  EXPECT_EQ(Texts(r.statements[2]), (std::vector<std::string>{"g"}));
  EXPECT_EQ(r.statements[2].line, 3);
}

TEST(OutlookSimLexer, QuotedTextEscapesAndRepeat) {
  const LexResult r = LexScript(R"(x "a\"b\\c\n\r\t" "\u{E4}\u{1F600}" "ab"*3 ""*5 "")");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(Texts(r.statements[0]),
            (std::vector<std::string>{"x", "a\"b\\c\n\r\t", "\xC3\xA4\xF0\x9F\x98\x80", "ababab", "", ""}));
}

TEST(OutlookSimLexer, RejectsMalformedInputWithItsLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"a\n\"open", "line 2: unterminated quoted text"},
      {"\"a\nb\"", "line 1: unterminated quoted text"},
      {"\"\\q\"", "line 1: unknown escape \\q"},
      {"\"\\u{D800}\"", "line 1: \\u{...} is no Unicode scalar value"},
      {"\"\\u{110000}\"", "line 1: \\u{...} is no Unicode scalar value"},
      {"\"\\u12\"", "line 1: \\u needs {hex digits}"},
      {"\"x\"*", "line 1: '*' after quoted text needs a count"},
      {"\"x\"*3y", "line 1: unexpected text after repeat count"},
      {"\"x\"y", "line 1: unexpected text after closing quote"},
      {"\"x\"*999999999", "line 1: repeat count too large"},
      {"\"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\"*99999999", "line 1: repeated text too long"},
      {"a \xC3(", "line 1: malformed UTF-8"},
      {"\"\xE0\x80\x80\"", "line 1: malformed UTF-8"},
  };
  for (const auto& c : cases) {
    const LexResult r = LexScript(c.text);
    EXPECT_EQ(r.error, c.error) << c.text;
    EXPECT_TRUE(r.statements.empty());
  }
}

TEST(OutlookSimParser, ParsesEveryCommand) {
  const ParseResult r = ParseScript(R"(
version "9.0.0.2711"
item 1 class "IPM.Appointment.ReminderCall" start +15m minutes 15 subject null body ""
item 1 Location x EntryID e ReminderMinutesBeforeStart -5 Start "2026-12-08 10:00:00"
item 1 prop notifycall text "555" prop n i4 -7 prop s i2 3 prop r r8 2.5 prop d date -2m
item 1 prop b bool TRUE prop e empty prop z null noprop n
fail 1 Subject "gone"; fail Application Version; unfail 1 find
fire 1; burst 1 100; fire-dispid 0xF003 1; fire-dispid 61444 1
wait-advise 5s 2; wait-unadvise 250ms; sleep 1m; refcounts; busy 2s
remove-addin Brisomel.Addin; note a  b; shutdown; quit
connect-addin Other.Addin; refuse-advise
)");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.commands.size(), 23u);
  const Command& version = r.commands[0];
  EXPECT_EQ(version.op, Op::Version);
  EXPECT_EQ(version.text.value, u"9.0.0.2711");
  EXPECT_EQ(version.line, 2);

  const Command& item = r.commands[1];
  EXPECT_EQ(item.op, Op::Item);
  EXPECT_EQ(item.target, "1");
  ASSERT_EQ(item.fields.size(), 5u);
  EXPECT_EQ(item.fields[0].field, Field::MessageClass);
  EXPECT_EQ(item.fields[0].text.value, u"IPM.Appointment.ReminderCall");
  EXPECT_EQ(item.fields[1].field, Field::Start);
  EXPECT_TRUE(item.fields[1].start.relative);
  EXPECT_EQ(item.fields[1].start.offsetSeconds, 900);
  EXPECT_EQ(item.fields[2].minutes, 15);
  EXPECT_TRUE(item.fields[3].text.null);
  EXPECT_FALSE(item.fields[4].text.null);
  EXPECT_EQ(item.fields[4].text.value, u"");

  const Command& item2 = r.commands[2];
  ASSERT_EQ(item2.fields.size(), 4u);
  EXPECT_EQ(item2.fields[0].field, Field::Location);
  EXPECT_EQ(item2.fields[1].field, Field::EntryID);
  EXPECT_EQ(item2.fields[2].minutes, -5);
  EXPECT_FALSE(item2.fields[3].start.relative);
  EXPECT_EQ(FormatSeconds(item2.fields[3].start.absoluteSeconds), "2026-12-08 10:00:00");

  const Command& props = r.commands[3];
  ASSERT_EQ(props.fields.size(), 5u);
  EXPECT_EQ(props.fields[0].prop.type, PropType::Text);
  EXPECT_EQ(props.fields[0].propName, "notifycall");
  EXPECT_EQ(props.fields[1].prop.type, PropType::I4);
  EXPECT_EQ(props.fields[1].prop.integer, -7);
  EXPECT_EQ(props.fields[2].prop.type, PropType::I2);
  EXPECT_EQ(props.fields[3].prop.real, 2.5);
  EXPECT_EQ(props.fields[4].prop.type, PropType::Date);
  EXPECT_EQ(props.fields[4].prop.date.offsetSeconds, -120);
  const Command& props2 = r.commands[4];
  ASSERT_EQ(props2.fields.size(), 4u);
  EXPECT_TRUE(props2.fields[0].prop.boolean);
  EXPECT_EQ(props2.fields[1].prop.type, PropType::Empty);
  EXPECT_EQ(props2.fields[2].prop.type, PropType::Null);
  EXPECT_EQ(props2.fields[3].field, Field::NoProp);

  EXPECT_EQ(r.commands[5].op, Op::Fail);
  EXPECT_EQ(r.commands[5].member, Member::Subject);
  EXPECT_EQ(r.commands[5].text.value, u"gone");
  EXPECT_EQ(r.commands[6].target, "Application");
  EXPECT_EQ(r.commands[6].member, Member::Version);
  EXPECT_EQ(r.commands[6].text.value, u"The operation failed.");
  EXPECT_EQ(r.commands[7].op, Op::Unfail);
  EXPECT_EQ(r.commands[7].member, Member::Find);
  EXPECT_EQ(r.commands[8].op, Op::Fire);
  EXPECT_EQ(r.commands[9].count, 100u);
  EXPECT_EQ(r.commands[10].dispid, 0xF003);
  EXPECT_EQ(r.commands[11].dispid, 0xF004);
  EXPECT_EQ(r.commands[12].op, Op::WaitAdvise);
  EXPECT_EQ(r.commands[12].durationMs, 5000);
  EXPECT_EQ(r.commands[12].count, 2u);
  EXPECT_EQ(r.commands[13].durationMs, 250);
  EXPECT_EQ(r.commands[14].durationMs, 60000);
  EXPECT_EQ(r.commands[15].op, Op::Refcounts);
  EXPECT_EQ(r.commands[16].op, Op::Busy);
  EXPECT_EQ(r.commands[17].target, "Brisomel.Addin");
  EXPECT_EQ(r.commands[18].note, "a b");
  EXPECT_EQ(r.commands[19].op, Op::Quit);
  EXPECT_EQ(r.commands[20].op, Op::Quit);
  EXPECT_EQ(r.commands[20].line, 10);
  EXPECT_EQ(r.commands[21].op, Op::ConnectAddin);
  EXPECT_EQ(r.commands[21].target, "Other.Addin");
  EXPECT_EQ(r.commands[22].op, Op::RefuseAdvise);
}

TEST(OutlookSimParser, ReportsTheFirstErrorWithItsLineAndKeepsNoCommands) {
  const struct {
    const char* script;
    const char* error;
  } cases[] = {
      {"frobnicate", "line 1: unknown command 'frobnicate'"},
      {"item 1\nfire 2", "line 2: item '2' is not defined before this line"},
      {"fire 1\nitem 1", "line 1: item '1' is not defined before this line"},
      {"item Application", "line 1: an item cannot be called Application"},
      {"item 1 colour red", "line 1: unknown item field 'colour'"},
      {"item 1 subject", "line 1: missing subject"},
      {"item 1 start 15m", "line 1: bad time '15m' (want +15m, -121s or \"yyyy-mm-dd hh:mm:ss\")"},
      {"item 1 start +15x", "line 1: relative time '+15x' needs a unit s, m, h or d"},
      {"item 1 start \"2026-02-29 10:00:00\"", "line 1: time out of range '2026-02-29 10:00:00'"},
      {"item 1 minutes 2147483648", "line 1: bad minutes '2147483648' (want an integer from -2147483648 to 2147483647)"},
      {"item 1 prop p i2 40000", "line 1: bad i2 value '40000' (want an integer from -32768 to 32767)"},
      {"item 1 prop p bool yes", "line 1: bad bool value 'yes' (want true or false)"},
      {"item 1 prop p blob 1", "line 1: unknown property type 'blob' (text i2 i4 r8 date bool empty null)"},
      {"item 1 prop p r8 1.5x", "line 1: bad r8 value '1.5x'"},
      {"item 1\nfail 1 Version", "line 2: 'Version' is no member 1 can fail"},
      {"fail Application Subject", "line 1: 'Subject' is no member Application can fail"},
      {"wait-advise 5", "line 1: duration '5' needs a unit ms, s, m or h"},
      {"sleep 11d", "line 1: duration '11d' needs a unit ms, s, m or h"},
      {"sleep 300h", "line 1: duration '300h' too long"},
      {"item 1\nburst 1 0", "line 2: bad count '0' (want an integer from 1 to 100000)"},
      {"quit now", "line 1: unexpected 'now'"},
      {"item 1\nfire-dispid x 1", "line 2: bad dispid 'x' (want an integer from -2147483648 to 4294967295)"},
      {"version \"open", "line 1: unterminated quoted text"},
      {"open-inspector new1", "line 1: item 'new1' is not defined before this line"},
      {"explorer-click B\nopen-inspector new1x", "line 2: item 'new1x' is not defined before this line"},
      {"type BrisomelNumber", "line 1: missing text"},
      {"due 1", "line 1: item '1' is not defined before this line"},
      {"guard Version deny", "line 1: 'Version' is no member the guard can watch"},
      {"guard Body ask", "line 1: unknown guard mode 'ask' (want deny, prompt <duration> or off)"},
      {"guard Body prompt", "line 1: missing prompt duration"},
      {"quit-wait", "line 1: missing timeout"},
      {"quit-fast now", "line 1: unexpected 'now'"},
      {"item 1\nfail 1 Find put", "line 2: 'Find' cannot be put"},
      {"item 1 kind fax", "line 1: unknown item kind 'fax' (appointment mail task contact meeting)"},
      {"item 1 reminderset maybe", "line 1: bad reminderset value 'maybe' (want true or false)"},
      {"item 1\ndue 1 10m", "line 2: bad time '10m' (want +15m, -121s or \"yyyy-mm-dd hh:mm:ss\")"},
  };
  for (const auto& c : cases) {
    const ParseResult r = ParseScript(c.script);
    EXPECT_EQ(r.error, c.error) << c.script;
    EXPECT_TRUE(r.commands.empty()) << c.script;
  }
}

// Items the add-in creates may be named once a ribbon command could have created them.
TEST(OutlookSimParser, ParsesTheRibbonCommands) {
  const ParseResult r = ParseScript(
      "item 1\nopen-inspector 1\nclick Toggle\ntype Number \"555 0100\"\nclose-inspector 1\n"
      "explorer-click New\nopen-inspector new1\nfire new2\n");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.commands.size(), 8u);
  EXPECT_EQ(r.commands[1].op, Op::OpenInspector);
  EXPECT_EQ(r.commands[1].target, "1");
  EXPECT_EQ(r.commands[2].op, Op::Click);
  EXPECT_EQ(r.commands[2].target, "Toggle");
  EXPECT_EQ(r.commands[3].op, Op::Type);
  EXPECT_EQ(r.commands[3].target, "Number");
  EXPECT_EQ(r.commands[3].text.value, u"555 0100");
  EXPECT_EQ(r.commands[4].op, Op::CloseInspector);
  EXPECT_EQ(r.commands[5].op, Op::ExplorerClick);
  EXPECT_EQ(r.commands[5].target, "New");
  EXPECT_EQ(r.commands[6].target, "new1");
  EXPECT_EQ(r.commands[7].target, "new2");
}

// What real Outlooks do that the simulator plays: Quit and waiting, fast shutdown, a reminder
// coming due, the object-model guard.
TEST(OutlookSimParser, ParsesTheCommandsOfRealOutlooksRules) {
  const ParseResult r = ParseScript(
      "item 1\nquit-wait 2s; quit-fast; due 1\n"
      "guard Body deny; guard find prompt 1500ms; guard Value off");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.commands.size(), 7u);
  EXPECT_EQ(r.commands[1].op, Op::QuitWait);
  EXPECT_EQ(r.commands[1].durationMs, 2000);
  EXPECT_EQ(r.commands[2].op, Op::QuitFast);
  EXPECT_EQ(r.commands[3].op, Op::Due);
  EXPECT_EQ(r.commands[3].target, "1");
  EXPECT_EQ(r.commands[4].op, Op::Guard);
  EXPECT_EQ(r.commands[4].member, Member::Body);
  EXPECT_EQ(r.commands[4].guard, GuardSetting::Deny);
  EXPECT_EQ(r.commands[5].member, Member::Find);
  EXPECT_EQ(r.commands[5].guard, GuardSetting::Prompt);
  EXPECT_EQ(r.commands[5].durationMs, 1500);
  EXPECT_EQ(r.commands[6].member, Member::Value);
  EXPECT_EQ(r.commands[6].guard, GuardSetting::Off);
}

// A step of the ribbon's marking that fails on demand (a put only: its read still answers), other
// kinds of item, a reminder that came due earlier, the item's state for comparing, and the end of
// an agent's look at the due reminders.
TEST(OutlookSimParser, ParsesPutFailuresItemKindsEarlierDueAndState) {
  const ParseResult r = ParseScript(
      "item 1 kind Mail reminderset false\nfail 1 MessageClass put \"Busy.\"\nfail 1 Delete\n"
      "fail 1 ReminderSet \"put\"\n"
      "due 1 -10m\nstate 1\nwait-reminders-released 5s\n");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.commands.size(), 7u);
  ASSERT_EQ(r.commands[0].fields.size(), 2u);
  EXPECT_EQ(r.commands[0].fields[0].field, Field::Kind);
  EXPECT_EQ(r.commands[0].fields[0].minutes, 43);
  EXPECT_EQ(r.commands[0].fields[1].field, Field::ReminderSet);
  EXPECT_EQ(r.commands[0].fields[1].minutes, 0);
  EXPECT_TRUE(r.commands[1].putOnly);
  EXPECT_EQ(r.commands[1].member, Member::MessageClass);
  EXPECT_EQ(r.commands[1].text.value, u"Busy.");
  EXPECT_FALSE(r.commands[2].putOnly);
  EXPECT_EQ(r.commands[2].member, Member::Delete);
  EXPECT_FALSE(r.commands[3].putOnly) << "a quoted \"put\" is the description";
  EXPECT_EQ(r.commands[3].text.value, u"put");
  EXPECT_TRUE(r.commands[4].hasTime);
  EXPECT_EQ(r.commands[4].when.offsetSeconds, -600);
  EXPECT_EQ(r.commands[5].op, Op::State);
  EXPECT_EQ(r.commands[5].target, "1");
  EXPECT_EQ(r.commands[6].op, Op::WaitRemindersReleased);
  EXPECT_EQ(r.commands[6].durationMs, 5000);
}

TEST(OutlookSimParser, EmptyScriptIsValid) {
  const ParseResult r = ParseScript("  # nothing\n\n;;\n");
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.commands.empty());
}

}  // namespace
}  // namespace sim
