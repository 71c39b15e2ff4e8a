#include "agent/calls/call_text.h"

#include <gtest/gtest.h>

#include <climits>

#include "agent/calls/text_encoding.h"

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

TEST(DialledNumber, DigitsAndAPlusWrittenBeforeThem) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"555-0100", "5550100"},
      {"(555) 010-0200", "5550100200"},
      {"+44 20 7946 0018", "+442079460018"},
      {"(+44) 20 7946 0018", "+442079460018"},
      {"+1 555 0100 ext. 7", "+155501007"},
      {"555+0100", "5550100"},  // a '+' after a digit is no country code
      {"++49 1", "+491"},
      {"+", ""},
      {"call me", ""},
      {"", ""},
      {"\xB2\xB3\xBD", ""},  // superscript and fraction bytes of the ANSI code page are no digits
      {std::string("12\0"
                   "34",
                   5),
       "1234"},
  };
  for (const auto& c : cases) EXPECT_EQ(DialledNumber(c.in), c.out) << c.in;
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
  EXPECT_EQ(ComposeCallForm(*r.m_nMinutes, DialledNumber(r.m_strPhone), text),
            "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Hi%2c+this+is+Ann+Lee%27s+"
            "appointment+reminder+call+program%2e%0aYou+have+an+appointment+coming+up+in+15+"
            "minutes%2e%0aThe+appointment+subject+is%3a+Budget+review%0a");
}

TEST(ComposeCallForm, MinutesSignAndEncodedBytes) {
  EXPECT_EQ(ComposeCallForm(-3, "1", "\xE9\t~"),
            "calltime=0&selfdelete=1&firstocc=-3&phoneno=1&txt=%e9%09%7e");
  EXPECT_EQ(ComposeCallForm(0, "", ""), "calltime=0&selfdelete=1&firstocc=0&phoneno=&txt=");
  // A bare '+' is a blank in a form: the gateway would dial a national number.
  EXPECT_EQ(ComposeCallForm(1, "+442079460018", "a"),
            "calltime=0&selfdelete=1&firstocc=1&phoneno=%2B442079460018&txt=a");
}

size_t OneByte(char32_t) { return 1; }

// What the gateway takes, counted as it counts: bytes of the text in the encoding it is sent in.
TEST(FitCallText, DropsNulsAndShortensTheNotesAtALineOrWordBoundary) {
  const std::string head =
      "Hi, this is Ann Lee's appointment reminder call program.\n"
      "You have an appointment coming up in 15 minutes.\n"
      "The appointment subject is: S\n";
  const std::string intro = ". The appointment notes is: ";
  const std::string shortened = "\nThe notes were shortened.\n";
  // Room for exactly 40 bytes of notes; what follows them in a case only makes the text too long.
  const size_t room = head.size() + intro.size() + shortened.size() + 40;
  const std::string more = " " + std::string(100, 'T');
  const std::string euro = "\xE2\x82\xAC";  // three bytes in UTF-8, one in code page 1252
  const struct {
    const char* what;
    std::string notes;
    size_t maxBytes;
    CharBytes charBytes;
    std::string text;
  } cases[] = {
      {"fits", "short", room, Utf8Bytes, head + intro + "short\n"},
      {"fits to the byte", std::string(room - head.size() - intro.size() - 1, 'x'), room, Utf8Bytes,
       head + intro + std::string(room - head.size() - intro.size() - 1, 'x') + "\n"},
      {"one byte over", std::string(room - head.size() - intro.size(), 'x'), room, Utf8Bytes,
       head + intro + std::string(40, 'x') + shortened},
      {"NULs dropped", std::string("a\0b", 3), room, Utf8Bytes, head + intro + "ab\n"},
      {"at the line end", std::string(37, 'a') + "\r\nbbbb bbbb" + more, room, Utf8Bytes,
       head + intro + std::string(37, 'a') + shortened},
      {"line end too early: at a blank", "a\n" + std::string(30, 'b') + " ccccccccccccc" + more, room, Utf8Bytes,
       head + intro + "a\n" + std::string(30, 'b') + shortened},
      {"one long word: within it", std::string(150, 'w'), room, Utf8Bytes, head + intro + std::string(40, 'w') + shortened},
      {"never within a character", "a" + euro + euro + std::string(40, 'e'),
       head.size() + intro.size() + shortened.size() + 6, Utf8Bytes, head + intro + "a" + euro + shortened},
      {"counted in the code page's bytes", std::string(20, 'x') + euro + std::string(19, 'y') + more, room, OneByte,
       head + intro + std::string(20, 'x') + euro + std::string(19, 'y') + shortened},
      {"blanks before the cut go", std::string(36, 'z') + "    qqqq" + more, room, Utf8Bytes,
       head + intro + std::string(36, 'z') + shortened},
  };
  ReminderRecord record = Record("S", "", "", 15);
  for (const auto& c : cases) {
    record.m_strNotes = c.notes;
    const std::string text = FitCallText("Ann Lee's", record, 900, c.maxBytes, c.charBytes);
    EXPECT_EQ(text, c.text) << c.what;
  }
}

// Only a subject or location beyond any Outlook's limits leaves no room for notes.
TEST(FitCallText, TheRestShortenedWhenItAloneIsTooLong) {
  ReminderRecord record = Record(std::string(200, 's'), "", "notes", 15);
  const std::string text = FitCallText(" ", record, 900, 150, Utf8Bytes);
  EXPECT_LE(text.size(), 150u);
  EXPECT_EQ(text.substr(0, 30), "Hi, this is   appointment remi");
  EXPECT_EQ(text.substr(text.size() - 25), "\nThe text was shortened.\n");
  EXPECT_EQ(text.find("notes"), std::string::npos);
}

}  // namespace
