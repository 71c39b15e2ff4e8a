#pragma once
// What a test that was cut off leaves behind. ctest ends a test that runs past its time by
// killing the test's own process only: the agents, simulators and setups it started are Wine
// processes of their own (Wine detaches every child from its Unix parent), so they keep running,
// holding the agent's role, Outlook's class registration and message boxes, and every later test
// fails behind them. Each Wine test program ends such leftovers before its first test.
#include <string>
#include <vector>

namespace harness {

// Ends every running process whose image is one of the programs the tests start (the agent, the
// simulator, the setups, the test helpers), wherever its copy lies, and waits for its end; when a
// simulator was among them, its stale class registration goes too (see RestartWineRpcss).
// Returns the images ended, for the log.
std::vector<std::string> EndLeftoversOfEarlierTests();

// Ids of the running processes whose image file is called `image` (compared without case).
std::vector<unsigned long> ProcessesNamed(const std::string& image);

// Under Wine, a COM server that is killed leaves its class registration behind in rpcss, and
// every later activation of that class fails until rpcss starts afresh. Ends this Wine
// session's rpcss.exe; COM starts it again on the next activation. False when there was none.
bool RestartWineRpcss();

}  // namespace harness
