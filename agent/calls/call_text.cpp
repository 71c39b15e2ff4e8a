#include "agent/calls/call_text.h"

#include <climits>

const char kCallRequestPath[] = "/ocall/callreqHandler.jsp";

std::string KeepDigits(const std::string& phone) {
  std::string digits;
  for (char c : phone) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
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
  if (!record.m_strNotes.empty()) text += ". The appointment notes is: " + record.m_strNotes + "\n";
  return text;
}

std::string ComposeCallForm(int32_t minutes, const std::string& dialledNumber,
                            const std::string& callText) {
  return "calltime=0&selfdelete=1&firstocc=" + std::to_string(minutes) +
         "&phoneno=" + dialledNumber + "&txt=" + FormUrlEncode(callText);
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
