#include "tests/addin/handle_census.h"

#include <cstring>
#include <cwctype>
#include <functional>
#include <vector>

namespace addin_test {

namespace {

// NtQuerySystemInformation(SystemHandleInformation): every handle of every process.
using NtQuerySystemInformationFn = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
struct SystemHandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT handle;
  void* object;
  ACCESS_MASK access;
};

template <typename T>
T NtdllFunction(const char* name) {
  return reinterpret_cast<T>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// The handle values this process holds.
std::vector<HANDLE> OwnHandles() {
  std::vector<HANDLE> own;
  auto query = NtdllFunction<NtQuerySystemInformationFn>("NtQuerySystemInformation");
  std::vector<unsigned char> buffer(1 << 16);
  LONG status = kStatusInfoLengthMismatch;
  while (query && status == kStatusInfoLengthMismatch && buffer.size() <= (1u << 26)) {
    ULONG needed = 0;
    status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                   &needed);
    if (status == kStatusInfoLengthMismatch) buffer.resize(buffer.size() * 4);
  }
  if (status != 0) {
    // No system-wide list: try every value a test process plausibly uses (multiples of 4).
    for (uintptr_t value = 4; value <= 0x4000; value += 4) {
      DWORD flags = 0;
      if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
        own.push_back(reinterpret_cast<HANDLE>(value));
    }
    return own;
  }
  ULONG count = 0;
  memcpy(&count, buffer.data(), sizeof count);
  const auto* entries = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + sizeof(void*));
  for (ULONG i = 0; i < count; ++i) {
    if (entries[i].ownerPid == GetCurrentProcessId())
      own.push_back(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(entries[i].handle)));
  }
  return own;
}

int CountHandles(const std::function<bool(HANDLE)>& matches) {
  int count = 0;
  for (HANDLE h : OwnHandles()) {
    if (matches(h)) ++count;
  }
  return count;
}

using NtQueryKeyFn = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
constexpr int kKeyNameInformation = 3;

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

std::wstring KeyName(NtQueryKeyFn query, HANDLE h) {
  std::vector<unsigned char> buffer(4096);
  ULONG needed = 0;
  if (query(h, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0)
    return std::wstring();
  ULONG bytes = 0;
  memcpy(&bytes, buffer.data(), sizeof bytes);
  return std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + sizeof bytes),
                      bytes / sizeof(wchar_t));
}

}  // namespace

int ProcessHandlesTo(DWORD pid) {
  return CountHandles([pid](HANDLE h) { return GetProcessId(h) == pid; });
}

int OtherProcessHandles() {
  return CountHandles([](HANDLE h) {
    const DWORD pid = GetProcessId(h);
    return pid != 0 && pid != GetCurrentProcessId();
  });
}

int ThreadHandlesOf(DWORD pid) {
  return CountHandles([pid](HANDLE h) { return GetThreadId(h) && GetProcessIdOfThread(h) == pid; });
}

int RegistryKeyHandlesTo(const std::wstring& pathSuffix) {
  auto query = NtdllFunction<NtQueryKeyFn>("NtQueryKey");
  if (!query) return -1;
  const std::wstring suffix = Lower(pathSuffix);
  return CountHandles([&](HANDLE h) {
    const std::wstring name = Lower(KeyName(query, h));
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  });
}

}  // namespace addin_test
