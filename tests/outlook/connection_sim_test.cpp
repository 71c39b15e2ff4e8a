// The Outlook connection step and the exit step against the simulator: which versions connect,
// what the user is told, who holds which reference, and when the sink is unadvised.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "agent/calls/reminder_call.h"
#include "agent/outlook/outlook_connection.h"
#include "tests/harness/patience.h"
#include "tests/outlook/sim_support.h"

namespace outlook_test {
namespace {

using simdriver::PumpUntil;
using simdriver::SimProcess;

constexpr char kTooOld[] = "Cannot find Outlook 2000 or later version, Outbound reminder will not work";
constexpr char kNoOutlook[] = "Cannot find Microsoft Outlook";
constexpr char kNoVersion[] = "Cannot read the version of Microsoft Outlook, Outbound reminder will not work";
constexpr char kNoEvents[] = "Cannot receive the reminders of Microsoft Outlook, Outbound reminder will not work";

ULONG RefsOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

std::string Script(const std::string& version, bool expectAdvise) {
  std::string script = "version \"" + version + "\"\n";
  if (expectAdvise) script += "wait-advise 20s\nrefcounts\nnote advised\nwait-unadvise 20s\n";
  return script;
}

class ConnectionTest : public ::testing::Test {
 protected:
  void TearDown() override { connection_.Disconnect(); }

  OutlookConnection connection_{nullptr, nullptr, CurrentLocalOleDate};
};

struct VersionRow {
  const char* version;
  bool connects;
  const char* message;  // null: none
};

TEST_F(ConnectionTest, VersionsFromOutlook2000OnConnectAndOthersEndStartUp) {
  const VersionRow rows[] = {
      {"9.0.0.2711", true, nullptr},
      {"16.0.0.1", true, nullptr},
      {" 10.0.1", true, nullptr},  // white space before the number
      {"12b.0", true, nullptr},    // characters after the digits are not read
      {"8.5", false, kTooOld},
      {"-9.0", false, kTooOld},
      {".5", false, kNoVersion},
      {"x.5", false, kNoVersion},
      {"9", false, kNoVersion},
      {"", false, kNoVersion},
  };
  for (const VersionRow& row : rows) {
    SCOPED_TRACE(std::string("version \"") + row.version + "\"");
    SimProcess sim(SimExe());
    ASSERT_TRUE(StartSim(sim, Script(row.version, row.connects)));

    const Outcome connected = connection_.Connect();
    EXPECT_EQ(connected.Ok(), row.connects);
    EXPECT_EQ(connected.Message(), row.message ? row.message : "");
    EXPECT_EQ(connection_.Connected(), row.connects);
    if (row.connects) {
      ASSERT_TRUE(sim.WaitForLine("Note advised", 20000));
      connection_.Disconnect();
    }
    DWORD exitCode = 99;
    ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u) << "the simulator ended only at its linger timeout: a reference was leaked";

    const std::vector<std::string> log = sim.Log();
    EXPECT_EQ(LinesStartingWith(log, "Application Version get"), std::vector<std::string>{"Application Version get"});
    EXPECT_EQ(LinesStartingWith(log, "Advise").size(), row.connects ? 1u : 0u);
    EXPECT_EQ(LinesStartingWith(log, "Unadvise").size(), row.connects ? 1u : 0u);
    // Outlook was held while connected (the count includes the references COM keeps for our
    // proxy) and let go of in the end: the simulator ended by itself.
    if (row.connects) {
      EXPECT_GT(ExternalRefs(log, "Application"), 0);
    }
  }
}

TEST_F(ConnectionTest, AVersionThatCannotBeReadEndsStartUpWithAMessage) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "fail Application Version \"Outlook is shutting down.\"\n"));
  EXPECT_EQ(connection_.Connect().Message(), kNoVersion);
  EXPECT_FALSE(connection_.Connected());
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  const std::vector<std::string> log = sim.Log();
  EXPECT_EQ(LinesStartingWith(log, "Application Version get"),
            std::vector<std::string>{"Application Version get -> DISP_E_EXCEPTION"});
  EXPECT_TRUE(LinesStartingWith(log, "Advise").empty());
}

// An agent whose advice Outlook refused would never hear of a reminder: the user is told, start-up
// ends, and Outlook is let go of.
TEST_F(ConnectionTest, ARefusedAdviseEndsStartUpWithAMessage) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "refuse-advise\n"));
  EXPECT_EQ(connection_.Connect().Message(), kNoEvents);
  EXPECT_FALSE(connection_.Connected());
  EXPECT_EQ(connection_.Sink().Source(), nullptr);
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u) << "Outlook was kept after the refusal";
  EXPECT_EQ(LinesStartingWith(sim.Log(), "Advise"), std::vector<std::string>{"Advise -> CONNECT_E_ADVISELIMIT (refused)"});
}

// Outlook turning calls away while it settles is tried again until it answers; one that keeps
// turning them away is "not found" after a bounded time.
TEST_F(ConnectionTest, ABusyOutlookIsTriedAgainForABoundedTime) {
  const struct {
    const char* busy;
    bool connects;
  } rows[] = {{"3s", true}, {"60s", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("busy ") + row.busy);
    SimProcess sim(SimExe());
    ASSERT_TRUE(StartSim(sim, std::string("busy ") + row.busy + " reject\n" + (row.connects ? Script("16.0.0.1", true) : "sleep 60s\n")));
    const ULONGLONG start = GetTickCount64();
    const Outcome connected = connection_.Connect();
    EXPECT_EQ(connected.Ok(), row.connects);
    const ULONGLONG tookMs = GetTickCount64() - start;
    EXPECT_GE(LinesStartingWith(sim.Log(), "Busy rejected call").size(), 1u) << "Outlook turned nothing away";
    if (row.connects) {
      ASSERT_TRUE(sim.WaitForLine("Note advised", 20000));
      connection_.Disconnect();
    } else {
      EXPECT_EQ(connected.Message(), kNoOutlook);
      EXPECT_GE(tookMs, 10000u) << "gave up too soon";
      EXPECT_LT(tookMs, 40000u) << "no bound";
      sim.RequestQuit();
    }
    std::printf("busy %s: connection step took %llu ms\n", row.busy, tookMs);
    DWORD exitCode = 99;
    EXPECT_TRUE(sim.WaitForExit(30000, &exitCode));
  }
}

TEST_F(ConnectionTest, AdviseLeavesOutlookWithTheSinkAndTheSinkWithOutlook) {
  COlSink& sink = connection_.Sink();
  const ULONG sinkRefsBefore = sink.RefCount();
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, Script("16.0.0.1", true)));
  ASSERT_TRUE(connection_.Connect().Ok());

  // The start-up step holds nothing: the sink's reference is the only one on our proxy.
  ASSERT_NE(sink.Source(), nullptr);
  EXPECT_EQ(RefsOf(sink.Source()), 1u);
  // Those held for Outlook's connection point come on top of the owner's.
  EXPECT_GE(sink.RefCount(), sinkRefsBefore + 1);
  ASSERT_TRUE(sim.WaitForLine("Note advised", 20000));
  EXPECT_GT(ExternalRefs(sim.Log(), "Application"), 0);

  connection_.Disconnect();
  EXPECT_EQ(sink.Source(), nullptr);
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  // Outlook let go of the sink: only the owner's reference is left.
  EXPECT_TRUE(PumpUntil([&] { return sink.RefCount() == sinkRefsBefore; }, harness::kPatientMs)) << sink.RefCount();
}

TEST_F(ConnectionTest, ExitUnadvisesOnlyAfterAConnection) {
  connection_.Disconnect();  // never connected: nothing to undo
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, Script("16.0.0.1", true)));
  ASSERT_TRUE(connection_.Connect().Ok());
  ASSERT_TRUE(sim.WaitForLine("Note advised", 20000));
  EXPECT_TRUE(LinesStartingWith(sim.Log(), "Unadvise").empty());

  connection_.Disconnect();
  ASSERT_TRUE(sim.WaitForLine("Unadvise cookie=1", 10000));
  connection_.Disconnect();  // a second exit step finds nothing to undo
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(LinesStartingWith(sim.Log(), "Unadvise").size(), 1u);
  EXPECT_EQ(exitCode, 0u);
}

TEST_F(ConnectionTest, WithoutOutlookRegisteredTheUserIsTold) {
  SimProcess registration(SimExe());
  ASSERT_TRUE(registration.Unregister());
  EXPECT_EQ(connection_.Connect().Message(), kNoOutlook);
  EXPECT_FALSE(connection_.Connected());
  EXPECT_EQ(connection_.Sink().Source(), nullptr);
  EXPECT_TRUE(registration.Register());
}

}  // namespace
}  // namespace outlook_test
