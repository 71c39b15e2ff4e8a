#pragma once
// Call texts arrive in the Windows ANSI code page (1252); terminals and espeak-ng want UTF-8.
#include <string>

namespace gateway {

// Converts code page 1252 text to UTF-8; the five bytes 1252 leaves undefined become U+FFFD.
std::string Cp1252ToUtf8(const std::string& text);

}  // namespace gateway
