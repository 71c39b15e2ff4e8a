#include "gateway/ear_text.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace talmery {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
char Lower(char c) { return IsUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCase(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = Lower(c);
  return out;
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!IsDigit(c)) return false;
  return true;
}

bool Contains(const std::string& haystack, const char* needle) { return haystack.find(needle) != std::string::npos; }

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

int ToInt(const std::string& digits) {
  int n = 0;
  for (char c : digits) {
    n = n * 10 + (c - '0');
    if (n > 100000) return n;  // large enough to fail every range check
  }
  return n;
}

const char* const kOnes[] = {"zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
                             "ten", "eleven", "twelve", "thirteen", "fourteen", "fifteen", "sixteen",
                             "seventeen", "eighteen", "nineteen"};
const char* const kTens[] = {"", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"};

// 0..99 in words.
std::string Words(int n) {
  if (n < 20) return kOnes[n];
  std::string out = kTens[n / 10];
  if (n % 10) out += std::string("-") + kOnes[n % 10];
  return out;
}

std::string OrdinalWords(int n) {
  static const char* const kFirst[] = {"zeroth", "first", "second", "third", "fourth", "fifth", "sixth",
                                       "seventh", "eighth", "ninth", "tenth", "eleventh", "twelfth"};
  if (n <= 12) return kFirst[n];
  if (n < 20) return std::string(kOnes[n]) + "th";
  if (n % 10 == 0) {
    std::string tens = kTens[n / 10];
    return tens.substr(0, tens.size() - 1) + "ieth";
  }
  return std::string(kTens[n / 10]) + "-" + kFirst[n % 10];
}

// A year as people say it: "twenty twenty-six", "two thousand five".
std::string YearWords(int year) {
  if (year % 1000 < 10 && year / 1000 == 2) return year % 10 ? "two thousand " + Words(year % 10) : "two thousand";
  const int low = year % 100;
  return Words(year / 100) + " " + (low == 0 ? "hundred" : low < 10 ? "oh " + Words(low) : Words(low));
}

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

// "h:mm" with "a m"/"p m" when given or when the hour is on a 24-hour clock.
std::string TimeWords(int hour, int minute, const std::string& meridiem) {
  std::string suffix = meridiem;
  if (suffix.empty() && hour >= 13) suffix = "p m";
  if (suffix.empty() && hour == 0) suffix = "a m";
  int h = hour % 12;
  if (h == 0) h = 12;
  std::string out = Words(h);
  if (minute == 0) out += suffix.empty() ? " o'clock" : "";
  else if (minute < 10) out += " oh " + Words(minute);
  else out += " " + Words(minute);
  if (!suffix.empty()) out += " " + suffix;
  return out;
}

// "am", "a.m.", "pm", "p.m." (any case) as said: "a m", "p m"; empty for anything else.
std::string Meridiem(const std::string& word) {
  std::string w;
  for (char c : word)
    if (c != '.') w += Lower(c);
  if (w == "am") return "a m";
  if (w == "pm") return "p m";
  return "";
}

// Digits one by one, a space between them.
std::string Spelled(const std::string& digits) {
  std::string out;
  for (char c : digits) {
    if (!out.empty()) out += ' ';
    out += c;
  }
  return out;
}

// Groups of digits, each said digit by digit, a short pause (a comma) between groups; a group
// longer than four is broken in threes, as people read them out.
std::string GroupedDigits(const std::vector<std::string>& groups) {
  std::string out;
  for (const std::string& g : groups) {
    for (size_t at = 0; at < g.size();) {
      size_t n = g.size() - at <= 4 ? g.size() - at : 3;
      if (!out.empty()) out += ", ";
      out += Spelled(g.substr(at, n));
      at += n;
    }
  }
  return out;
}

struct Abbreviation {
  const char* written;  // lower case, with its dot where it has one
  const char* said;
};

// Abbreviations whose meaning does not depend on the words around them.
const Abbreviation kAbbreviations[] = {
    {"mr.", "Mister"}, {"mrs.", "Missus"}, {"ms.", "Ms"}, {"prof.", "Professor"},
    {"rd.", "Road"}, {"ave.", "Avenue"}, {"blvd.", "Boulevard"}, {"ln.", "Lane"},
    {"hwy.", "Highway"}, {"sq.", "Square"}, {"ste.", "Suite"}, {"apt.", "Apartment"},
    {"bldg.", "Building"}, {"rm.", "Room"}, {"fl.", "Floor"}, {"flr.", "Floor"},
    {"dept.", "Department"}, {"approx.", "about"}, {"e.g.", "for example"}, {"i.e.", "that is"},
    {"etc.", "and so on"}, {"vs.", "versus"}, {"tel.", "telephone"}, {"tel:", "telephone"},
    {"mtg", "meeting"}, {"mtg.", "meeting"}, {"conf.", "conference"}, {"w/", "with"},
    {"w/o", "without"}, {"&", "and"}, {"@", "at"}, {"+", "plus"}, {"asap", "as soon as possible"},
    {"mon.", "Monday"}, {"tue.", "Tuesday"}, {"tues.", "Tuesday"}, {"wed.", "Wednesday"},
    {"thu.", "Thursday"}, {"thur.", "Thursday"}, {"thurs.", "Thursday"}, {"fri.", "Friday"},
    {"sat.", "Saturday"}, {"sun.", "Sunday"}, {"jan.", "January"}, {"feb.", "February"},
    {"mar.", "March"}, {"apr.", "April"}, {"jun.", "June"}, {"jul.", "July"}, {"aug.", "August"},
    {"sep.", "September"}, {"sept.", "September"}, {"oct.", "October"}, {"nov.", "November"},
    {"dec.", "December"}, {"min", "minutes"}, {"mins", "minutes"}, {"min.", "minutes"},
    {"mins.", "minutes"}, {"hr", "hours"}, {"hrs", "hours"}, {"hr.", "hours"}, {"hrs.", "hours"},
    {"no.", "number"}, {"re:", "about"}, {"fyi", "for your information"}, {"n/a", "none"},
};

// Lines an online-meeting invitation carries that a listener cannot use: matched in lower case.
const char* const kBoilerplate[] = {
    "join the meeting", "join meeting", "join online", "join on your computer", "join with a video",
    "click here to join", "meeting id", "meeting number", "conference id", "access code", "passcode",
    "password:", "pin:", "dial-in", "dial in", "dial by your location", "call in", "join by phone",
    "one tap mobile", "find a local number", "local numbers", "learn more", "meeting options",
    "help |", "privacy and security", "need help", "for organizers", "reset dial-in pin",
    "you have been invited", "is inviting you", "video conferencing", "toll-free", "toll free",
    "join by video", "join from a video", "download the app", "tap to join", "join on the web",
    "join with a device", "join from your browser", "audio only",
};

// Stand for a link and an e-mail address between the steps (control characters, which the text
// no longer has).
const char* const kLinkMark = "\x01L";
const char* const kEmailMark = "\x01E";

struct Token {
  std::string lead;   // opening punctuation: ( " '
  std::string core;
  std::string trail;  // closing punctuation: . , ; : ! ? ) " '
};

bool IsLeadMark(char c) { return c == '(' || c == '[' || c == '"' || c == '\'' || c == '<'; }
bool IsTrailMark(char c) {
  return c == '.' || c == ',' || c == ';' || c == ':' || c == '!' || c == '?' || c == ')' || c == ']' ||
         c == '"' || c == '\'' || c == '>';
}

Token Split(const std::string& word) {
  Token t;
  size_t begin = 0, end = word.size();
  while (begin < end && IsLeadMark(word[begin])) ++begin;
  while (end > begin && IsTrailMark(word[end - 1])) --end;
  t.lead = word.substr(0, begin);
  t.core = word.substr(begin, end - begin);
  t.trail = word.substr(end);
  return t;
}

bool IsLink(const std::string& core) {
  const std::string w = LowerCase(core);
  return StartsWith(w, "http://") || StartsWith(w, "https://") || StartsWith(w, "www.") || StartsWith(w, "ftp://") ||
         StartsWith(w, "mailto:") || StartsWith(w, "tel:+") || StartsWith(w, "sip:");
}

bool IsEmail(const std::string& core) {
  const size_t at = core.find('@');
  return at != std::string::npos && at > 0 && core.find('.', at) != std::string::npos && core.find('.', at) + 1 < core.size();
}

// Only digits and the marks that group them in telephone numbers.
bool PhoneShaped(const std::string& core) {
  bool digit = false;
  for (char c : core) {
    if (IsDigit(c)) digit = true;
    else if (c != '-' && c != '.' && c != '(' && c != ')' && c != '+' && c != '/') return false;
  }
  return digit;
}

std::vector<std::string> DigitGroups(const std::string& s) {
  std::vector<std::string> groups(1);
  for (char c : s) {
    if (IsDigit(c)) groups.back() += c;
    else if (!groups.back().empty()) groups.emplace_back();
  }
  if (groups.back().empty()) groups.pop_back();
  return groups;
}

size_t DigitCount(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += IsDigit(c) ? 1 : 0;
  return n;
}

// "14:00", "9:30", "9.30" (the dot only with am/pm after it): true with the hour and minute.
bool ClockTime(const std::string& core, bool dotAllowed, int& hour, int& minute) {
  const size_t sep = core.find_first_of(dotAllowed ? ":." : ":");
  if (sep == std::string::npos || sep == 0 || sep > 2 || core.size() != sep + 3) return false;
  const std::string h = core.substr(0, sep), m = core.substr(sep + 1);
  if (!AllDigits(h) || !AllDigits(m)) return false;
  hour = ToInt(h);
  minute = ToInt(m);
  return hour <= 23 && minute <= 59;
}

// "9am", "9:30pm", "11.15a.m.": a time with its am/pm attached.
bool AttachedTime(const std::string& core, std::string& said) {
  size_t digits = 0;
  while (digits < core.size() && (IsDigit(core[digits]) || core[digits] == ':' || core[digits] == '.')) ++digits;
  if (digits == 0 || digits == core.size()) return false;
  const std::string meridiem = Meridiem(core.substr(digits));
  if (meridiem.empty()) return false;
  std::string number = core.substr(0, digits);
  while (!number.empty() && number.back() == '.') number.pop_back();
  int hour = 0, minute = 0;
  if (AllDigits(number) && number.size() <= 2) hour = ToInt(number);
  else if (!ClockTime(number, true, hour, minute)) return false;
  if (hour < 1 || hour > 12) return false;
  said = TimeWords(hour, minute, meridiem);
  return true;
}

// "2026-12-10": the date in words.
bool IsoDate(const std::string& core, std::string& said) {
  if (core.size() != 10 || core[4] != '-' || core[7] != '-') return false;
  const std::string y = core.substr(0, 4), m = core.substr(5, 2), d = core.substr(8, 2);
  if (!AllDigits(y) || !AllDigits(m) || !AllDigits(d)) return false;
  const int month = ToInt(m), day = ToInt(d);
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  said = std::string(kMonths[month - 1]) + " " + OrdinalWords(day) + ", " + YearWords(ToInt(y));
  return true;
}

// "30min", "1h", "2hrs", "1h30", "45m": a duration written short.
bool ShortDuration(const std::string& core, std::string& said) {
  size_t at = 0;
  while (at < core.size() && IsDigit(core[at])) ++at;
  if (at == 0 || at > 3 || at == core.size()) return false;
  const int amount = ToInt(core.substr(0, at));
  const std::string unit = LowerCase(core.substr(at));
  const auto count = [](int n, const char* one, const char* many) {
    return (n < 100 ? Words(n) : std::to_string(n)) + " " + (n == 1 ? one : many);
  };
  if (unit == "min" || unit == "mins" || unit == "m") return said = count(amount, "minute", "minutes"), true;
  if (unit == "h" || unit == "hr" || unit == "hrs") return said = count(amount, "hour", "hours"), true;
  if (unit.size() == 3 && unit[0] == 'h' && IsDigit(unit[1]) && IsDigit(unit[2])) {
    const int minutes = ToInt(unit.substr(1));
    if (minutes > 59) return false;
    said = count(amount, "hour", "hours");
    if (minutes) said += " " + count(minutes, "minute", "minutes");
    return true;
  }
  return false;
}

// "B-204", "A3", "CX-12-7", "12-34": letters and digits that name a thing (a room, a flight, a
// file): each part said separately, the digits one by one.
bool Code(const std::string& core, std::string& said) {
  bool letter = false, digit = false;
  for (char c : core) {
    if (IsAlpha(c)) letter = true;
    else if (IsDigit(c)) digit = true;
    else if (c != '-' && c != '/') return false;
  }
  if (!digit || core.front() == '-' || core.back() == '-') return false;
  if (!letter && core.find('-') == std::string::npos) return false;
  // Ordinals read well as they are.
  const std::string lower = LowerCase(core);
  if (lower.size() >= 3 && AllDigits(lower.substr(0, lower.size() - 2))) {
    const std::string tail = lower.substr(lower.size() - 2);
    if (tail == "st" || tail == "nd" || tail == "rd" || tail == "th") return false;
  }
  said.clear();
  std::string run;
  int kind = 0;  // of the run: 1 letters, 2 digits
  const auto flush = [&] {
    if (run.empty()) return;
    if (!said.empty()) said += ' ';
    if (kind == 2) said += Spelled(run);
    else if (run.size() <= 3 || IsUpper(run[0])) {
      // Letter codes are spelled; a word in a code ("Room3") stays a word.
      bool upper = true;
      for (char c : run) upper = upper && IsUpper(c);
      said += upper || run.size() <= 2 ? Spelled(run) : run;
    } else {
      said += run;
    }
    run.clear();
  };
  for (char c : core) {
    const int k = IsDigit(c) ? 2 : IsAlpha(c) ? 1 : 0;
    if (k == 0) {
      flush();
      said += ",";
      kind = 0;
      continue;
    }
    if (k != kind) flush();
    kind = k;
    run += c;
  }
  flush();
  return true;
}

// A line of nothing but marks: "-----", "=====", "* * *", "__".
bool SeparatorLine(const std::string& line) {
  size_t marks = 0;
  for (char c : line) {
    if (c == ' ' || c == '\t') continue;
    if (IsAlpha(c) || IsDigit(c) || static_cast<unsigned char>(c) >= 0x80) return false;
    ++marks;
  }
  return marks >= 2;
}

bool BoilerplateLine(const std::string& line) {
  const std::string lower = LowerCase(line);
  for (const char* phrase : kBoilerplate)
    if (Contains(lower, phrase)) return true;
  return false;
}

// Leading bullets: "- ", "* ", "• ", "· ", "o ", "> ".
std::string WithoutBullet(const std::string& line) {
  size_t at = 0;
  for (;;) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at < line.size() && (line[at] == '-' || line[at] == '*' || line[at] == '>' || line[at] == '+') &&
        (at + 1 == line.size() || line[at + 1] == ' ')) {
      ++at;
      continue;
    }
    if (line.compare(at, 3, "\xE2\x80\xA2") == 0 || line.compare(at, 3, "\xE2\x96\xAA") == 0) {  // • ▪
      at += 3;
      continue;
    }
    if (line.compare(at, 2, "\xC2\xB7") == 0) {  // ·
      at += 2;
      continue;
    }
    if (line.compare(at, 2, "o ") == 0) {
      at += 2;
      continue;
    }
    return line.substr(at);
  }
}

// Marks said as nothing, and runs of the same punctuation as one.
std::string CleanMarks(const std::string& line) {
  std::string out;
  out.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '*' || c == '_' || c == '=' || c == '~' || c == '|' || c == '#' || c == '^' || c == '`' || c == '\\' ||
        c == '{' || c == '}') {
      out += ' ';
      continue;
    }
    if ((c == '.' || c == '!' || c == '?' || c == ',' || c == '-' || c == ';' || c == ':') && !out.empty() &&
        out.back() == c) {
      continue;
    }
    // An ellipsis character or a dash is a pause.
    if (line.compare(i, 3, "\xE2\x80\xA6") == 0) {
      out += ".";
      i += 2;
      continue;
    }
    if (line.compare(i, 3, "\xE2\x80\x93") == 0 || line.compare(i, 3, "\xE2\x80\x94") == 0) {
      out += ",";
      i += 2;
      continue;
    }
    out += c;
  }
  return out;
}

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  // Sized once: a text may be one line of many thousand words.
  size_t count = 0;
  for (size_t i = 0; i < line.size(); ++i)
    count += line[i] != ' ' && line[i] != '\t' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t');
  words.reserve(count);
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool EndsSentence(char c) { return c == '.' || c == '!' || c == '?'; }

// One line, word by word.
std::string SayLine(const std::string& line) {
  const std::vector<std::string> words = SplitWords(line);
  std::vector<std::string> out;
  out.reserve(words.size());
  for (size_t i = 0; i < words.size(); ++i) {
    Token t = Split(words[i]);
    const Token next = i + 1 < words.size() ? Split(words[i + 1]) : Token{};
    std::string said;
    bool done = false;
    // A lone mark: "-" between words is a pause, "&" and "@" words.
    if (words[i] == "-" || words[i] == "--" || words[i] == "/" || words[i] == "|") {
      if (!out.empty() && !out.back().empty() && !IsTrailMark(out.back().back())) out.back() += ",";
      continue;
    }
    if (t.core.empty()) {
      if (false) {
        if (!out.empty() && !out.back().empty() && !IsTrailMark(out.back().back())) out.back() += ",";
        continue;
      }
      t.core = t.trail;
      t.trail.clear();
    }
    const std::string lower = LowerCase(t.core);
    if (t.core == kLinkMark) {
      said = "a link", done = true;
    } else if (t.core == kEmailMark) {
      said = "an e-mail address", done = true;
    }
    if (!done) {
      int hour = 0, minute = 0;
      const std::string meridiem = next.lead.empty() ? Meridiem(next.core) : "";
      if (!meridiem.empty() && ClockTime(t.core, true, hour, minute) && hour >= 1 && hour <= 12) {
        said = TimeWords(hour, minute, meridiem), done = true;
        t.trail = next.trail;
        ++i;
      } else if (!meridiem.empty() && AllDigits(t.core) && t.core.size() <= 2 && ToInt(t.core) >= 1 &&
                 ToInt(t.core) <= 12) {
        said = TimeWords(ToInt(t.core), 0, meridiem), done = true;
        t.trail = next.trail;
        ++i;
      } else if (ClockTime(t.core, false, hour, minute)) {
        said = TimeWords(hour, minute, ""), done = true;
      } else if (AttachedTime(t.core, said) || IsoDate(t.core, said) || ShortDuration(t.core, said)) {
        done = true;
      }
    }
    if (!done && PhoneShaped(t.core + t.lead)) {
      // A telephone number may be written in several words: "+1 (555) 123-4567".
      std::string number = t.lead + t.core;
      std::string trail = t.trail;
      size_t last = i;
      for (size_t j = i + 1; j < words.size(); ++j) {
        if (!PhoneShaped(words[j]) && !PhoneShaped(Split(words[j]).core)) break;
        if (!trail.empty() && trail != ")") break;
        const Token more = Split(words[j]);
        number += trail + " " + more.lead + more.core;
        trail = more.trail;
        last = j;
      }
      const size_t digits = DigitCount(number);
      if (digits >= 7 && (last > i || number.find_first_of("-.()+/") != std::string::npos || digits >= 8)) {
        said = (number[0] == '+' ? "plus " : "") + GroupedDigits(DigitGroups(number));
        t.trail = trail == ")" ? "" : trail;
        i = last;
        done = true;
      } else if (last == i && Code(t.core, said)) {
        done = true;
      } else if (t.core[0] == '+' && AllDigits(t.core.substr(1))) {
        said = "plus " + t.core.substr(1), done = true;
      }
    }
    if (!done) {
      // An abbreviation, with its dot when it has one (the dot is then not the sentence's end,
      // unless the line ends there).
      const std::string dotted = t.trail.empty() || t.trail[0] != '.' ? "" : lower + ".";
      const bool nextCapital = !next.core.empty() && IsUpper(next.core[0]);
      const bool afterWord = !out.empty();
      std::string rest = t.trail;
      if (!dotted.empty()) {
        if (dotted == "dr.") said = nextCapital || !afterWord ? "Doctor" : "Drive";
        else if (dotted == "st.") said = nextCapital || !afterWord ? "Saint" : "Street";
        for (const Abbreviation& a : kAbbreviations)
          if (said.empty() && dotted == a.written) said = a.said;
        if (!said.empty()) rest = t.trail.substr(1);
      }
      if (said.empty()) {
        const std::string withColon = t.trail.empty() || t.trail[0] != ':' ? "" : lower + ":";
        for (const Abbreviation& a : kAbbreviations) {
          if (said.empty() && !withColon.empty() && withColon == a.written) said = a.said, rest = t.trail.substr(1);
          if (said.empty() && lower == a.written) said = a.said;
        }
      }
      if (!said.empty()) {
        done = true;
        // The abbreviation's dot ends the sentence only at the end of the line.
        if (i + 1 == words.size() && !dotted.empty() && rest.empty()) rest = ".";
        t.trail = rest;
      } else if (Code(t.core, said)) {
        done = true;
      }
    }
    if (!done && t.core.find_first_of("&@/") != std::string::npos && t.core.size() > 1) {
      // "R&D", "Q&A", "and/or": the marks inside a word said as words.
      for (char c : t.core) {
        if (c == '&') said += " and ";
        else if (c == '@') said += " at ";
        else if (c == '/') said += " ";
        else said += c;
      }
      done = true;
    }
    if (!done) said = t.core;
    std::string piece = t.lead + said + t.trail;
    // Quotes and brackets are not heard; keep the word.
    std::string plain;
    for (char c : piece)
      if (c != '"' && c != '(' && c != ')' && c != '[' && c != ']' && c != '<' && c != '>') plain += c;
    if (!plain.empty()) out.push_back(plain);
  }
  // One space between words, whatever the pieces brought.
  std::string sentence;
  sentence.reserve(line.size() + line.size() / 4);
  for (const std::string& w : out) {
    for (char c : w) {
      if (c == ' ' && (sentence.empty() || sentence.back() == ' ')) continue;
      sentence += c;
    }
    if (!sentence.empty() && sentence.back() != ' ') sentence += ' ';
  }
  while (!sentence.empty() && sentence.back() == ' ') sentence.pop_back();
  return sentence;
}

// "Online meeting", "Video call meeting": a short line that names the invitation.
bool InvitationHeading(const std::string& line) {
  const std::string lower = LowerCase(line);
  if (!Contains(lower, "meeting") && !Contains(lower, "conference") && !Contains(lower, "call")) return false;
  if (DigitCount(line) > 0) return false;
  return SplitWords(line).size() <= 5;
}

// Links and e-mail addresses become marks, before the marks inside them are cleaned away.
std::string MarkLinks(const std::string& line) {
  std::string out;
  out.reserve(line.size());
  for (const std::string& word : SplitWords(line)) {
    Token t = Split(word);
    if (IsLink(t.core)) t.core = kLinkMark;
    else if (IsEmail(t.core)) t.core = kEmailMark;
    if (!out.empty()) out += ' ';
    out += t.lead + t.core + t.trail;
  }
  return out;
}

bool SomethingToSay(const std::string& s) {
  for (char c : s)
    if (IsAlpha(c) || IsDigit(c) || static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

// Where each word of `heard` ends, and the words said up to it as WithinSeconds reckons them.
struct WordEnd {
  size_t at;        // just after the word
  long long words;  // said up to it, pauses included
  bool sentence;
};

// A word takes 60/wpm seconds, a sentence's end a pause of about a word more: so each voice is
// paced (speech.cpp), and so long does a text take on average. One with more numbers, codes or
// names than most takes up to a tenth longer, so a text is reckoned at nine tenths of the pace
// and the longest of them still fit the time they are cut to.
constexpr long long kPaceTenths = 9;

std::vector<WordEnd> WordEnds(const std::string& heard) {
  std::vector<WordEnd> ends;
  long long words = 0;
  for (size_t i = 0; i < heard.size(); ++i) {
    if (heard[i] == ' ' || (i + 1 < heard.size() && heard[i + 1] != ' ')) continue;
    const bool sentence = EndsSentence(heard[i]);
    words += sentence ? 2 : 1;
    ends.push_back({i + 1, words, sentence});
  }
  return ends;
}

}  // namespace

double SpokenSeconds(const std::string& heard, int wordsPerMinute) {
  const std::vector<WordEnd> ends = WordEnds(heard);
  if (ends.empty() || wordsPerMinute <= 0) return 0;
  return static_cast<double>(ends.back().words) * 60 * 10 / (static_cast<double>(wordsPerMinute) * kPaceTenths);
}

std::string WithinSeconds(const std::string& heard, int seconds, int wordsPerMinute, bool& cut) {
  const long long budget = static_cast<long long>(seconds) * wordsPerMinute * kPaceTenths / 600;
  const long long closing = 7;  // the words of kRestInCalendar with its pause
  const std::vector<WordEnd> ends = WordEnds(heard);
  cut = !ends.empty() && ends.back().words > budget;
  if (!cut) return heard;
  size_t sentenceEnd = 0, wordEnd = 0;
  for (const WordEnd& e : ends) {
    if (e.words + closing > budget) break;
    wordEnd = e.at;
    if (e.sentence) sentenceEnd = e.at;
  }
  std::string out = heard.substr(0, sentenceEnd ? sentenceEnd : wordEnd);
  while (!out.empty() && (out.back() == ',' || out.back() == ';' || out.back() == ':')) out.pop_back();
  if (!out.empty() && !EndsSentence(out.back())) out += '.';
  if (!out.empty()) out += ' ';
  return out + kRestInCalendar;
}

std::string EarText(const std::string& utf8) {
  std::vector<std::string> lines(1);
  for (char c : utf8) {
    if (c == '\n' || c == '\r') {
      if (!lines.back().empty()) lines.emplace_back();
    } else {
      // Other control characters are blanks (and the marks below cannot come from the text).
      lines.back() += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    }
  }
  // An invitation's boilerplate runs from its heading ("... meeting") or its first join line to
  // the separator that closes it (or the end): all of it left out, what follows it kept.
  std::vector<bool> drop(lines.size(), false);
  bool inInvitation = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (SeparatorLine(lines[i])) {
      drop[i] = true;
      inInvitation = false;
      continue;
    }
    if (!inInvitation && BoilerplateLine(lines[i])) {
      inInvitation = true;
      if (i > 0 && !drop[i - 1] && InvitationHeading(lines[i - 1])) drop[i - 1] = true;
    }
    drop[i] = inInvitation;
  }
  std::string out;
  for (size_t n = 0; n < lines.size(); ++n) {
    if (drop[n]) continue;
    std::string line = SayLine(CleanMarks(MarkLinks(WithoutBullet(lines[n]))));
    // Marks that open a line (". The appointment notes is: ", as the agent joins the notes on)
    // would give the engine a pause after the one that ended the line before.
    const size_t lead = line.find_first_not_of(".,;: ");
    if (lead != 0 && (lead == std::string::npos || line[lead - 1] == ' ')) line.erase(0, lead);
    // Trailing pauses and stray marks go; the line ends as a sentence, so the engine pauses.
    while (!line.empty() && (line.back() == ' ' || line.back() == ',' || line.back() == ';' || line.back() == ':' ||
                             line.back() == '-' || line.back() == '\''))
      line.pop_back();
    if (!SomethingToSay(line)) continue;
    if (!EndsSentence(line.back())) line += '.';
    if (!out.empty()) out += ' ';
    out += line;
  }
  return out;
}

}  // namespace talmery
