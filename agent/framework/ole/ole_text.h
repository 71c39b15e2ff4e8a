#pragma once
// Conversions between the program's ANSI or UTF-8 text and the UTF-16 text of Automation (BSTR)
// and of the Windows APIs.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string>

#include "common/wide_text.h"

namespace fw {

// UTF-16 text of the given length (embedded zeros included) in the ANSI code page; characters
// the code page lacks become its default character.
std::string WideToAnsi(const wchar_t* text, size_t length);
// All of a BSTR (its own length); a null BSTR is empty text.
std::string BstrToAnsi(BSTR text);
WideText AnsiToWide(const char* text);
// UTF-8 text (embedded zeros included) as UTF-16; an ill-formed sequence becomes U+FFFD.
WideText Utf8ToWide(const std::string& text);
// A new BSTR the caller frees; null only when memory runs out.
BSTR AnsiToBstr(const char* text);

}  // namespace fw
