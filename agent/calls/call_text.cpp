#include "agent/calls/call_text.h"

#include "agent/calls/form_encode.h"

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

std::string ComposeCallText(const std::string& callerName, const ReminderRecord& record) {
  std::string text = "Hi, this is " + callerName + " appointment reminder call program.\n";
  text += "You have an appointment coming up in ";
  text += std::to_string(record.m_nMinutes) + " minutes.\n";
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
