// The reminder hand-over at the main frame: a record queued by the Outlook side becomes one request
// at the (stand-in) gateway; a WM_COMMAND 101 from anyone, whatever it carries, is no reminder.
#include <gtest/gtest.h>

#include <memory>

#include "agent/calls/call_text.h"
#include "agent/calls/reminder_call.h"
#include "agent/outlook/reminder_sink.h"
#include "agent/outlook/start_ledger.h"
#include "tests/harness/registry.h"
#include "tools/gateway/gateway_server.h"
#include "tests/shell/inprocess_shell.h"
#include "tests/shell/windows_under_test.h"

namespace shelltest {
namespace {

class ReminderCommand : public InProcessShell {
 protected:
  void SetUp() override {
    InProcessShell::SetUp();
    ASSERT_TRUE(gateway_.Start());
    gateway_.SetAnswer({200, "OK", "[42]"});
    Store("host", harness::SzBytes("127.0.0.1"));
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "port", REG_DWORD,
                                    harness::DwordBytes(gateway_.Port())));
    Store("firstname", harness::SzBytes("Ann"));
    Store("lastname", harness::SzBytes("Lee"));
  }

  static void Store(const char* name, const std::vector<unsigned char>& text) {
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, name, REG_SZ, text));
  }

  static std::unique_ptr<ReminderRecord> BudgetReview() {
    auto record = std::make_unique<ReminderRecord>();
    record->m_strEntryId = "00000000ABCD";
    record->m_strPhone = "555-0100";
    record->m_strSubject = "Budget review";
    record->m_nMinutes = 15;
    // 15 minutes (and a margin for the test's own time) after the call is composed.
    record->start = CurrentLocalOleDate() + (15 * 60 + 10) / 86400.0;
    return record;
  }

  gateway::Server gateway_;
};

constexpr char kBudgetReviewBody[] =
    "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Hi%2c+this+is+Ann+Lee%27s+appointment+"
    "reminder+call+program%2e%0aYou+have+an+appointment+coming+up+in+15+minutes%2e%0aThe+appointment+"
    "subject+is%3a+Budget+review%0a";

TEST_F(ReminderCommand, AHandedOverRecordEndsAsOneRequestAtTheGatewayNotedAsCalled) {
  std::unique_ptr<ReminderRecord> record = BudgetReview();
  const std::string key = ReminderKey(record->m_strEntryId, OleDateToSeconds(record->start));
  const long long queued = OleDateToSeconds(CurrentLocalOleDate());
  ASSERT_TRUE(reminders_.Queue(std::move(record)));
  ASSERT_TRUE(WaitUntil([&] {
    Pump();
    return gateway_.RequestCount() >= 1;
  }, 10000));

  const std::vector<gateway::RecordedRequest> requests = gateway_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/ocall/callreqHandler.jsp");
  EXPECT_EQ(requests[0].body, kBudgetReviewBody);
  EXPECT_TRUE(told_.empty());  // accepted: nothing to tell the user
  // Noted for the agents after this one as its request went out.
  const std::optional<long long> calledAt = called_.CalledAt(key);
  ASSERT_TRUE(calledAt.has_value());
  EXPECT_GE(*calledAt, queued);
  EXPECT_LE(*calledAt, OleDateToSeconds(CurrentLocalOleDate()));
}

TEST_F(ReminderCommand, AForgedHandOverFreesNothingAndCallsNobody) {
  std::unique_ptr<ReminderRecord> record = BudgetReview();
  const LPARAM address = reinterpret_cast<LPARAM>(record.get());
  for (const WPARAM command : {WPARAM{101}, MAKEWPARAM(101, 1), MAKEWPARAM(101, 0xFFFF)}) {
    for (const LPARAM lParam : {address, LPARAM{0x12345678}}) {
      SendMessageA(frame_->m_hWnd, WM_COMMAND, command, lParam);
      PostMessageA(frame_->m_hWnd, WM_COMMAND, command, lParam);
    }
  }
  // The hand-over's own wake-up, forged: nothing of ours is queued, so nothing happens.
  PostMessageA(frame_->m_hWnd, kReminderQueuedMessage, 0, address);
  Pump();
  EXPECT_EQ(gateway_.RequestCount(), 0u);
  EXPECT_EQ(record->m_strSubject, "Budget review");  // untouched, still ours
  EXPECT_TRUE(IsWindow(frame_->m_hWnd));
  EXPECT_TRUE(told_.empty());
}

}  // namespace
}  // namespace shelltest
