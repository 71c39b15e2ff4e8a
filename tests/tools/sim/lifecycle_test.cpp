// How the simulator starts and ends: started by COM (-Embedding), script errors, the idle phase,
// and a busy Outlook rejecting calls.
#include <gtest/gtest.h>

#include "tests/tools/sim/sim_test_support.h"

namespace simtest {
namespace {

using simdriver::PumpUntil;
using simdriver::SimProcess;

TEST(Lifecycle, StartedByComServesUntilTheLastClientLeaves) {
  Apartment apartment;
  SimProcess sim(SimExe());
  const std::wstring log = simdriver::TempFileName(L"outlook-sim-embedded", L".log");
  ASSERT_TRUE(sim.Register(L"/log \"" + log + L"\" /linger 20"));
  {
    win::ComPtr<IDispatch> app;
    ASSERT_EQ(CreateOutlook(&app), S_OK);
    VARIANT v;
    ASSERT_EQ(Get(app.get(), 0x116, &v), S_OK);
    EXPECT_EQ(BstrOf(v), L"16.0.0.1");
    VariantClear(&v);
  }
  const bool ended = PumpUntil([&] { return HasLine(simdriver::ReadLines(log), "Exit code=0"); }, 20000);
  const std::vector<std::string> lines = simdriver::ReadLines(log);
  DeleteFileW(log.c_str());
  ASSERT_TRUE(sim.Register());
  ASSERT_TRUE(ended);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Start pid=", 0), 0u);
  EXPECT_NE(lines[0].find(" mode=embedding"), std::string::npos);
  const std::vector<std::string> rest(lines.begin() + 1, lines.end());
  EXPECT_EQ(rest, (std::vector<std::string>{"Ready", "CreateInstance", "Application Version get", "Quit", "Exit code=0"}));
}

TEST(Lifecycle, ScriptErrorsEndTheSimulatorBeforeItServes) {
  const struct {
    const char* script;
    const char* line;
  } cases[] = {
      {"item 1\nfire 2\n", "Error script line 2: item '2' is not defined before this line"},
      {"sleep 5\n", "Error script line 1: duration '5' needs a unit ms, s, m or h"},
  };
  for (const auto& c : cases) {
    SimProcess sim(SimExe());
    EXPECT_FALSE(sim.Start(c.script, L"", 5000));
    DWORD exitCode = 0;
    ASSERT_TRUE(sim.WaitForExit(10000, &exitCode));
    EXPECT_EQ(exitCode, 2u);
    const std::vector<std::string> log = sim.Log();
    EXPECT_TRUE(HasLine(log, c.line)) << c.line;
    EXPECT_FALSE(HasLine(log, "Ready"));
  }
}

TEST(Lifecycle, LingersWhileAClientHoldsAReferenceAndTimesOut) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("sleep 300ms\nrefcounts\nnote end", L"/linger 1"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  DWORD exitCode = 0;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 3u);
  const std::vector<std::string> log = sim.Log();
  EXPECT_TRUE(HasLine(log, "Linger timeout"));
  const std::vector<std::string> counts = WithPrefix(log, "Refcount Application external=");
  ASSERT_EQ(counts.size(), 1u);
  EXPECT_NE(counts[0].rfind("Refcount Application external=0 ", 0), 0u) << counts[0];
}

TEST(Lifecycle, EndsOnceTheLastClientHasLeft) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("wait-advise 20s\nwait-unadvise 20s\nrefcounts\nnote end", L"/linger 20"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  TestSink sink(nullptr);
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_EQ(UnadviseSink(app.get(), cookie), S_OK);
  ASSERT_TRUE(sim.WaitForLine("Note end", 20000));
  EXPECT_TRUE(PumpUntil([] { return false; }, 200) == false);
  DWORD exitCode = 0;
  EXPECT_EQ(WaitForSingleObject(sim.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still held by the client";
  app.reset();
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_FALSE(HasLine(sim.Log(), "Linger timeout"));
}

TEST(Lifecycle, QuitRequestEndsARunningScriptCleanly) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("sleep 60s\nnote never"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  sim.RequestQuit();
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  const std::vector<std::string> log = sim.Log();
  EXPECT_EQ(Between(log, "CreateInstance", "Exit code=0"), (std::vector<std::string>{"Quit requested", "Quit"}));
  // The class registration went with it: the next client starts a new simulator.
  app.reset();
  SimProcess next(SimExe());
  ASSERT_TRUE(next.Start("sleep 20s"));
  EXPECT_EQ(CreateOutlook(&app), S_OK);
  app.reset();
  next.RequestQuit();
  ASSERT_TRUE(next.WaitForExit(20000, nullptr));
}

TEST(Lifecycle, BusyTurnsIncomingCallsAway) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("wait-advise 20s\nbusy 2s\nnote retry\nwait-unadvise 20s\nquit\n"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  TestSink sink(nullptr);
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(sim.WaitForLine("Note retry", 20000));
  VARIANT v;
  const HRESULT retryLater = Get(app.get(), 0x116, &v);
  VariantClear(&v);
  EXPECT_TRUE(HasLine(sim.Log(), "Busy retry-later call"));
  // Wine 8 serves a call its filter asked to retry later; Windows hands the client a rejection.
  EXPECT_TRUE(retryLater == S_OK || retryLater == RPC_E_CALL_REJECTED || retryLater == RPC_E_SERVERCALL_RETRYLATER)
      << std::hex << retryLater;
  EXPECT_EQ(UnadviseSink(app.get(), cookie), S_OK);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
}

TEST(Lifecycle, BusyRejectingRefusesIncomingCalls) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("wait-advise 20s\nbusy 1s reject\nnote reject\nsleep 1s\nnote served\nwait-unadvise 20s\nquit\n"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  TestSink sink(nullptr);
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(sim.WaitForLine("Note reject", 20000));
  VARIANT v;
  EXPECT_EQ(Get(app.get(), 0x116, &v), RPC_E_CALL_REJECTED);
  ASSERT_TRUE(sim.WaitForLine("Note served", 20000));
  EXPECT_EQ(Get(app.get(), 0x116, &v), S_OK);
  VariantClear(&v);
  EXPECT_EQ(UnadviseSink(app.get(), cookie), S_OK);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  const std::vector<std::string> log = sim.Log();
  EXPECT_TRUE(HasLine(log, "Busy for 1000ms reject"));
  EXPECT_TRUE(HasLine(log, "Busy rejected call"));
  EXPECT_FALSE(HasLine(Between(log, "Note reject", "Note served"), "Application Version get"));
  EXPECT_TRUE(HasLine(Between(log, "Note served", "Quit"), "Application Version get"));
}

}  // namespace
}  // namespace simtest
