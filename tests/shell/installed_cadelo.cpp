#include "tests/shell/installed_cadelo.h"

#include <vector>

#include "agent/framework/ui/afx_ids.h"
#include "common/win/handles.h"
#include "tests/shell/registration_record.h"
#include "tests/shell/windows_under_test.h"
#include "tests/harness/patience.h"

namespace shelltest {

namespace {

std::string CurrentDirectory() {
  char buffer[MAX_PATH * 2];
  const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

}  // namespace

CleanRegistry::CleanRegistry()
    : settings_(HKEY_CURRENT_USER, "Software\\Brisomel\\tarnwick"),
      profile_(HKEY_CURRENT_USER, kProfileKey),
      addinRecord_(HKEY_CURRENT_USER, "Software\\Brisomel\\ShellTests"),
      progId_(HKEY_CLASSES_ROOT, "Cadelo.Document"),
      clsid_(HKEY_CLASSES_ROOT, kDocumentClsidKey),
      userProgId_(HKEY_CURRENT_USER, "Software\\Classes\\Cadelo.Document"),
      userClsid_(HKEY_CURRENT_USER, std::string("Software\\Classes\\") + kDocumentClsidKey) {}

InstalledCadelo::InstalledCadelo() {
  if (temp_.Path().empty()) return;
  folder_ = temp_.File("Brisomel Apps");
  exe_ = folder_ + "\\cadelo.exe";
  ready_ = CreateDirectoryA(folder_.c_str(), nullptr) &&
           CopyFileA(harness::WinePath(CADELO_EXE).c_str(), exe_.c_str(), FALSE) &&
           CopyFileA(harness::WinePath(RECORDER_DLL).c_str(), AddinPath().c_str(), FALSE);
  previousDirectory_ = CurrentDirectory();
  ready_ = ready_ && SetCurrentDirectoryA(folder_.c_str());
}

InstalledCadelo::~InstalledCadelo() {
  if (!previousDirectory_.empty()) SetCurrentDirectoryA(previousDirectory_.c_str());
  // regsvr32 may still hold the add-in for a moment after it registered it.
  if (!folder_.empty()) WaitUntil([&] { return harness::RemoveTree(folder_); }, harness::kPatientMs);
}

harness::Process InstalledCadelo::Start(const std::string& arguments) const {
  return harness::Process::Launch(exe_, "\"" + exe_ + "\"" + (arguments.empty() ? "" : " " + arguments));
}

ShownProcess InstalledCadelo::StartShown(WORD showCommand) const {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showCommand;
  PROCESS_INFORMATION info{};
  std::string commandLine = "\"" + exe_ + "\"";
  if (!CreateProcessA(exe_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return ShownProcess();
  }
  win::KernelHandle thread(info.hThread);
  return ShownProcess(win::KernelHandle(info.hProcess), info.dwProcessId);
}

ShownProcess::~ShownProcess() {
  if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), harness::kPatientMs);
  }
}

bool KeyBlocker::Block() {
  harness::DeleteTree(HKEY_CURRENT_USER, "Software\\Brisomel\\tarnwick");
  win::RegKey parent;
  return RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brisomel\\tarnwick", 0, nullptr, REG_OPTION_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, parent.put(), nullptr) == ERROR_SUCCESS;
}

bool KeyBlocker::Blocks() {
  win::RegKey key;
  return RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                         nullptr) != ERROR_SUCCESS;
}

void KeyBlocker::Unblock() { harness::DeleteTree(HKEY_CURRENT_USER, "Software\\Brisomel\\tarnwick"); }

std::string TextOf(const harness::RegValue& value) {
  std::string text(value.bytes.begin(), value.bytes.end());
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

DWORD AddinRegistrationCount() {
  const harness::RegValue count = harness::ReadValue(HKEY_CURRENT_USER, kRegistrationRecordKey, "count");
  if (!count.exists || count.bytes.size() != 4) return 0;
  return static_cast<DWORD>(count.bytes[0] | count.bytes[1] << 8 | count.bytes[2] << 16 | count.bytes[3] << 24);
}

bool WaitForAddinRegistrations(DWORD count, int timeoutMs) {
  return WaitUntil([&] { return AddinRegistrationCount() >= count; }, timeoutMs);
}

bool ExitThroughMenu(HANDLE process, HWND mainFrame, int timeoutMs) {
  PostMessageA(mainFrame, WM_COMMAND, ID_APP_EXIT, 0);
  return WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

DWORD ExitCodeOf(HANDLE process) {
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  return code;
}

}  // namespace shelltest
