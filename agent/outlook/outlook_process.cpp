#include "agent/outlook/outlook_process.h"

#include <utility>

#include "agent/outlook/outlook_rules.h"

namespace {

uint64_t FileTimeCount(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A FILETIME (UTC) as a local OLE date; 0 when it cannot be converted.
DATE LocalOleDate(const FILETIME& utc) {
  FILETIME local{};
  SYSTEMTIME fields{};
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) return 0;
  return OleDateFromFields(fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute, fields.wSecond)
      .value_or(0.0);
}

}  // namespace

OutlookProcess::State OutlookProcess::Open(uint32_t pid, uint64_t created) {
  StopWatching();
  process_.reset();
  started_ = 0;
  if (pid == 0) return State::Unknown;
  win::KernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    // No process of that id is left; any other refusal leaves nothing to go by.
    return GetLastError() == ERROR_INVALID_PARAMETER ? State::Gone : State::Unknown;
  }
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process.get(), &creation, &exit, &kernel, &user)) return State::Unknown;
  // The id names another process now: Outlook has ended.
  if (FileTimeCount(creation) != created) return State::Gone;
  if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return State::Gone;
  process_ = std::move(process);
  pid_ = pid;
  started_ = LocalOleDate(creation);
  return State::Running;
}

bool OutlookProcess::Watch(HWND window, UINT message) {
  StopWatching();
  if (!process_) return false;
  window_ = window;
  message_ = message;
  return RegisterWaitForSingleObject(&wait_, process_.get(), &OutlookProcess::OnEnded, this, INFINITE,
                                     WT_EXECUTEONLYONCE) != FALSE;
}

void OutlookProcess::StopWatching() {
  if (!wait_) return;
  UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
  wait_ = nullptr;
}

void CALLBACK OutlookProcess::OnEnded(void* self, BOOLEAN) {
  auto* watched = static_cast<OutlookProcess*>(self);
  PostMessageW(watched->window_, watched->message_, 0, 0);
}
