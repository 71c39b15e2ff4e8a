#pragma once
// Starts the agent program in hidden mode, as named by the `path` value the agent stores in its
// settings. The work (registry, process start, a message box when it fails) runs on a thread of
// its own: Outlook times its add-ins' calls and must never wait for a process start or a click.
//
// The agent is tied to Outlook's life: it runs in a job object that ends it when the job's last
// handle closes, which at the latest is when Outlook's process ends, however it ends. Where no job
// can hold it (Outlook itself runs in a job that allows no other), the agent watches Outlook's
// process itself: its command line names it (" /hidewindow yes /outlook <id> <creation time>").
#include <windows.h>

#include "common/win/handles.h"

// One start of the agent and the agent it started. Shared by the add-in object and the thread
// doing the work, each holding a reference; whichever lets go last frees it (and with it the job,
// which ends an agent still in it).
class AgentLaunch {
 public:
  // Begins a launch on a thread of its own (here, when no thread can be made). The caller holds
  // the one reference returned; null when there is no memory for a launch.
  static AgentLaunch* Begin();

  ULONG AddRef();
  ULONG Release();

  // True while the launch is under way, and afterwards while the agent it started runs.
  bool Active();
  // Ends the agent; a launch still under way ends the agent it starts at once and shows no box.
  void Cancel();

  AgentLaunch(const AgentLaunch&) = delete;
  AgentLaunch& operator=(const AgentLaunch&) = delete;

 private:
  AgentLaunch() = default;
  ~AgentLaunch() = default;
  static DWORD WINAPI ThreadMain(void* launch);
  void Run();
  // The agent's process, created suspended: kept (in the job) and let run, or ended when the
  // launch was cancelled meanwhile.
  void Adopt(win::KernelHandle process, win::KernelHandle thread, win::KernelHandle job);

  LONG m_cRef = 1;
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool cancelled_ = false;
  bool finished_ = false;
  win::KernelHandle job_;
  win::KernelHandle m_hAgentProcess;
};
