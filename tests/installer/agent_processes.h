#pragma once
// Which processes run a given program file.
#include <windows.h>

#include <string>
#include <vector>

namespace installer_test {

// Ids of the running processes whose executable is exePath (compared without case).
std::vector<DWORD> ProcessesStartedFrom(const std::string& exePath);
std::vector<DWORD> ProcessesStartedFrom(const std::wstring& exePath);
// Ids of the running processes with this file name (e.g. "regsvr32.exe").
std::vector<DWORD> ProcessesNamed(const std::string& fileName);

}  // namespace installer_test
