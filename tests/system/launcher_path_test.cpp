// The add-in inside Outlook (the simulator) starts the real agent from the `path` value. Where the
// value's text ends and which types and lengths are taken are the native table's
// (AddinApplicationName) and the launcher's (Launcher.*); here is what only whole processes show:
// the agent runs and calls from folders with blanks, with characters of the ANSI code page and
// beyond it and at the 259-character limit, a variable resolves in Outlook's environment, and
// it is ended when Outlook shuts down. An unusable path gives the add-in's message, shown inside
// Outlook after Outlook's call has returned, no process, and once the path is repaired the next
// start of Outlook works again.
#include <gtest/gtest.h>

#include <cstdio>

#include "common/win/handles.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/harness/patience.h"
#include "tests/system/agent_census.h"
#include "tests/system/agent_copy.h"
#include "tests/system/system_rig.h"

namespace systemtest {
namespace {

constexpr char kNoKeyValue[] = "Cannot find Brisomel. Please run it again";
constexpr char kNotStarted[] = "Failed to start Brisomel Addin";
constexpr char kStartupReturned[] = "Addin Brisomel.Addin OnStartupComplete hr=0x00000000";

using Bytes = std::vector<unsigned char>;

Bytes Sz(const std::string& text) { return harness::SzBytes(text); }

const std::string kReminderScript = ReminderItem("1", "launched", "555-4000") + "wait-advise 30s 1\nfire 1\nnote done\n";

class LauncherPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Ok());
    ASSERT_TRUE(rig_.RegisterAddin());
    ASSERT_TRUE(standard_.Ok());
  }

  // Outlook starts with `path` as given: the add-in starts the agent from `exePath`, which
  // connects and calls; at Outlook's end the add-in ends it.
  // wide: `path` holds UTF-16 text, written with the wide registry API.
  void ExpectAgentRunsFrom(const std::string& exePath, DWORD type, const Bytes& path, bool wide = false) {
    rig_.AdoptAgentsOf(exePath);
    if (wide) {
      win::RegKey key;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Brisomel\\tarnwick\\1.0", 0, nullptr, 0,
                                KEY_SET_VALUE, nullptr, key.put(), nullptr),
                ERROR_SUCCESS);
      ASSERT_EQ(RegSetValueExW(key.get(), L"path", 0, type, path.data(), static_cast<DWORD>(path.size())),
                ERROR_SUCCESS);
    } else {
      rig_.WriteSetting("path", type, path);
    }
    const size_t before = rig_.Gateway().RequestCount();
    ASSERT_TRUE(rig_.StartOutlook(kReminderScript, true));
    ASSERT_TRUE(rig_.WaitForNextAdvise()) << "no agent connected";
    ASSERT_TRUE(rig_.WaitForRequests(before + 1, 20000));
    EXPECT_EQ(PhoneOf(rig_.Gateway().Requests()[before]), "5554000");
    EXPECT_EQ(ProcessesOf(exePath).size(), 1u) << "the agent runs from " << exePath;
    EXPECT_GE(rig_.OutlookLog().Find("Addin Brisomel.Addin OnStartupComplete hr=0x00000000"), 0);
    ASSERT_TRUE(rig_.QuitOutlook());
    EXPECT_TRUE(PumpWhile([&] { return ProcessesOf(exePath).empty(); }, 10000, 50)) << "the agent outlived Outlook";
  }

  // Outlook starts with a `path` that cannot start the agent: the add-in says `message` and
  // starts nothing. Then the path is repaired and the next start of Outlook works.
  void ExpectRefusedThenRepaired(DWORD type, const Bytes& path, const std::string& message) {
    harness::MessageBoxWatcher boxes(kAddinCaption);
    rig_.WriteSetting("path", type, path);
    ASSERT_TRUE(rig_.StartOutlook("note loaded\n", true));
    ASSERT_GE(rig_.OutlookLog().WaitFor("Note loaded", 30000), 0);
    ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs));
    EXPECT_EQ(boxes.Seen()[0].text, message);
    EXPECT_EQ(boxes.Seen()[0].pid, GetProcessId(rig_.OutlookProcess())) << "shown inside Outlook";
    EXPECT_GE(rig_.OutlookLog().Find(kStartupReturned), 0) << "the launch's failure is no failure of Outlook's call";
    EXPECT_EQ(rig_.OutlookLog().Count("Advise cookie="), 0u);
    ASSERT_TRUE(rig_.QuitOutlook());
    EXPECT_EQ(boxes.Count(), 1u);

    ExpectAgentRunsFrom(Standard(), REG_SZ, Sz(Standard()));
  }

  std::string Standard() const { return standard_.AnsiPath(); }

  SystemRig rig_;
  AgentCopy standard_{{L"Brisomel"}, L"cadelo"};
};

TEST_F(LauncherPaths, APathWithBlanksStartsTheAgent) {
  AgentCopy copy({L"Program Files", L"Bris omel"}, L"cadelo agent");
  ASSERT_TRUE(copy.Ok());
  ExpectAgentRunsFrom(copy.AnsiPath(), REG_SZ, Sz(copy.AnsiPath()));
}

TEST_F(LauncherPaths, APathWithCharactersOfTheAnsiCodePageStartsTheAgent) {
  AgentCopy copy({L"Brisom\u00e9l \u00c4rger"}, L"cad\u00e9lo");
  ASSERT_TRUE(copy.Ok());
  if (!copy.AnsiRoundTrips()) GTEST_SKIP() << "code page " << GetACP() << " lacks these characters";
  ExpectAgentRunsFrom(copy.AnsiPath(), REG_SZ, Sz(copy.AnsiPath()));
}

// A user folder such as C:\Users\Łukasz: stored as UTF-16 (as the agent and setup store it),
// read and started as UTF-16, whatever the ANSI code page lacks.
TEST_F(LauncherPaths, APathBeyondTheAnsiCodePageStartsTheAgent) {
  AgentCopy copy({L"\u0141ukasz \u65e5\u672c\u8a9e"}, L"cadelo");
  ASSERT_TRUE(copy.Ok());
  const std::wstring& path = copy.Path();
  const auto* bytes = reinterpret_cast<const unsigned char*>(path.c_str());
  ExpectAgentRunsFrom(copy.AnsiPath(), REG_SZ, Bytes(bytes, bytes + (path.size() + 1) * sizeof(wchar_t)), true);
}

TEST_F(LauncherPaths, APathOf259CharactersStartsTheAgent) {
  AgentCopy copy({L"Brisomel"}, L"cadelo", 259);
  ASSERT_TRUE(copy.Ok());
  ASSERT_EQ(copy.AnsiPath().size(), 259u);
  ExpectAgentRunsFrom(copy.AnsiPath(), REG_SZ, Sz(copy.AnsiPath()));
}

TEST_F(LauncherPaths, VariablesResolveInOutlooksEnvironmentAndUnusablePathsAreRepaired) {
  struct Row {
    const char* name;
    DWORD type;
    Bytes bytes;
    const char* message;  // null: the agent starts
  };
  const std::string good = Standard();
  // Outlook, and the add-in in it, inherits this: a per-user location as administrators deploy it.
  const size_t cut = good.rfind('\\');
  ASSERT_TRUE(SetEnvironmentVariableA("BRISOMEL_TEST_AGENT_FOLDER", good.substr(0, cut).c_str()));
  ASSERT_TRUE(SetEnvironmentVariableA("BRISOMEL_TEST_LONG_FOLDER", std::string(300, 'f').c_str()));
  const Row rows[] = {
      {"REG_EXPAND_SZ with a variable", REG_EXPAND_SZ, Sz("%BRISOMEL_TEST_AGENT_FOLDER%" + good.substr(cut)), nullptr},
      {"naming no file", REG_SZ, Sz(good + ".missing.exe"), kNotStarted},
      {"unknown variable", REG_EXPAND_SZ, Sz("%BRISOMEL_NO_SUCH_FOLDER%\\cadelo.exe"), kNotStarted},
      {"expanding beyond 259 characters", REG_EXPAND_SZ, Sz("%BRISOMEL_TEST_LONG_FOLDER%\\cadelo.exe"), kNoKeyValue},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.message) {
      ExpectRefusedThenRepaired(row.type, row.bytes, row.message);
    } else {
      ExpectAgentRunsFrom(good, row.type, row.bytes);
    }
  }
}

}  // namespace
}  // namespace systemtest
