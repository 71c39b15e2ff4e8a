// The call store: what is on disk after each step, the order calls are taken in, retries,
// texts removed after the call, and what a restart does with attempts cut short.
#include <gtest/gtest.h>

#include <thread>

#include "gateway/store.h"
#include "tests/gateway/temp_dir.h"

namespace talmery {
namespace {

CallRequest Request(const std::string& number, bool selfDelete = true) {
  CallRequest r;
  r.number = number;
  r.text = "text for " + number;
  r.selfDelete = selfDelete;
  r.firstOcc = 15;
  return r;
}

class StoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<CallStore> Open() {
    std::string error;
    auto store = CallStore::Open(dir_.path() + "/calls.db", true, error);
    EXPECT_TRUE(store) << error;
    return store;
  }
  long long Accept(CallStore& s, const CallRequest& r, long long now = 1000) {
    long long id = 0;
    std::string error;
    EXPECT_TRUE(s.Accept(r, 3, now, id, error)) << error;
    return id;
  }
  std::optional<CallRecord> Claim(CallStore& s, long long now, const std::set<std::string>& skip = {}) {
    std::optional<CallRecord> call;
    std::string error;
    EXPECT_TRUE(s.ClaimNext(now, skip, 0, call, error)) << error;
    return call;
  }
  gwtest::TempDir dir_;
};

TEST_F(StoreTest, AcceptedCallsAreOnDiskWhenAccepted) {
  long long id = 0;
  {
    auto s = Open();
    id = Accept(*s, Request("5550100"));
    EXPECT_EQ(id, 1);
  }
  std::string error;
  auto reopened = CallStore::Open(dir_.path() + "/calls.db", false, error);
  ASSERT_TRUE(reopened) << error;
  CallRecord c;
  ASSERT_TRUE(reopened->Get(id, c));
  EXPECT_EQ(c.number, "5550100");
  EXPECT_EQ(c.text, "text for 5550100");
  EXPECT_EQ(c.state, "queued");
  EXPECT_EQ(c.attempts, 0);
  EXPECT_EQ(c.maxAttempts, 3);
  EXPECT_EQ(c.firstOcc, 15);
  EXPECT_FALSE(CallStore::Open(dir_.path() + "/none.db", false, error));
}

TEST_F(StoreTest, CallsAreTakenInOrderRetriesAtTheirTimeBusyNumbersWait) {
  auto s = Open();
  const long long a = Accept(*s, Request("111"), 1000);
  const long long b = Accept(*s, Request("222"), 1001);
  const long long c = Accept(*s, Request("111"), 1002);

  auto first = Claim(*s, 2000);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->id, a);
  EXPECT_EQ(first->state, "dialling");
  EXPECT_EQ(first->attempts, 1);
  // 111 is being called: its second call waits, 222 goes first.
  auto second = Claim(*s, 2000, {"111"});
  ASSERT_TRUE(second);
  EXPECT_EQ(second->id, b);
  EXPECT_FALSE(Claim(*s, 2000, {"111", "222"}));

  AttemptEnd busy{"busy", "486 Busy Here", "busy", "busy on try 1 of 3", 5000, "111,2002"};
  std::string error;
  ASSERT_TRUE(s->FinishAttempt(a, 1, busy, 2500, error)) << error;
  auto third = Claim(*s, 2600);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->id, c);       // a waits for its retry time
  EXPECT_FALSE(Claim(*s, 4999));
  EXPECT_EQ(s->NextDueMs(), 5000);
  auto retry = Claim(*s, 5000);
  ASSERT_TRUE(retry);
  EXPECT_EQ(retry->id, a);
  EXPECT_EQ(retry->attempts, 2);

  CallRecord rec;
  ASSERT_TRUE(s->Get(a, rec));
  ASSERT_EQ(rec.history.size(), 2u);
  EXPECT_EQ(rec.history[0].outcome, "busy");
  EXPECT_EQ(rec.history[0].detail, "486 Busy Here");
  EXPECT_EQ(rec.history[0].dialled, "111,2002");
  EXPECT_EQ(rec.history[0].endedMs, 2500);
  EXPECT_EQ(rec.history[1].startedMs, 5000);
  EXPECT_FALSE(rec.history[1].endedMs);
}

// A store made before the numbers dialled were recorded is upgraded when opened: its old tries
// read as having none, new ones keep theirs.
TEST_F(StoreTest, AnOlderStoreGainsTheNumbersDialled) {
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_.path() + "/calls.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE attempts(call_id INTEGER NOT NULL, attempt INTEGER NOT NULL, line INTEGER NOT "
                           "NULL, started_ms INTEGER NOT NULL, answered_ms INTEGER, ended_ms INTEGER, outcome TEXT NOT "
                           "NULL DEFAULT '', detail TEXT NOT NULL DEFAULT '', PRIMARY KEY(call_id, attempt))",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  auto s = Open();
  ASSERT_TRUE(s);
  const long long id = Accept(*s, Request("111", false));
  ASSERT_TRUE(Claim(*s, 2000));
  std::string error;
  ASSERT_TRUE(s->FinishAttempt(id, 1, {"failed", "x", "failed", "x", std::nullopt, "111"}, 2100, error)) << error;
  CallRecord c;
  ASSERT_TRUE(s->Get(id, c));
  ASSERT_EQ(c.history.size(), 1u);
  EXPECT_EQ(c.history[0].dialled, "111");
}

TEST_F(StoreTest, TextIsRemovedWhenASelfDeletingCallEnds) {
  auto s = Open();
  const long long keep = Accept(*s, Request("111", false));
  const long long drop = Accept(*s, Request("222", true));
  std::string error;
  for (long long id : {keep, drop}) {
    ASSERT_TRUE(Claim(*s, 2000));
    AttemptEnd retry{"no answer", "", "no answer", "", 3000, ""};
    ASSERT_TRUE(s->FinishAttempt(id, 1, retry, 2100, error));
    CallRecord c;
    ASSERT_TRUE(s->Get(id, c));
    EXPECT_TRUE(c.text) << "a call still to be retried keeps its text";
  }
  for (long long id : {keep, drop}) {
    ASSERT_TRUE(Claim(*s, 3000));
    ASSERT_TRUE(s->MarkAnswered(id, 2, 3100, error));
    ASSERT_TRUE(s->FinishAttempt(id, 2, {"answered", "end of file", "done", "answered", std::nullopt, ""}, 3200, error));
  }
  CallRecord c;
  ASSERT_TRUE(s->Get(keep, c));
  EXPECT_EQ(c.text, "text for 111");
  ASSERT_TRUE(s->Get(drop, c));
  EXPECT_FALSE(c.text);
  EXPECT_EQ(c.state, "done");
  EXPECT_EQ(c.history[1].answeredMs, 3100);
}

TEST_F(StoreTest, AttemptsCutShortByAStopAreClosedNotRedialled) {
  auto s = Open();
  const long long dialling = Accept(*s, Request("111"));
  const long long answered = Accept(*s, Request("222"));
  const long long queued = Accept(*s, Request("333"));
  std::string error;
  ASSERT_TRUE(Claim(*s, 2000));
  ASSERT_TRUE(Claim(*s, 2000));
  ASSERT_TRUE(s->MarkAnswered(answered, 1, 2100, error));
  s.reset();  // as after kill -9: nothing else was written

  s = Open();
  const std::vector<CallRecord> closed = s->CloseInterrupted(5000, error);
  ASSERT_EQ(closed.size(), 2u);
  CallRecord c;
  ASSERT_TRUE(s->Get(dialling, c));
  EXPECT_EQ(c.state, "failed");
  EXPECT_EQ(c.reason, "the gateway stopped while dialling; not dialled again, the phone may have rung");
  EXPECT_EQ(c.history[0].outcome, "interrupted");
  EXPECT_FALSE(c.text);
  ASSERT_TRUE(s->Get(answered, c));
  EXPECT_EQ(c.state, "done");
  auto next = Claim(*s, 6000);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->id, queued);
  EXPECT_FALSE(Claim(*s, 6000));
}

TEST_F(StoreTest, CallsWaitingTooLongExpireTheRestWait) {
  auto s = Open();
  const long long old = Accept(*s, Request("5550101"), 1000);            // queued since 1000
  const long long retry = Accept(*s, Request("5550102", false), 1000);   // waits for a retry
  const long long going = Accept(*s, Request("5550103"), 1000);          // being dialled
  const long long fresh = Accept(*s, Request("5550104"), 5000);
  std::string error;
  ASSERT_EQ(Claim(*s, 2000, {"5550101", "5550103"})->id, retry);
  AttemptEnd busy{"busy", "486 Busy Here", state::kBusy, "busy on try 1 of 3", 9000, ""};
  ASSERT_TRUE(s->FinishAttempt(retry, 1, busy, 2000, error)) << error;
  ASSERT_EQ(Claim(*s, 2000, {"5550101"})->id, going);

  const std::vector<CallRecord> expired = s->ExpireWaiting(1000, 6000, "not placed: waited more than 60 minutes", error);
  EXPECT_TRUE(error.empty()) << error;
  ASSERT_EQ(expired.size(), 2u);
  EXPECT_EQ(expired[0].id, old);
  EXPECT_EQ(expired[1].id, retry);
  CallRecord c;
  for (const long long id : {old, retry}) {
    ASSERT_TRUE(s->Get(id, c));
    EXPECT_EQ(c.state, "expired");
    EXPECT_EQ(c.reason, "not placed: waited more than 60 minutes");
    EXPECT_FALSE(c.nextMs);
    EXPECT_EQ(c.updatedMs, 6000);
    EXPECT_EQ(c.text.has_value(), id == retry);  // only the self-deleting text is gone
  }
  ASSERT_TRUE(s->Get(going, c));
  EXPECT_EQ(c.state, "dialling");
  ASSERT_TRUE(s->Get(fresh, c));
  EXPECT_EQ(c.state, "queued");
  EXPECT_EQ(Claim(*s, 100000)->id, fresh);  // nothing expired is dialled
  EXPECT_FALSE(Claim(*s, 100000));
}

TEST_F(StoreTest, ManyWritersGetDistinctIds) {
  auto s = Open();
  std::vector<std::thread> threads;
  std::vector<std::vector<long long>> ids(8);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) ids[static_cast<size_t>(t)].push_back(Accept(*s, Request("1")));
    });
  for (auto& t : threads) t.join();
  std::set<long long> all;
  for (const auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 200u);
  EXPECT_EQ(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin(), 200);
  EXPECT_EQ(s->Recent(500).size(), 200u);
}

}  // namespace
}  // namespace talmery
