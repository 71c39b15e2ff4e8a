#include "gateway/call_request.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "common/url_form.h"
#include "gateway/event_log.h"
#include "gateway/net_policy.h"

namespace talmery {
namespace {

// A whole decimal number in the signed 32-bit range ("-" allowed, nothing else).
bool ParseInt32(const std::string& text, int& out) {
  if (text.empty() || text.size() > 11) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return false;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || v < -2147483648LL || v > 2147483647LL) return false;
  out = static_cast<int>(v);
  return true;
}

// Blanks and punctuation beyond ASCII: the Latin-1 ones, the general punctuation block with its
// spaces and invisible marks, the ideographic space and punctuation, the byte order mark and
// the replacement character (a byte the code page left undefined).
bool SaysNothing(uint32_t cp) {
  switch (cp) {
    case 0xA0: case 0xA1: case 0xA7: case 0xAB: case 0xAD: case 0xB6: case 0xB7: case 0xBB: case 0xBF:
    case 0x1680: case 0xFEFF: case 0xFFFD:
      return true;
    default:
      return cp <= 0x9F || (cp >= 0x2000 && cp <= 0x206F) || (cp >= 0x3000 && cp <= 0x3003) ||
             (cp >= 0x3008 && cp <= 0x3011);
  }
}

}  // namespace

std::string SpeakableText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    uint32_t cp = 0;
    const size_t length = Utf8At(utf8, at, cp);
    const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
    const bool blank = length == 0 || (control && cp != '\t' && cp != '\n' && cp != '\r');
    if (blank) out += ' ';
    else out.append(utf8, at, length);
    at += length ? length : 1;
  }
  return out;
}

bool HasSomethingToSay(const std::string& utf8) {
  for (size_t at = 0; at < utf8.size();) {
    uint32_t cp = 0;
    const size_t length = Utf8At(utf8, at, cp);
    if (length == 0) {
      ++at;
      continue;
    }
    if ((cp >= '0' && cp <= '9') || (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z')) return true;
    if (cp >= 0x80 && !SaysNothing(cp)) return true;
    at += length;
  }
  return false;
}

bool DecodeForm(const std::string& body, std::map<std::string, std::string>& fields, std::string& reason) {
  fields.clear();
  for (urlform::Field& field : urlform::SplitForm(body)) {
    if (!field.hasEquals) {
      reason = "the request body is not a URL-encoded form (a field without '=')";
      return false;
    }
    if (!field.wellEscaped) {
      reason = "the request body is not a URL-encoded form (a '%' without two hex digits)";
      return false;
    }
    if (!fields.emplace(field.name, std::move(field.value)).second) {
      // (The name is the client's: shown in part, and so that it cannot break the answer's line.)
      reason = "the field " + VisibleText(field.name.substr(0, 40)) + (field.name.size() > 40 ? "..." : "") +
               " is given twice";
      return false;
    }
  }
  return true;
}

bool ParseCallRequest(const std::string& body, CallRequest& request, std::string& reason, int codePage) {
  std::map<std::string, std::string> fields;
  if (!DecodeForm(body, fields, reason)) return false;
  for (const char* name : {"calltime", "selfdelete", "firstocc", "phoneno", "txt"}) {
    if (!fields.count(name)) {
      reason = std::string("the field ") + name + " is missing";
      return false;
    }
  }
  int calltime = 0;
  if (!ParseInt32(fields["calltime"], calltime)) {
    reason = "calltime is not a whole number";
    return false;
  }
  if (calltime != 0) {
    reason = "calltime must be 0: calls at a later time are not supported";
    return false;
  }
  const std::string& selfDelete = fields["selfdelete"];
  if (selfDelete != "0" && selfDelete != "1") {
    reason = "selfdelete must be 0 or 1";
    return false;
  }
  int firstOcc = 0;
  if (!ParseInt32(fields["firstocc"], firstOcc)) {
    reason = "firstocc is not a whole number";
    return false;
  }

  // Blanks, dashes, dots, slashes and parentheses are how people write numbers; a '+' counts
  // only in front. Anything else (letters above all) means the field is not a phone number.
  std::string number;
  const std::string& phone = fields["phoneno"];
  size_t digits = 0;
  for (char c : phone) {
    if (c >= '0' && c <= '9') {
      number += c;
      ++digits;
    } else if (c == '+' && number.empty()) {
      number += c;
    } else if (c != ' ' && c != '-' && c != '.' && c != '/' && c != '(' && c != ')') {
      reason = "phoneno holds characters other than digits";
      return false;
    }
  }
  if (digits == 0) {
    reason = "the phone number has no digits";
    return false;
  }
  if (digits > kMaxNumberDigits) {
    reason = "the phone number is longer than 32 digits";
    return false;
  }

  const std::string& text = fields["txt"];
  if (text.size() > kMaxTextBytes) {
    reason = "the text is longer than 64 KB";
    return false;
  }
  if (text.find('\0') != std::string::npos) {
    reason = "the text holds a NUL byte";
    return false;
  }
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    reason = "the text is empty";
    return false;
  }
  std::string utf8;
  if (!CodePageToUtf8(text, codePage, utf8)) {
    reason = "the code page " + std::to_string(codePage) + " is not known here";
    return false;
  }
  if (!HasSomethingToSay(utf8)) {
    reason = "the text has nothing to speak (no letter or digit)";
    return false;
  }
  request.number = number;
  request.text = std::move(utf8);
  request.selfDelete = selfDelete == "1";
  request.firstOcc = firstOcc;
  return true;
}

}  // namespace talmery
