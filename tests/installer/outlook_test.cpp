// The installed product at work: Outlook (the simulator, of either bitness) loads the add-in
// that setup registered, the add-in starts the installed agent, a reminder of a reminder-call
// appointment ends at the stand-in gateway, and Outlook's end ends the agent. Then the
// uninstaller leaves nothing of the add-in behind.
#include <gtest/gtest.h>
#include <ole2.h>

#include <algorithm>
#include <ostream>

#include "tests/harness/message_box_watcher.h"
#include "tests/harness/paths.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"
#include "tests/installer/agent_processes.h"
#include "tests/installer/expectations.h"
#include "tests/installer/installation.h"
#include "tests/installer/registry_view.h"
#include "tools/gateway/gateway_server.h"
#include "tools/outlook-sim/driver/sim_driver.h"

namespace installer_test {
namespace {

using harness::DwordBytes;
using harness::SzBytes;

constexpr DWORD kTimeoutMs = 60000;

struct OutlookBitness {
  const char* name;
  bool is64;
};

void PrintTo(const OutlookBitness& outlook, std::ostream* out) { *out << outlook.name; }

std::wstring SimOf(const OutlookBitness& outlook) { return outlook.is64 ? Sim64Exe() : Sim32Exe(); }

bool HasLineStartingWith(const std::vector<std::string>& log, const std::string& prefix) {
  return std::any_of(log.begin(), log.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// Outlook as installed on the machine: on 64-bit Windows both simulators are registered, as 64-bit
// Outlook registers its interfaces for 32-bit clients too (a 32-bit agent is one).
class InstalledAddinInOutlook : public ::testing::TestWithParam<OutlookBitness> {
 protected:
  void SetUp() override {
    if (GetParam().is64 && !Is64BitWindows()) GTEST_SKIP() << "64-bit Outlook needs 64-bit Windows";
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    oleReady_ = true;
    if (!Sim32Exe().empty()) {
      ASSERT_TRUE(simdriver::SimProcess(Sim32Exe()).Register()) << "outlook-sim.exe (i686) /regserver failed";
    }
    if (Is64BitWindows()) {
      ASSERT_TRUE(simdriver::SimProcess(Sim64Exe()).Register()) << "outlook-sim.exe (x86_64) /regserver failed";
    }
  }
  void TearDown() override {
    if (Is64BitWindows()) simdriver::SimProcess(Sim64Exe()).Unregister();
    if (!Sim32Exe().empty()) simdriver::SimProcess(Sim32Exe()).Unregister();
    if (oleReady_) OleUninitialize();
  }

  CleanSlate clean_;
  bool oleReady_ = false;
};

// Outlook (of the test's bitness) starts with the installed add-in, a reminder of a reminder-call
// appointment ends at the gateway as a request, and Outlook's end ends the agent started from
// `agent` (the add-in's, not another).
void ExpectOutlookStartsTheAgentAndAReminderIsCalled(const OutlookBitness& bitness, const std::wstring& agent) {
  gateway::Server gateway;
  ASSERT_TRUE(gateway.Start());
  gateway.SetAnswer({200, "OK", "[41]"});
  // The user's Setup: the gateway, their name and number.
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, SzBytes("127.0.0.1")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "port", REG_DWORD, DwordBytes(gateway.Port())));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "firstname", REG_SZ, SzBytes("Ann")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "lastname", REG_SZ, SzBytes("Lee")));
  harness::MessageBoxWatcher agentBoxes("Brisomel");
  harness::MessageBoxWatcher addinBoxes("Brisomel Addin");

  simdriver::SimProcess outlook(SimOf(bitness));
  ASSERT_TRUE(outlook.Start(
      "item 1 class \"IPM.Appointment.ReminderCall\" start +15m minutes 15\n"
      "item 1 subject \"Budget review\" location \"Room 4\" body \"Bring the figures\"\n"
      "item 1 prop notifycall text \"555-0100\"\n"
      "wait-advise 60s\n"
      "fire 1\n"
      "sleep 120s\n"));
  ASSERT_TRUE(simdriver::PumpUntil([&] { return gateway.RequestCount() >= 1; }, kTimeoutMs))
      << "no call request; the simulator's log:\n"
      << [&] {
           std::string text;
           for (const std::string& line : outlook.Log()) text += line + "\n";
           return text;
         }();
  EXPECT_EQ(ProcessesStartedFrom(agent).size(), 1u) << "the add-in did not start the installed agent";

  outlook.RequestQuit();
  DWORD exitCode = 1;
  ASSERT_TRUE(outlook.WaitForExit(kTimeoutMs, &exitCode));
  EXPECT_EQ(exitCode, 0u);

  const std::vector<std::string> log = outlook.Log();
  EXPECT_TRUE(HasLineStartingWith(log, "Addin Brisomel.Addin OnStartupComplete hr=0x00000000"));
  EXPECT_TRUE(HasLineStartingWith(log, "Advise cookie="));
  EXPECT_TRUE(HasLineStartingWith(log, "Event 0xF004 Item#1 cookie=1 hr=0x00000000"));
  EXPECT_TRUE(HasLineStartingWith(log, "Addin Brisomel.Addin OnDisconnection(0) hr=0x00000000"));

  const std::vector<gateway::RecordedRequest> requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/ocall/callreqHandler.jsp");
  EXPECT_EQ(requests[0].body.rfind("calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=", 0), 0u)
      << requests[0].body;
  EXPECT_NE(requests[0].body.find("Ann+Lee"), std::string::npos) << requests[0].body;
  EXPECT_NE(requests[0].body.find("Budget+review"), std::string::npos) << requests[0].body;

  // Outlook's end ended the agent the add-in had started.
  EXPECT_TRUE(WaitFor([&] { return ProcessesStartedFrom(agent).empty(); }, 10000));
  EXPECT_EQ(agentBoxes.Count(), 0u);
  EXPECT_EQ(addinBoxes.Count(), 0u);
}

TEST_P(InstalledAddinInOutlook, StartsTheAgentAndAReminderEndsAtTheGateway) {
  ASSERT_EQ(RunSetup("/S"), 0);
  const std::string agent = InstalledFile("cadelo.exe");
  ExpectOutlookStartsTheAgentAndAReminderIsCalled(GetParam(), std::wstring(agent.begin(), agent.end()));

  ASSERT_EQ(RunUninstaller("/S"), 0);
  ExpectNoClasses();
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kOutlookAddinKey));
  EXPECT_FALSE(FolderExists(InstallDir()));
}

std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring PathValue() {
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Brisomel\\tarnwick\\1.0", L"path", RRF_RT_REG_SZ, nullptr, value,
                   &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return value;
}

// A user whose profile folder the ANSI code page cannot spell (C:\Users\Łukasz on a code-page-1252
// system): setup stores the agent's path, the agent's own visible start stores it again, the
// add-in starts the agent by it, and a reminder is called.
TEST_P(InstalledAddinInOutlook, InAFolderOutsideTheAnsiCodePageAReminderEndsAtTheGateway) {
  harness::TempDir temp;
  const std::string base = temp.Path();
  const std::wstring folder = std::wstring(base.begin(), base.end()) + L"\\\u0141ukasz \u65e5\u672c\\Brisomel";
  ASSERT_EQ(RunSetup(L"/S /D=" + folder), 0);
  const std::wstring agent = folder + L"\\cadelo.exe";
  EXPECT_EQ(Utf8(PathValue()), Utf8(agent)) << "as setup stored it";

  // Opened once from the Start menu: its visible start records its path and registers the add-in.
  {
    harness::Process opened = harness::Process::Launch(agent, L"\"" + agent + L"\"", ChildEnvironment());
    ASSERT_TRUE(opened.Started()) << opened.LaunchError();
    HWND frame = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      for (HWND window : harness::FindTopLevelWindows(opened.Pid())) {
        if (IsWindowVisible(window)) frame = window;
      }
      return frame != nullptr;
    }, kTimeoutMs));
    ASSERT_TRUE(WaitFor([] { return ProcessesNamed("regsvr32.exe").empty(); }, kTimeoutMs));
    PostMessageA(frame, WM_CLOSE, 0, 0);
    ASSERT_TRUE(opened.WaitForExit(kTimeoutMs));
  }
  EXPECT_EQ(Utf8(PathValue()), Utf8(agent)) << "as the agent stored it";

  ExpectOutlookStartsTheAgentAndAReminderIsCalled(GetParam(), agent);

  // Removed the way Add/Remove Programs does it.
  wchar_t quiet[1024] = {};
  DWORD size = sizeof quiet;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brisomel",
                         L"QuietUninstallString", RRF_RT_REG_SZ, nullptr, quiet, &size),
            ERROR_SUCCESS);
  const std::wstring uninstaller = folder + L"\\uninstall.exe";
  EXPECT_EQ(Utf8(quiet), Utf8(L"\"" + uninstaller + L"\" /S"));
  harness::Process removal = harness::Process::Launch(uninstaller, quiet, ChildEnvironment());
  ASSERT_TRUE(removal.Started());
  EXPECT_TRUE(WaitFor([&] { return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES; }, kTimeoutMs));
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kOutlookAddinKey));
}

// 32-bit Outlook only where these tests have its simulator (see Sim32Exe).
const OutlookBitness kOutlooks[] = {
#ifdef SIM32_EXE
    {"Outlook32", false},
#endif
    {"Outlook64", true},
};

INSTANTIATE_TEST_SUITE_P(Bitness, InstalledAddinInOutlook, ::testing::ValuesIn(kOutlooks),
                         [](const ::testing::TestParamInfo<OutlookBitness>& info) { return info.param.name; });

}  // namespace
}  // namespace installer_test
