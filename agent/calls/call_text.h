#pragma once
// The parts of a reminder call request that are plain text work: the number to dial, the spoken
// text and the form body sent to the gateway.
#include <cstdint>
#include <string>

#include "agent/calls/reminder_record.h"

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
