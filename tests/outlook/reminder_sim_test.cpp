// COlSink::OnReminder against the simulator: the sink is advised on the running simulator, the
// simulator fires Reminder events, and the test window registered as the main window receives the
// records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/framework/main_window.h"
#include "agent/outlook/local_clock.h"
#include "agent/outlook/ol_sink.h"
#include "agent/outlook/outlook_connection.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/outlook/sim_support.h"

namespace outlook_test {
namespace {

using simdriver::PumpUntil;
using simdriver::SimProcess;

constexpr char kTooLate[] = "It is too late to make reminder call";
constexpr char kDispException[] = "hr=0x80020009";
constexpr char kMemberNotFound[] = "hr=0x80020003";
constexpr char kOk[] = "hr=0x00000000";

// Runs the agent's sink against the simulator: the items, then `events` once the sink is advised.
class ReminderRun {
 public:
  ReminderRun(const std::string& items, const std::string& events, size_t expectedRecords) {
    const std::string script = "version \"16.0.0.1\"\n" + items + "\nwait-advise 20s\n" + events +
                               "\nrefcounts\nnote done\nwait-unadvise 20s\n";
    g_bNoSink = FALSE;
    if (!StartSim(sim_, script)) {
      ADD_FAILURE() << "simulator did not start";
      return;
    }
    if (!ConnectOutlookSink()) {
      ADD_FAILURE() << "not connected";
      return;
    }
    EXPECT_TRUE(sim_.WaitForLine("Note done", 60000)) << "events did not finish";
    EXPECT_TRUE(catcher_.WaitForRecords(expectedRecords, 5000)) << catcher_.Records().size() << " records";
    PumpUntil([] { return false; }, 50);  // anything posted beyond the expected records arrives too
    log_ = sim_.Log();
    DisconnectOutlookSinkIfConnected();
    DWORD exitCode = 99;
    EXPECT_TRUE(sim_.WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
  }

  const std::vector<std::string>& Log() const { return log_; }
  const std::vector<std::unique_ptr<ReminderRecord>>& Records() const { return catcher_.Records(); }
  const ReminderCatcher& Catcher() const { return catcher_; }

 private:
  ReminderCatcher catcher_;
  SimProcess sim_{SimExe()};
  std::vector<std::string> log_;
};

const std::vector<std::string> kAcceptedCalls = {
    "Item#1 MessageClass get",
    "Item#1 Start get",
    "Item#1 UserProperties get",
    "UserProperties#1 Find method (\"notifycall\", VT_I2 1)",
    "UserProperty#1.notifycall Value get",
    "Item#1 EntryID get",
    "Item#1 Subject get",
    "Item#1 Location get",
    "Item#1 Body get",
    "Item#1 ReminderMinutesBeforeStart get",
};

TEST(ReminderEvent, AnAcceptedReminderIsReadInOrderAndPostedToTheMainWindow) {
  harness::MessageBoxWatcher boxes("Brisomel");
  const std::string items =
      "item 1 class \"IPM.Appointment.ReminderCall\" start +15m minutes 15 entryid \"00000000AB12\"\n"
      "item 1 subject \"Budget review\" location \"Room 4\" body \"Bring the figures\\r\\nand coffee\"\n"
      "item 1 prop notifycall text \"555-0100\"\n";
  ReminderRun run(items, "fire 1", 1);

  const EventTrace trace = TraceOfEvent(run.Log(), "1");
  EXPECT_EQ(trace.calls, kAcceptedCalls);
  EXPECT_EQ(ResultOf(trace.event), kOk);

  ASSERT_EQ(run.Records().size(), 1u);
  const ReminderRecord& record = *run.Records()[0];
  EXPECT_EQ(record.m_strEntryId, "00000000AB12");
  EXPECT_EQ(record.m_strPhone, "555-0100");
  EXPECT_EQ(record.m_strSubject, "Budget review");
  EXPECT_EQ(record.m_strLocation, "Room 4");
  EXPECT_EQ(record.m_strNotes, "Bring the figures\r\nand coffee");
  EXPECT_EQ(record.m_nMinutes, 15);
  EXPECT_TRUE(run.Catcher().OtherCommands().empty());
  EXPECT_EQ(boxes.Count(), 0u);

  // The item was only lent; the collection and the property were released.
  EXPECT_EQ(ExternalRefs(run.Log(), "Item#1"), 0);
  EXPECT_EQ(ExternalRefs(run.Log(), "UserProperties#1"), 0);
  EXPECT_EQ(ExternalRefs(run.Log(), "UserProperty#1.notifycall"), 0);
}

TEST(ReminderEvent, OnlyTheReminderCallClassInAnyCaseIsAccepted) {
  struct Row {
    const char* item;
    const char* messageClass;
    bool accepted;
  };
  const Row rows[] = {
      {"exact", "IPM.Appointment.ReminderCall", true},
      {"lower", "ipm.appointment.remindercall", true},
      {"upper", "IPM.APPOINTMENT.REMINDERCALL", true},
      {"mixed", "iPm.ApPoInTmEnT.rEmInDeRcAlL", true},
      {"prefix", "IPM.Appointment.Reminder", false},
      {"extension", "IPM.Appointment.ReminderCall.Custom", false},
      {"trailing", "IPM.Appointment.ReminderCall ", false},
      {"plain", "IPM.Appointment", false},
      {"mail", "IPM.Note", false},
      {"empty", "", false},
  };
  std::string items, events;
  size_t accepted = 0;
  for (const Row& row : rows) {
    items += std::string("item ") + row.item + " class \"" + row.messageClass + "\" entryid \"" + row.item +
             "\" start +15m\n";
    events += std::string("fire ") + row.item + "\n";
    accepted += row.accepted;
  }
  ReminderRun run(items, events, accepted);

  std::vector<std::string> expectedIds, ids;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.item);
    const EventTrace trace = TraceOfEvent(run.Log(), row.item);
    EXPECT_EQ(ResultOf(trace.event), kOk);
    if (row.accepted) {
      expectedIds.push_back(row.item);
      EXPECT_EQ(trace.calls.size(), kAcceptedCalls.size() - 1);  // no notifycall property
    } else {
      EXPECT_EQ(trace.calls, std::vector<std::string>{std::string("Item#") + row.item + " MessageClass get"});
    }
  }
  for (const auto& record : run.Records()) ids.push_back(record->m_strEntryId);
  EXPECT_EQ(ids, expectedIds);
}

class ScopedTestNow {
 public:
  explicit ScopedTestNow(const char* now) { SetEnvironmentVariableA(kTestNowVariable, now); }
  ~ScopedTestNow() { SetEnvironmentVariableA(kTestNowVariable, nullptr); }
};

TEST(ReminderEvent, TwoMinutesAfterTheStartIsInTimeOneSecondLaterIsRefused) {
  ScopedTestNow now("2030-01-01 10:02:00");
  harness::MessageBoxWatcher boxes("Brisomel");
  const std::string items =
      "item exact class \"IPM.Appointment.ReminderCall\" start \"2030-01-01 10:00:00\" entryid \"exact\"\n"
      "item late class \"IPM.Appointment.ReminderCall\" start \"2030-01-01 09:59:59\" entryid \"late\"\n"
      "item future class \"IPM.Appointment.ReminderCall\" start \"2030-01-01 10:17:00\" minutes 15 entryid \"future\"\n"
      "item old class \"IPM.Appointment.ReminderCall\" start \"2029-12-31 10:00:00\" entryid \"old\"\n";
  ReminderRun run(items, "fire exact\nfire late\nfire future\nfire old", 2);

  ASSERT_EQ(run.Records().size(), 2u);
  EXPECT_EQ(run.Records()[0]->m_strEntryId, "exact");
  EXPECT_EQ(run.Records()[1]->m_strEntryId, "future");
  EXPECT_EQ(run.Records()[1]->m_nMinutes, 15);
  for (const char* refused : {"late", "old"}) {
    SCOPED_TRACE(refused);
    const EventTrace trace = TraceOfEvent(run.Log(), refused);
    EXPECT_EQ(trace.calls, (std::vector<std::string>{std::string("Item#") + refused + " MessageClass get",
                                                     std::string("Item#") + refused + " Start get"}));
    EXPECT_EQ(ResultOf(trace.event), kOk);
  }
  ASSERT_EQ(boxes.Count(), 2u);
  for (const harness::SeenBox& box : boxes.Seen()) {
    EXPECT_EQ(box.text, kTooLate);
    EXPECT_EQ(box.pid, GetCurrentProcessId());
  }
}

TEST(ReminderEvent, WithoutATestClockTheSystemClockDecides) {
  ScopedTestNow malformed("2030-01-01T10:02:00");  // not the accepted form: ignored
  harness::MessageBoxWatcher boxes("Brisomel");
  const std::string items =
      "item soon class \"IPM.Appointment.ReminderCall\" start +15m entryid \"soon\"\n"
      "item started class \"IPM.Appointment.ReminderCall\" start -1m entryid \"started\"\n"
      "item past class \"IPM.Appointment.ReminderCall\" start -3m entryid \"past\"\n";
  ReminderRun run(items, "fire soon\nfire started\nfire past", 2);
  ASSERT_EQ(run.Records().size(), 2u);
  EXPECT_EQ(run.Records()[0]->m_strEntryId, "soon");
  EXPECT_EQ(run.Records()[1]->m_strEntryId, "started");
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Seen()[0].text, kTooLate);
}

TEST(ReminderEvent, OnlyATextNotifycallGivesThePhoneNumber) {
  struct Row {
    const char* item;
    const char* property;  // null: the item has no notifycall
    std::string phone;
    bool valueRead;
  };
  const Row rows[] = {
      {"text", "notifycall text \"555-0100\"", "555-0100", true},
      {"case", "NotifyCall text \"555-0199\"", "555-0199", true},  // Outlook finds names in any case
      {"none", nullptr, "", false},
      {"number", "notifycall i4 5550100", "", true},
      {"short", "notifycall i2 12", "", true},
      {"date", "notifycall date \"2026-12-08 10:00:00\"", "", true},
      {"empty", "notifycall empty", "", true},
      {"nullvalue", "notifycall null", "", true},
      {"emptytext", "notifycall text \"\"", "", true},
      {"nulltext", "notifycall text null", "", true},
      {"zero", "notifycall text \"555\\u{0}0100\"", "555", true},  // the text ends at its first zero
      {"other", "callme text \"555-0100\"", "", false},
  };
  std::string items, events;
  for (const Row& row : rows) {
    items += std::string("item ") + row.item + " class \"IPM.Appointment.ReminderCall\" entryid \"" + row.item + "\"\n";
    if (row.property) items += std::string("item ") + row.item + " prop " + row.property + "\n";
    events += std::string("fire ") + row.item + "\n";
  }
  ReminderRun run(items, events, std::size(rows));
  ASSERT_EQ(run.Records().size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].item);
    EXPECT_EQ(run.Records()[i]->m_strEntryId, rows[i].item);
    EXPECT_EQ(run.Records()[i]->m_strPhone, rows[i].phone);
    const EventTrace trace = TraceOfEvent(run.Log(), rows[i].item);
    EXPECT_EQ(trace.calls.size(), kAcceptedCalls.size() - (rows[i].valueRead ? 0 : 1));
    EXPECT_EQ(trace.calls.at(3), std::string("UserProperties#") + rows[i].item + " Find method (\"notifycall\", VT_I2 1)");
  }
}

TEST(ReminderEvent, TextsArriveInTheAnsiCodePageWhateverTheirLength) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  const std::string items =
      "item 1 class \"IPM.Appointment.ReminderCall\" minutes 0\n"
      "item 1 subject \"Caf\\u{e9} \\u{20ac}5 \\u{4e2d}\" location \"\" body \"x\"*5000\n"
      "item 1 prop notifycall text \"+49 (555) 0100 \\u{e9}\"\n"
      "item 2 class \"IPM.Appointment.ReminderCall\" minutes -5 subject \"\" location \"\" body \"\"\n";
  ReminderRun run(items, "fire 1\nfire 2", 2);
  ASSERT_EQ(run.Records().size(), 2u);
  const ReminderRecord& first = *run.Records()[0];
  EXPECT_EQ(first.m_strSubject, "Caf\xe9 \x80" "5 ?");
  EXPECT_EQ(first.m_strLocation, "");
  EXPECT_EQ(first.m_strNotes, std::string(5000, 'x'));
  EXPECT_EQ(first.m_strPhone, "+49 (555) 0100 \xe9");
  EXPECT_EQ(first.m_nMinutes, 0);
  const ReminderRecord& second = *run.Records()[1];
  EXPECT_EQ(second.m_strSubject, "");
  EXPECT_EQ(second.m_strNotes, "");
  EXPECT_EQ(second.m_nMinutes, -5);
  EXPECT_EQ(second.m_strEntryId, "EntryID-2");
}

TEST(ReminderEvent, AFailingMemberEndsTheHandlerWithNothingPostedAndNothingHeld) {
  // Each item fails at one member; the calls stop there.
  struct Row {
    const char* member;  // as named in the simulator's fail command
    size_t callsMade;    // including the failing one
  };
  const Row rows[] = {
      {"MessageClass", 1}, {"Start", 2},   {"UserProperties", 3}, {"Find", 4},
      {"Value", 5},        {"EntryID", 6}, {"Subject", 7},        {"Location", 8},
      {"Body", 9},         {"ReminderMinutesBeforeStart", 10},
  };
  harness::MessageBoxWatcher boxes("Brisomel");
  std::string items, events;
  for (const Row& row : rows) {
    items += std::string("item ") + row.member + " class \"IPM.Appointment.ReminderCall\" prop notifycall text \"1\"\n" +
             "fail " + row.member + " " + row.member + " \"Item is busy: " + row.member + "\"\n";
    events += std::string("fire ") + row.member + "\n";
  }
  ReminderRun run(items, events, 0);

  EXPECT_TRUE(run.Records().empty());
  EXPECT_EQ(boxes.Count(), 0u);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.member);
    const EventTrace trace = TraceOfEvent(run.Log(), row.member);
    ASSERT_EQ(trace.calls.size(), row.callsMade);
    EXPECT_NE(trace.calls.back().find(" -> DISP_E_EXCEPTION"), std::string::npos) << trace.calls.back();
    // Reported to Outlook as the failed result of the event call, with Outlook's own description.
    EXPECT_EQ(ResultOf(trace.event), kDispException);
    EXPECT_NE(trace.event.find(std::string("description=\"Item is busy: ") + row.member + "\""), std::string::npos)
        << trace.event;
    EXPECT_EQ(ExternalRefs(run.Log(), std::string("Item#") + row.member), 0);
    EXPECT_EQ(ExternalRefs(run.Log(), std::string("UserProperties#") + row.member), 0);
    EXPECT_EQ(ExternalRefs(run.Log(), std::string("UserProperty#") + row.member + ".notifycall"), 0);
  }
}

TEST(ReminderEvent, OtherEventsOfTheInterfaceAreNotHandled) {
  const std::string items = "item 1 class \"IPM.Appointment.ReminderCall\"\n";
  ReminderRun run(items, "fire-dispid 0xF001 1\nfire-dispid 0xF005 1\nfire-dispid 0xFC8C 1\nfire-dispid 0 1", 0);
  EXPECT_TRUE(run.Records().empty());
  for (size_t n = 0; n < 4; ++n) {
    const EventTrace trace = TraceOfEvent(run.Log(), "1", n);
    EXPECT_TRUE(trace.calls.empty()) << trace.calls.size();
    EXPECT_EQ(ResultOf(trace.event), kMemberNotFound) << trace.event;
  }
  EXPECT_EQ(ExternalRefs(run.Log(), "Item#1"), 0);
}

TEST(ReminderEvent, WithoutAMainWindowTheRecordIsDroppedNotQueued) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "item 1 class \"IPM.Appointment.ReminderCall\"\nwait-advise 20s\nfire 1\nnote done\n"
                            "wait-unadvise 20s\n"));
  HWND gone = CreateWindowExA(0, "STATIC", "gone", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  fw::SetMainWindowHandle(gone);
  ASSERT_TRUE(ConnectOutlookSink());
  ASSERT_TRUE(sim.WaitForLine("Note done", 20000));
  fw::SetMainWindowHandle(nullptr);
  EXPECT_EQ(ResultOf(TraceOfEvent(sim.Log(), "1").event), kOk);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_COMMAND, WM_COMMAND, PM_NOREMOVE));
  DisconnectOutlookSinkIfConnected();
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
}

}  // namespace
}  // namespace outlook_test
