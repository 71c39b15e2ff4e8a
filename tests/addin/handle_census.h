#pragma once
// Counts the handles this process holds to given objects by walking its handle table, so a test
// can see a handle the code under test forgot to close.
#include <windows.h>

#include <string>

namespace addin_test {

// Handles to the process with this id.
int ProcessHandlesTo(DWORD pid);
// Handles to processes other than this one, whatever they are.
int OtherProcessHandles();
// Handles to any thread of the process with this id.
int ThreadHandlesOf(DWORD pid);
// Open registry keys whose full name ends with this path (compared without regard to case),
// e.g. "\\Software\\Brisomel\\tarnwick\\1.0".
int RegistryKeyHandlesTo(const std::wstring& pathSuffix);

}  // namespace addin_test
