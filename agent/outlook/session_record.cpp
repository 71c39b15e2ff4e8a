#include "agent/outlook/session_record.h"

#include <vector>

#include "agent/calls/ole_date.h"
#include "agent/outlook/start_ledger.h"

namespace {

// Under HKEY_CURRENT_USER; the parent is the one the settings live under, and is not created
// here: a volatile key would take no lasting settings key beside it later.
constexpr char kParent[] = "Software\\Brisomel";
constexpr char kRecords[] = "Called";

uint64_t FileTimeCount(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A FILETIME (UTC) as a local OLE date; 0 when it cannot be converted.
double LocalOleDate(const FILETIME& utc) {
  FILETIME local{};
  SYSTEMTIME fields{};
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) return 0;
  return OleDateFromFields(fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute, fields.wSecond)
      .value_or(0.0);
}

// The process pid, created at created, still runs.
bool StillRuns(uint32_t pid, uint64_t created) {
  win::KernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  // A process that may not be opened may still be it: its record stays.
  if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!::GetProcessTimes(process.get(), &creation, &exit, &kernel, &user)) return true;
  return FileTimeCount(creation) == created && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// The names of the subkeys of key.
std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof name;
    if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

// Removes the records of the sessions whose Outlook has ended; the names of other programs'
// keys stay.
void RemoveEndedSessions(HKEY records) {
  for (const std::string& name : SubkeyNames(records)) {
    uint32_t pid = 0;
    uint64_t created = 0;
    if (ParseSessionName(name, &pid, &created) && !StillRuns(pid, created)) ::RegDeleteKeyA(records, name.c_str());
  }
}

}  // namespace

bool SessionRecord::Open(uint32_t pid, uint64_t created) {
  key_.reset();
  name_ = SessionName(pid, created);
  const FILETIME creation{static_cast<DWORD>(created), static_cast<DWORD>(created >> 32)};
  outlookStarted_ = LocalOleDate(creation);
  win::RegKey parent;
  if (parent.Open(HKEY_CURRENT_USER, kParent, KEY_CREATE_SUB_KEY) != ERROR_SUCCESS) return false;
  win::RegKey records;
  if (records.CreateVolatile(parent.get(), kRecords, KEY_ENUMERATE_SUB_KEYS | KEY_CREATE_SUB_KEY | DELETE) !=
      ERROR_SUCCESS) {
    return false;
  }
  RemoveEndedSessions(records.get());
  if (key_.CreateVolatile(records.get(), name_.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE) != ERROR_SUCCESS) return false;
  for (DWORD index = 0;; ++index) {
    char value[2048];
    DWORD length = sizeof value;
    DWORD type = REG_NONE;
    uint64_t seconds = 0;
    DWORD size = sizeof seconds;
    const LONG read = ::RegEnumValueA(key_.get(), index, value, &length, nullptr, &type,
                                      reinterpret_cast<BYTE*>(&seconds), &size);
    if (read == ERROR_MORE_DATA) continue;  // not one of ours
    if (read != ERROR_SUCCESS) break;
    if (type == REG_QWORD && size == sizeof seconds) {
      calls_[std::string(value, length)] = static_cast<long long>(seconds);
    }
  }
  return true;
}

std::optional<long long> SessionRecord::CalledAt(const std::string& reminderKey) const {
  const auto found = calls_.find(reminderKey);
  if (found == calls_.end()) return std::nullopt;
  return found->second;
}

void SessionRecord::Note(const std::string& reminderKey, long long calledSeconds) {
  calls_[reminderKey] = calledSeconds;
  if (!key_) return;
  const uint64_t seconds = static_cast<uint64_t>(calledSeconds);
  // A key too long for a value name (an EntryID of thousands of characters) is kept in this agent.
  ::RegSetValueExA(key_.get(), reminderKey.c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&seconds),
                   sizeof seconds);
}

void SessionRecord::Remove() {
  if (!key_) return;
  key_.reset();
  const std::string path = std::string(kParent) + "\\" + kRecords;
  win::RegKey records;
  if (records.Open(HKEY_CURRENT_USER, path.c_str(), DELETE | KEY_ENUMERATE_SUB_KEYS) == ERROR_SUCCESS) {
    ::RegDeleteKeyA(records.get(), name_.c_str());
  }
}
