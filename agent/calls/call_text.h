#pragma once
// The parts of a reminder call request that are plain text work: the number to dial, the spoken
// text and the form body sent to the gateway.
#include <cstdint>
#include <string>

// What the reminder handler read from one appointment, handed to MakeReminderCall.
struct ReminderRecord {
  std::string m_strEntryId;  // carried along, not used for the call
  std::string m_strPhone;    // "notifycall"; empty means: call the user's own number
  std::string m_strSubject;
  std::string m_strLocation;
  std::string m_strNotes;
  int32_t m_nMinutes = 0;  // reminder minutes before start: the request's firstocc
  double m_dtStart = 0;    // the appointment's start (OLE date, local time): the spoken minutes
};

// The request path of the gateway's call request handler.
extern const char kCallRequestPath[];

// The decimal digits of a phone number as written ("(555) 010-0200" -> "5550100200").
std::string KeepDigits(const std::string& phone);

// "First Last's"; a lone blank (no "'s") when both names are empty.
std::string CallerName(const std::string& firstName, const std::string& lastName);

// Whole minutes in a number of seconds, rounded to the nearest (halves away from zero), within
// the range of int32_t.
int32_t RoundedMinutes(long long seconds);

// The sentence on when the appointment begins, from the seconds left until its start: "You have
// an appointment coming up in N minutes." (rounded; "1 minute", "less than a minute"), or, once
// the start has passed, that it has already begun.
std::string StartSentence(long long secondsLeft);

// The text the gateway speaks: caller, when the appointment begins (secondsLeft: from the moment
// of composing to its start), then subject, location and notes when present, each line ended by a
// line feed.
std::string ComposeCallText(const std::string& callerName, const ReminderRecord& record, long long secondsLeft);

// The form body of a call request: calltime, selfdelete, firstocc, phoneno, txt (encoded).
std::string ComposeCallForm(int32_t minutes, const std::string& dialledNumber,
                            const std::string& callText);

// Form encoding (application/x-www-form-urlencoded) as the gateway expects it: letters and digits
// stay, a blank becomes "+", every other byte becomes "%" and two lowercase hex digits.
std::string FormUrlEncode(const std::string& text);
