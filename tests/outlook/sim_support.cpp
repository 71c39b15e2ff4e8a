#include "tests/outlook/sim_support.h"

#include <gtest/gtest.h>

#include "agent/calls/notifier.h"
#include "agent/framework/ui/win_app.h"
#include "agent/outlook/reminder_sink.h"

namespace outlook_test {

std::wstring SimExe() { return L"" OUTLOOK_SIM_PATH; }

bool StartSim(simdriver::SimProcess& sim, const std::string& script) {
  return sim.Start(script, L"/noaddins /linger 30 -Embedding");
}

ReminderCatcher::ReminderCatcher() {
  static const ATOM kClass = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &ReminderCatcher::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OutlookTestMainWindow";
    return RegisterClassA(&windowClass);
  }();
  window_ = CreateWindowExA(0, MAKEINTATOM(kClass), "main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  handOver_.SetTarget(window_);
}

ReminderCatcher::~ReminderCatcher() {
  // Records still queued belong to the window: take them before it goes.
  MSG message;
  while (PeekMessageA(&message, window_, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  DestroyWindow(window_);
}

bool ReminderCatcher::WaitForRecords(size_t n, DWORD timeoutMs) {
  return simdriver::PumpUntil([&] { return records_.size() >= n; }, timeoutMs);
}

LRESULT CALLBACK ReminderCatcher::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ReminderCatcher*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == kReminderQueuedMessage && self) {
    if (std::unique_ptr<ReminderRecord> record = self->handOver_.Take()) {
      self->records_.push_back(std::move(record));
      if (self->onRecord_) self->onRecord_(*self->records_.back());
    }
    return 0;
  }
  if (message == WM_COMMAND && self) {
    self->commands_.push_back(wParam);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

EventTrace TraceOfEvent(const std::vector<std::string>& log, const std::string& item, size_t n) {
  const std::string name = " Item#" + item + " ";
  EventTrace trace;
  size_t seen = 0;
  bool inside = false;
  for (const std::string& line : log) {
    if (!inside) {
      if (line.rfind("Fire ", 0) == 0 && line.find(name) != std::string::npos && seen++ == n) inside = true;
      continue;
    }
    if (line.rfind("Event ", 0) == 0) {
      trace.event = line;
      break;
    }
    trace.calls.push_back(line);
  }
  return trace;
}

std::string ResultOf(const std::string& eventLine) {
  const size_t at = eventLine.find(" hr=");
  return at == std::string::npos ? std::string() : eventLine.substr(at + 1, 13);
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : log) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

int ExternalRefs(const std::vector<std::string>& log, const std::string& object) {
  int external = -1;
  for (const std::string& line : LinesStartingWith(log, "Refcount " + object + " external=")) {
    external = std::atoi(line.c_str() + std::string("Refcount " + object + " external=").size());
  }
  return external;
}

namespace {

// Every test program registers the simulator once and removes it again at the end; the agent's
// message boxes carry the application title.
class SimEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    fw::SetAppTitle("Brisomel");
    ASSERT_TRUE(simdriver::SimProcess(SimExe()).Register()) << "outlook-sim.exe /regserver failed";
  }
  void TearDown() override { simdriver::SimProcess(SimExe()).Unregister(); }
};

const auto* const kSimEnvironment = ::testing::AddGlobalTestEnvironment(new SimEnvironment);

}  // namespace

}  // namespace outlook_test
