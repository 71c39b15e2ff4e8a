#include "agent/calls/call_text.h"

#include <algorithm>
#include <climits>

#include "agent/calls/text_encoding.h"

const char kCallRequestPath[] = "/ocall/callreqHandler.jsp";

namespace {

const char kNotesIntro[] = ". The appointment notes is: ";
const char kNotesShortened[] = "The notes were shortened.\n";
const char kTextShortened[] = "The text was shortened.\n";

std::string WithoutNuls(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  return text;
}

size_t EncodedBytes(const std::string& text, const CharBytes& charBytes) {
  size_t bytes = 0;
  for (size_t at = 0; at < text.size();) bytes += charBytes(NextCodePoint(text, at));
  return bytes;
}

// The longest beginning of text within budget encoded bytes, cut where a listener expects a
// pause: at the last line end in the last quarter of what fits, else at the last blank there,
// else within a word (at a character boundary); without the blanks and line ends before the cut.
std::string ShortenAtBoundary(const std::string& text, size_t budget, const CharBytes& charBytes) {
  size_t fits = 0, used = 0;
  while (fits < text.size()) {
    size_t next = fits;
    const size_t bytes = charBytes(NextCodePoint(text, next));
    if (used + bytes > budget) break;
    used += bytes;
    fits = next;
  }
  if (fits == text.size()) return text;
  size_t cut = fits;
  if (fits > 0) {
    const size_t floor = fits - fits / 4;
    const size_t line = text.rfind('\n', fits - 1);
    const size_t word = text.find_last_of(" \t", fits - 1);
    if (line != std::string::npos && line >= floor) {
      cut = line;
    } else if (word != std::string::npos && word >= floor) {
      cut = word;
    }
  }
  const size_t end = text.find_last_not_of(" \t\r\n", cut == 0 ? 0 : cut - 1);
  return end == std::string::npos || cut == 0 ? std::string() : text.substr(0, end + 1);
}

}  // namespace

std::string DialledNumber(const std::string& phone) {
  std::string digits;
  bool international = false;
  for (char c : phone) {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (c == '+' && digits.empty()) {
      international = true;
    }
  }
  if (digits.empty()) return digits;
  return international ? "+" + digits : digits;
}

std::string CallerName(const std::string& firstName, const std::string& lastName) {
  std::string name = firstName + " " + lastName;
  // With both names empty only the blank is left, and "'s" alone would sound odd.
  if (name.size() > 1) name += "'s";
  return name;
}

int32_t RoundedMinutes(long long seconds) {
  // Far beyond any date: keeps the arithmetic below from overflowing.
  constexpr long long kBound = 1LL << 50;
  seconds = seconds > kBound ? kBound : seconds < -kBound ? -kBound : seconds;
  const long long minutes = seconds >= 0 ? (seconds + 30) / 60 : -((-seconds + 30) / 60);
  if (minutes > INT32_MAX) return INT32_MAX;
  if (minutes < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(minutes);
}

std::string StartSentence(long long secondsLeft) {
  if (secondsLeft <= 0) return "Your appointment has already begun.\n";
  const int32_t minutes = RoundedMinutes(secondsLeft);
  std::string when = minutes == 0   ? "less than a minute"
                     : minutes == 1 ? "1 minute"
                                    : std::to_string(minutes) + " minutes";
  return "You have an appointment coming up in " + when + ".\n";
}

std::string ComposeCallText(const std::string& callerName, const ReminderRecord& record, long long secondsLeft) {
  std::string text = "Hi, this is " + callerName + " appointment reminder call program.\n";
  // The time really left: a snoozed reminder comes later than its minutes before the start.
  text += StartSentence(secondsLeft);
  if (!record.m_strSubject.empty())
    text += "The appointment subject is: " + record.m_strSubject + "\n";
  if (!record.m_strLocation.empty()) {
    text += "The appointment location is: " + record.m_strLocation + "\n";
  }
  if (!record.m_strNotes.empty()) text += kNotesIntro + record.m_strNotes + "\n";
  return text;
}

std::string FitCallText(const std::string& callerName, const ReminderRecord& record, long long secondsLeft,
                        size_t maxBytes, const CharBytes& charBytes) {
  const std::string caller = WithoutNuls(callerName);
  ReminderRecord clean = record;
  clean.m_strSubject = WithoutNuls(record.m_strSubject);
  clean.m_strLocation = WithoutNuls(record.m_strLocation);
  clean.m_strNotes = WithoutNuls(record.m_strNotes);
  const std::string whole = ComposeCallText(caller, clean, secondsLeft);
  if (EncodedBytes(whole, charBytes) <= maxBytes) return whole;

  // The notes are what grows without bound: they give way first.
  const std::string notes = clean.m_strNotes;
  clean.m_strNotes.clear();
  const std::string head = ComposeCallText(caller, clean, secondsLeft);
  if (!notes.empty()) {
    const size_t fixed = EncodedBytes(head + kNotesIntro + "\n" + kNotesShortened, charBytes);
    if (fixed < maxBytes) {
      return head + kNotesIntro + ShortenAtBoundary(notes, maxBytes - fixed, charBytes) + "\n" + kNotesShortened;
    }
  }
  const size_t tail = EncodedBytes(std::string("\n") + kTextShortened, charBytes);
  if (tail >= maxBytes) return ShortenAtBoundary(head, maxBytes, charBytes);
  return ShortenAtBoundary(head, maxBytes - tail, charBytes) + "\n" + kTextShortened;
}

std::string ComposeCallForm(int32_t minutes, const std::string& dialledNumber,
                            const std::string& callText) {
  std::string number;
  for (char c : dialledNumber) {
    if (c == '+') {
      number += "%2B";  // a bare "+" would be a blank
    } else {
      number += c;
    }
  }
  return "calltime=0&selfdelete=1&firstocc=" + std::to_string(minutes) + "&phoneno=" + number +
         "&txt=" + FormUrlEncode(callText);
}

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string FormUrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}
