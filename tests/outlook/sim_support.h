#pragma once
// Shared pieces of the tests that run the agent's Outlook code against outlook-sim.exe: the
// simulator's location and registration, a main window that catches posted reminder records,
// and reading the simulator's log.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/calls/call_text.h"
#include "agent/outlook/reminder_sink.h"
#include "tools/outlook-sim/driver/sim_driver.h"

namespace outlook_test {

std::wstring SimExe();

// Starts the simulator as a client-driven server: it waits for the first client and ends once
// nobody holds its objects (or after 30 s).
bool StartSim(simdriver::SimProcess& sim, const std::string& script);

// A hidden window, the target of its hand-over for its lifetime; it takes the records handed
// over to it, one per wake-up, as the main frame does.
class ReminderCatcher {
 public:
  ReminderCatcher();
  ~ReminderCatcher();
  ReminderCatcher(const ReminderCatcher&) = delete;
  ReminderCatcher& operator=(const ReminderCatcher&) = delete;

  HWND Window() const { return window_; }
  // For the connection or sink under test.
  ReminderHandOver* HandOver() { return &handOver_; }
  const std::vector<std::unique_ptr<ReminderRecord>>& Records() const { return records_; }
  // WM_COMMAND messages that reached the window (wParam values).
  const std::vector<WPARAM>& Commands() const { return commands_; }
  // Pumps until n records have arrived.
  bool WaitForRecords(size_t n, DWORD timeoutMs);
  // Called inside the window's handling of each record, after it has been taken.
  void OnRecord(std::function<void(const ReminderRecord&)> handler) { onRecord_ = std::move(handler); }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  ReminderHandOver handOver_;
  std::vector<std::unique_ptr<ReminderRecord>> records_;
  std::vector<WPARAM> commands_;
  std::function<void(const ReminderRecord&)> onRecord_;
};

// Collects what the sink has to tell the user, instead of boxes.
class NoticeCollector {
 public:
  std::function<void(const std::string&)> Tell() {
    return [this](const std::string& text) { texts_.push_back(text); };
  }
  std::vector<std::string> Texts() const { return texts_; }

 private:
  std::vector<std::string> texts_;
};

// The calls the simulator logged for the n-th event (0-based) raised with the given item (log
// name "Item#<item>"): the lines after its "Fire" line up to its "Event" line, and that line.
struct EventTrace {
  std::vector<std::string> calls;
  std::string event;  // "" when the event line is missing
};
EventTrace TraceOfEvent(const std::vector<std::string>& log, const std::string& item, size_t n = 0);
// "hr=0x........" of an event line.
std::string ResultOf(const std::string& eventLine);
// The lines starting with prefix.
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& log, const std::string& prefix);
// The "external=" count of the last refcount line of an object; -1 when there is none.
int ExternalRefs(const std::vector<std::string>& log, const std::string& object);

}  // namespace outlook_test
