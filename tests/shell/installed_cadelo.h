#pragma once
// cadelo as a user has it: a copy of the built program with the stand-in add-in (mervane.dll)
// beside it, in a folder whose name has a blank. While the object lives, that folder is the
// test's current directory, which the program inherits.
#include <windows.h>

#include <string>
#include <utility>

#include "common/win/handles.h"

#include "tests/harness/paths.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"

namespace shelltest {

constexpr char kSettingsKey[] = "Software\\Brisomel\\tarnwick\\1.0";
constexpr char kProfileKey[] = "Software\\Brisomel\\Brisomel";
constexpr char kRecentFileListKey[] = "Software\\Brisomel\\Brisomel\\Recent File List";
constexpr char kDocumentClsidKey[] = "CLSID\\{B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}";

// Every key the program (or the stand-in add-in) writes: deleted before and after each test.
class CleanRegistry {
 public:
  CleanRegistry();

 private:
  harness::ScopedRegistryKey settings_;
  harness::ScopedRegistryKey profile_;
  harness::ScopedRegistryKey addinRecord_;
  harness::ScopedRegistryKey progId_;
  harness::ScopedRegistryKey clsid_;
  harness::ScopedRegistryKey userProgId_;
  harness::ScopedRegistryKey userClsid_;
};

// A program started with a show command of the test's choice; terminated when the object goes
// away if it still runs.
class ShownProcess {
 public:
  ShownProcess() = default;
  ShownProcess(win::KernelHandle process, DWORD pid) : process_(std::move(process)), pid_(pid) {}
  ShownProcess(ShownProcess&&) = default;
  ~ShownProcess();
  bool Started() const { return static_cast<bool>(process_); }
  DWORD Pid() const { return pid_; }
  HANDLE Handle() const { return process_.get(); }

 private:
  win::KernelHandle process_;
  DWORD pid_ = 0;
};

class InstalledCadelo {
 public:
  InstalledCadelo();
  ~InstalledCadelo();
  InstalledCadelo(const InstalledCadelo&) = delete;
  InstalledCadelo& operator=(const InstalledCadelo&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Folder() const { return folder_; }
  const std::string& ExePath() const { return exe_; }
  std::string AddinPath() const { return folder_ + "\\mervane.dll"; }

  // Starts the program with `arguments` after its quoted path.
  harness::Process Start(const std::string& arguments = "") const;
  // The same, with `showCommand` as the show command Windows hands to the program (STARTUPINFO).
  class ShownProcess StartShown(WORD showCommand) const;

 private:
  harness::TempDir temp_;
  std::string folder_;
  std::string exe_;
  std::string previousDirectory_;
  bool ready_ = false;
};

// Makes the settings key impossible to create: its parent is made volatile, and a non-volatile
// key cannot live under a volatile one. Unblock() removes the parent again.
struct KeyBlocker {
  static bool Block();
  static bool Blocks();  // whether creating the settings key fails now
  static void Unblock();
};

// Text of a REG_SZ value without its terminating NUL.
std::string TextOf(const harness::RegValue& value);
// ASCII lower case, for comparing paths.
std::string Lower(std::string text);

// How often the stand-in add-in has been registered so far (0: never).
DWORD AddinRegistrationCount();
// Waits until the stand-in add-in has been registered `count` times.
bool WaitForAddinRegistrations(DWORD count, int timeoutMs);

// Ends a running program the way the user does (File > Exit) and waits for its end.
bool ExitThroughMenu(HANDLE process, HWND mainFrame, int timeoutMs);
// The exit code of an ended process (STILL_ACTIVE while it runs).
DWORD ExitCodeOf(HANDLE process);

}  // namespace shelltest
