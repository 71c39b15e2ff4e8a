#pragma once
// UTF-8 <-> UTF-16 for the script (UTF-8) and Automation texts (UTF-16 BSTRs).
#include <string>
#include <string_view>

namespace sim {

// False on malformed UTF-8 (bad lead or continuation byte, overlong form, surrogate code point,
// value above U+10FFFF); *out is then unspecified.
bool Utf8ToUtf16(std::string_view in, std::u16string* out);

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view in);

// Appends the UTF-8 form of one code point (must be a valid scalar value).
void AppendUtf8(char32_t cp, std::string* out);

}  // namespace sim
