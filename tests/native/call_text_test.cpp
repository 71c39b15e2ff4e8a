#include "agent/calls/call_text.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

ReminderRecord Record(const std::string& subject, const std::string& location,
                      const std::string& notes, int32_t minutes) {
  ReminderRecord r;
  r.m_strSubject = subject;
  r.m_strLocation = location;
  r.m_strNotes = notes;
  r.m_nMinutes = minutes;
  return r;
}

TEST(KeepDigits, DropsEverythingButDecimalDigits) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"555-0100", "5550100"},
      {"(555) 010-0200", "5550100200"},
      {"+1 555 0100 ext. 7", "155501007"},
      {"call me", ""},
      {"", ""},
      {"\xB2\xB3\xBD", ""},  // superscript and fraction bytes of the ANSI code page are no digits
      {std::string("12\0"
                   "34",
                   5),
       "1234"},
  };
  for (const auto& c : cases) EXPECT_EQ(KeepDigits(c.in), c.out) << c.in;
}

TEST(CallerName, JoinsNamesAndAddsPossessiveUnlessBothEmpty) {
  const struct {
    std::string first, last, name;
  } cases[] = {
      {"Ann", "Lee", "Ann Lee's"},
      {"", "", " "},
      {"Ann", "", "Ann 's"},
      {"", "Lee", " Lee's"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CallerName(c.first, c.last), c.name) << c.first << "|" << c.last;
}

TEST(ComposeCallText, AppendsOnlyPresentSentencesInOrder) {
  const std::string head =
      "Hi, this is Ann Lee's appointment reminder call program.\n"
      "You have an appointment coming up in 15 minutes.\n";
  const struct {
    ReminderRecord record;
    std::string tail;
  } cases[] = {
      {Record("", "", "", 15), ""},
      {Record("Budget review", "", "", 15), "The appointment subject is: Budget review\n"},
      {Record("", "Room 4", "", 0), "The appointment location is: Room 4\n"},
      {Record("", "", "Bring slides", -5), ". The appointment notes is: Bring slides\n"},
      {Record("S", "L", "line1\r\nline2 ", 10),
       "The appointment subject is: S\nThe appointment location is: L\n"
       ". The appointment notes is: line1\r\nline2 \n"},
      {Record(" ", "", "", INT32_MIN), "The appointment subject is:  \n"},
  };
  // The minutes before the start that the reminder carries are not what is spoken.
  for (const auto& c : cases) EXPECT_EQ(ComposeCallText("Ann Lee's", c.record, 900), head + c.tail) << c.tail;
}

TEST(StartSentence, TheTimeReallyLeftRoundedToWholeMinutes) {
  const std::string coming = "You have an appointment coming up in ";
  const std::string begun = "Your appointment has already begun.\n";
  const struct {
    long long secondsLeft;
    std::string sentence;
  } cases[] = {
      {900, coming + "15 minutes.\n"},     {170, coming + "3 minutes.\n"},  // a reminder snoozed to 3 minutes before
      {149, coming + "2 minutes.\n"},      {150, coming + "3 minutes.\n"},  // halves round up
      {89, coming + "1 minute.\n"},        {30, coming + "1 minute.\n"},
      {29, coming + "less than a minute.\n"}, {1, coming + "less than a minute.\n"},
      {0, begun},                          {-120, begun},
      {LLONG_MAX, coming + "2147483647 minutes.\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(StartSentence(c.secondsLeft), c.sentence) << c.secondsLeft;
}

TEST(RoundedMinutes, NearestWholeMinuteWithinInt32) {
  const struct {
    long long seconds;
    int32_t minutes;
  } cases[] = {{0, 0},    {29, 0},     {30, 1},     {-29, 0},          {-30, -1},         {-91, -2},
               {900, 15}, {LLONG_MAX, INT32_MAX}, {LLONG_MIN, INT32_MIN}, {-(1LL << 40), INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(RoundedMinutes(c.seconds), c.minutes) << c.seconds;
}

TEST(ComposeCallText, BothNamesEmptyLeavesThreeBlanks) {
  EXPECT_EQ(ComposeCallText(CallerName("", ""), Record("", "", "", 1), 60).substr(0, 27),
            "Hi, this is   appointment r");
}

TEST(ComposeCallForm, WorkedExampleBody) {
  ReminderRecord r = Record("Budget review", "", "", 15);
  r.m_strPhone = "555-0100";
  const std::string text = ComposeCallText(CallerName("Ann", "Lee"), r, 15 * 60);
  EXPECT_EQ(ComposeCallForm(r.m_nMinutes, KeepDigits(r.m_strPhone), text),
            "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Hi%2c+this+is+Ann+Lee%27s+"
            "appointment+reminder+call+program%2e%0aYou+have+an+appointment+coming+up+in+15+"
            "minutes%2e%0aThe+appointment+subject+is%3a+Budget+review%0a");
}

TEST(ComposeCallForm, MinutesSignAndEncodedBytes) {
  EXPECT_EQ(ComposeCallForm(-3, "1", "\xE9\t~"),
            "calltime=0&selfdelete=1&firstocc=-3&phoneno=1&txt=%e9%09%7e");
  EXPECT_EQ(ComposeCallForm(0, "", ""), "calltime=0&selfdelete=1&firstocc=0&phoneno=&txt=");
}

}  // namespace
