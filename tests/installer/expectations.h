#pragma once
// What a test expects of the registry after setup: whole keys, value by value.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/installer/registry_view.h"

namespace installer_test {

struct ExpectedValue {
  std::string name;  // "" for the key's default value
  DWORD type;
  std::vector<unsigned char> bytes;
};

// The key holds exactly these values (no other), each with this type and these bytes.
void ExpectExactValues(View view, HKEY root, const std::string& key, const std::vector<ExpectedValue>& expected);

// The add-in's class and ProgID as mervane.dll's own registration writes them, with `dll` as
// its server: nothing more (no threading model), nothing less.
void ExpectAddinClass(View view, HKEY root, const std::string& dll);

// No trace of the add-in's or the agent's classes in either root, in any view.
void ExpectNoClasses();

// The agent's FileVersion ("1.0.0.1") from its version block.
std::string FileVersionOf(const std::string& path);

}  // namespace installer_test
