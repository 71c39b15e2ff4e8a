#pragma once
// The call store on PostgreSQL, shared by several gateways: each is a node with a name of its
// own, all take requests into one queue and place its calls in order.
//
// Claims and leases. A line claims a due call with UPDATE ... FOR UPDATE SKIP LOCKED, so that two
// nodes never take one call, and under an advisory lock on the number, so that one number is
// never called by two nodes at once. The claim names the node; every later write about the call
// (answered, the try's end) holds only while the call is still in progress under that node's
// name. A node renews its lease (a beat in the nodes table) every quarter of lease_seconds, and
// each of its claims is a beat too. The others watch the beats on their own monotonic clocks: a
// node whose beat stood still for its lease_seconds is silent, and its calls in progress are
// closed as a restart closes its own (never dialled again: the phone may have rung), in a
// transaction that first locks the silent node's row and checks that its beat still stands, so
// that a node that claims or renews at that moment keeps its calls. Its queued calls are
// anyone's at once. No clock of one machine is compared with another's for this.
//
// Time. The store waits by (retries, max_wait, the limits' windows) "store time": this node's
// ticks plus an offset taken from the database server's clock when the store opens, and moved
// towards that clock by at most 1 % of the time between renewals after it, so that the nodes
// agree on it closely, drift between machines does not build up, and a database clock that is
// set back or forward moves nobody's waiting by more than that.
//
// Commits. An accepted call is answered Done only once its INSERT has committed (requests that
// arrive together share one INSERT and one commit). When the connection breaks during a
// commit, the outcome is asked of the database (on a fresh connection, once the old session is
// gone), by a token written with each call: Done when the row is there, Failed when it is not;
// Unknown when no database answers for 35 seconds (longer than an agent waits). A claim whose
// commit broke off is undone the same way before the next claim (it was not dialled).
//
// One process per node name: a session advisory lock keyed by the name, held by a connection
// of its own for the store's life (PostgreSQL's counterpart of the SQLite store's lock file).
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/store.h"

namespace talmery {

class PgStore : public CallStore {
 public:
  // Connects to `uri` (any libpq connection URI without a password: ~/.pgpass or PGPASSFILE
  // gives it), takes `node`'s lock, creates or upgrades the schema (one node at a time) and
  // records the node. False with a reason. `commits` is told the time of each commit.
  static std::unique_ptr<PgStore> Open(const std::string& uri, const std::string& node, int leaseSeconds,
                                       const GatewayClock& clock, std::string& error, CommitObserver commits = {});
  ~PgStore() override;
  PgStore(const PgStore&) = delete;
  PgStore& operator=(const PgStore&) = delete;

  Written Accept(const CallRequest& request, const std::string& client, int maxAttempts, const Instant& now,
                 long long& id, std::string& error) override;
  Claim ClaimNext(const Instant& now, const std::set<std::string>& skip, int line) override;
  Written MarkAnswered(long long id, int attempt, const Instant& now, std::string& error) override;
  Written FinishAttempt(long long id, int attempt, const AttemptEnd& end, const Instant& now,
                        std::string& error) override;
  std::vector<CallRecord> CloseInterrupted(const Instant& now, std::string& error) override;
  std::vector<CallRecord> ExpireWaiting(const Instant& now, long long maxWaitMs, const std::string& reason,
                                        std::string& error) override;
  std::optional<long long> NextDueTick() override;
  bool Get(long long id, CallRecord& call) override;
  std::vector<CallRecord> Recent(int count) override;
  long long CountWaiting() override;
  std::vector<long long> AcceptedSince(long long sinceTick) override;
  StoreFigures Figures(const Instant& now) override;

  bool Shared() const override { return true; }
  SharedCounts Counts(const Instant& now) override;
  bool Renew(const Instant& now, const NodeState& state, std::string& error) override;
  std::vector<CallRecord> CloseSilentNodes(const Instant& now, std::string& error) override;
  std::vector<NodeRecord> Nodes() override;

  struct Session;  // one connection and what the store knows of it

 private:
  struct Backend {  // a session whose commit broke off: to be ended before its outcome is asked
    int pid = 0;
    std::string serverStart;
  };
  struct Unclaim {  // a claim whose commit broke off: undone before the next claim
    long long id;
    int attempt;
    Backend backend;
  };
  struct Watched {  // another node's beat as this node last saw it change
    long long beat;
    long long sinceTick;
  };
  struct PendingAccept {  // a request waiting for its commit (see Accept)
    const CallRequest* request = nullptr;
    const std::string* client = nullptr;
    int maxAttempts = 0;
    Instant now;
    long long token = 0;
    long long id = 0;
    Written written = Written::Failed;
    std::string error;
    bool done = false;
  };
  PgStore(std::string uri, std::string node, int leaseSeconds, const GatewayClock& clock, CommitObserver commits);

  long long StoreTime(const Instant& now) const { return now.tickMs + offsetMs_.load(); }
  long long StoreTimeNow() const { return StoreTime(clock_.Now()); }
  std::unique_ptr<Session> Take(std::string& error);
  void Give(std::unique_ptr<Session> session);
  bool TakeNodeLock(Session& lock, std::string& error);
  bool RecordNode(Session& session, const Instant& now, std::string& error);
  // Waits until the session `old` can commit nothing more (ended by us when its server still
  // runs); false when no database could be reached by `deadlineMs` (of steady time).
  bool Fence(const Backend& old, long long deadlineMs, std::string& error);
  void CommitAccepts(const std::vector<PendingAccept*>& batch);
  void ResolveAccepts(const std::vector<PendingAccept*>& batch, const Backend& old);
  bool UndoUnclaimed(std::string& error);
  // Closes the calls in progress of `node` (this one at a start, a silent one after its lease),
  // in one statement; `beat`, when given, must still be the node's beat (its row locked first).
  std::vector<CallRecord> CloseCallsOf(const std::string& node, std::optional<long long> beat,
                                       const std::string& detail, const Instant& now, std::string& error);
  std::vector<CallRecord> ReadCalls(Session& session, const std::string& where, const std::vector<std::string>& values,
                                    std::string& error);

  const std::string uri_, node_, appName_;
  const int leaseMs_;
  const GatewayClock& clock_;
  const CommitObserver commits_;
  std::atomic<long long> offsetMs_{0};
  std::atomic<bool> lockHeld_{false};
  std::unique_ptr<Session> lock_;  // the node's lock; touched by Renew (one thread) and the destructor
  std::mutex poolMu_;
  std::condition_variable poolFree_;
  std::vector<std::unique_ptr<Session>> idle_;
  int open_ = 0;
  std::mutex unclaimMu_;
  std::vector<Unclaim> unclaimed_;
  std::mutex watchMu_;
  std::map<std::string, Watched> watched_;
  std::mutex acceptMu_;
  std::condition_variable acceptTurn_;
  std::deque<PendingAccept*> acceptQueue_;
  int committing_ = 0;             // batches being committed
  unsigned long long tokenState_;  // under acceptMu_
};

// talmery-gateway --list: the most recent calls and the nodes of the store at `uri`, read
// without taking any node's name.
bool ReadPgListing(const std::string& uri, int count, std::vector<CallRecord>& calls, std::vector<NodeRecord>& nodes,
                   std::string& error);

}  // namespace talmery
