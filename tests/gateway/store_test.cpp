// The call store: what is on disk after each step, the order calls are taken in, retries,
// texts removed after the call, what a restart does with attempts cut short. These run on both
// back ends: SQLite in gateway_unit_tests, PostgreSQL (a throwaway cluster) in
// gateway_pg_tests, the same file built with TALMERY_TEST_POSTGRES. SQLite's own: ids over the
// database's life, waiting measured in ticks across reboots, older files upgraded.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "gateway/pg_store.h"
#include "gateway/sqlite_store.h"
#include "tests/gateway/fake_clock.h"
#include "tests/gateway/pg_test_db.h"
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

// The same ms on both clocks (a new store's time starts at the wall clock: here, at 0).
Instant At(long long ms) { return {ms, ms}; }

// The fixture of the tests each back end passes alike.
class StoreTest : public ::testing::TestWithParam<const char*> {
 protected:
  bool Postgres() const { return std::string(GetParam()) == "postgres"; }
  void SetUp() override {
    if (Postgres() && !db_.Usable()) GTEST_SKIP() << db_.Skip();
  }
  std::unique_ptr<CallStore> Open(CommitObserver commits = {}) {
    std::string error;
    std::unique_ptr<CallStore> store;
    if (Postgres()) store = PgStore::Open(db_.Uri(), "gw1", 30, clock_, error, std::move(commits));
    else store = SqliteStore::Open(dir_.path() + "/calls.db", clock_, error, "gw1", std::move(commits));
    EXPECT_TRUE(store) << error;
    return store;
  }
  // The calls as talmery-gateway --list reads them, without opening the store.
  bool List(std::vector<CallRecord>& calls, std::string& error) {
    std::vector<NodeRecord> nodes;
    return Postgres() ? ReadPgListing(db_.Uri(), 10, calls, nodes, error)
                      : ReadRecentCalls(dir_.path() + "/calls.db", 10, calls, error);
  }
  long long Accept(CallStore& s, const CallRequest& r, long long now = 1000) { return AcceptAt(s, r, At(now)); }
  long long AcceptAt(CallStore& s, const CallRequest& r, const Instant& now) {
    long long id = 0;
    std::string error;
    EXPECT_EQ(s.Accept(r, "192.0.2.1", 3, now, id, error), Written::Done) << error;
    return id;
  }
  std::optional<CallRecord> Take(CallStore& s, long long now, const std::set<std::string>& skip = {}) {
    return TakeAt(s, At(now), skip);
  }
  std::optional<CallRecord> TakeAt(CallStore& s, const Instant& now, const std::set<std::string>& skip = {}) {
    Claim claim = s.ClaimNext(now, skip, 0);
    EXPECT_NE(claim.status, Claim::Status::Failed) << claim.error;
    if (claim.status != Claim::Status::Claimed) return std::nullopt;
    return claim.call;
  }
  gwtest::TempDir dir_;
  gwtest::PgTestDatabase db_;
  gwtest::FakeClock clock_{0, 0};
};

#ifdef TALMERY_TEST_POSTGRES
INSTANTIATE_TEST_SUITE_P(Store, StoreTest, ::testing::Values("postgres"), [](const auto& p) { return p.param; });
#else
INSTANTIATE_TEST_SUITE_P(Store, StoreTest, ::testing::Values("sqlite"), [](const auto& p) { return p.param; });
#endif

TEST_P(StoreTest, AcceptedCallsAreOnDiskWhenAccepted) {
  long long id = 0;
  {
    auto s = Open();
    id = Accept(*s, Request("5550100"));
    EXPECT_EQ(id, 1);
  }
  std::string error;
  std::vector<CallRecord> read;
  ASSERT_TRUE(List(read, error)) << error;
  ASSERT_EQ(read.size(), 1u);
  const CallRecord& c = read[0];
  EXPECT_EQ(c.id, id);
  EXPECT_EQ(c.number, "5550100");
  EXPECT_EQ(c.text, "text for 5550100");
  EXPECT_EQ(c.state, "queued");
  EXPECT_EQ(c.attempts, 0);
  EXPECT_EQ(c.maxAttempts, 3);
  EXPECT_EQ(c.firstOcc, 15);
}

// Whoever opened the store is told each commit's time (the gateway's metrics), once per commit:
// the accept and the claim each commit once, and a read commits nothing.
TEST_P(StoreTest, EachCommitIsToldToWhoeverOpenedTheStore) {
  std::vector<std::chrono::steady_clock::duration> commits;
  std::mutex mu;
  auto s = Open([&](std::chrono::steady_clock::duration took) {
    std::lock_guard<std::mutex> lock(mu);
    commits.push_back(took);
  });
  auto told = [&] {
    std::lock_guard<std::mutex> lock(mu);
    return commits.size();
  };
  EXPECT_EQ(told(), 0u) << "opening the store is no commit of calls";
  const long long id = Accept(*s, Request("5550100"));
  EXPECT_EQ(told(), 1u);
  CallRecord read;
  ASSERT_TRUE(s->Get(id, read));
  EXPECT_EQ(s->CountWaiting(), 1);
  EXPECT_EQ(told(), 1u);
  ASSERT_TRUE(Take(*s, 1000));
  EXPECT_EQ(told(), 2u);
  std::lock_guard<std::mutex> lock(mu);
  for (const auto& took : commits) EXPECT_GE(took.count(), 0);
}

TEST_P(StoreTest, CallsAreTakenInOrderRetriesAtTheirTimeBusyNumbersWait) {
  auto s = Open();
  const long long a = Accept(*s, Request("111"), 1000);
  const long long b = Accept(*s, Request("222"), 1001);
  const long long c = Accept(*s, Request("111"), 1002);

  auto first = Take(*s, 2000);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->id, a);
  EXPECT_EQ(first->state, "dialling");
  EXPECT_EQ(first->attempts, 1);
  // 111 is being called: its second call waits, 222 goes first.
  auto second = Take(*s, 2000, {"111"});
  ASSERT_TRUE(second);
  EXPECT_EQ(second->id, b);
  EXPECT_FALSE(Take(*s, 2000, {"111", "222"}));

  AttemptEnd busy{"busy", "486 Busy Here", "busy", "busy on try 1 of 3", 5000, "111,2002", ""};
  std::string error;
  ASSERT_EQ(s->FinishAttempt(a, 1, busy, At(2500), error), Written::Done) << error;
  auto third = Take(*s, 2600);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->id, c);       // a waits for its retry time
  const AttemptEnd done{"answered", "end of file", state::kDone, "answered", std::nullopt, "", "person"};
  ASSERT_EQ(s->FinishAttempt(c, 1, done, At(2700), error), Written::Done) << error;
  EXPECT_FALSE(Take(*s, 4999));
  EXPECT_EQ(s->NextDueTick(), 5000);
  auto retry = Take(*s, 5000);
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
  EXPECT_EQ(rec.history[0].node, "gw1");
  EXPECT_EQ(rec.node, "gw1");
  EXPECT_EQ(rec.history[1].startedMs, 5000);
  EXPECT_FALSE(rec.history[1].endedMs);
  EXPECT_EQ(rec.history[0].answerer, "");
  ASSERT_TRUE(s->Get(c, rec));
  EXPECT_EQ(rec.history.at(0).answerer, "person");
}

// A snoozed try (key 2) waits like a retry, but never expires; the claim of the call it asked
// for counts it, so that the tries used leave it out.
TEST_P(StoreTest, AClaimCountsTheSnoozesBeforeIt) {
  auto s = Open();
  const long long id = Accept(*s, Request("111"), 1000);
  ASSERT_TRUE(Take(*s, 2000));
  const AttemptEnd snoozed{"snoozed", "to be called again", state::kSnoozed, "snoozed", 4000, "", "person"};
  std::string error;
  ASSERT_EQ(s->FinishAttempt(id, 1, snoozed, At(2500), error), Written::Done) << error;
  EXPECT_FALSE(Take(*s, 3999));
  // Placed already, it waits past max_wait without expiring.
  EXPECT_TRUE(s->ExpireWaiting(At(3999), 1000, "waited too long", error).empty()) << error;
  auto again = Take(*s, 4000);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->attempts, 2);
  EXPECT_EQ(again->snoozes, 1);
}

TEST_P(StoreTest, TextIsRemovedWhenASelfDeletingCallEnds) {
  auto s = Open();
  const long long keep = Accept(*s, Request("111", false));
  const long long drop = Accept(*s, Request("222", true));
  std::string error;
  for (long long id : {keep, drop}) {
    ASSERT_TRUE(Take(*s, 2000));
    AttemptEnd retry{"no answer", "", "no answer", "", 3000, "", ""};
    ASSERT_EQ(s->FinishAttempt(id, 1, retry, At(2100), error), Written::Done);
    CallRecord c;
    ASSERT_TRUE(s->Get(id, c));
    EXPECT_TRUE(c.text) << "a call still to be retried keeps its text";
  }
  for (long long id : {keep, drop}) {
    ASSERT_TRUE(Take(*s, 3000));
    ASSERT_EQ(s->MarkAnswered(id, 2, At(3100), error), Written::Done);
    const AttemptEnd done{"answered", "end of file", "done", "answered", std::nullopt, "", ""};
    ASSERT_EQ(s->FinishAttempt(id, 2, done, At(3200), error), Written::Done);
  }
  CallRecord c;
  ASSERT_TRUE(s->Get(keep, c));
  EXPECT_EQ(c.text, "text for 111");
  ASSERT_TRUE(s->Get(drop, c));
  EXPECT_FALSE(c.text);
  EXPECT_EQ(c.state, "done");
  EXPECT_EQ(c.history[1].answeredMs, 3100);
}

TEST_P(StoreTest, AttemptsCutShortByAStopAreClosedNotRedialled) {
  auto s = Open();
  const long long dialling = Accept(*s, Request("111"));
  const long long answered = Accept(*s, Request("222"));
  const long long queued = Accept(*s, Request("333"));
  std::string error;
  ASSERT_TRUE(Take(*s, 2000));
  ASSERT_TRUE(Take(*s, 2000));
  ASSERT_EQ(s->MarkAnswered(answered, 1, At(2100), error), Written::Done);
  s.reset();  // as after kill -9: nothing else was written

  s = Open();
  const std::vector<CallRecord> closed = s->CloseInterrupted(At(5000), error);
  ASSERT_EQ(closed.size(), 2u);
  CallRecord c;
  ASSERT_TRUE(s->Get(dialling, c));
  EXPECT_EQ(c.state, "failed");
  EXPECT_EQ(c.reason, "the gateway stopped while dialling; not dialled again, the phone may have rung");
  EXPECT_EQ(c.history[0].outcome, "interrupted");
  EXPECT_FALSE(c.text);
  ASSERT_TRUE(s->Get(answered, c));
  EXPECT_EQ(c.state, "done");
  auto next = Take(*s, 6000);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->id, queued);
  EXPECT_FALSE(Take(*s, 6000));
}

TEST_P(StoreTest, CallsWaitingTooLongExpireTheRestWait) {
  auto s = Open();
  const long long old = Accept(*s, Request("5550101"), 1000);            // queued since 1000
  const long long retry = Accept(*s, Request("5550102", false), 1000);   // waits for a retry
  const long long going = Accept(*s, Request("5550103"), 1000);          // being dialled
  const long long fresh = Accept(*s, Request("5550104"), 5000);
  std::string error;
  ASSERT_EQ(Take(*s, 2000, {"5550101", "5550103"})->id, retry);
  AttemptEnd busy{"busy", "486 Busy Here", state::kBusy, "busy on try 1 of 3", 9000, "", ""};
  ASSERT_EQ(s->FinishAttempt(retry, 1, busy, At(2000), error), Written::Done) << error;
  ASSERT_EQ(Take(*s, 2000, {"5550101"})->id, going);

  const std::vector<CallRecord> expired =
      s->ExpireWaiting(At(6000), 5000, "not placed: waited more than 60 minutes", error);
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
  EXPECT_EQ(Take(*s, 100000)->id, fresh);  // nothing expired is dialled
  EXPECT_FALSE(Take(*s, 100000));
}

// The caller's token is kept with its call. A store made before tokens were given gains the
// column when opened: its calls have none (administrators alone may read them), new ones theirs.
TEST_P(StoreTest, TheCallersTokenIsKeptAndAnOlderStoreGainsItsColumn) {
  const std::string path = dir_.path() + "/calls.db";
  CallRequest withToken = Request("111");
  withToken.callerToken = "00112233445566778899aabbccddeeff";
  long long before = 0;
  {
    auto s = Open();
    before = Accept(*s, withToken);
  }
  if (Postgres()) {
    db_.Sql("ALTER TABLE calls DROP COLUMN caller_token");
  } else {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE calls DROP COLUMN caller_token", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  std::vector<CallRecord> listed;
  std::string error;
  ASSERT_TRUE(List(listed, error)) << "--list reads the store before its upgrade: " << error;
  ASSERT_EQ(listed.size(), 1u);
  auto s = Open();
  const long long after = Accept(*s, withToken);
  const long long without = Accept(*s, Request("222"));
  CallRecord c;
  ASSERT_TRUE(s->Get(before, c));
  EXPECT_EQ(c.callerToken, "") << "stored before the upgrade";
  ASSERT_TRUE(s->Get(after, c));
  EXPECT_EQ(c.callerToken, withToken.callerToken);
  ASSERT_TRUE(s->Get(without, c));
  EXPECT_EQ(c.callerToken, "");
  const std::optional<CallRecord> taken = Take(*s, 2000);
  ASSERT_TRUE(taken);
  EXPECT_EQ(s->Recent(10).at(1).callerToken, withToken.callerToken);
}

// Writers at once (on PostgreSQL they share commits): each is told the id of its own call.
TEST_P(StoreTest, ManyWritersGetDistinctIds) {
  auto s = Open();
  std::vector<std::thread> threads;
  std::vector<std::map<long long, std::string>> ids(8);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        const std::string number = std::to_string(1000 + t * 100 + i);
        ids[static_cast<size_t>(t)][Accept(*s, Request(number))] = number;
      }
    });
  for (auto& t : threads) t.join();
  std::map<long long, std::string> all;
  for (const auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 200u);
  EXPECT_EQ(all.begin()->first, 1);
  EXPECT_EQ(all.rbegin()->first, 200);
  const std::vector<CallRecord> stored = s->Recent(500);
  EXPECT_EQ(stored.size(), 200u);
  for (const CallRecord& c : stored) EXPECT_EQ(c.number, all[c.id]) << "call " << c.id;
}

#ifndef TALMERY_TEST_POSTGRES
class SqliteStoreTest : public StoreTest {};
INSTANTIATE_TEST_SUITE_P(Store, SqliteStoreTest, ::testing::Values("sqlite"), [](const auto& p) { return p.param; });

// An id an agent was given never names another call: the ids go on past a stop, past a copy of
// the database restored over it, and past a database deleted after a crash (kill -9: no clean
// stop wrote the last id).
TEST_P(SqliteStoreTest, IdsNeverRepeatOverTheDatabasesLife) {
  const std::string db = dir_.path() + "/calls.db";
  auto removeDatabase = [&] {
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((db + suffix).c_str());
  };
  for (long long id : {1, 2, 3, 4}) EXPECT_EQ(Accept(*Open(), Request("111")), id) << "a stop leaves no gap";

  removeDatabase();
  EXPECT_EQ(Accept(*Open(), Request("111")), 5) << "a new database goes on past the last id";

  ASSERT_EQ(std::system(("cp " + db + " " + db + ".copy").c_str()), 0);
  EXPECT_EQ(Accept(*Open(), Request("111")), 6);
  ASSERT_EQ(std::system(("mv " + db + ".copy " + db).c_str()), 0);
  EXPECT_EQ(Accept(*Open(), Request("111")), 7) << "a restored copy does not give 6 again";

  const pid_t child = fork();
  if (child == 0) {
    std::string error;
    auto s = SqliteStore::Open(db, clock_, error);
    long long id = 0;
    _exit(s && s->Accept(Request("111"), "", 3, At(1000), id, error) == Written::Done && id == 8 ? 0 : 1);  // as kill -9
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  removeDatabase();
  EXPECT_GT(Accept(*Open(), Request("111")), 8) << "a crash, then a new database";
}

// A call waits for its retry (pause 60 s) and expires after max_wait (10 minutes here) by the
// ticks: a wall clock set back or forward changes neither, across a restart of the gateway too.
// After a reboot the ticks start again, and the time the machine was off is taken from the wall
// clock, never less than nothing: a retry then waits at most its pause.
TEST_P(SqliteStoreTest, WaitingIsMeasuredInTicksWhateverTheWallClockDoes) {
  enum class Restart { None, SameBoot, Reboot };
  const struct {
    const char* what;
    Restart restart;
    long long ticks, wall;  // passed since the retry was set (Reboot: ticks are the new boot's)
    const char* expect;     // the call after the expiry and a claim: "waiting", "due" or "expired"
  } cases[] = {
      {"wall clock set back an hour", Restart::None, 60000, -3600000, "due"},
      {"wall clock set forward a day", Restart::None, 59000, 86400000, "waiting"},
      {"restart, wall clock set back", Restart::SameBoot, 60000, -3600000, "due"},
      {"restart, wall clock set forward", Restart::SameBoot, 30000, 86400000, "waiting"},
      {"restart after max_wait", Restart::SameBoot, 600000, 0, "expired"},
      {"reboot, off for 30 s", Restart::Reboot, 5000, 30000, "waiting"},
      {"reboot, off for 61 s", Restart::Reboot, 5000, 61000, "due"},
      {"reboot, wall clock set back while off", Restart::Reboot, 5000, -3600000, "waiting"},
      {"reboot, off for 11 minutes", Restart::Reboot, 5000, 660000, "expired"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    gwtest::TempDir dir;
    gwtest::FakeClock clock(100000, 1'800'000'000'000);
    std::string error;
    auto s = SqliteStore::Open(dir.path() + "/calls.db", clock, error);
    ASSERT_TRUE(s) << error;
    const long long id = AcceptAt(*s, Request("111"), clock.Now());
    ASSERT_TRUE(TakeAt(*s, clock.Now()));
    clock.Pass(2000);
    const AttemptEnd busy{"busy", "486 Busy Here", state::kBusy, "busy on try 1 of 3", clock.Now().tickMs + 60000, "", ""};
    ASSERT_EQ(s->FinishAttempt(id, 1, busy, clock.Now(), error), Written::Done) << error;
    if (c.restart != Restart::None) s.reset();
    if (c.restart == Restart::Reboot) clock.Reboot(c.ticks);
    else clock.Pass(c.ticks);
    clock.StepWall(c.restart == Restart::Reboot ? c.wall : c.wall - c.ticks);
    if (!s) s = SqliteStore::Open(dir.path() + "/calls.db", clock, error);
    ASSERT_TRUE(s) << error;
    const bool expired = !s->ExpireWaiting(clock.Now(), 600000, "not placed", error).empty();
    const bool due = TakeAt(*s, clock.Now()).has_value();
    EXPECT_STREQ(expired ? "expired" : due ? "due" : "waiting", c.expect);
  }
}

// A store made before tries named their gateway, the numbers they dialled and who answered is
// upgraded when opened: its old tries name none, new ones keep theirs; --list reads it before
// the upgrade.
TEST_P(SqliteStoreTest, AnOlderStoreGainsTheNodeAndTheNumbersDialledOfEachTry) {
  const std::string path = dir_.path() + "/calls.db";
  {
    auto s = Open();
    Accept(*s, Request("111"));
    ASSERT_TRUE(Take(*s, 2000));
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "ALTER TABLE attempts DROP COLUMN node; ALTER TABLE attempts DROP COLUMN dialled; "
                         "ALTER TABLE attempts DROP COLUMN answerer",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::vector<CallRecord> read;
  std::string error;
  ASSERT_TRUE(ReadRecentCalls(path, 10, read, error)) << error;
  ASSERT_EQ(read.at(0).history.size(), 1u);
  EXPECT_EQ(read[0].history[0].node, "");
  auto s = Open();
  const long long id = Accept(*s, Request("222"));
  ASSERT_TRUE(Take(*s, 3000));
  ASSERT_EQ(s->FinishAttempt(id, 1, {"answered", "x", "failed", "x", std::nullopt, "222,2002", "machine"}, At(3100), error),
            Written::Done)
      << error;
  const std::vector<CallRecord> calls = s->Recent(10);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].node, "gw1");
  EXPECT_EQ(calls[0].history.at(0).dialled, "222,2002");
  EXPECT_EQ(calls[1].node, "");
  EXPECT_EQ(calls[1].history.at(0).dialled, "");
  EXPECT_EQ(calls[0].history.at(0).answerer, "machine");
  EXPECT_EQ(calls[1].history.at(0).answerer, "");
}
#endif

}  // namespace
}  // namespace talmery
