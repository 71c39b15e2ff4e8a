// Add-in loading as Outlook does it: the registered add-ins with LoadBehavior 3 are created in
// process and driven through IDTExtensibility2 at start, on removal and at shutdown.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/tools/sim/sim_test_support.h"

namespace simtest {
namespace {

using simdriver::SimProcess;

const wchar_t kAddinClsid[] = L"{5E0C7A4B-91D2-4F63-8A1E-2B7C9D04E6F1}";
const wchar_t kAddinsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";

void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  win::RegKey key;
  ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr), ERROR_SUCCESS);
  RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
  win::RegKey key;
  ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr), ERROR_SUCCESS);
  RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The test add-in registered as an in-process server and as an Outlook add-in, plus one add-in
// that is switched off and one whose ProgID does not exist; everything is removed afterwards.
class AddinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    addinLog_ = simdriver::TempFileName(L"sim-test-addin", L".log");
    SetEnvironmentVariableW(L"OUTLOOK_SIM_TEST_ADDIN_LOG", addinLog_.c_str());
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kAddinClsid;
    SetString(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", nullptr, TestAddinDll());
    SetString(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    SetString(HKEY_CLASSES_ROOT, L"SimTest.Addin\\CLSID", nullptr, kAddinClsid);
    const std::wstring addins = kAddinsKey;
    SetDword(HKEY_CURRENT_USER, addins + L"\\SimTest.Addin", L"LoadBehavior", 3);
    SetDword(HKEY_CURRENT_USER, addins + L"\\SimTest.Off", L"LoadBehavior", 2);
    SetDword(HKEY_CURRENT_USER, addins + L"\\SimTest.Missing", L"LoadBehavior", 3);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kAddinClsid).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"SimTest.Addin");
    for (const wchar_t* name : {L"SimTest.Addin", L"SimTest.Off", L"SimTest.Missing"}) {
      RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kAddinsKey) + L"\\" + name).c_str());
    }
    for (const wchar_t* name : {L"OUTLOOK_SIM_TEST_ADDIN_LOG", L"OUTLOOK_SIM_TEST_ADDIN_STARTUP_MS",
                                L"OUTLOOK_SIM_TEST_ADDIN_FAIL_CONNECT"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    DeleteFileW(addinLog_.c_str());
  }
  std::vector<std::string> AddinLog() const { return simdriver::ReadLines(addinLog_); }

  std::wstring addinLog_;
};

// "Addin SimTest.Addin OnConnection hr=0x00000000 ms=0.123" without its duration.
std::vector<std::string> AddinCalls(const std::vector<std::string>& log) {
  std::vector<std::string> out;
  for (const std::string& line : WithPrefix(log, "Addin ")) out.push_back(line.substr(0, line.find(" ms=")));
  return out;
}

double MsOf(const std::vector<std::string>& log, const std::string& prefix) {
  const std::vector<std::string> lines = WithPrefix(log, prefix);
  if (lines.empty()) return -1;
  return std::stod(lines[0].substr(lines[0].find(" ms=") + 4));
}

TEST_F(AddinTest, LoadedAtStartAndShutDownInOutlooksOrder) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("refcounts\nnote running\nquit\n"));
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  const std::vector<std::string> log = sim.Log();
  // Add-ins come in registry order; each one's own calls come in Outlook's order.
  std::vector<std::string> atStart = AddinCalls(Between(log, "Ready", "Refcount "));
  std::sort(atStart.begin(), atStart.end());
  EXPECT_EQ(atStart, (std::vector<std::string>{
                         "Addin SimTest.Addin OnConnection hr=0x00000000",
                         "Addin SimTest.Addin OnStartupComplete hr=0x00000000",
                         "Addin SimTest.Missing load -> CLSIDFromProgID CO_E_CLASSSTRING",
                         "Addin SimTest.Off skipped LoadBehavior=2",
                     }));
  EXPECT_EQ(AddinCalls(WithPrefix(log, "Addin SimTest.Addin On")).front(), "Addin SimTest.Addin OnConnection hr=0x00000000");
  // The add-in read Version through the Application it was given, in process.
  EXPECT_TRUE(HasLine(Between(log, "Ready", "Addin SimTest.Addin OnConnection"), "Application Version get"));
  // Its reference on the Application belongs to Outlook's side, not to a client.
  EXPECT_TRUE(HasPrefix(log, "Refcount Application external=0 "));
  EXPECT_EQ(AddinCalls(Between(log, "Quit", "Exit code=0")),
            (std::vector<std::string>{
                "Addin SimTest.Addin OnBeginShutdown hr=0x00000000",
                "Addin SimTest.Addin OnDisconnection(0) hr=0x00000000",
                "Addin SimTest.Addin Release refs=0",
            }));
  EXPECT_EQ(AddinLog(), (std::vector<std::string>{
                            "OnConnection mode=1 version=16.0.0.1 instance=yes custom=0",
                            "OnStartupComplete custom=0",
                            "OnBeginShutdown custom=0",
                            "OnDisconnection mode=0 custom=0",
                            "Destroyed",
                        }));
}

// Installed for every user of the machine: the machine's list (HKLM) adds the add-ins the user's
// list does not name; one the user's list names is the user's, here switched off.
TEST_F(AddinTest, TheMachinesAddinsJoinThoseTheUserDoesNotList) {
  const std::wstring addins = kAddinsKey;
  SetDword(HKEY_LOCAL_MACHINE, addins + L"\\SimTest.Machine", L"LoadBehavior", 3);
  SetDword(HKEY_LOCAL_MACHINE, addins + L"\\SimTest.Off", L"LoadBehavior", 3);
  SetDword(HKEY_LOCAL_MACHINE, addins + L"\\SimTest.MachineOff", L"LoadBehavior", 0);
  SetString(HKEY_CLASSES_ROOT, L"SimTest.Machine\\CLSID", nullptr, kAddinClsid);
  RegDeleteTreeW(HKEY_CURRENT_USER, (addins + L"\\SimTest.Addin").c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, (addins + L"\\SimTest.Missing").c_str());
  SimProcess sim(SimExe());
  const bool started = sim.Start("note running\nquit\n");
  DWORD exitCode = 99;
  const bool ended = started && sim.WaitForExit(20000, &exitCode);
  for (const wchar_t* name : {L"SimTest.Machine", L"SimTest.Off", L"SimTest.MachineOff"}) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (addins + L"\\" + name).c_str());
  }
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L"SimTest.Machine");
  ASSERT_TRUE(ended);
  std::vector<std::string> atStart = AddinCalls(Between(sim.Log(), "Ready", "Note running"));
  std::sort(atStart.begin(), atStart.end());
  EXPECT_EQ(atStart, (std::vector<std::string>{
                         "Addin SimTest.Machine OnConnection hr=0x00000000",
                         "Addin SimTest.Machine OnStartupComplete hr=0x00000000",
                         "Addin SimTest.MachineOff skipped LoadBehavior=0 (machine)",
                         "Addin SimTest.Off skipped LoadBehavior=2",
                     }));
}

TEST_F(AddinTest, RemovedByTheUserWhileRunning) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("remove-addin simtest.addin\nremove-addin SimTest.Addin\nquit\n"));
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  const std::vector<std::string> log = sim.Log();
  const std::vector<std::string> calls = AddinCalls(WithPrefix(log, "Addin SimTest.Addin "));
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(calls.begin() + 2, calls.end()),
            (std::vector<std::string>{
                "Addin SimTest.Addin OnDisconnection(1) hr=0x00000000",
                "Addin SimTest.Addin Release refs=0",
                "Addin SimTest.Addin remove -> not loaded",
            }));
  EXPECT_TRUE(Between(log, "Quit", "Exit code=0").empty()) << "nothing left to shut down";
  const std::vector<std::string> addin = AddinLog();
  ASSERT_EQ(addin.size(), 4u);
  EXPECT_EQ(addin[2], "OnDisconnection mode=1 custom=0");
  EXPECT_EQ(addin[3], "Destroyed");
}

TEST_F(AddinTest, CallsAreTimedAndAFailedConnectionIsNotKept) {
  SetEnvironmentVariableW(L"OUTLOOK_SIM_TEST_ADDIN_STARTUP_MS", L"150");
  {
    SimProcess sim(SimExe());
    ASSERT_TRUE(sim.Start("quit\n"));
    ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
    // A lower bound only: the measured time includes the add-in's own 150 ms.
    EXPECT_GE(MsOf(sim.Log(), "Addin SimTest.Addin OnStartupComplete "), 150.0);
  }
  SetEnvironmentVariableW(L"OUTLOOK_SIM_TEST_ADDIN_FAIL_CONNECT", L"1");
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("quit\n"));
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  const std::vector<std::string> calls = AddinCalls(WithPrefix(sim.Log(), "Addin SimTest.Addin"));
  EXPECT_EQ(calls, (std::vector<std::string>{"Addin SimTest.Addin OnConnection hr=0x80004005",
                                             "Addin SimTest.Addin Release refs=0"}));
}

TEST_F(AddinTest, NotLoadedWithNoAddins) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("quit\n", L"/noaddins"));
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  EXPECT_FALSE(HasPrefix(sim.Log(), "Addin "));
  EXPECT_TRUE(AddinLog().empty());
}

}  // namespace
}  // namespace simtest
