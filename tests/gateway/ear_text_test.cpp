// A reminder's text as it is heard: what is said in words, what is spelled, what is left out.
#include <gtest/gtest.h>

#include "gateway/ear_text.h"

namespace talmery {
namespace {

struct Case {
  const char* text;
  const char* heard;
};

// The message's text is written for the ear before it is planned and again in the helper: what
// is heard stays as it is.
void Expect(const Case* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(EarText(cases[i].text), cases[i].heard) << cases[i].text;
    EXPECT_EQ(EarText(cases[i].heard), cases[i].heard) << cases[i].text;
  }
}

TEST(EarText, TimesDatesAndDurations) {
  const Case cases[] = {
      {"Meet at 9:30", "Meet at nine thirty."},
      {"Review at 14:00", "Review at two p m."},
      {"at 9:05 or 0:15", "at nine oh five or twelve fifteen a m."},
      {"at 12:00", "at twelve o'clock."},
      {"Starts 9.30 am, ends 11am", "Starts nine thirty a m, ends eleven a m."},
      {"from 3 PM to 4:45p.m.", "from three p m to four forty-five p m."},
      {"on 2026-12-10", "on December tenth, twenty twenty-six."},
      {"on 2005-01-31", "on January thirty-first, two thousand five."},
      {"lasts 30min, then 1h30, then 2hrs", "lasts thirty minutes, then one hour thirty minutes, then two hours."},
      // Not times: a ratio out of range, a decimal without am/pm; not a date, so a code.
      {"score 25:70, pay 9.30, on 2026-13-01", "score 25:70, pay 9.30, on 2 0 2 6, 1 3, 0 1."},
  };
  Expect(cases, std::size(cases));
}

TEST(EarText, CodesAndTelephoneNumbers) {
  const Case cases[] = {
      {"in Room B-204.", "in Room B, 2 0 4."},
      {"Flight LH-1234 at gate A3", "Flight L H, 1 2 3 4 at gate A 3."},
      {"Call +1 (555) 123-4567 now", "Call plus 1, 5 5 5, 1 2 3, 4 5 6 7 now."},
      {"or 555-987-6543.", "or 5 5 5, 9 8 7, 6 5 4 3."},
      {"or 0301234567", "or 0 3 0, 1 2 3, 4 5 6 7."},
      // Plain numbers and ordinals are read as numbers.
      {"bring 12 copies to the 3rd floor", "bring 12 copies to the 3rd floor."},
  };
  Expect(cases, std::size(cases));
}

TEST(EarText, AbbreviationsAndSigns) {
  const Case cases[] = {
      {"with Dr. Smith at 12 Main St.", "with Doctor Smith at 12 Main Street."},
      {"12 Elm Rd. then Dr. Who St. James", "12 Elm Road then Doctor Who Saint James."},
      {"Lunch @ noon w/ Bob & Carol", "Lunch at noon with Bob and Carol."},
      {"Q&A w/o slides, approx. 20 mins", "Q and A without slides, about 20 minutes."},
      {"Mtg re: budget, Rm. 4", "meeting about budget, Room 4."},
  };
  Expect(cases, std::size(cases));
}

TEST(EarText, LinksAndAddressesAreNamedNotSpelled) {
  const Case cases[] = {
      {"See https://example.com/a/b?c=d&e=f or www.example.org.", "See a link or a link."},
      {"Mail ann.lee@example.com (or mailto:bob@example.com)", "Mail an e-mail address or a link."},
      {"Bring a pen @ the desk", "Bring a pen at the desk."},
  };
  Expect(cases, std::size(cases));
}

TEST(EarText, SeparatorsBulletsAndRepeatedPunctuation) {
  const Case cases[] = {
      {"Agenda:\n- budget\n* hiring\n\xE2\x80\xA2 travel", "Agenda. budget. hiring. travel."},
      {"Wait... really?? Yes -- now!!!", "Wait. really? Yes, now!"},
      {"=====\nBring *the* report\n-----", "Bring the report."},
      {"in Room 4\n. The notes are: bring it", "in Room 4. The notes are: bring it."},
      {"-----\n____", ""},
      {"", ""},
  };
  Expect(cases, std::size(cases));
}

TEST(EarText, InvitationBoilerplateIsLeftOut) {
  const Case cases[] = {
      {"Please bring the Q3 figures.\n"
       "________________________________________________________________________________\n"
       "Online meeting\n"
       "Join on your computer, mobile app or room device\n"
       "Click here to join the meeting <https://meet.example.com/l/meetup-join/19%3ameeting_ABC>\n"
       "Meeting ID: 123 456 789 012\n"
       "Passcode: Ab12Cd\n"
       "Or call in (audio only)\n"
       "+1 555-123-4567,,123456789#   United States, Seattle\n"
       "Find a local number | Reset PIN\n"
       "________________________________________________________________________________\n"
       "Parking in level 2.",
       "Please bring the Q 3 figures. Parking in level 2."},
      // Without separators the invitation runs to the end.
      {"Budget review\nJoin the meeting now\nhttps://meet.example.com/j/1234\nMeeting ID 123 456",
       "Budget review."},
  };
  Expect(cases, std::size(cases));
}

// Cut after the last sentence that leaves time to say where the rest is (a word 60/wpm seconds,
// a sentence's end a word more, at nine tenths of the pace: 150 a minute fit 13 words in 6 s).
TEST(EarText, WithinSecondsCutsAtASentence) {
  const struct {
    const char* heard;
    int seconds;
    const char* said;
    bool cut;
  } cases[] = {
      {"One two three. Four five six seven. Eight nine ten eleven twelve.", 7, "One two three. Four five six seven. Eight nine ten eleven twelve.", false},
      {"One two three. Four five six seven. Eight nine ten eleven twelve.", 6, "One two three. The rest is in your calendar.", true},
      {"One two three. Four five six seven. Eight nine ten eleven twelve.", 5, "One two three. The rest is in your calendar.", true},
      // A first sentence too long for it is cut after a word.
      {"a b c d e f g h i j k l m n o p q r s t u v w x y z.", 6, "a b c d e f. The rest is in your calendar.", true},
      {"Short, and long enough.", 1, "The rest is in your calendar.", true},
      {"", 1, "", false},
  };
  for (const auto& c : cases) {
    bool cut = !c.cut;
    EXPECT_EQ(WithinSeconds(c.heard, c.seconds, 150, cut), c.said) << c.heard << " in " << c.seconds;
    EXPECT_EQ(cut, c.cut) << c.heard << " in " << c.seconds;
  }
  // The length it reckons: 9 words with the pauses, at 100 a minute less a tenth.
  EXPECT_DOUBLE_EQ(SpokenSeconds("One two three. Four five six seven.", 100), 60.0 * 9 / 90);
  EXPECT_EQ(SpokenSeconds("", 150), 0);
}

// Whatever the bytes, what comes out has no control characters and every line ends a sentence.
TEST(EarText, ControlCharactersNeverPass) {
  const std::string heard = EarText(std::string("Meet\x01L Ann\x1b[31m\x7f at 9:30\0x", 27));
  for (char c : heard) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << heard;
  EXPECT_EQ(heard.back(), '.');
}

}  // namespace
}  // namespace talmery
