// fw::WaitServingOleCalls: while this thread waits for blocking work, Outlook's events are still
// handled on it, and the records they post wait in the queue until the message loop runs again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "agent/calls/reminder_call.h"
#include "agent/framework/ole/ole.h"
#include "common/win/handles.h"
#include "agent/outlook/outlook_connection.h"
#include "tests/outlook/sim_support.h"
#include "tests/harness/patience.h"

namespace outlook_test {
namespace {

using simdriver::PumpUntil;
using simdriver::SimProcess;

bool LogHasLine(const SimProcess& sim, const std::string& line) {
  const std::vector<std::string> log = sim.Log();
  return std::find(log.begin(), log.end(), line) != log.end();
}

// As the gateway client does: the work runs on a worker while this thread waits serving COM.
void RunServingOleCalls(const std::function<void()>& work) {
  win::KernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(done);
  std::thread worker([&] {
    work();
    SetEvent(done.get());
  });
  EXPECT_TRUE(fw::WaitServingOleCalls(done.get(), INFINITE));
  worker.join();
}

TEST(WaitServingOleCalls, EventsAreServedWhileTheWorkBlocks) {
  ReminderCatcher catcher;
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "item 1 class \"IPM.Appointment.ReminderCall\" entryid \"one\"\n"
                            "item 2 class \"IPM.Appointment.ReminderCall\" entryid \"two\"\n"
                            "wait-advise 20s\nsleep 100ms\nfire 1\nfire 2\nnote fired\nwait-unadvise 20s\n"));
  OutlookConnection connection(nullptr, catcher.HandOver(), CurrentLocalOleDate);
  ASSERT_TRUE(connection.Connect().Ok());

  // The work blocks until both events have been handled; it could not end if they waited for it.
  std::atomic<bool> eventsDone{false};
  RunServingOleCalls([&] {
    const ULONGLONG deadline = GetTickCount64() + 20000;
    while (!(eventsDone = LogHasLine(sim, "Note fired")) && GetTickCount64() < deadline) Sleep(5);
  });
  EXPECT_TRUE(eventsDone);
  EXPECT_TRUE(catcher.Records().empty()) << "posted records were dispatched inside the wait";

  ASSERT_TRUE(catcher.WaitForRecords(2, harness::kPatientMs));
  EXPECT_EQ(catcher.Records()[0]->m_strEntryId, "one");
  EXPECT_EQ(catcher.Records()[1]->m_strEntryId, "two");
  connection.Disconnect();
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
}

TEST(WaitServingOleCalls, InsideTheHandlingOfARecordTheNextEventIsServed) {
  // As in the agent: the first record's command waits for slow work while Outlook fires the next
  // reminder, whose call came in while the command was being picked from the queue.
  ReminderCatcher catcher;
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "item 1 class \"IPM.Appointment.ReminderCall\" entryid \"one\"\n"
                            "item 2 class \"IPM.Appointment.ReminderCall\" entryid \"two\"\n"
                            "wait-advise 20s\nfire 1\nfire 2\nnote fired\nwait-unadvise 20s\n"));
  std::atomic<bool> eventsDone{false};
  size_t recordsInsideTheWait = 99;
  catcher.OnRecord([&](const ReminderRecord& record) {
    if (record.m_strEntryId != "one") return;
    // The next event's call comes in before the wait starts.
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (LinesStartingWith(sim.Log(), "Fire 0xF004 Item#2 ").empty() && GetTickCount64() < deadline) Sleep(5);
    RunServingOleCalls([&] {
      const ULONGLONG until = GetTickCount64() + 10000;
      while (!(eventsDone = LogHasLine(sim, "Note fired")) && GetTickCount64() < until) Sleep(5);
    });
    recordsInsideTheWait = catcher.Records().size();
  });
  OutlookConnection connection(nullptr, catcher.HandOver(), CurrentLocalOleDate);
  ASSERT_TRUE(connection.Connect().Ok());
  ASSERT_TRUE(catcher.WaitForRecords(2, 20000));
  EXPECT_TRUE(eventsDone) << "the second event waited for the work";
  EXPECT_EQ(recordsInsideTheWait, 1u) << "the second record was dispatched inside the wait";
  EXPECT_EQ(catcher.Records()[1]->m_strEntryId, "two");
  connection.Disconnect();
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
}

}  // namespace
}  // namespace outlook_test
