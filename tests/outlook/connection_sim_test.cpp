// The Outlook connection step and the exit step against the simulator: which versions connect,
// what the user is told, who holds which reference, and when the sink is unadvised.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "agent/outlook/ol_sink.h"
#include "agent/outlook/outlook_connection.h"
#include "tests/harness/message_box_watcher.h"
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
  void SetUp() override { g_bNoSink = FALSE; }
  void TearDown() override {
    DisconnectOutlookSinkIfConnected();
    g_bNoSink = FALSE;
  }
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
    g_bNoSink = FALSE;
    harness::MessageBoxWatcher boxes("Brisomel");
    SimProcess sim(SimExe());
    ASSERT_TRUE(StartSim(sim, Script(row.version, row.connects)));

    EXPECT_EQ(ConnectOutlookSink(), row.connects ? TRUE : FALSE);
    EXPECT_EQ(g_bNoSink, row.connects ? FALSE : TRUE);
    if (row.connects) {
      ASSERT_TRUE(sim.WaitForLine("Note advised", 20000));
      DisconnectOutlookSinkIfConnected();
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
    if (row.message) {
      ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs));
      EXPECT_EQ(boxes.Seen()[0].text, row.message);
      EXPECT_EQ(boxes.Seen()[0].pid, GetCurrentProcessId());
    }
    EXPECT_EQ(boxes.Count(), row.message ? 1u : 0u);
  }
}

TEST_F(ConnectionTest, AVersionThatCannotBeReadEndsStartUpWithAMessage) {
  harness::MessageBoxWatcher boxes("Brisomel");
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "fail Application Version \"Outlook is shutting down.\"\n"));
  EXPECT_FALSE(ConnectOutlookSink());
  EXPECT_TRUE(g_bNoSink);
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  const std::vector<std::string> log = sim.Log();
  EXPECT_EQ(LinesStartingWith(log, "Application Version get"),
            std::vector<std::string>{"Application Version get -> DISP_E_EXCEPTION"});
  EXPECT_TRUE(LinesStartingWith(log, "Advise").empty());
  ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs));
  EXPECT_EQ(boxes.Seen()[0].text, kNoVersion);
}

// An agent whose advice Outlook refused would never hear of a reminder: the user is told, start-up
// ends, and Outlook is let go of.
TEST_F(ConnectionTest, ARefusedAdviseEndsStartUpWithAMessage) {
  harness::MessageBoxWatcher boxes("Brisomel");
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "refuse-advise\n"));
  EXPECT_FALSE(ConnectOutlookSink());
  EXPECT_TRUE(g_bNoSink);
  EXPECT_EQ(theSink.Source(), nullptr);
  ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs));
  EXPECT_EQ(boxes.Seen()[0].text, kNoEvents);
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
    g_bNoSink = FALSE;
    harness::MessageBoxWatcher boxes("Brisomel");
    SimProcess sim(SimExe());
    ASSERT_TRUE(StartSim(sim, std::string("busy ") + row.busy + " reject\n" + (row.connects ? Script("16.0.0.1", true) : "sleep 60s\n")));
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(ConnectOutlookSink(), row.connects ? TRUE : FALSE);
    const ULONGLONG tookMs = GetTickCount64() - start;
    EXPECT_GE(LinesStartingWith(sim.Log(), "Busy rejected call").size(), 1u) << "Outlook turned nothing away";
    if (row.connects) {
      ASSERT_TRUE(sim.WaitForLine("Note advised", 20000));
      DisconnectOutlookSinkIfConnected();
      EXPECT_EQ(boxes.Count(), 0u);
    } else {
      ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs));
      EXPECT_EQ(boxes.Seen()[0].text, kNoOutlook);
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
  const ULONG sinkRefsBefore = theSink.RefCount();
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, Script("16.0.0.1", true)));
  ASSERT_TRUE(ConnectOutlookSink());

  // The start-up driver holds nothing: the sink's reference is the only one on our proxy.
  ASSERT_NE(theSink.Source(), nullptr);
  EXPECT_EQ(RefsOf(theSink.Source()), 1u);
  // Advise's own reference (never given back) plus those held for Outlook's connection point.
  EXPECT_GE(theSink.RefCount(), sinkRefsBefore + 2);
  ASSERT_TRUE(sim.WaitForLine("Note advised", 20000));
  EXPECT_GT(ExternalRefs(sim.Log(), "Application"), 0);

  DisconnectOutlookSinkIfConnected();
  EXPECT_EQ(theSink.Source(), nullptr);
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  // Outlook let go of the sink; the reference Advise took stays, so the static sink never reaches 0.
  EXPECT_TRUE(PumpUntil([&] { return theSink.RefCount() == sinkRefsBefore + 1; }, harness::kPatientMs)) << theSink.RefCount();
}

TEST_F(ConnectionTest, ExitUnadvisesOnlyAfterAConnection) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, Script("16.0.0.1", true)));
  ASSERT_TRUE(ConnectOutlookSink());
  ASSERT_TRUE(sim.WaitForLine("Note advised", 20000));
  EXPECT_TRUE(LinesStartingWith(sim.Log(), "Unadvise").empty());

  DisconnectOutlookSinkIfConnected();
  ASSERT_TRUE(sim.WaitForLine("Unadvise cookie=1", 10000));
  DisconnectOutlookSinkIfConnected();  // a second exit step finds nothing to undo
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(LinesStartingWith(sim.Log(), "Unadvise").size(), 1u);

  // With the flag set (visible mode, failed start-up) the exit step leaves the sink alone.
  SimProcess second(SimExe());
  ASSERT_TRUE(StartSim(second, Script("16.0.0.1", true)));
  ASSERT_TRUE(ConnectOutlookSink());
  ASSERT_TRUE(second.WaitForLine("Note advised", 20000));
  g_bNoSink = TRUE;
  DisconnectOutlookSinkIfConnected();
  PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(LinesStartingWith(second.Log(), "Unadvise").empty());
  g_bNoSink = FALSE;
  DisconnectOutlookSinkIfConnected();
  ASSERT_TRUE(second.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
}

TEST_F(ConnectionTest, WithoutOutlookRegisteredTheUserIsTold) {
  SimProcess registration(SimExe());
  ASSERT_TRUE(registration.Unregister());
  harness::MessageBoxWatcher boxes("Brisomel");
  EXPECT_FALSE(ConnectOutlookSink());
  EXPECT_TRUE(g_bNoSink);
  ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs));
  EXPECT_EQ(boxes.Seen()[0].text, kNoOutlook);
  EXPECT_EQ(theSink.Source(), nullptr);
  EXPECT_TRUE(registration.Register());
}

}  // namespace
}  // namespace outlook_test
