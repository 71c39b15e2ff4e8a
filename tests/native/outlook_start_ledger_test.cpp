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

}  // namespace
