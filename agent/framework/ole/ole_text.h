#pragma once
// Conversions between the program's ANSI text and Automation's UTF-16 text (BSTR).
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
// A new BSTR the caller frees; null only when memory runs out.
BSTR AnsiToBstr(const char* text);

}  // namespace fw
