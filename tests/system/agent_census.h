#pragma once
// Finds the agent processes started from a given executable, whoever started them (the add-in
// inside the simulator starts them for the tests), and ends them by id.
#include <windows.h>

#include <string>
#include <vector>

namespace systemtest {

// Ids of the running processes whose image is exePath (compared without case).
std::vector<DWORD> ProcessesOf(const std::string& exePath);
// Terminates each of the given processes and waits for its end.
void TerminateProcesses(const std::vector<DWORD>& pids);

}  // namespace systemtest
