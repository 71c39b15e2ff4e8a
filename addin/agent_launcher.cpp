#include "addin/agent_launcher.h"

#include <cstring>

#include "addin/application_name.h"

namespace {

constexpr char kSettingsKeyPath[] = "Software\\Brisomel\\tarnwick\\1.0";
constexpr char kPathValueName[] = "path";
constexpr DWORD kPathValueCapacity = 1024;
// No program name in front: the agent's start-up reads the two arguments that follow the blank.
constexpr char kAgentCommandLine[] = " /hidewindow yes";
constexpr char kConsoleTitle[] = "Brisomel";
constexpr char kMessageCaption[] = "Brisomel Addin";

HRESULT Fail(const char* message) {
  ::MessageBoxA(nullptr, message, kMessageCaption, MB_OK);
  return E_FAIL;
}

}  // namespace

HRESULT LaunchAgent(fw::KernelHandle* process) {
  char applicationName[kApplicationNameCapacity];
  {
    fw::RegKey settings;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_ALL_ACCESS, settings.put()) !=
        ERROR_SUCCESS) {
      settings.release();
      return Fail("Cannot find Brisomel registry key. Please run it again");
    }
    char value[kPathValueCapacity];
    DWORD size = sizeof value;
    if (::RegQueryValueExA(settings.get(), kPathValueName, nullptr, nullptr,
                           reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        !ApplicationNameFromPathValue(value, size, applicationName, sizeof applicationName)) {
      settings.reset();  // no key stays open while the box waits for the user
      return Fail("Cannot find Brisomel. Please run it again");
    }
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpTitle = const_cast<char*>(kConsoleTitle);
  startup.dwFlags = STARTF_USESTDHANDLES;
  // CreateProcessA may write into the command line, so it gets a copy of its own.
  char commandLine[sizeof kAgentCommandLine];
  std::memcpy(commandLine, kAgentCommandLine, sizeof commandLine);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(applicationName, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
    return Fail("Failed to start Brisomel Addin");
  }
  fw::KernelHandle thread(started.hThread);  // the agent runs by itself: closed on return
  process->reset(started.hProcess);
  return S_OK;
}
