#include "addin/agent_launcher.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "addin/addin.h"
#include "addin/application_name.h"
#include "common/settings_key.h"

namespace {

constexpr DWORD kPathValueCapacity = 1024;  // characters
// No program name in front: the agent's start-up reads the arguments that follow the blank.
// " /hidewindow yes" comes first; then " /outlook <id> <creation time>" names this process, which
// the agent ends with also where no job could hold it (Outlook 2010 and later end without a call
// to the add-in).
constexpr wchar_t kAgentCommandLine[] = L" /hidewindow yes";
constexpr wchar_t kOutlookOption[] = L" /outlook ";
// The fixed part, a blank, and two decimal numbers of at most 20 digits each.
constexpr size_t kCommandLineCapacity = sizeof kAgentCommandLine / sizeof(wchar_t) + 10 + 1 + 20 + 20 + 1;
constexpr wchar_t kConsoleTitle[] = L"Brisomel";
constexpr wchar_t kMessageCaption[] = L"Brisomel Addin";
constexpr wchar_t kNoKeyMessage[] = L"Cannot find Brisomel registry key. Please run it again";
constexpr wchar_t kNoPathMessage[] = L"Cannot find Brisomel. Please run it again";
constexpr wchar_t kStartFailedMessage[] = L"Failed to start Brisomel Addin";

class Lock {
 public:
  explicit Lock(SRWLOCK* lock) : lock_(lock) { ::AcquireSRWLockExclusive(lock_); }
  ~Lock() { ::ReleaseSRWLockExclusive(lock_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  SRWLOCK* lock_;
};

// Appends the decimal digits of value at out; returns the end.
wchar_t* AppendDecimal(wchar_t* out, unsigned long long value) {
  wchar_t digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

// " /hidewindow yes /outlook <id> <creation time>" for this process; without the Outlook part
// when the system will not tell the creation time.
void ComposeCommandLine(wchar_t (&commandLine)[kCommandLineCapacity]) {
  wchar_t* end = std::copy(std::begin(kAgentCommandLine), std::end(kAgentCommandLine) - 1, commandLine);
  FILETIME created{}, exited{}, kernel{}, user{};
  if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    end = std::copy(std::begin(kOutlookOption), std::end(kOutlookOption) - 1, end);
    end = AppendDecimal(end, ::GetCurrentProcessId());
    *end++ = L' ';
    end = AppendDecimal(end, (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime);
  }
  *end = L'\0';
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Reads `path` of an open settings key into name (kApplicationNameCapacity characters): S_OK,
// S_FALSE when the key has no `path`, REGDB_E_INVALIDVALUE when it names no program.
HRESULT ReadPathValue(HKEY settings, wchar_t* name) {
  wchar_t value[kPathValueCapacity];
  DWORD type = REG_NONE;
  DWORD size = sizeof value;
  const LONG read = ::RegQueryValueExW(settings, settings_key::kProgramPathW, nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size);
  if (read == ERROR_FILE_NOT_FOUND) return S_FALSE;
  if (read != ERROR_SUCCESS) return REGDB_E_INVALIDVALUE;
  if (type == REG_EXPAND_SZ) {
    // Administrators deploy per-user locations this way ("%LOCALAPPDATA%\Programs\..."): the
    // variables are this user's, expanded here as Windows does for the type.
    wchar_t unexpanded[kPathValueCapacity + 1];
    if (!ApplicationNameFromPathValue(value, size / sizeof(wchar_t), unexpanded, kPathValueCapacity + 1)) {
      return REGDB_E_INVALIDVALUE;
    }
    const DWORD needed = ::ExpandEnvironmentStringsW(unexpanded, name, static_cast<DWORD>(kApplicationNameCapacity));
    if (needed == 0 || needed > kApplicationNameCapacity) {
      name[0] = L'\0';
      return REGDB_E_INVALIDVALUE;
    }
    return S_OK;
  }
  if (IsText(type)) {
    return ApplicationNameFromPathValue(value, size / sizeof(wchar_t), name,
                                        kApplicationNameCapacity)
               ? S_OK
               : REGDB_E_INVALIDVALUE;
  }
  // Any other type holds the bytes as they were written: text in the ANSI code page.
  char ansi[kApplicationNameCapacity];
  if (!ApplicationNameFromPathValue(reinterpret_cast<const char*>(value), size, ansi,
                                    sizeof ansi) ||
      ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, name,
                            static_cast<int>(kApplicationNameCapacity)) == 0) {
    return REGDB_E_INVALIDVALUE;
  }
  return S_OK;
}

// The program to start, into name (kApplicationNameCapacity characters): the one the user's
// settings name (`path`) or, where they name none, the one a per-machine installation recorded in
// the machine's key of the same path (in this add-in's registry view: each add-in's own). S_OK;
// REGDB_E_KEYMISSING when neither key can be opened; REGDB_E_INVALIDVALUE when no `path` is found
// or the one found names no program. Read-only access: a key that IT deployed without write access
// for the user still names the agent.
HRESULT ReadApplicationName(wchar_t* name) {
  win::RegKey settings;
  const bool ownKey = settings.Open(HKEY_CURRENT_USER, settings_key::kPathW, KEY_QUERY_VALUE) == ERROR_SUCCESS;
  if (ownKey) {
    const HRESULT own = ReadPathValue(settings.get(), name);
    if (own != S_FALSE) return own;
  }
  win::RegKey machine;
  if (machine.Open(HKEY_LOCAL_MACHINE, settings_key::kPathW, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    return ownKey ? REGDB_E_INVALIDVALUE : REGDB_E_KEYMISSING;
  }
  const HRESULT installed = ReadPathValue(machine.get(), name);
  return installed == S_FALSE ? REGDB_E_INVALIDVALUE : installed;
}

// A job that ends its processes when its last handle closes. None when the system refuses one;
// the agent then runs without that tie.
win::KernelHandle KillOnCloseJob() {
  win::KernelHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
    job.reset();
  }
  return job;
}

}  // namespace

AgentLaunch* AgentLaunch::Begin() {
  auto* launch = new (OrNull{}) AgentLaunch;
  if (!launch) return nullptr;
  // The thread's reference on the module: Outlook may unload the add-in while the thread still
  // runs (a box waiting for its click); the thread lets go of it as its very last step.
  HMODULE module = nullptr;
  if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&AgentLaunch::ThreadMain), &module)) {
    launch->AddRef();  // the thread's
    win::KernelHandle thread(
        ::CreateThread(nullptr, 0, &AgentLaunch::ThreadMain, launch, 0, nullptr));
    if (thread) return launch;
    launch->Release();
    ::FreeLibrary(module);
  }
  launch->Run();
  return launch;
}

DWORD WINAPI AgentLaunch::ThreadMain(void* parameter) {
  auto* launch = static_cast<AgentLaunch*>(parameter);
  launch->Run();
  launch->Release();
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&AgentLaunch::ThreadMain), &module);
  ::FreeLibraryAndExitThread(module, 0);
}

ULONG AgentLaunch::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&m_cRef)); }

ULONG AgentLaunch::Release() {
  const LONG count = ::InterlockedDecrement(&m_cRef);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

bool AgentLaunch::Active() {
  Lock lock(&lock_);
  if (cancelled_) return false;
  if (!finished_) return true;
  return m_hAgentProcess && ::WaitForSingleObject(m_hAgentProcess.get(), 0) == WAIT_TIMEOUT;
}

void AgentLaunch::Cancel() {
  Lock lock(&lock_);
  cancelled_ = true;
  if (m_hAgentProcess) ::TerminateProcess(m_hAgentProcess.get(), 0);
  m_hAgentProcess.reset();
  job_.reset();
}

void AgentLaunch::Run() {
  wchar_t applicationName[kApplicationNameCapacity];
  HRESULT started = ReadApplicationName(applicationName);
  if (SUCCEEDED(started)) {
    // The agent's own folder, not Outlook's current one, as its current directory.
    wchar_t folder[kApplicationNameCapacity];
    const bool hasFolder = FolderOfApplicationName(applicationName, folder, kApplicationNameCapacity);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpTitle = const_cast<wchar_t*>(kConsoleTitle);
    startup.dwFlags = STARTF_USESTDHANDLES;
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    wchar_t commandLine[kCommandLineCapacity];
    ComposeCommandLine(commandLine);
    win::KernelHandle job = KillOnCloseJob();
    PROCESS_INFORMATION process{};
    // Suspended until it is in the job; none of Outlook's handles is inherited.
    if (::CreateProcessW(applicationName, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                         nullptr, hasFolder ? folder : nullptr, &startup, &process)) {
      Adopt(win::KernelHandle(process.hProcess), win::KernelHandle(process.hThread), std::move(job));
    } else {
      started = E_FAIL;  // every failed start reads the same: the system's reason is not kept
    }
  }
  bool cancelled;
  {
    Lock lock(&lock_);
    finished_ = true;
    cancelled = cancelled_;
  }
  // Outlook has let go of the add-in meanwhile: nobody is left to read the box.
  if (SUCCEEDED(started) || cancelled) return;
  const wchar_t* text = started == REGDB_E_KEYMISSING     ? kNoKeyMessage
                        : started == REGDB_E_INVALIDVALUE ? kNoPathMessage
                                                          : kStartFailedMessage;
  ::MessageBoxW(nullptr, text, kMessageCaption, MB_OK | MB_SETFOREGROUND);
}

void AgentLaunch::Adopt(win::KernelHandle process, win::KernelHandle thread, win::KernelHandle job) {
  Lock lock(&lock_);
  if (cancelled_) {
    ::TerminateProcess(process.get(), 0);  // it never ran a single instruction of its own
    return;
  }
  // Outside a job (one refused, or Outlook's own job forbids another) the agent still runs.
  if (job && ::AssignProcessToJobObject(job.get(), process.get())) job_ = std::move(job);
  ::ResumeThread(thread.get());
  m_hAgentProcess = std::move(process);
}
