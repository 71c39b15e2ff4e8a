#pragma once
// The parts of a reminder call request that are plain text work: the number to dial, the spoken
// text and the form body sent to the gateway.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// What the reminder sink read from one appointment (agent/outlook/reminder_sink.cpp), handed to
// MakeReminderCall through the main frame. The call's own input, so it lives with the call.
struct ReminderRecord {
  // Outlook's id of the item: with the start, the reminder's key (ReminderKey), by which the
  // start-up look and the event never call the same reminder twice and the session's record
  // notes the call for the agents after this one. Not sent to the gateway.
  std::string m_strEntryId;
  std::string m_strPhone;    // "notifycall"; empty means: call the user's own number
  std::string m_strSubject;  // the texts in UTF-8: they are spoken, whatever the code page
  std::string m_strLocation;
  std::string m_strNotes;
  // The reminder's minutes before the start as Outlook gave them: the request's firstocc. None
  // when Outlook would not give them: the minutes left when the call is made stand in.
  std::optional<int32_t> m_nMinutes;
  double start = 0;  // the appointment's start (OLE date, local time): the spoken minutes
};

// The request path of the gateway's call request handler.
extern const char kCallRequestPath[];

// The number to dial as the user wrote it: its decimal digits, and a "+" in front when one comes
// before the first digit ("+44 20 7946 0018" -> "+442079460018", "(555) 010-0200" ->
// "5550100200"): a number written the international way stays one. Empty when there is no digit.
std::string DialledNumber(const std::string& phone);

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

// The most the gateway takes: bytes of the text as encoded in the request's charset.
constexpr size_t kMaxCallTextBytes = 64 * 1024;

// Bytes one character (a Unicode code point) takes in the encoding the text is sent in.
using CharBytes = std::function<size_t(char32_t)>;

// The spoken text as it can be sent (names and record in UTF-8): ComposeCallText without NUL
// characters (the gateway refuses them), and within maxBytes as charBytes counts them. A text
// too long has its notes shortened at a line or word boundary, followed by the line "The notes
// were shortened."; should the rest alone be too long, the notes are left out and the text is
// shortened the same way, followed by "The text was shortened."
std::string FitCallText(const std::string& callerName, const ReminderRecord& record, long long secondsLeft,
                        size_t maxBytes, const CharBytes& charBytes);

// The form body of a call request: calltime, selfdelete, firstocc, phoneno, txt (the text is
// form-encoded as it is; the number's "+" is sent as %2B).
std::string ComposeCallForm(int32_t minutes, const std::string& dialledNumber,
                            const std::string& callText);

// Form encoding (application/x-www-form-urlencoded) as the gateway expects it: letters and digits
// stay, a blank becomes "+", every other byte becomes "%" and two lowercase hex digits.
std::string FormUrlEncode(const std::string& text);
