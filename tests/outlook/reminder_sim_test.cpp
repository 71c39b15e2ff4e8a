// COlSink::OnReminder against the simulator: the sink is advised on the running simulator, the
// simulator fires Reminder events, and the test window registered as the main window receives the
// records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/calls/reminder_call.h"
#include "agent/framework/ui/win_app.h"
#include "agent/outlook/outlook_connection.h"
#include "agent/outlook/outlook_rules.h"
#include "tests/outlook/sim_support.h"
#include "tests/harness/patience.h"

namespace outlook_test {
namespace {

using simdriver::PumpUntil;
using simdriver::SimProcess;

constexpr char kTooLate[] = "It is too late to make reminder call";
constexpr char kMemberNotFound[] = "hr=0x80020003";
constexpr char kOk[] = "hr=0x00000000";

// Runs the agent's sink against the simulator: the items, then `events` once the sink is advised.
// What the sink tells the user goes to notices; clock, when given, is the sink's current time.
class ReminderRun {
 public:
  ReminderRun(const std::string& items, const std::string& events, size_t expectedRecords,
              NoticeCollector* notices = nullptr, COlSink::Clock clock = CurrentLocalOleDate)
      : connection_(notices ? notices->Tell() : COlSink::Tell(), catcher_.HandOver(), std::move(clock)) {
    const std::string script = "version \"16.0.0.1\"\n" + items + "\nwait-advise 20s\n" + events +
                               "\nrefcounts\nnote done\nwait-unadvise 20s\n";
    if (!StartSim(sim_, script)) {
      ADD_FAILURE() << "simulator did not start";
      return;
    }
    if (!connection_.Connect().Ok()) {
      ADD_FAILURE() << "not connected";
      return;
    }
    EXPECT_TRUE(sim_.WaitForLine("Note done", 60000)) << "events did not finish";
    EXPECT_TRUE(catcher_.WaitForRecords(expectedRecords, harness::kPatientMs)) << catcher_.Records().size() << " records";
    PumpUntil([] { return false; }, 50);  // anything posted beyond the expected records arrives too
    log_ = sim_.Log();
    connection_.Disconnect();
    DWORD exitCode = 99;
    EXPECT_TRUE(sim_.WaitForExit(20000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
  }

  const std::vector<std::string>& Log() const { return log_; }
  const std::vector<std::unique_ptr<ReminderRecord>>& Records() const { return catcher_.Records(); }
  const ReminderCatcher& Catcher() const { return catcher_; }

 private:
  ReminderCatcher catcher_;  // before the connection, which hands over to it
  OutlookConnection connection_;
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

TEST(ReminderEvent, AnAcceptedReminderIsReadInOrderAndHandedToTheMainWindow) {
  NoticeCollector notices;
  const std::string items =
      "item 1 class \"IPM.Appointment.ReminderCall\" start +15m minutes 15 entryid \"00000000AB12\"\n"
      "item 1 subject \"Budget review\" location \"Room 4\" body \"Bring the figures\\r\\nand coffee\"\n"
      "item 1 prop notifycall text \"555-0100\"\n";
  ReminderRun run(items, "fire 1", 1, &notices);

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
  // The start goes along, for the time left when the call is composed.
  const long long secondsLeft = OleDateToSeconds(record.start) - OleDateToSeconds(CurrentLocalOleDate());
  EXPECT_GT(secondsLeft, 15 * 60 - 60);
  EXPECT_LE(secondsLeft, 15 * 60);
  EXPECT_TRUE(run.Catcher().Commands().empty());
  EXPECT_TRUE(notices.Texts().empty());

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

// Refused reminders are told to the notifier, which shows them on its own thread: the event call
// does not wait for the user.
TEST(ReminderEvent, TwoMinutesAfterTheStartIsInTimeOneSecondLaterIsRefused) {
  NoticeCollector notices;
  const std::string items =
      "item exact class \"IPM.Appointment.ReminderCall\" start \"2030-01-01 10:00:00\" entryid \"exact\"\n"
      "item late class \"IPM.Appointment.ReminderCall\" start \"2030-01-01 09:59:59\" entryid \"late\"\n"
      "item future class \"IPM.Appointment.ReminderCall\" start \"2030-01-01 10:17:00\" minutes 15 entryid \"future\"\n"
      "item old class \"IPM.Appointment.ReminderCall\" start \"2029-12-31 10:00:00\" entryid \"old\"\n";
  ReminderRun run(items, "fire exact\nfire late\nfire future\nfire old", 2, &notices,
                  [] { return *OleDateFromFields(2030, 1, 1, 10, 2, 0); });

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
  EXPECT_EQ(notices.Texts(), (std::vector<std::string>{kTooLate, kTooLate}));
}

TEST(ReminderEvent, TheAgentsClockIsTheSystemClock) {
  NoticeCollector notices;
  const std::string items =
      "item soon class \"IPM.Appointment.ReminderCall\" start +15m entryid \"soon\"\n"
      "item started class \"IPM.Appointment.ReminderCall\" start -1m entryid \"started\"\n"
      "item past class \"IPM.Appointment.ReminderCall\" start -3m entryid \"past\"\n";
  ReminderRun run(items, "fire soon\nfire started\nfire past", 2, &notices);
  ASSERT_EQ(run.Records().size(), 2u);
  EXPECT_EQ(run.Records()[0]->m_strEntryId, "soon");
  EXPECT_EQ(run.Records()[1]->m_strEntryId, "started");
  EXPECT_EQ(notices.Texts(), std::vector<std::string>{kTooLate});
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

// The texts that are spoken arrive as UTF-8, whatever the ANSI code page lacks; the number keeps
// the code page's reading.
TEST(ReminderEvent, TextsArriveAsUtf8WhateverTheirLength) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  const std::string items =
      "item 1 class \"IPM.Appointment.ReminderCall\" minutes 0\n"
      "item 1 subject \"Caf\\u{e9} \\u{20ac}5 \\u{4e2d}\\u{1f600}\" location \"\" body \"x\"*5000\n"
      "item 1 prop notifycall text \"+49 (555) 0100 \\u{e9}\"\n"
      "item 2 class \"IPM.Appointment.ReminderCall\" minutes -5 subject \"\" location \"\" body \"\"\n";
  ReminderRun run(items, "fire 1\nfire 2", 2);
  ASSERT_EQ(run.Records().size(), 2u);
  const ReminderRecord& first = *run.Records()[0];
  EXPECT_EQ(first.m_strSubject, "Caf\xC3\xA9 \xE2\x82\xAC" "5 \xE4\xB8\xAD\xF0\x9F\x98\x80");
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

// The message class, the start and the phone number decide whether a call is made: when one of
// them cannot be read the user is told which and why. Any other field that cannot be read stays
// empty and the call goes out; minutes before the start that cannot be read stay unknown (the
// call counts the time left then).
TEST(ReminderEvent, AFailingReadEndsTheHandlerOnlyWhereItDecidesTheCall) {
  struct Row {
    const char* member;  // as named in the simulator's fail command
    const char* told;    // as named to the user; null: the call goes out
  };
  const Row rows[] = {
      {"MessageClass", "MessageClass"},
      {"Start", "Start"},
      {"UserProperties", "UserProperties"},
      {"Find", "UserProperties.Find"},
      {"Value", "UserProperty.Value"},
      {"EntryID", nullptr},
      {"Subject", nullptr},
      {"Location", nullptr},
      {"Body", nullptr},
      {"ReminderMinutesBeforeStart", nullptr},
  };
  NoticeCollector notices;
  std::string items, events;
  std::vector<std::string> expectedNotices;
  for (const Row& row : rows) {
    const std::string name = row.member;
    items += "item " + name + " class \"IPM.Appointment.ReminderCall\" start +15m minutes 10 subject S location L body B\n" +
             "item " + name + " prop notifycall text \"1\"\nfail " + name + " " + name + " \"Item is busy: " + name + "\"\n";
    events += "fire " + name + "\n";
    if (row.told) {
      expectedNotices.push_back(std::string("Cannot make reminder call. Outlook failed to give the appointment's ") +
                                row.told + ":\r\nItem is busy: " + name);
    }
  }
  ReminderRun run(items, events, 5, &notices);
  EXPECT_EQ(notices.Texts(), expectedNotices);

  size_t next = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.member);
    const std::string name = row.member;
    const EventTrace trace = TraceOfEvent(run.Log(), name);
    EXPECT_EQ(ResultOf(trace.event), kOk) << trace.event;
    if (row.told) {
      ASSERT_FALSE(trace.calls.empty());
      EXPECT_NE(trace.calls.back().find(" -> DISP_E_EXCEPTION"), std::string::npos) << trace.calls.back();
    } else {
      ASSERT_EQ(trace.calls.size(), kAcceptedCalls.size());
      ASSERT_LT(next, run.Records().size());
      const ReminderRecord& record = *run.Records()[next++];
      EXPECT_EQ(record.m_strEntryId, name == "EntryID" ? "" : "EntryID-" + name);
      EXPECT_EQ(record.m_strPhone, "1");
      EXPECT_EQ(record.m_strSubject, name == "Subject" ? "" : "S");
      EXPECT_EQ(record.m_strLocation, name == "Location" ? "" : "L");
      EXPECT_EQ(record.m_strNotes, name == "Body" ? "" : "B");
      EXPECT_EQ(record.m_nMinutes, name == "ReminderMinutesBeforeStart" ? std::nullopt : std::optional<int32_t>(10));
    }
    EXPECT_EQ(ExternalRefs(run.Log(), "Item#" + name), 0);
    EXPECT_EQ(ExternalRefs(run.Log(), "UserProperties#" + name), 0);
    EXPECT_EQ(ExternalRefs(run.Log(), "UserProperty#" + name + ".notifycall"), 0);
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

TEST(ReminderEvent, WithoutAMainWindowTheRecordIsDroppedAndTheUserTold) {
  NoticeCollector notices;
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "item 1 class \"IPM.Appointment.ReminderCall\"\nwait-advise 20s\nfire 1\nnote done\n"
                            "wait-unadvise 20s\n"));
  HWND gone = CreateWindowExA(0, "STATIC", "gone", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  ReminderHandOver handOver;
  handOver.SetTarget(gone);
  OutlookConnection connection(notices.Tell(), &handOver, CurrentLocalOleDate);
  ASSERT_TRUE(connection.Connect().Ok());
  ASSERT_TRUE(sim.WaitForLine("Note done", 20000));
  EXPECT_EQ(ResultOf(TraceOfEvent(sim.Log(), "1").event), kOk);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, kReminderQueuedMessage, kReminderQueuedMessage, PM_NOREMOVE));
  EXPECT_EQ(handOver.Take(), nullptr);
  EXPECT_EQ(notices.Texts(),
            std::vector<std::string>{"Cannot make reminder call. The reminder could not be queued for calling."});
  connection.Disconnect();
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
}

}  // namespace
}  // namespace outlook_test
