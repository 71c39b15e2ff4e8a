#include "gateway/call_request.h"

#include <cerrno>
#include <cstdlib>

namespace talmery {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeComponent(const std::string& in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 2 >= in.size()) return false;
      const int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
      if (hi < 0 || lo < 0) return false;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return true;
}

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

// Code points of bytes 0x80 to 0x9F; 0 where code page 1252 defines none.
const unsigned short kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(unsigned cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool DecodeForm(const std::string& body, std::map<std::string, std::string>& fields, std::string& reason) {
  fields.clear();
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string pair = body.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;  // "a=1&&b=2" or a trailing '&'
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) {
      reason = "the request body is not a URL-encoded form (a field without '=')";
      return false;
    }
    std::string name, value;
    if (!DecodeComponent(pair.substr(0, eq), name) || !DecodeComponent(pair.substr(eq + 1), value)) {
      reason = "the request body is not a URL-encoded form (a '%' without two hex digits)";
      return false;
    }
    if (!fields.emplace(name, value).second) {
      reason = "the field " + name + " is given twice";
      return false;
    }
  }
  return true;
}

bool ParseCallRequest(const std::string& body, CallRequest& request, std::string& reason) {
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
  request.number = number;
  request.text = Cp1252ToUtf8(text);
  request.selfDelete = selfDelete == "1";
  request.firstOcc = firstOcc;
  return true;
}

std::string Cp1252ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (unsigned char b : bytes) {
    unsigned cp = b;
    if (b >= 0x80 && b <= 0x9F) cp = kHigh[b - 0x80] ? kHigh[b - 0x80] : 0xFFFD;
    AppendUtf8(cp, out);
  }
  return out;
}

}  // namespace talmery
