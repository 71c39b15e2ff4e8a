#include "gateway/call_request.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "common/url_form.h"
#include "gateway/event_log.h"

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

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

bool ParseFormContentType(const std::string& type, int& codePage, std::string& reason) {
  codePage = 0;
  const size_t semi = type.find(';');
  const std::string media = Lower(Trim(type.substr(0, semi)));
  if (!media.empty() && media != "application/x-www-form-urlencoded") {
    reason = "the request body must be a URL-encoded form";
    return false;
  }
  size_t at = semi;
  while (at != std::string::npos) {
    const size_t next = type.find(';', at + 1);
    const std::string param = Trim(type.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
    at = next;
    const size_t eq = param.find('=');
    if (eq == std::string::npos || Lower(Trim(param.substr(0, eq))) != "charset") continue;
    std::string value = Lower(Trim(param.substr(eq + 1)));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    std::string digits;
    if (value.compare(0, 8, "windows-") == 0) digits = value.substr(8);
    else if (value.compare(0, 2, "cp") == 0) digits = value.substr(2);
    else if (value == "iso-8859-1" || value == "us-ascii") digits = "1252";  // what 1252 extends
    else if (value == "utf-8") digits = "65001";                              // a Windows set to UTF-8
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
        !CodePageKnown(std::stoi(digits))) {
      reason = "the charset " + value.substr(0, 40) + " is not known here";
      return false;
    }
    codePage = std::stoi(digits);
  }
  return true;
}

namespace {

// iconv's name for a Windows code page.
std::string IconvName(int codePage) {
  if (codePage == 65001) return "UTF-8";
  if (codePage >= 1250 && codePage <= 1258) return "WINDOWS-" + std::to_string(codePage);
  return "CP" + std::to_string(codePage);
}

class Iconv {
 public:
  explicit Iconv(int codePage) : descriptor_(iconv_open("UTF-8", IconvName(codePage).c_str())) {}
  ~Iconv() {
    if (Ok()) iconv_close(descriptor_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Ok() const { return descriptor_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return descriptor_; }

 private:
  iconv_t descriptor_;
};

}  // namespace

bool CodePageKnown(int codePage) {
  if (codePage == 1252) return true;
  return codePage > 0 && Iconv(codePage).Ok();
}

bool CodePageToUtf8(const std::string& bytes, int codePage, std::string& utf8) {
  if (codePage == 1252) {
    utf8 = urlform::Cp1252ToUtf8(bytes);
    return true;
  }
  Iconv cd(codePage);
  if (!cd.Ok() || !CodePageKnown(codePage)) return false;
  utf8.clear();
  std::string in = bytes;
  char* src = in.data();
  size_t left = in.size();
  char buffer[4096];
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    const size_t r = iconv(cd.get(), &src, &left, &dst, &room);
    utf8.append(buffer, static_cast<size_t>(dst - buffer));
    if (r == static_cast<size_t>(-1) && errno == EILSEQ) {
      utf8 += "\xEF\xBF\xBD";  // a byte the code page leaves undefined (or a broken sequence)
      ++src;
      --left;
    } else if (r == static_cast<size_t>(-1) && errno == EINVAL) {
      utf8 += "\xEF\xBF\xBD";  // a sequence cut off at the end
      break;
    } else if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      return false;
    }
  }
  return true;
}

}  // namespace talmery
