// One call per coming due, whether Outlook's event or the start-up look at its Reminders found it.
#include <gtest/gtest.h>

#include "agent/outlook/start_ledger.h"

namespace {

TEST(ReminderKey, TellsEntryIdsAndStartsApart) {
  EXPECT_EQ(ReminderKey("A", 100), ReminderKey("A", 100));
  EXPECT_NE(ReminderKey("A", 100), ReminderKey("A", 160));
  EXPECT_NE(ReminderKey("A", 100), ReminderKey("B", 100));
  EXPECT_NE(ReminderKey("1|2", 3), ReminderKey("2", 13));
}

TEST(StartLedger, AnEventRightAfterTheStartupCallIsTakenOnce) {
  StartLedger ledger;
  const std::string key = ReminderKey("A", 1000);
  ASSERT_TRUE(ledger.StartupMayCall(key));
  ledger.NoteStartupCall(key, 500);
  ledger.StartupDone();
  EXPECT_FALSE(ledger.EventMayCall(key, 500 + StartLedger::kSameDueSeconds)) << "the same coming due";
  EXPECT_TRUE(ledger.EventMayCall(key, 500 + StartLedger::kSameDueSeconds)) << "due again: called";
  EXPECT_TRUE(ledger.EventMayCall(ReminderKey("B", 1000), 501)) << "another reminder";
}

TEST(StartLedger, AnEventLongAfterTheStartupCallIsCalled) {
  StartLedger ledger;
  const std::string key = ReminderKey("A", 1000);
  ledger.NoteStartupCall(key, 500);
  ledger.StartupDone();
  EXPECT_TRUE(ledger.EventMayCall(key, 500 + StartLedger::kSameDueSeconds + 1)) << "snoozed and due again";
}

TEST(StartLedger, AReminderItsEventCalledDuringTheLookIsNotCalledAgain) {
  StartLedger ledger;
  const std::string key = ReminderKey("A", 1000);
  EXPECT_TRUE(ledger.EventMayCall(key, 500));
  EXPECT_FALSE(ledger.StartupMayCall(key));
  EXPECT_TRUE(ledger.StartupMayCall(ReminderKey("B", 1000)));
  ledger.StartupDone();
  EXPECT_TRUE(ledger.StartupMayCall(key)) << "events are noted only while the look runs";
  EXPECT_TRUE(ledger.EventMayCall(key, 501)) << "events never hold up one another (a burst is called whole)";
}

TEST(CalledForComingDue, ACallAtOrAfterTheComingDueOrJustBeforeItCounts) {
  const long long due = 10000;
  const struct {
    long long called;
    bool counts;
  } rows[] = {{due, true}, {due + 3600, true}, {due - kSameDueSeconds, true}, {due - kSameDueSeconds - 1, false},
              {due - 300, false}};
  for (const auto& row : rows) EXPECT_EQ(CalledForComingDue(row.called, due), row.counts) << row.called - due;
}

TEST(SessionName, NamesOutlooksProcessAndReadsBackOnlyItsOwnSpelling) {
  uint32_t pid = 0;
  uint64_t created = 0;
  ASSERT_TRUE(ParseSessionName(SessionName(4294967295u, 18446744073709551615ull), &pid, &created));
  EXPECT_EQ(pid, 4294967295u);
  EXPECT_EQ(created, 18446744073709551615ull);
  EXPECT_EQ(SessionName(1234, 133800000000000000ull), "1234.133800000000000000");
  for (const char* other : {"", "1234", "1234.", ".5", "12a.5", "1234.5.6", "01234.5", "1234.05", "-1.5", "1234.+5",
                            "4294967296.5", "1.18446744073709551616", " 1.5"}) {
    EXPECT_FALSE(ParseSessionName(other, &pid, &created)) << other;
  }
}

}  // namespace
