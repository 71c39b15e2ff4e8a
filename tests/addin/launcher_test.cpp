// The add-in starting the agent when the host's start-up completes (or at once when connected
// later) and ending it when the host disconnects, with a stand-in agent that reports how it was
// started. The launch runs on a thread of the add-in: the host's call returns at once, and a
// failure's message appears afterwards.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "tests/addin/absent_key_guard.h"
#include "tests/support/outlook_double.h"
#include "tests/addin/handle_census.h"
#include "tests/addin/mervane_dll.h"
#include "tests/addin/stand_in_agent.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/harness/paths.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"

namespace addin_test {
namespace {

const char kSettingsKey[] = "Software\\Brisomel\\tarnwick\\1.0";
const wchar_t kSettingsKeySuffix[] = L"\\Software\\Brisomel\\tarnwick\\1.0";
const char kNoKeyMessage[] = "Cannot find Brisomel registry key. Please run it again";
const char kNoPathMessage[] = "Cannot find Brisomel. Please run it again";
const char kStartFailedMessage[] = "Failed to start Brisomel Addin";
constexpr int kExtCmAfterStartup = 0;
constexpr int kExtCmStartup = 1;

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The agent's command line: the hidden mode first, then the host's process (its id and creation
// time), by which the agent ends with the host where no job holds it.
std::string ExpectedCommandLine() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const unsigned long long createdCount =
      (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return " /hidewindow yes /outlook " + std::to_string(GetCurrentProcessId()) + " " + std::to_string(createdCount);
}

std::wstring Wide(const std::string& text, UINT codePage = CP_ACP) {
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

// A folder name with blanks and, where the ANSI code page has it, a non-ASCII letter.
std::string AgentFolderName() {
  char e[4];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"\u00e9", 1, e, sizeof e,
                                    nullptr, &usedDefault);
  return "Brisomel Agent " + (n > 0 && !usedDefault ? std::string(e, n) + "t" : std::string("x"));
}

// Polls until the condition holds; true when it did within the time.
template <typename Condition>
bool Eventually(Condition condition, int timeoutMs = 10000) {
  for (int waited = 0;; waited += 20) {
    if (condition()) return true;
    if (waited >= timeoutMs) return false;
    Sleep(20);
  }
}

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.Path().empty());
    agentPath_ = InstallStandInAgent(temp_.File(AgentFolderName()));
    ASSERT_FALSE(agentPath_.empty());
    addin_ = CreateAddin();
    ASSERT_TRUE(addin_);
    ASSERT_EQ(addin_->OnConnection(&application_, kExtCmStartup, nullptr, nullptr), S_OK);
    agentsBefore_ = ChildAgentPids();
    WatchBoxesAfresh();
  }
  void TearDown() override {
    if (addin_) addin_->OnDisconnection(0, nullptr);
    addin_.reset();
    EXPECT_EQ(application_.Refs(), 1u);
    EXPECT_EQ(RegistryKeyHandlesTo(kSettingsKeySuffix), 0) << "settings key left open";
    // Whatever a failed test left running.
    for (DWORD pid : NewAgents()) {
      win::KernelHandle child(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
      if (child && TerminateProcess(child.get(), 1)) WaitForSingleObject(child.get(), 10000);
    }
  }

  void WritePath(const std::vector<unsigned char>& bytes, DWORD type = REG_SZ) {
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "path", type, bytes));
  }
  // Stand-in agents started since SetUp.
  std::vector<DWORD> NewAgents() const {
    std::vector<DWORD> fresh;
    for (DWORD pid : ChildAgentPids()) {
      if (std::find(agentsBefore_.begin(), agentsBefore_.end(), pid) == agentsBefore_.end())
        fresh.push_back(pid);
    }
    return fresh;
  }
  // A box would block the launch's thread: one watcher is always there to close it. Restarting
  // it forgets the boxes seen so far.
  void WatchBoxesAfresh() {
    boxes_.reset();
    boxes_.emplace("Brisomel Addin");
  }
  // The one box a failed start shows, from the add-in's own thread in this process.
  void ExpectOneMessage(const std::string& text) {
    ASSERT_TRUE(boxes_->WaitForCount(1, 10000)) << "no message box";
    const std::vector<harness::SeenBox> seen = boxes_->Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, text);
    EXPECT_EQ(seen[0].pid, GetCurrentProcessId());
  }

  AbsentKeyGuard brisomel_{HKEY_CURRENT_USER, "Software\\Brisomel"};
  harness::ScopedRegistryKey settings_{HKEY_CURRENT_USER, kSettingsKey};
  harness::TempDir temp_;
  std::optional<harness::MessageBoxWatcher> boxes_;
  outlook_double::HeldApplication application_;
  win::ComPtr<IDTExtensibility2> addin_;
  std::string agentPath_;
  std::vector<DWORD> agentsBefore_;
};

// An inheritable handle of the host's, named to the next stand-in agent so it can look for it.
class InheritableProbe {
 public:
  InheritableProbe() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    event_.reset(CreateEventA(&inherit, TRUE, FALSE, nullptr));
    char value[32];
    wsprintfA(value, "%Ix", reinterpret_cast<uintptr_t>(event_.get()));
    SetEnvironmentVariableA("BRISOMEL_TEST_AGENT_PROBE_HANDLE", value);
  }
  ~InheritableProbe() { SetEnvironmentVariableA("BRISOMEL_TEST_AGENT_PROBE_HANDLE", nullptr); }

 private:
  win::KernelHandle event_;
};

TEST_F(Launcher, StartsTheAgentInItsFolderWithItsOptionsAloneAndEndsItOnDisconnection) {
  ASSERT_NE(agentPath_.find(' '), std::string::npos);
  InheritableProbe probe;
  for (int removeMode : {0, 1}) {
    SCOPED_TRACE("remove mode " + std::to_string(removeMode));
    ASSERT_EQ(addin_->OnConnection(&application_, kExtCmStartup, nullptr, nullptr), S_OK);
    WritePath(harness::SzBytes(agentPath_));
    ExpectedAgent agent(temp_.Path());
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    ASSERT_TRUE(agent.WaitStarted());
    EXPECT_EQ(agent.Record().commandLine, ExpectedCommandLine());
    EXPECT_EQ(agent.Record().module, agentPath_);
    EXPECT_EQ(agent.Record().directory, Utf8(Wide(FolderOf(agentPath_)))) << "not the host's folder";
    EXPECT_EQ(agent.Record().inherited, "no") << "the host's handles leaked into the agent";
    EXPECT_EQ(boxes_->Count(), 0u);
    // The add-in keeps the process handle only: ours plus its own.
    EXPECT_TRUE(Eventually([&] { return ProcessHandlesTo(agent.Record().pid) == 2; }));
    EXPECT_EQ(ThreadHandlesOf(agent.Record().pid), 0);
    EXPECT_EQ(RegistryKeyHandlesTo(kSettingsKeySuffix), 0);
    EXPECT_EQ(application_.Refs(), 2u);

    EXPECT_EQ(addin_->OnDisconnection(removeMode, nullptr), S_OK);
    ASSERT_TRUE(agent.WaitForExit());
    EXPECT_EQ(agent.ExitCode(), 0u);
    EXPECT_EQ(ProcessHandlesTo(agent.Record().pid), 1) << "only the test's own handle is left";
    EXPECT_EQ(application_.Refs(), 1u);
  }
}

// Where the text ends (its NUL, the bytes read) is the native table's (AddinApplicationName);
// here, that the registry's types all reach it and the program named starts.
TEST_F(Launcher, TakesTheValueTextWhateverItsType) {
  const std::string path = agentPath_;
  const struct {
    const char* what;
    DWORD type;
    std::vector<unsigned char> bytes;
  } values[] = {
      {"REG_SZ", REG_SZ, harness::SzBytes(path)},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, harness::SzBytes(path)},
      {"REG_BINARY without a NUL", REG_BINARY, Bytes(path)},
  };
  for (const auto& v : values) {
    SCOPED_TRACE(v.what);
    WritePath(v.bytes, v.type);
    ExpectedAgent agent(temp_.Path());
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    ASSERT_TRUE(agent.WaitStarted());
    EXPECT_EQ(agent.Record().module, path);
    EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
    EXPECT_TRUE(agent.WaitForExit());
  }
}

// A user folder such as C:\Users\Łukasz: the path is read and started as UTF-16, whatever the
// ANSI code page lacks.
TEST_F(Launcher, StartsAnAgentWhosePathTheAnsiCodePageCannotSpell) {
  const std::wstring folder = Wide(temp_.Path()) + L"\\\u0141ukasz \u65e5\u672c";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring path = folder + L"\\cadelo.exe";
  ASSERT_TRUE(CopyFileW(Wide(agentPath_).c_str(), path.c_str(), FALSE));
  win::RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Brisomel\\tarnwick\\1.0", 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.get(), L"path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  key.reset();

  ExpectedAgent agent(temp_.Path());
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
  ASSERT_TRUE(agent.WaitStarted());
  EXPECT_EQ(agent.Record().moduleUtf8, Utf8(path));
  EXPECT_EQ(agent.Record().directory, Utf8(folder));
  EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
  EXPECT_TRUE(agent.WaitForExit());
  EXPECT_EQ(boxes_->Count(), 0u);
  DeleteFileW(path.c_str());
  RemoveDirectoryW(folder.c_str());
}

// The application name has room for 259 characters. A longer text must not be cut to fit: here
// its first 259 characters name a real agent, which must not be started. The lengths between are
// the native table's (AddinApplicationName); 1024 characters and more do not fit the registry
// read's buffer at all.
TEST_F(Launcher, PathOf259CharactersStartsAndLongerOnesAreRefused) {
  const std::string folder = temp_.File(std::string(100, 'p'));
  const std::string base = folder + "\\cadelo";
  ASSERT_LT(base.size() + 4, 259u);
  const std::string path259 =
      InstallStandInAgent(folder, "cadelo" + std::string(259 - base.size() - 4, 'x') + ".exe");
  ASSERT_EQ(path259.size(), 259u);

  {
    WritePath(harness::SzBytes(path259));
    ExpectedAgent agent(temp_.Path());
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    ASSERT_TRUE(agent.WaitStarted());
    EXPECT_EQ(agent.Record().module, path259);
    EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
    EXPECT_TRUE(agent.WaitForExit());
  }
  for (size_t length : {260u, 1024u}) {
    SCOPED_TRACE(std::to_string(length) + " characters");
    WatchBoxesAfresh();
    WritePath(harness::SzBytes(path259 + std::string(length - 259, 'x')));
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    ExpectOneMessage(kNoPathMessage);
    EXPECT_TRUE(NewAgents().empty()) << "nothing may be started";
  }
}

TEST_F(Launcher, EachFailureShowsItsMessageAndStartsNothing) {
  const struct {
    const char* what;
    bool createKey;
    bool writePath;
    std::string path;
    const char* message;
  } cases[] = {
      {"no settings key", false, false, "", kNoKeyMessage},
      {"key without path", true, false, "", kNoPathMessage},
      {"missing file", true, true, temp_.File("missing\\cadelo.exe"), kStartFailedMessage},
      {"a folder", true, true, temp_.Path(), kStartFailedMessage},
      {"not a program", true, true, temp_.File("agent-record.txt"), kStartFailedMessage},
      {"empty path", true, true, "", kStartFailedMessage},
  };
  {
    win::FileHandle notAProgram(CreateFileA(temp_.File("agent-record.txt").c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(notAProgram);
  }
  const int processHandles = OtherProcessHandles();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    harness::DeleteTree(HKEY_CURRENT_USER, kSettingsKey);
    if (c.createKey) {
      ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ,
                                      harness::SzBytes("localhost")));
    }
    if (c.writePath) WritePath(harness::SzBytes(c.path));
    WatchBoxesAfresh();
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    ExpectOneMessage(c.message);
    EXPECT_TRUE(NewAgents().empty());
    EXPECT_EQ(RegistryKeyHandlesTo(kSettingsKeySuffix), 0);
  }
  EXPECT_EQ(OtherProcessHandles(), processHandles);
}

// A per-machine installation records its program under HKLM: the add-in starts it for a user whose
// settings name none (a user who never started Brisomel has no settings key at all); a program the
// user's settings name wins.
TEST_F(Launcher, StartsTheMachinesInstallationWhereTheUsersSettingsNameNoProgram) {
  harness::ScopedRegistryKey machine(HKEY_LOCAL_MACHINE, kSettingsKey);
  ASSERT_TRUE(harness::WriteValue(HKEY_LOCAL_MACHINE, kSettingsKey, "path", REG_SZ, harness::SzBytes(agentPath_)));
  const struct {
    const char* what;
    bool createKey;
    std::string userPath;
    std::string machinePath;
  } cases[] = {
      {"no settings key of the user's", false, "", agentPath_},
      {"the user's key without path", true, "", agentPath_},
      {"the user's own path", true, agentPath_, temp_.File("missing\\cadelo.exe")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    harness::DeleteTree(HKEY_CURRENT_USER, kSettingsKey);
    if (c.createKey) {
      ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, harness::SzBytes("localhost")));
    }
    if (!c.userPath.empty()) WritePath(harness::SzBytes(c.userPath));
    ASSERT_TRUE(harness::WriteValue(HKEY_LOCAL_MACHINE, kSettingsKey, "path", REG_SZ, harness::SzBytes(c.machinePath)));
    ExpectedAgent agent(temp_.Path());
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    ASSERT_TRUE(agent.WaitStarted());
    EXPECT_EQ(agent.Record().module, agentPath_);
    EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
    EXPECT_TRUE(agent.WaitForExit());
    EXPECT_EQ(boxes_->Count(), 0u);
  }
}

// Outlook returns from OnStartupComplete while the box is still open, and the DLL stays loaded
// for the box's thread after its last object and the host's own reference are gone.
TEST_F(Launcher, TheHostNeverWaitsForTheMessageAndTheDllOutlivesIt) {
  boxes_.reset();  // this box is closed by hand
  const std::wstring copy = Wide(temp_.File("mervane-copy.dll"));
  ASSERT_TRUE(CopyFileW(Wide(MervanePath()).c_str(), copy.c_str(), FALSE));
  HMODULE module = LoadLibraryW(copy.c_str());
  ASSERT_NE(module, nullptr);
  auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  ASSERT_NE(getClassObject, nullptr);
  HWND box = nullptr;
  {
    win::ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(kAddinClassId, IID_IClassFactory, factory.put_void()), S_OK);
    win::ComPtr<IDTExtensibility2> addin;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidIDTExtensibility2, addin.put_void()), S_OK);
    ASSERT_EQ(addin->OnConnection(&application_, kExtCmStartup, nullptr, nullptr), S_OK);
    // No settings key: the launch fails with a box that nobody closes yet.
    ASSERT_EQ(addin->OnStartupComplete(nullptr), S_OK);
    ASSERT_TRUE(Eventually([&] {
      box = FindWindowA("#32770", "Brisomel Addin");
      return box && IsWindowVisible(box);
    }));
    ASSERT_EQ(addin->OnDisconnection(0, nullptr), S_OK);
  }
  FreeLibrary(module);
  EXPECT_EQ(GetModuleHandleW(copy.c_str()), module) << "unloaded under its box's thread";
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(Eventually([&] { return GetModuleHandleW(copy.c_str()) == nullptr; }))
      << "the box's thread kept the DLL loaded";
  Eventually([&] { return DeleteFileW(copy.c_str()) != 0; });
}

// A key that IT deployed read-only still names the agent.
TEST_F(Launcher, AReadOnlySettingsKeyStillNamesTheAgent) {
  WritePath(harness::SzBytes(agentPath_));
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1, &raw, nullptr));
  std::unique_ptr<void, decltype(&LocalFree)> readOnly(raw, &LocalFree);
  win::RegKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, WRITE_DAC, key.put()), ERROR_SUCCESS);
  ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, readOnly.get()), ERROR_SUCCESS);

  ExpectedAgent agent(temp_.Path());
  const HRESULT started = addin_->OnStartupComplete(nullptr);
  const bool agentStarted = agent.WaitStarted();
  // Everyone's full access again, so the key can be removed.
  PSECURITY_DESCRIPTOR open = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr));
  std::unique_ptr<void, decltype(&LocalFree)> fullAccess(open, &LocalFree);
  EXPECT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, fullAccess.get()), ERROR_SUCCESS);

  EXPECT_EQ(started, S_OK);
  ASSERT_TRUE(agentStarted);
  EXPECT_EQ(agent.Record().module, agentPath_);
  EXPECT_EQ(boxes_->Count(), 0u);
}

// Connected after the host's start-up (the user enabled the add-in), no OnStartupComplete
// follows: the agent starts at OnConnection. Connected at start-up, it waits for that call.
TEST_F(Launcher, AConnectionAfterStartupStartsTheAgentAtOnce) {
  WritePath(harness::SzBytes(agentPath_));
  win::ComPtr<IDTExtensibility2> atStartup = CreateAddin();
  ASSERT_TRUE(atStartup);
  ASSERT_EQ(atStartup->OnConnection(&application_, kExtCmStartup, nullptr, nullptr), S_OK);
  Sleep(500);
  EXPECT_TRUE(NewAgents().empty()) << "started before the host's start-up completed";
  atStartup->OnDisconnection(0, nullptr);

  ExpectedAgent agent(temp_.Path());
  ASSERT_EQ(addin_->OnConnection(&application_, kExtCmAfterStartup, nullptr, nullptr), S_OK);
  ASSERT_TRUE(agent.WaitStarted());
  EXPECT_EQ(agent.Record().commandLine, ExpectedCommandLine());
  EXPECT_EQ(addin_->OnDisconnection(1, nullptr), S_OK);
  ASSERT_TRUE(agent.WaitForExit());
  EXPECT_EQ(agent.ExitCode(), 0u);
}

// Never two agents from one add-in object, however its calls come; one that has ended is
// replaced by the next start.
TEST_F(Launcher, OneObjectRunsOneAgent) {
  WritePath(harness::SzBytes(agentPath_));
  ExpectedAgent first(temp_.Path());
  ASSERT_EQ(addin_->OnConnection(&application_, kExtCmAfterStartup, nullptr, nullptr), S_OK);
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);  // while the first launch may be under way
  ASSERT_TRUE(first.WaitStarted());
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);  // while the agent runs
  Sleep(500);
  EXPECT_EQ(NewAgents(), std::vector<DWORD>{first.Record().pid});

  ASSERT_TRUE(TerminateProcess(first.Process(), 7));
  ASSERT_TRUE(first.WaitForExit());
  ExpectedAgent second(temp_.Path());
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
  ASSERT_TRUE(second.WaitStarted());
  EXPECT_EQ(ProcessHandlesTo(first.Record().pid), 1) << "the ended agent's handle is closed";
  EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
  ASSERT_TRUE(second.WaitForExit());
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_EQ(boxes_->Count(), 0u);
}

// Outlook disconnecting while the launch is still on its way: no agent survives, no handle is
// left, no box is shown.
TEST_F(Launcher, DisconnectionDuringTheLaunchLeavesNoAgent) {
  WritePath(harness::SzBytes(agentPath_));
  const int processHandles = OtherProcessHandles();
  for (int round = 0; round < 5; ++round) {
    ASSERT_EQ(addin_->OnConnection(&application_, kExtCmStartup, nullptr, nullptr), S_OK);
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    if (round % 2) Sleep(5 * round);  // at various points of the launch
    ASSERT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
  }
  // The launches end by themselves; then nothing of theirs remains.
  EXPECT_TRUE(Eventually([&] { return NewAgents().empty() && OtherProcessHandles() == processHandles; }))
      << NewAgents().size() << " agents, " << OtherProcessHandles() - processHandles << " handles left";
  Sleep(300);
  EXPECT_TRUE(NewAgents().empty());
  EXPECT_EQ(boxes_->Count(), 0u);
}

TEST_F(Launcher, WithoutAStartedAgentDisconnectionEndsNoProcess) {
  ExpectedAgent bystander(temp_.Path());
  harness::Process started = harness::Process::Launch(agentPath_, " /hidewindow yes");
  ASSERT_TRUE(started.Started());
  ASSERT_TRUE(bystander.WaitStarted());
  for (int removeMode : {0, 1}) {
    EXPECT_EQ(addin_->OnDisconnection(removeMode, nullptr), S_OK);
    EXPECT_EQ(application_.Refs(), 1u);
  }
  EXPECT_FALSE(bystander.WaitForExit(300));
  EXPECT_EQ(bystander.ExitCode(), STILL_ACTIVE);
}

// An object released without a disconnection takes its agent along: nobody could end it later.
TEST_F(Launcher, ReleasingTheObjectEndsItsAgent) {
  WritePath(harness::SzBytes(agentPath_));
  ExpectedAgent agent(temp_.Path());
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
  ASSERT_TRUE(agent.WaitStarted());
  addin_.reset();
  ASSERT_TRUE(agent.WaitForExit());
  EXPECT_EQ(agent.ExitCode(), 0u);
  EXPECT_EQ(ProcessHandlesTo(agent.Record().pid), 1) << "its handle went with the object";
}

}  // namespace
}  // namespace addin_test
