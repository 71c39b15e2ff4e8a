#pragma once
// The rules of the Outlook side that need no Windows: when a reminder call is still
// worth making, Outlook's version and how long a busy Outlook is tried again.
#include <cstdint>
#include <optional>
#include <string>

#include "agent/calls/ole_date.h"
#include "common/wide_text.h"

// When a reminder call is still worth making: up to two minutes after the appointment's start.
constexpr long long kReminderGraceSeconds = 2 * 60;

// True when now (a DATE, local time) lies more than the grace period after start (a DATE, local
// time). Both are compared to the second: exactly two minutes after the start is still in time.
bool IsTooLateForReminderCall(double start, double now);

// The major number of Outlook's version text ("16.0.0.1" -> 16): the text before the first "."
// read as a decimal integer. Leading white space and a sign are allowed, the digits end at the
// first other character ("9x.1" -> 9). None when the text has no "." or no number before it. A
// number too large for int gives INT_MAX (INT_MIN if negative).
std::optional<int> ParseOutlookMajorVersion(const std::string& version);

// Outlook 2000 (9) or later: the versions that raise the Reminder event.
constexpr int kFirstSupportedOutlookMajor = 9;

// How long the agent keeps trying to reach an Outlook that is busy or turns calls away. Outlook
// starts the agent while it is still settling; a refusal then is no reason to give up at once.
//
// True for the failures a busy or starting Outlook gives (the call was rejected, the server is
// still starting or too busy), which are worth another try; false for those that will not change
// (Outlook not registered, access refused, a member that fails).
bool IsTransientOutlookFailure(uint32_t hresult);

// The pause before the n-th retry (n >= 1): 250 ms, doubling, at most 2 s.
uint32_t OutlookRetryDelayMs(int retry);

// Retries stop once this much time has passed since the first try.
constexpr uint32_t kOutlookRetryBudgetMs = 15000;

// True for the failures that say Outlook is gone or has cut the agent off (the call's server
// disconnected, died or no longer listens): nothing more will come from this Outlook.
bool IsOutlookConnectionLost(uint32_t hresult);

// True for the refusal of Outlook's object-model guard: a guarded member (Body,
// UserProperties.Find, ...) read by a program Outlook does not trust, refused by the user's "No",
// by policy or by Outlook's own choice (E_ABORT, "Operation aborted").
bool IsObjectModelGuardRefusal(uint32_t hresult);

// Without a record of what earlier agents of the Outlook session called, the start-up look calls
// only what came due (its next reminder date) at or after Outlook's start and not after now, all
// compared to the second: no earlier agent can have called that.
bool CameDueSinceStart(double nextReminderDate, double outlookStarted, double now);

// The program file of a COM local server's command line (LocalServer32): the quoted text when it
// begins with a quote, else the text up to the first ".exe" followed by a blank or the end (a
// path with blanks left unquoted), else up to the first blank. Empty when there is none.
WideText ServerExecutable(const WideText& command);
