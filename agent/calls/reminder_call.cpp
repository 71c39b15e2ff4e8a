#include "agent/calls/reminder_call.h"

#include <windows.h>

#include "agent/calls/call_text.h"
#include "agent/calls/gateway_client.h"
#include "agent/calls/settings_store.h"

namespace {

constexpr char kCaption[] = "Brisomel";

// No owner: the reminder path runs while the main frame is hidden.
void Tell(const std::string& text) { MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK); }

}  // namespace

int MakeReminderCall(std::unique_ptr<ReminderRecord> record) {
  if (!record) return 0;  // nothing to call about
  // A number given in the appointment is never replaced by the own number, even without digits.
  const std::string dialled =
      KeepDigits(record->m_strPhone.empty() ? GetMyNumber() : record->m_strPhone);
  if (dialled.empty()) {
    Tell("Cannot make reminder call. MyPhoneNumber not specified");
    return 0;
  }
  const std::string text = ComposeCallText(CallerName(GetFirstName(), GetLastName()), *record);
  const std::string body = ComposeCallForm(record->m_nMinutes, dialled, text);

  std::string requestId;
  std::string errorText;
  if (!PostToGateway(kCallRequestPath, body, requestId, errorText)) {
    Tell("Error making reminder call\r\n" + errorText);
  }
  return 1;
}
