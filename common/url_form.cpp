#include "common/url_form.h"

#include <utility>

namespace urlform {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

Decoded DecodeComponent(const std::string& in) {
  Decoded decoded;
  std::string& out = decoded.text;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else if (i + 2 < in.size() && HexValue(in[i + 1]) >= 0 && HexValue(in[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
      i += 2;
    } else {
      out += c;
      decoded.wellEscaped = false;
    }
  }
  return decoded;
}

std::vector<Field> SplitForm(const std::string& body) {
  std::vector<Field> fields;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    if (end > start) {
      const std::string piece = body.substr(start, end - start);
      const size_t eq = piece.find('=');
      Decoded name = DecodeComponent(piece.substr(0, eq));
      Decoded value = eq == std::string::npos ? Decoded{} : DecodeComponent(piece.substr(eq + 1));
      fields.push_back(Field{std::move(name.text), std::move(value.text), eq != std::string::npos,
                             name.wellEscaped && value.wellEscaped});
    }
    start = end + 1;
  }
  return fields;
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

}  // namespace urlform
