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

// Under Wine, a COM server that is killed leaves its class registration behind in rpcss, and
// every later activation of that class fails until rpcss starts afresh. Ends this Wine
// session's rpcss.exe (found by its image, ended by its id); COM starts it again on the next
// activation. Returns false when there was none to end.
bool RestartWineRpcss();

}  // namespace systemtest
