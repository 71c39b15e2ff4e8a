#pragma once
// The simulator's log: one UTF-8 line per event, written and flushed at once, readable by others
// while the simulator runs.
#include <string>

namespace sim {

// Opens (appends to) the log file; without a call, lines are dropped. False when it cannot be
// opened.
bool OpenLog(const std::wstring& path);
void LogLine(const std::string& line);

}  // namespace sim
