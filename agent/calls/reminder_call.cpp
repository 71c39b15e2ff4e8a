#include "agent/calls/reminder_call.h"

#include "agent/calls/call_text.h"
#include "agent/calls/gateway_client.h"
#include "agent/calls/settings_store.h"
#include "agent/calls/ole_date.h"

Outcome MakeReminderCall(std::unique_ptr<ReminderRecord> record, double now) {
  if (!record) return Outcome::Done();  // nothing to call about
  // A number given in the appointment is never replaced by the own number, even without digits.
  const std::string dialled =
      KeepDigits(record->m_strPhone.empty() ? GetMyNumber() : record->m_strPhone);
  if (dialled.empty()) {
    return Outcome::Failed("Cannot make reminder call. MyPhoneNumber not specified");
  }
  const long long secondsLeft = OleDateToSeconds(record->m_dtStart) - OleDateToSeconds(now);
  const std::string text = ComposeCallText(CallerName(GetFirstName(), GetLastName()), *record, secondsLeft);
  const std::string body = ComposeCallForm(record->m_nMinutes, dialled, text);

  const GatewayAnswer answer = PostToGateway(kCallRequestPath, body);
  if (!answer.outcome) return Outcome::Failed("Error making reminder call\r\n" + answer.outcome.Message());
  return Outcome::Done();
}
