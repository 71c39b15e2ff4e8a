#include "agent/calls/follow_handover.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/win/handles.h"

namespace {

// Beside the settings (Software\Brisomel\Brisomel) and the sessions' records.
constexpr char kFollowingKey[] = "Software\\Brisomel\\Following";

std::string ValueName(const FollowedCall& call) {
  return call.host + ":" + std::to_string(call.port) + "/" + call.requestId;
}

}  // namespace

namespace {

uint64_t FileTimeCount(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// "<pid>.<start>" of a process; empty when its times cannot be read.
std::string OwnerOf(HANDLE process, DWORD pid) {
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) return "";
  return std::to_string(pid) + "." + std::to_string(FileTimeCount(creation));
}

const std::string& ThisOwner() {
  static const std::string owner = OwnerOf(::GetCurrentProcess(), ::GetCurrentProcessId());
  return owner;
}

// The owner still runs (a process that may not be opened may still be it).
bool StillRuns(const std::string& owner) {
  const size_t dot = owner.find('.');
  if (dot == std::string::npos || dot == 0) return false;
  const DWORD pid = static_cast<DWORD>(std::strtoul(owner.c_str(), nullptr, 10));
  win::KernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  return OwnerOf(process.get(), pid) == owner && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace

void KeepFollowedCall(const FollowedCall& call) {
  win::RegKey key;
  if (key.Create(HKEY_CURRENT_USER, kFollowingKey, KEY_SET_VALUE) != ERROR_SUCCESS) return;
  const std::string text = ThisOwner() + "\t" + FollowedCallText(call);
  ::RegSetValueExA(key.get(), ValueName(call).c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(text.data()),
                   static_cast<DWORD>(text.size()));
}

void ForgetFollowedCall(const FollowedCall& call) {
  win::RegKey key;
  if (key.Open(HKEY_CURRENT_USER, kFollowingKey, KEY_SET_VALUE) != ERROR_SUCCESS) return;
  ::RegDeleteValueA(key.get(), ValueName(call).c_str());
}

std::vector<FollowedCall> TakeFollowedCalls() {
  std::vector<FollowedCall> taken;
  win::RegKey key;
  if (key.Open(HKEY_CURRENT_USER, kFollowingKey, KEY_QUERY_VALUE | KEY_SET_VALUE) != ERROR_SUCCESS) return taken;
  // The names first: deleting while enumerating would skip values.
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[1024];
    DWORD length = sizeof name;
    const LONG read = ::RegEnumValueA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (read == ERROR_MORE_DATA) continue;  // no name of ours is this long
    if (read != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  for (const std::string& name : names) {
    char data[8192];
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    const LONG read =
        ::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    const std::string text = read == ERROR_SUCCESS ? std::string(data, size) : std::string();
    const size_t tab = text.find('\t');
    const std::string owner = tab == std::string::npos ? "" : text.substr(0, tab);
    if (read == ERROR_SUCCESS && owner != ThisOwner() && StillRuns(owner)) continue;  // another agent's
    // Deleted first: whichever agent deletes it follows it; a value that is no call goes too.
    if (::RegDeleteValueA(key.get(), name.c_str()) != ERROR_SUCCESS) continue;
    FollowedCall call;
    if (type == REG_BINARY && tab != std::string::npos && ParseFollowedCall(text.substr(tab + 1), call))
      taken.push_back(std::move(call));
  }
  return taken;
}

namespace {

constexpr char kRecentKey[] = "Software\\Brisomel\\Recent";

// The values of an open key: name and data (REG_BINARY only).
std::vector<std::pair<std::string, std::string>> BinaryValues(HKEY key) {
  std::vector<std::pair<std::string, std::string>> values;
  for (DWORD index = 0;; ++index) {
    char name[1024];
    DWORD length = sizeof name;
    char data[8192];
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    const LONG read = ::RegEnumValueA(key, index, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (read == ERROR_MORE_DATA) continue;
    if (read != ERROR_SUCCESS) break;
    if (type == REG_BINARY) values.emplace_back(std::string(name, length), std::string(data, size));
  }
  return values;
}

}  // namespace

void NoteRecentCall(const FollowedCall& call, const std::string& outcome, long long nowMs) {
  // Under the lasting parent the settings live beside, which is not created here: a volatile one
  // would take no lasting key beneath it later.
  win::RegKey parent, key;
  if (parent.Open(HKEY_CURRENT_USER, "Software\\Brisomel", KEY_CREATE_SUB_KEY) != ERROR_SUCCESS ||
      key.CreateVolatile(parent.get(), "Recent", KEY_QUERY_VALUE | KEY_SET_VALUE) != ERROR_SUCCESS)
    return;
  const std::string text = RecentCallText(RecentCall{call.start, call.subject, call.number, outcome, nowMs});
  ::RegSetValueExA(key.get(), ValueName(call).c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(text.data()),
                   static_cast<DWORD>(text.size()));
  std::vector<std::pair<long long, std::string>> byAge;
  for (const auto& [name, data] : BinaryValues(key.get())) {
    RecentCall recent;
    byAge.emplace_back(ParseRecentCall(data, recent) ? recent.noticedMs : 0, name);
  }
  std::sort(byAge.begin(), byAge.end());
  for (size_t i = 0; i + kMaxRecentCalls < byAge.size(); ++i) ::RegDeleteValueA(key.get(), byAge[i].second.c_str());
}

std::vector<RecentCall> ReadRecentCalls() {
  std::vector<RecentCall> calls;
  win::RegKey key;
  if (key.Open(HKEY_CURRENT_USER, kRecentKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) return calls;
  for (const auto& value : BinaryValues(key.get())) {
    RecentCall call;
    if (ParseRecentCall(value.second, call)) calls.push_back(std::move(call));
  }
  std::stable_sort(calls.begin(), calls.end(),
                   [](const RecentCall& a, const RecentCall& b) { return a.noticedMs < b.noticedMs; });
  if (calls.size() > kMaxRecentCalls) calls.erase(calls.begin(), calls.end() - kMaxRecentCalls);
  return calls;
}
