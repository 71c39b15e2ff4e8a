#pragma once
// VARIANTs and BSTRs for the log and for building answers.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "tools/outlook-sim/script/script.h"

namespace sim {

// "VT_I2 1", "\"text\"", "VT_EMPTY", "byref VT_I4 3" ...
std::string VariantText(const VARIANT& v);

// A new BSTR (or null) for a script text; the caller owns it.
BSTR MakeBstr(const Text& text);
// The text of a BSTR (null gives an empty text).
std::u16string BstrText(BSTR b);

// The VARIANT of a user property value; Date values resolved against nowSeconds.
void MakePropVariant(const PropValue& value, int64_t nowSeconds, VARIANT* out);

}  // namespace sim
