// The PostgreSQL store as several gateways (nodes) share it: one queue in order, one number
// called by one node at a time, a silent node's calls in progress closed after its lease and its
// queue taken at once, a node that lost its claim changes nothing, a restart closes its own calls
// only, one process per node name, nodes starting together on an empty database, and commits
// whose answer never came.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

#include "gateway/pg_store.h"
#include "tests/gateway/fake_clock.h"
#include "tests/gateway/pg_test_db.h"

namespace talmery {
namespace {

constexpr char kWhileDialling[] = "the gateway stopped while dialling; not dialled again, the phone may have rung";
constexpr char kDuringMessage[] = "answered; the gateway stopped during the message";

CallRequest Request(const std::string& number) { return {number, "Reminder for " + number + ".", true, 15, ""}; }

class PgNodes : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!db_->Usable()) GTEST_SKIP() << db_->Skip();
  }
  std::unique_ptr<PgStore> Node(const std::string& name) {
    std::string error;
    auto store = PgStore::Open(db_->Uri(), name, 30, clock_, error);
    EXPECT_TRUE(store) << error;
    return store;
  }
  long long Accept(CallStore& s, const std::string& number, const std::string& from = "192.0.2.1") {
    long long id = 0;
    std::string error;
    EXPECT_EQ(s.Accept(Request(number), from, 3, clock_.Now(), id, error), Written::Done) << error;
    return id;
  }
  long long Take(CallStore& s) {
    const Claim claim = s.ClaimNext(clock_.Now(), {}, 0);
    EXPECT_NE(claim.status, Claim::Status::Failed) << claim.error;
    return claim.status == Claim::Status::Claimed ? claim.call.id : 0;
  }
  CallRecord Get(CallStore& s, long long id) {
    CallRecord c;
    EXPECT_TRUE(s.Get(id, c)) << id;
    return c;
  }
  // Polls the database until `sql` gives a value (a backend to end); "" after 20 s.
  std::string WaitFor(const std::string& sql) {
    for (int i = 0; i < 1000; ++i) {
      const std::string value = db_->Sql(sql);
      if (!value.empty() && value.compare(0, 6, "error:") != 0) return value;
      usleep(20000);
    }
    return "";
  }
  std::unique_ptr<gwtest::PgTestDatabase> db_ = std::make_unique<gwtest::PgTestDatabase>();
  gwtest::FakeClock clock_{100000, 1'800'000'000'000};
  const AttemptEnd done_{"answered", "end of file", state::kDone, "answered; the message was played", std::nullopt, "", ""};
};

TEST_F(PgNodes, OneQueueInOrderOneNumberAtATime) {
  auto a = Node("gw-a"), b = Node("gw-b");
  const long long first = Accept(*a, "111"), second = Accept(*b, "111"), third = Accept(*a, "222");
  clock_.Pass(1000);  // the nodes' store times agree to within the round trips of their starts
  EXPECT_EQ(Take(*b), first) << "the oldest call, whichever node took it";
  EXPECT_EQ(Take(*a), third) << "111 is being called by the other node";
  EXPECT_EQ(Take(*b), 0);
  std::string error;
  ASSERT_EQ(b->FinishAttempt(first, 1, done_, clock_.Now(), error), Written::Done) << error;
  EXPECT_EQ(Take(*a), second);
  const CallRecord c = Get(*a, first);
  EXPECT_EQ(c.node, "gw-b");
  EXPECT_EQ(c.history.at(0).node, "gw-b");
  EXPECT_EQ(Get(*b, second).node, "gw-a");

  const SharedCounts counts = a->Counts(clock_.Now());
  EXPECT_EQ(counts.othersToday, 1) << "the call gw-b accepted";
  EXPECT_EQ(counts.othersMinute, (std::map<std::string, long long>{{"192.0.2.1", 1}}));
  EXPECT_EQ(a->AcceptedSince(0).size(), 2u) << "gw-a's own";
}

// gw-a has one call dialling, one answered and one queued, then says nothing more. gw-b takes
// the queued one at once; the two in progress are closed only once gw-a was silent for its whole
// lease (30 s) on gw-b's clock, and only if gw-a neither renewed nor claimed meanwhile.
TEST_F(PgNodes, ASilentNodesCallsAreClosedAfterItsLeaseItsQueueTakenAtOnce) {
  const struct {
    const char* what;
    long long silentMs;
    bool renews;
    bool closed;
  } cases[] = {
      {"silent for its lease", 30000, false, true},
      {"silent for less than its lease", 29999, false, false},
      {"renewed within its lease", 30000, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    db_ = std::make_unique<gwtest::PgTestDatabase>();
    auto a = Node("gw-a"), b = Node("gw-b");
    const long long dialling = Accept(*a, "111"), answered = Accept(*a, "222"), queued = Accept(*a, "333");
    const long long own = Accept(*b, "444");
    std::string error;
    ASSERT_EQ(Take(*a), dialling);
    ASSERT_EQ(Take(*a), answered);
    ASSERT_EQ(a->MarkAnswered(answered, 1, clock_.Now(), error), Written::Done) << error;
    EXPECT_EQ(Take(*b), queued) << "a silent node's queue is anyone's at once";
    ASSERT_EQ(Take(*b), own);

    EXPECT_TRUE(b->CloseSilentNodes(clock_.Now(), error).empty()) << "first look";
    clock_.Pass(c.silentMs / 2);
    if (c.renews) ASSERT_TRUE(a->Renew(clock_.Now(), {1, 2, "registered"}, error)) << error;
    EXPECT_TRUE(b->CloseSilentNodes(clock_.Now(), error).empty());
    clock_.Pass(c.silentMs - c.silentMs / 2);
    const std::vector<CallRecord> closed = b->CloseSilentNodes(clock_.Now(), error);
    EXPECT_EQ(error, "");
    if (!c.closed) {
      EXPECT_TRUE(closed.empty());
      EXPECT_EQ(Get(*b, dialling).state, "dialling");
      EXPECT_EQ(a->FinishAttempt(dialling, 1, done_, clock_.Now(), error), Written::Done) << "still its claim";
      continue;
    }
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0].id, dialling);
    EXPECT_EQ(closed[1].id, answered);
    const CallRecord cut = Get(*b, dialling), heard = Get(*b, answered);
    EXPECT_EQ(cut.state, "failed");
    EXPECT_EQ(cut.reason, kWhileDialling);
    EXPECT_EQ(heard.state, "done");
    EXPECT_EQ(heard.reason, kDuringMessage);
    EXPECT_EQ(heard.history.at(0).outcome, "interrupted");
    EXPECT_EQ(heard.history[0].detail, "node gw-a silent for more than 30 s");
    EXPECT_FALSE(heard.text) << "selfdelete";
    EXPECT_EQ(Get(*b, own).state, "dialling") << "gw-b's own call goes on";
    const std::vector<NodeRecord> nodes = b->Nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_TRUE(nodes[0].silent);
    EXPECT_FALSE(nodes[1].silent);

    // gw-a comes back to life: what it says of the calls it lost changes nothing.
    EXPECT_EQ(a->MarkAnswered(dialling, 1, clock_.Now(), error), Written::ClaimLost);
    EXPECT_EQ(error, "call " + std::to_string(dialling) + " was closed by another node: this node's lease had run out");
    EXPECT_EQ(a->FinishAttempt(answered, 1, done_, clock_.Now(), error), Written::ClaimLost);
    EXPECT_EQ(Get(*b, dialling).reason, kWhileDialling);
    EXPECT_EQ(Get(*b, answered).reason, kDuringMessage);
    EXPECT_EQ(Take(*b), 0) << "nothing closed is dialled again";
  }
}

TEST_F(PgNodes, ARestartedNodeClosesItsOwnCallsOnly) {
  auto a = Node("gw-a"), b = Node("gw-b");
  const long long mine = Accept(*a, "111"), theirs = Accept(*a, "222");
  ASSERT_EQ(Take(*a), mine);
  ASSERT_EQ(Take(*b), theirs);
  std::string error;
  ASSERT_EQ(b->MarkAnswered(theirs, 1, clock_.Now(), error), Written::Done);
  a.reset();  // as after kill -9 (the session's lock goes with it)
  a = Node("gw-a");
  const std::vector<CallRecord> closed = a->CloseInterrupted(clock_.Now(), error);
  ASSERT_EQ(closed.size(), 1u) << error;
  EXPECT_EQ(closed[0].id, mine);
  EXPECT_EQ(closed[0].reason, kWhileDialling);
  EXPECT_EQ(Get(*a, mine).history.at(0).detail, "gateway stopped");
  EXPECT_EQ(Get(*a, theirs).state, "answered");
  EXPECT_EQ(b->FinishAttempt(theirs, 1, done_, clock_.Now(), error), Written::Done) << error;
  EXPECT_EQ(Get(*a, theirs).reason, "answered; the message was played");
}

TEST_F(PgNodes, OneProcessPerNodeName) {
  auto a = Node("gw-a");
  std::string error;
  EXPECT_FALSE(PgStore::Open(db_->Uri(), "gw-a", 30, clock_, error));
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(error, "the node name gw-a is in use by another talmery-gateway on this database (pid " +
                       std::to_string(getpid()) + " on " + host + "); one gateway per node name");
  EXPECT_TRUE(Node("gw-b"));
  a.reset();
  EXPECT_TRUE(Node("gw-a")) << "free again once its holder is gone";
}

// pg_locks lists the advisory locks of every database on the server: gateways of other databases
// under the same node name (here sessions that hold its lock as such a gateway would) are not the
// one named.
TEST_F(PgNodes, TheHolderNamedIsOfThisDatabase) {
  constexpr int kNodeLockClass = 0x54616c01;  // the node lock's key: this class, the name's hash
  std::vector<std::unique_ptr<gwtest::PgTestDatabase>> others;
  std::vector<std::unique_ptr<PGconn, decltype(&PQfinish)>> holders;
  for (int i = 0; i < 3; ++i) {
    others.push_back(std::make_unique<gwtest::PgTestDatabase>());
    ASSERT_TRUE(others.back()->Usable()) << others.back()->Skip();
    const std::string uri =
        others.back()->Uri() + "&application_name=talmery-gateway%20node%3Dgw-a%20pid%3D1%20host%3Delsewhere";
    holders.emplace_back(PQconnectdb(uri.c_str()), &PQfinish);
    ASSERT_EQ(PQstatus(holders.back().get()), CONNECTION_OK) << PQerrorMessage(holders.back().get());
    const std::string sql = "SELECT pg_advisory_lock(" + std::to_string(kNodeLockClass) + ", hashtext('gw-a'))";
    PQclear(PQexec(holders.back().get(), sql.c_str()));
  }
  auto a = Node("gw-a");
  std::string error;
  EXPECT_FALSE(PgStore::Open(db_->Uri(), "gw-a", 30, clock_, error));
  EXPECT_NE(error.find("(pid " + std::to_string(getpid()) + " on "), std::string::npos) << error;
}

TEST_F(PgNodes, NodesStartingTogetherOnAnEmptyDatabase) {
  std::vector<std::unique_ptr<PgStore>> nodes(6);
  std::vector<std::string> errors(nodes.size());
  std::vector<std::thread> starting;
  for (size_t i = 0; i < nodes.size(); ++i)
    starting.emplace_back([&, i] { nodes[i] = PgStore::Open(db_->Uri(), "gw" + std::to_string(i), 30, clock_, errors[i]); });
  for (std::thread& t : starting) t.join();
  std::set<long long> ids;
  for (size_t i = 0; i < nodes.size(); ++i) {
    ASSERT_TRUE(nodes[i]) << errors[i];
    ids.insert(Accept(*nodes[i], "111"));
  }
  EXPECT_EQ(ids, (std::set<long long>{1, 2, 3, 4, 5, 6}));
}

// The connection breaks while an accepted call is being committed. Committed on the server (a
// synchronous standby never confirmed it, and the session was ended): the id is answered. Not
// committed (the session was ended while its INSERT waited for a lock): ERROR, and nothing was
// stored that could be dialled.
TEST_F(PgNodes, AnAcceptWhoseCommitBrokeOffIsAnsweredAsTheDatabaseHasIt) {
  const struct {
    const char* what;
    bool committed;
  } cases[] = {{"committed, its answer lost", true}, {"ended before its commit", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    db_ = std::make_unique<gwtest::PgTestDatabase>();
    auto a = Node("gw-a");
    PGconn* holder = nullptr;
    if (c.committed) {
      // The store's next session commits only once a standby that does not exist confirms.
      ASSERT_EQ(db_->Sql("DO $$BEGIN EXECUTE format('ALTER DATABASE %I SET synchronous_commit = on', "
                         "current_database()); END$$"),
                "");
    } else {
      holder = PQconnectdb((db_->Uri()).c_str());
      PQclear(PQexec(holder, "BEGIN; LOCK TABLE calls IN EXCLUSIVE MODE"));
    }
    Written written = Written::Failed;
    long long id = 0;
    std::string error;
    std::thread accepting([&] { written = a->Accept(Request("111"), "192.0.2.1", 3, clock_.Now(), id, error); });
    const std::string pid = WaitFor(std::string("SELECT pid FROM pg_stat_activity WHERE datname = current_database() "
                                                "AND query LIKE 'INSERT INTO calls%' AND wait_event = ") +
                                    (c.committed ? "'SyncRep'" : "'relation'"));
    EXPECT_EQ(db_->Sql("SELECT pg_terminate_backend(" + pid + ")"), "t");
    accepting.join();
    ASSERT_NE(pid, "");
    if (holder) PQfinish(holder);
    db_->Sql("DO $$BEGIN EXECUTE format('ALTER DATABASE %I RESET synchronous_commit', current_database()); END$$");
    EXPECT_EQ(db_->Sql("SELECT COUNT(*) FROM calls"), c.committed ? "1" : "0");
    if (c.committed) {
      EXPECT_EQ(written, Written::Done) << error;
      EXPECT_EQ(id, 1);
    } else {
      EXPECT_EQ(written, Written::Failed);
      EXPECT_NE(error.find("server closed the connection unexpectedly"), std::string::npos) << error;
    }
  }
}

// A claim whose commit broke off is not placed, and the call is not lost with it: it was
// recorded (as dialling, under this node), so it is queued again as it was before the next claim.
TEST_F(PgNodes, AClaimWhoseCommitBrokeOffIsNotPlacedAndStaysQueued) {
  auto a = Node("gw-a"), b = Node("gw-b");
  const long long id = Accept(*b, "111");  // gw-a has no session of its own yet but its lock's
  ASSERT_EQ(db_->Sql("DO $$BEGIN EXECUTE format('ALTER DATABASE %I SET synchronous_commit = on', "
                     "current_database()); END$$"),
            "");
  clock_.Pass(1000);  // the nodes' store times agree to within the round trips of their starts
  Claim claim;
  std::thread claiming([&] { claim = a->ClaimNext(clock_.Now(), {}, 0); });
  const std::string pid = WaitFor(
      "SELECT pid FROM pg_stat_activity WHERE datname = current_database() AND wait_event = 'SyncRep'");
  db_->Sql("DO $$BEGIN EXECUTE format('ALTER DATABASE %I RESET synchronous_commit', current_database()); END$$");
  EXPECT_EQ(db_->Sql("SELECT pg_terminate_backend(" + pid + ")"), "t");
  claiming.join();
  ASSERT_NE(pid, "");
  EXPECT_EQ(claim.status, Claim::Status::Failed);
  EXPECT_EQ(Get(*b, id).state, "dialling") << "committed by the server";
  const Claim again = a->ClaimNext(clock_.Now(), {}, 0);
  ASSERT_EQ(again.status, Claim::Status::Claimed) << again.error;
  EXPECT_EQ(again.call.id, id);
  EXPECT_EQ(again.call.attempts, 1) << "the broken claim was no try";
  EXPECT_EQ(Get(*b, id).history.size(), 1u);
}

}  // namespace
}  // namespace talmery
