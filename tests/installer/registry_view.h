#pragma once
// Registry access in an explicit registry view. On 64-bit Windows the 32-bit and the 64-bit
// add-in are registered under the same key names in two views; a 32-bit test reads both.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/harness/registry.h"

namespace installer_test {

enum class View { k32, k64 };

const char* ViewName(View view);
bool Is64BitWindows();
// The views Windows has: the 32-bit one, and the 64-bit one on 64-bit Windows.
std::vector<View> Views();

harness::RegValue ReadValueIn(View view, HKEY root, const std::string& key, const char* name);
bool KeyExistsIn(View view, HKEY root, const std::string& key);
std::vector<std::string> SubkeyNamesIn(View view, HKEY root, const std::string& key);
// The default value appears as "".
std::vector<std::string> ValueNamesIn(View view, HKEY root, const std::string& key);
// Creates the key as needed and writes one REG_SZ value ("" or null: the default value).
bool WriteTextIn(View view, HKEY root, const std::string& key, const char* name, const std::string& text);
// Deletes the key with everything below it; true when it is gone afterwards.
bool DeleteTreeIn(View view, HKEY root, const std::string& key);

// Windows keeps HKCU\Software\Classes\CLSID apart for the two views; Wine (8.0) does not, so
// there the registration written last is what both views show.
bool UserClassesShareViews();

}  // namespace installer_test
