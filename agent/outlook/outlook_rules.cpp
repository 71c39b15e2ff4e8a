#include "agent/outlook/outlook_rules.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

bool IsTooLateForReminderCall(double start, double now) {
  return OleDateToSeconds(now) > OleDateToSeconds(start) + kReminderGraceSeconds;
}

std::optional<int> ParseOutlookMajorVersion(const std::string& version) {
  const size_t dot = version.find('.');
  if (dot == std::string::npos) return std::nullopt;
  // The same syntax as sscanf("%d"), but a number out of range saturates instead of being
  // undefined.
  const std::string head = version.substr(0, dot);
  const char* begin = head.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(begin, &end, 10);
  if (end == begin) return std::nullopt;
  if (value > INT_MAX || (errno == ERANGE && value > 0)) return INT_MAX;
  if (value < INT_MIN || (errno == ERANGE && value < 0)) return INT_MIN;
  return static_cast<int>(value);
}

namespace {

// HRESULT values, spelled out so that this file needs no system header.
constexpr uint32_t kTransient[] = {
    0x80010001u,  // RPC_E_CALL_REJECTED: the message filter turned the call away
    0x8001010Au,  // RPC_E_SERVERCALL_RETRYLATER: busy, try later
    0x80080005u,  // CO_E_SERVER_EXEC_FAILURE: the server did not start in time
    0x8000401Au,  // CO_E_APPDIDNTREG: started, but its class object is not there yet
    0x800706BAu,  // HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE): not yet listening
    0x800706BBu,  // HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY)
};

constexpr uint32_t kFirstDelayMs = 250;
constexpr uint32_t kLongestDelayMs = 2000;

}  // namespace

bool IsTransientOutlookFailure(uint32_t hresult) {
  for (uint32_t transient : kTransient) {
    if (hresult == transient) return true;
  }
  return false;
}

uint32_t OutlookRetryDelayMs(int retry) {
  uint32_t delay = kFirstDelayMs;
  for (int i = 1; i < retry && delay < kLongestDelayMs; ++i) delay *= 2;
  return delay < kLongestDelayMs ? delay : kLongestDelayMs;
}

bool IsOutlookConnectionLost(uint32_t hresult) {
  static constexpr uint32_t kLost[] = {
      0x80010108u,  // RPC_E_DISCONNECTED: the object was disconnected from its clients
      0x800706BAu,  // HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE): the process is gone
      0x800706BEu,  // HRESULT_FROM_WIN32(RPC_S_CALL_FAILED)
      0x80010007u,  // RPC_E_SERVER_DIED
      0x80010012u,  // RPC_E_SERVER_DIED_DNE
      0x800401FDu,  // CO_E_OBJNOTCONNECTED
  };
  for (uint32_t lost : kLost) {
    if (hresult == lost) return true;
  }
  return false;
}

bool IsObjectModelGuardRefusal(uint32_t hresult) { return hresult == 0x80004004u; }  // E_ABORT

bool CameDueSinceStart(double nextReminderDate, double outlookStarted, double now) {
  const long long due = OleDateToSeconds(nextReminderDate);
  return due >= OleDateToSeconds(outlookStarted) && due <= OleDateToSeconds(now);
}

WideText ServerExecutable(const WideText& command) {
  size_t begin = command.find_first_not_of(L" \t");
  if (begin == WideText::npos) return WideText();
  if (command[begin] == L'"') {
    const size_t end = command.find(L'"', begin + 1);
    return end == WideText::npos ? WideText() : command.substr(begin + 1, end - begin - 1);
  }
  for (size_t at = begin; at + 4 <= command.size(); ++at) {
    const bool exe = (command[at] == L'.') && (command[at + 1] | 0x20) == L'e' && (command[at + 2] | 0x20) == L'x' &&
                     (command[at + 3] | 0x20) == L'e';
    if (exe && (at + 4 == command.size() || command[at + 4] == L' ' || command[at + 4] == L'\t')) {
      return command.substr(begin, at + 4 - begin);
    }
  }
  const size_t end = command.find_first_of(L" \t", begin);
  return command.substr(begin, end == WideText::npos ? WideText::npos : end - begin);
}
