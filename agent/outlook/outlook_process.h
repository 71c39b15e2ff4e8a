#pragma once
// The Outlook process the hidden agent serves, named by the add-in on the agent's command line
// (its id and creation time: an id alone could by now name another process), or found by an
// agent started otherwise. The agent ends with it whatever the shutdown (Outlook 2010 and later
// end without telling the add-in, and a job may not have been possible).
#include <windows.h>

#include <cstdint>

#include "common/win/handles.h"

class OutlookProcess {
 public:
  enum class State { Unknown, Running, Gone };

  OutlookProcess() = default;
  ~OutlookProcess() { StopWatching(); }
  OutlookProcess(const OutlookProcess&) = delete;
  OutlookProcess& operator=(const OutlookProcess&) = delete;

  // Opens the process with id pid created at created (a FILETIME count). Gone when no such
  // process runs (any more); Unknown when none was named (pid 0) or it may not be opened.
  State Open(uint32_t pid, uint64_t created);
  // For an agent that was not told its Outlook: the process in this logon session that runs the
  // registered server of "Outlook.Application" (its LocalServer32 program), when exactly one does
  // (Outlook runs once per session). False when none or several do.
  static bool FindServing(uint32_t* pid, uint64_t* created);
  uint32_t Pid() const { return process_ ? pid_ : 0; }
  // The creation time (a FILETIME count) of the process Open found running.
  uint64_t Created() const { return process_ ? created_ : 0; }
  // The process Open found running has ended since.
  bool Ended() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }

  // Posts message (wParam and lParam 0) to window once the process has ended. False when there
  // is nothing to watch or the system refused the wait.
  bool Watch(HWND window, UINT message);
  // Waits for a callback under way to finish; nothing is posted afterwards.
  void StopWatching();

 private:
  static void CALLBACK OnEnded(void* self, BOOLEAN timedOut);

  win::KernelHandle process_;
  uint32_t pid_ = 0;
  uint64_t created_ = 0;
  HANDLE wait_ = nullptr;
  HWND window_ = nullptr;
  UINT message_ = 0;
};
