// The add-in starting the agent when the host's start-up completes and ending it when the host
// disconnects, with a stand-in agent that reports how it was started.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "tests/addin/absent_key_guard.h"
#include "tests/addin/fake_application.h"
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

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// A folder name with blanks and, where the ANSI code page has it, a non-ASCII letter.
std::string AgentFolderName() {
  char e[4];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"\u00e9", 1, e, sizeof e,
                                    nullptr, &usedDefault);
  return "Brisomel Agent " + (n > 0 && !usedDefault ? std::string(e, n) + "t" : std::string("x"));
}

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.Path().empty());
    agentPath_ = InstallStandInAgent(temp_.File(AgentFolderName()));
    ASSERT_FALSE(agentPath_.empty());
    addin_ = CreateAddin();
    ASSERT_TRUE(addin_);
    ASSERT_EQ(addin_->OnConnection(&application_, 0, nullptr, nullptr), S_OK);
    agentsBefore_ = ChildAgentPids();
    WatchBoxesAfresh();
  }
  void TearDown() override {
    if (addin_) addin_->OnDisconnection(0, nullptr);
    addin_.reset();
    EXPECT_EQ(application_.References(), 1);
    EXPECT_EQ(RegistryKeyHandlesTo(kSettingsKeySuffix), 0) << "settings key left open";
    // Whatever a failed test left running.
    for (DWORD pid : NewAgents()) {
      fw::KernelHandle child(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
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
  // A box would block the test: one watcher is always there to close it. Restarting it forgets
  // the boxes seen so far.
  void WatchBoxesAfresh() {
    boxes_.reset();
    boxes_.emplace("Brisomel Addin");
  }
  // The one box a failed start shows, closed by the watcher.
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
  FakeApplication application_;
  fw::ComPtr<IDTExtensibility2> addin_;
  std::string agentPath_;
  std::vector<DWORD> agentsBefore_;
};

TEST_F(Launcher, StartsTheAgentUnquotedWithExactlyItsOptionsAndEndsItOnDisconnection) {
  ASSERT_NE(agentPath_.find(' '), std::string::npos);
  for (int removeMode : {0, 1}) {
    SCOPED_TRACE("remove mode " + std::to_string(removeMode));
    ASSERT_EQ(addin_->OnConnection(&application_, 0, nullptr, nullptr), S_OK);
    WritePath(harness::SzBytes(agentPath_));
    ExpectedAgent agent(temp_.Path());
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    ASSERT_TRUE(agent.WaitStarted());
    EXPECT_EQ(agent.Record().commandLine, " /hidewindow yes");
    EXPECT_EQ(agent.Record().module, agentPath_);
    EXPECT_EQ(boxes_->Count(), 0u);
    // The add-in keeps the process handle only: ours plus its own.
    EXPECT_EQ(ProcessHandlesTo(agent.Record().pid), 2);
    EXPECT_EQ(ThreadHandlesOf(agent.Record().pid), 0);
    EXPECT_EQ(RegistryKeyHandlesTo(kSettingsKeySuffix), 0);
    EXPECT_EQ(application_.References(), 2);

    EXPECT_EQ(addin_->OnDisconnection(removeMode, nullptr), S_OK);
    ASSERT_TRUE(agent.WaitForExit());
    EXPECT_EQ(agent.ExitCode(), 0u);
    EXPECT_EQ(ProcessHandlesTo(agent.Record().pid), 1) << "the add-in's handle stays open";
    EXPECT_EQ(application_.References(), 1);
  }
}

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
      {"text after the NUL", REG_SZ, Bytes(path + std::string("\0C:\\other.exe", 14))},
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

// The application name has room for 259 characters. A longer text must not be cut to fit: here
// its first 259 characters name a real agent, which must not be started.
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
  for (size_t length : {260u, 300u, 1023u, 1024u}) {
    SCOPED_TRACE(std::to_string(length) + " characters");
    WatchBoxesAfresh();
    WritePath(harness::SzBytes(path259 + std::string(length - 259, 'x')));
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), E_FAIL);
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
    fw::FileHandle notAProgram(CreateFileA(temp_.File("agent-record.txt").c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(notAProgram);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    harness::DeleteTree(HKEY_CURRENT_USER, kSettingsKey);
    if (c.createKey) {
      ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ,
                                      harness::SzBytes("localhost")));
    }
    if (c.writePath) WritePath(harness::SzBytes(c.path));
    WatchBoxesAfresh();
    ASSERT_EQ(addin_->OnStartupComplete(nullptr), E_FAIL);
    ExpectOneMessage(c.message);
    EXPECT_TRUE(NewAgents().empty());
    EXPECT_EQ(RegistryKeyHandlesTo(kSettingsKeySuffix), 0);
  }
}

struct LocalFreeDeleter {
  void operator()(void* p) const { LocalFree(p); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalFreeDeleter>;

// Sets a key's access list from SDDL; true on success.
bool SetKeyAccess(const char* key, const char* sddl) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &raw, nullptr))
    return false;
  SecurityDescriptor sd(raw);
  fw::RegKey k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, WRITE_DAC, k.put()) != ERROR_SUCCESS) {
    k.release();
    return false;
  }
  return RegSetKeySecurity(k.get(), DACL_SECURITY_INFORMATION, sd.get()) == ERROR_SUCCESS;
}

TEST_F(Launcher, SettingsKeyWithoutFullAccessCountsAsMissing) {
  WritePath(harness::SzBytes(agentPath_));
  // Everyone may read the key and change its access list, nothing more.
  ASSERT_TRUE(SetKeyAccess(kSettingsKey, "D:P(A;;KRWD;;;WD)"));
  const HRESULT started = addin_->OnStartupComplete(nullptr);
  EXPECT_TRUE(SetKeyAccess(kSettingsKey, "D:(A;;KA;;;WD)"));
  EXPECT_EQ(started, E_FAIL);
  ExpectOneMessage(kNoKeyMessage);
  EXPECT_TRUE(NewAgents().empty());
}

TEST_F(Launcher, AFailedStartKeepsTheRunningAgent) {
  WritePath(harness::SzBytes(agentPath_));
  ExpectedAgent agent(temp_.Path());
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
  ASSERT_TRUE(agent.WaitStarted());
  WritePath(harness::SzBytes(temp_.File("missing.exe")));
  EXPECT_EQ(addin_->OnStartupComplete(nullptr), E_FAIL);
  ExpectOneMessage(kStartFailedMessage);
  EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
  ASSERT_TRUE(agent.WaitForExit());
  EXPECT_EQ(agent.ExitCode(), 0u);
}

TEST_F(Launcher, ASecondStartupStartsASecondAgentAndOnlyThatOneIsEnded) {
  WritePath(harness::SzBytes(agentPath_));
  ExpectedAgent first(temp_.Path());
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
  ASSERT_TRUE(first.WaitStarted());
  ExpectedAgent second(temp_.Path());
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
  ASSERT_TRUE(second.WaitStarted());
  EXPECT_NE(first.Record().pid, second.Record().pid);
  EXPECT_EQ(ProcessHandlesTo(first.Record().pid), 1) << "the replaced handle is closed";
  EXPECT_EQ(ProcessHandlesTo(second.Record().pid), 2);

  EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
  ASSERT_TRUE(second.WaitForExit());
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_EQ(first.ExitCode(), STILL_ACTIVE) << "the first agent is no longer the add-in's";
  EXPECT_EQ(boxes_->Count(), 0u);
}

TEST_F(Launcher, WithoutAStartedAgentDisconnectionEndsNoProcess) {
  ExpectedAgent bystander(temp_.Path());
  harness::Process started = harness::Process::Launch(agentPath_, " /hidewindow yes");
  ASSERT_TRUE(started.Started());
  ASSERT_TRUE(bystander.WaitStarted());
  for (int removeMode : {0, 1}) {
    EXPECT_EQ(addin_->OnDisconnection(removeMode, nullptr), S_OK);
    EXPECT_EQ(application_.References(), 1);
  }
  EXPECT_FALSE(bystander.WaitForExit(300));
  EXPECT_EQ(bystander.ExitCode(), STILL_ACTIVE);
}

TEST_F(Launcher, ReleasingTheObjectLeavesTheAgentRunning) {
  WritePath(harness::SzBytes(agentPath_));
  ExpectedAgent agent(temp_.Path());
  ASSERT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
  ASSERT_TRUE(agent.WaitStarted());
  addin_.reset();
  EXPECT_EQ(ProcessHandlesTo(agent.Record().pid), 1) << "its handle went with the object";
  EXPECT_EQ(agent.ExitCode(), STILL_ACTIVE);
}

}  // namespace
}  // namespace addin_test
