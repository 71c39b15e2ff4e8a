#include "agent/calls/reminder_call.h"

#include <windows.h>

#include <cstdint>
#include <optional>

#include "agent/calls/call_follow.h"
#include "agent/calls/call_follower.h"
#include "agent/calls/call_text.h"
#include "agent/calls/gateway_client.h"
#include "agent/calls/ole_date.h"
#include "agent/calls/settings_store.h"
#include "agent/calls/text_encoding.h"
#include "agent/framework/ole/ole_text.h"
#include "common/wide_text.h"

namespace {

constexpr unsigned kUtf8CodePage = CP_UTF8;

// The text in code page codePage when it has every character of it (no default character, no
// "best fit" stand-in such as "a" for "ą"); nothing otherwise.
std::optional<std::string> InCodePageExactly(const WideText& text, unsigned codePage) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  const int size =
      WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0, nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), length, &out[0], size, nullptr, &usedDefault);
  if (usedDefault) return std::nullopt;
  return out;
}

// Bytes one character takes in codePage (a character it has: 1, or 2 in a double-byte code page).
size_t BytesInCodePage(unsigned codePage, char32_t c) {
  wchar_t units[2];
  int count = 1;
  if (c >= 0x10000) {
    units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<wchar_t>(c);
  }
  const int size = WideCharToMultiByte(codePage, 0, units, count, nullptr, 0, nullptr, nullptr);
  return size > 0 ? static_cast<size_t>(size) : Utf8Bytes(c);
}

}  // namespace

Outcome MakeReminderCall(std::unique_ptr<ReminderRecord> record, double now, FollowedCall* follow) {
  if (!record) return Outcome::Done();  // nothing to call about
  const auto failed = [](const Outcome& why) { return Outcome::Failed("Error making reminder call\r\n" + why.Message()); };

  const CallSettingsReader settings;
  // A number given in the appointment is never replaced by the own number, even without digits.
  std::string phone = record->m_strPhone;
  if (phone.empty()) {
    const Outcome read = settings.MyNumber(&phone);
    if (!read) return failed(read);
  }
  const std::string dialled = DialledNumber(phone);
  if (dialled.empty()) {
    return Outcome::Failed("Cannot make reminder call. MyPhoneNumber not specified");
  }
  std::string firstName, lastName;
  GatewayAddress gateway;
  Outcome read = settings.FirstName(&firstName);
  if (read) read = settings.LastName(&lastName);
  if (read) read = settings.Host(&gateway.host);
  if (read) read = settings.Port(&gateway.port);
  if (!read) return failed(read);
  const std::string caller = CallerName(firstName, lastName);
  // The one count of the time left: the spoken minutes and, where Outlook gave none, firstocc.
  const long long secondsLeft = OleDateToSeconds(record->start) - OleDateToSeconds(now);
  const int32_t firstOccurrence = record->m_nMinutes.value_or(RoundedMinutes(secondsLeft));

  // The text goes in the ANSI code page, as the gateway has always received it, when that code
  // page has every character of it; else (a Polish name on a Western Windows, Chinese, emoji) as
  // UTF-8, which the request's charset names. Either way it is shortened to what the gateway
  // takes, counted in the bytes it will be sent as.
  const unsigned ansi = GetACP();
  const std::string whole = FitCallText(caller, *record, secondsLeft, SIZE_MAX, Utf8Bytes);
  std::optional<std::string> inAnsi;
  if (ansi != kUtf8CodePage) inAnsi = InCodePageExactly(fw::Utf8ToWide(whole), ansi);
  const bool fitsAnsi = inAnsi.has_value();
  const unsigned codePage = fitsAnsi ? ansi : kUtf8CodePage;
  std::string text = fitsAnsi ? std::move(*inAnsi) : whole;
  if (text.size() > kMaxCallTextBytes) {  // long notes, the rare case: composed again, to fit
    const CharBytes charBytes = fitsAnsi ? CharBytes([ansi](char32_t c) { return BytesInCodePage(ansi, c); })
                                         : CharBytes(Utf8Bytes);
    const std::string utf8 = FitCallText(caller, *record, secondsLeft, kMaxCallTextBytes, charBytes);
    text = fitsAnsi ? InCodePageExactly(fw::Utf8ToWide(utf8), ansi).value_or(std::string()) : utf8;
  }
  const std::string body = ComposeCallForm(firstOccurrence, dialled, text);

  const GatewayAnswer answer = PostToGateway(gateway, kCallRequestPath, body, codePage);
  if (!answer.outcome) return failed(answer.outcome);
  if (follow && !answer.callToken.empty()) {
    follow->host = gateway.host;
    follow->port = gateway.port;
    follow->requestId = answer.requestId;
    follow->token = answer.callToken;
    follow->subject = record->m_strSubject;
    follow->start = StartText(record->start);
    follow->number = dialled;
    const long long nowMs = WallClockMs();
    follow->nextMs = nowMs + kFirstAskSeconds * 1000;
    follow->untilMs = nowMs + kFollowUnheardSeconds * 1000;
  }
  return Outcome::Done();
}

double CurrentLocalOleDate() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return OleDateFromFields(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond)
      .value_or(0.0);
}
