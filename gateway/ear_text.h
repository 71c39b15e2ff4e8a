#pragma once
// A reminder's text rewritten to be heard on a telephone rather than read on a screen.
//
// The engines guess at what is written for the eye: "9:30" may come out as "nine colon thirty",
// a room code as a number in the hundreds, a join link letter by letter for a minute. So the text
// is made plain before it is spoken: times, dates and durations in words; codes and telephone
// numbers digit by digit in their groups; the abbreviations of calendars and addresses in full;
// links and e-mail addresses named, not spelled; separator lines, bullets, repeated punctuation
// and the boilerplate of online-meeting invitations (join links, meeting IDs, passcodes, dial-in
// numbers) left out, since a listener can do nothing with them and they drown the key facts.
// Each line becomes a sentence, so the engine pauses between them. Pure: no I/O.
#include <string>

namespace talmery {

// The text as it should be heard (UTF-8 in, UTF-8 out). Empty when nothing in it is worth saying.
std::string EarText(const std::string& utf8);

// Said after a text cut to the time a listener attends to (WithinSeconds).
inline constexpr const char* kRestInCalendar = "The rest is in your calendar.";

// `heard` (EarText's) as far as it is said within `seconds` at `wordsPerMinute`, cut after the
// last sentence that fits and ended with kRestInCalendar; `cut` tells whether it was. A first
// sentence that alone is too long is cut after its last word that fits. Reckoned with a margin:
// a word 60/wpm seconds, a sentence's end a word more, all at nine tenths of the pace (texts full
// of numbers and names take that much longer than the average text the voices are paced on).
std::string WithinSeconds(const std::string& heard, int seconds, int wordsPerMinute, bool& cut);

// How long `heard` takes to say at `wordsPerMinute` as WithinSeconds reckons it (0 for nothing).
double SpokenSeconds(const std::string& heard, int wordsPerMinute);

}  // namespace talmery
