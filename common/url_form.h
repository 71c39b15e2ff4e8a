#pragma once
// What the agent posts: an application/x-www-form-urlencoded body whose text is in the Windows
// ANSI code page (1252). Read by the call server, which refuses what is malformed, and by the
// stand-in gateway of the tests, which takes what it gets; both decode the same way here.
#include <string>
#include <vector>

namespace urlform {

// One name or value, decoded: '+' becomes a blank and %xx (hex digits of either case) the byte
// xx. A '%' not followed by two hex digits is kept as it is, and the text is then not well
// escaped: the call server refuses it, the stand-in gateway takes the text.
struct Decoded {
  std::string text;
  bool wellEscaped = true;
};
Decoded DecodeComponent(const std::string& in);

struct Field {
  std::string name, value;  // decoded
  bool hasEquals = false;   // false: the piece had no '=' (then all of it is the name)
  bool wellEscaped = true;  // false: name or value had a '%' without two hex digits
};

// Splits on '&', then on the first '='. Empty pieces ("a=1&&b=2", a trailing '&') are skipped;
// order and duplicates are kept.
std::vector<Field> SplitForm(const std::string& body);

// Code page 1252 to UTF-8; the five bytes the code page leaves undefined become U+FFFD.
std::string Cp1252ToUtf8(const std::string& bytes);

}  // namespace urlform
