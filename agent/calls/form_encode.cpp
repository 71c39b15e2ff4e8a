#include "agent/calls/form_encode.h"

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string FormUrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}
