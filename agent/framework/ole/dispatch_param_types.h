#pragma once
// Parameter-type lists of the members an automation object serves: one type byte per parameter,
// as string literals so that lists are written by juxtaposition (VTS_BSTR VTS_VARIANT); the
// dispatch map coerces incoming arguments to them.
#include <windows.h>
#include <oleauto.h>

namespace fw {
// Text in the program's ANSI code page (std::string for a dispatch map handler), passed over
// Automation as a BSTR. Shares its value with VT_DECIMAL, which the framework does not pass.
constexpr VARTYPE kVtAnsiText = 14;
}  // namespace fw

#define VTS_I2 "\x02"        // short
#define VTS_I4 "\x03"        // long
#define VTS_R4 "\x04"        // float
#define VTS_R8 "\x05"        // double
#define VTS_DATE "\x07"      // DATE
#define VTS_WBSTR "\x08"     // const wchar_t* (UTF-16)
#define VTS_DISPATCH "\x09"  // IDispatch*
#define VTS_SCODE "\x0A"     // SCODE
#define VTS_BOOL "\x0B"      // BOOL
#define VTS_VARIANT "\x0C"   // const VARIANT* (its value is passed)
#define VTS_UNKNOWN "\x0D"   // IUnknown*
#define VTS_BSTR "\x0E"      // const char* (ANSI text)
#define VTS_UI1 "\x11"       // BYTE
#define VTS_NONE nullptr     // no parameters
