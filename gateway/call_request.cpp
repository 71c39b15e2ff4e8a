#include "gateway/call_request.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "common/url_form.h"
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

}  // namespace

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
      reason = "the field " + field.name + " is given twice";
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
  request.number = number;
  request.text = std::move(utf8);
  request.selfDelete = selfDelete == "1";
  request.firstOcc = firstOcc;
  return true;
}

}  // namespace talmery
