#include "tools/gateway/ansi_text.h"

namespace gateway {

namespace {

// Code points of 0x80..0x9F in code page 1252; 0 marks the undefined ones.
const unsigned short kHigh[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, unsigned cp) {
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

std::string Cp1252ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b < 0xA0) {
      unsigned cp = kHigh[b - 0x80];
      AppendUtf8(out, cp ? cp : 0xFFFD);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

}  // namespace gateway
