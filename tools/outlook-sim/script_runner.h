#pragma once
// Runs the script on the apartment's thread, one command at a time, driven by window messages:
// waits return to the message loop (so incoming calls are served), and an event fired from here
// lets the sink call back into the simulator from inside the event.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/outlook-sim/addin_host.h"
#include "tools/outlook-sim/message_filter.h"
#include "tools/outlook-sim/script/script.h"
#include "tools/outlook-sim/sim_model.h"
#include "tools/outlook-sim/stopwatch.h"

namespace sim {

class ScriptRunner {
 public:
  struct Settings {
    bool embedding = false;
    int lingerSeconds = 30;
    // Withdraws the class object and the running-object-table entry (shutdown).
    std::function<void()> revokeServer;
    // Extra references the simulator holds outside the model (class factory locks).
    std::function<LONG()> serverLocks;
    // The add-ins' ribbons and the windows they show in (the ribbon commands).
    RibbonHost* ribbons = nullptr;
  };

  ScriptRunner(std::vector<Command> commands, SimModel& model, AddinHost& addins,
               MessageFilter& filter, Settings settings);
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;
  ~ScriptRunner();

  // Creates the message window; false on failure.
  bool Create();
  // Begins executing the script from the message loop.
  void Start();
  // Something a wait may be waiting for has changed (a sink advised or unadvised, a client
  // connected).
  void Wake();
  void ClientConnected();
  // Someone asked the simulator to end (a WM_CLOSE thread message): shut down as for quit.
  void RequestQuit();
  int ExitCode() const { return exitCode_; }

 private:
  enum class Wait { None, Advise, Unadvise, Sleep, QuitWait, RemindersReleased };

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Step();
  void RunUntilBlocked();
  void Execute(const Command& cmd);
  bool WaitSatisfied() const;
  bool Idle();
  Item* ExistingItem(const std::string& name);
  void Shutdown();
  // Outlook 2010's fast shutdown: the clients are cut off and the process ends, no add-in call.
  void ShutdownFast();
  LONG OutsideReferences();

  std::vector<Command> commands_;
  SimModel& model_;
  AddinHost& addins_;
  MessageFilter& filter_;
  Settings settings_;
  HWND hwnd_ = nullptr;
  size_t pc_ = 0;
  Wait wait_ = Wait::None;
  uint32_t waitCount_ = 1;
  const char* waitName_ = "";
  uint64_t deadline_ = 0;
  Stopwatch quitWatch_;  // quit-wait: since Quit was raised
  bool started_ = false;
  bool inStep_ = false;
  bool stepAgain_ = false;
  bool lingering_ = false;
  bool everConnected_ = false;
  bool quitRequested_ = false;
  bool done_ = false;
  int exitCode_ = 0;
};

}  // namespace sim
