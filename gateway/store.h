#pragma once
// The call store: where accepted calls wait, are claimed by a line, and end. CallStore is what
// the dispatcher and the HTTP side need of any back end: SqliteStore (one SQLite file, one
// gateway) in sqlite_store.h, PgStore (PostgreSQL, shared by several gateways, each a node) in
// pg_store.h.
//
// The contract, for every back end: a call is dialled only after its claim is durably recorded
// (ClaimNext says Claimed only then), and an id is answered only for a call durably recorded
// (Accept says Done only then). A write that fails leaves nothing behind that could be dialled:
// an ERROR answered for a request is never followed by a call, and a claim that failed is never
// placed. On a shared store each claim names the node that holds it, and every later write
// about the call checks that the node still does: a node that lost its claim (it was silent
// longer than its lease, and another node closed the call) changes nothing.
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gateway/call_request.h"
#include "gateway/clock.h"

namespace talmery {

// The states of a call. A call waits in kQueued (or in kBusy / kNoAnswer until its next try),
// is kDialling from the moment its INVITE may be on the wire, kAnswered once the callee took it,
// and ends in kDone or kFailed.
namespace state {
constexpr char kQueued[] = "queued";
constexpr char kDialling[] = "dialling";
constexpr char kAnswered[] = "answered";
constexpr char kDone[] = "done";
constexpr char kBusy[] = "busy";
constexpr char kNoAnswer[] = "no answer";
constexpr char kFailed[] = "failed";
// Waiting for the next try after a passing fault (a congested PBX, a local speech fault).
constexpr char kTemporary[] = "temporary failure";
// Not placed: it waited longer than max_wait.
constexpr char kExpired[] = "expired";
// Put off by the callee (key 2): waiting for the call they asked for.
constexpr char kSnoozed[] = "snoozed";
}  // namespace state

struct AttemptRecord {
  int attempt = 0;
  int line = -1;
  std::string node;  // the gateway that placed it
  long long startedMs = 0;
  std::optional<long long> answeredMs, endedMs;
  std::string outcome, detail;
  std::string dialled;  // the numbers dialled, comma-separated: the call's, then each redirect's
  std::string answerer;  // who answered: person, machine, not sure; empty when nobody did (or an older gateway's try)
};

struct CallRecord {
  long long id = 0;
  std::string number;
  std::optional<std::string> text;  // empty once removed after the call (selfdelete=1)
  bool selfDelete = false;
  int firstOcc = 0;
  std::string state;
  int attempts = 0, maxAttempts = 0;
  long long createdMs = 0, updatedMs = 0;  // wall clock, for display
  std::optional<long long> nextMs;  // wall clock: when a waiting call may be dialled, for display
  long long createdTick = 0;        // when it was accepted, in ticks (what waiting is measured in)
  std::string reason;
  std::string node;                 // the gateway that placed (or places) its last try; empty before one
  int snoozes = 0;                  // tries that ended snoozed (key 2), before the claimed one (ClaimNext only)
  // What the caller must show to read the call (CallRequest::callerToken); empty for a call
  // stored before tokens were given: such a call is read by administrators only. Never shown.
  std::string callerToken;
  std::vector<AttemptRecord> history;
};

// How an attempt ended, as the store records it.
struct AttemptEnd {
  std::string outcome;   // answered, busy, no answer, failed
  std::string detail;    // what the network said
  std::string state;     // the call's next state: done, busy, no answer (to retry), failed
  std::string reason;    // shown to people
  std::optional<long long> nextMs;  // the tick of the next try (a tick of the `now` of the attempt's end)
  std::string dialled;   // the numbers dialled, comma-separated
  std::string answerer;  // who answered (AnswererWord); empty when nobody did
};

// What the metrics read of the store at each scrape.
struct StoreFigures {
  std::map<std::string, long long> byState;  // calls in the store, per state
  long long waiting = 0;                     // queued or waiting for their next try
  std::optional<long long> oldestWaitingMs;  // when the longest-waiting of them was received
};

// Told how long each commit of a store took (a batch of changes, durable once it ends). Whoever
// opens the store gives it (the gateway: the metrics' histogram of commits); the store knows no
// more of who listens. Called on the thread that committed; empty: nobody is told.
using CommitObserver = std::function<void(std::chrono::steady_clock::duration)>;

// A commit, timed from construction to destruction for its observer.
class CommitTimer {
 public:
  explicit CommitTimer(const CommitObserver& observer) : observer_(observer), start_(std::chrono::steady_clock::now()) {}
  ~CommitTimer() {
    if (observer_) observer_(std::chrono::steady_clock::now() - start_);
  }
  CommitTimer(const CommitTimer&) = delete;
  CommitTimer& operator=(const CommitTimer&) = delete;

 private:
  const CommitObserver& observer_;
  std::chrono::steady_clock::time_point start_;
};

// What became of a write. Done: durably recorded. Failed: nothing of it was recorded, nor ever
// will be. Unknown: the database went away while committing it and could not be asked since: it
// may be recorded (an accepted call so left is answered neither its id nor ERROR). ClaimLost:
// this node no longer holds the call's claim (another node closed it): nothing was written.
enum class Written { Done, Failed, Unknown, ClaimLost };

// One gateway of a shared store, as the nodes table shows it (wall times of that node).
struct NodeRecord {
  std::string node, host;
  long long pid = 0;
  long long startedMs = 0, seenMs = 0;
  std::optional<long long> stoppedMs;  // set by a clean stop, cleared by the next start
  int lines = 0, linesInUse = 0;
  std::string registration;            // the PBX registration's state, empty without one
  int leaseSeconds = 0;
  bool silent = false;                 // silent longer than its lease, as this node has watched it
};

// What a node says of itself at each renewal of its lease.
struct NodeState {
  int lines = 0, linesInUse = 0;
  std::string registration;
};

// For the limits on accepted calls, counted over every node of the store.
struct SharedCounts {
  long long waiting = 0;                           // calls waiting now (queued or for a retry), all nodes'
  long long othersToday = 0;                       // accepted by the other nodes in the last 24 hours
  std::map<std::string, long long> othersMinute;   // accepted by the other nodes in the last minute, per client
};

// What ClaimNext found. Claimed: `call` is now dialling with its new attempt started, and that
// is durably recorded: it may be dialled. NoneDue: no call may be dialled now. Failed: nothing
// could be recorded (`error` says why): no call may be dialled on this claim.
struct Claim {
  enum class Status { Claimed, NoneDue, Failed };
  Status status = Status::NoneDue;
  CallRecord call;
  std::string error;
};

// Times given to the store are Instants of the gateway's Clock; times it gives back in ticks are
// on that clock's ticks too. The wall clock is only written beside them, for display.
class CallStore {
 public:
  virtual ~CallStore() = default;

  // Stores a new call, queued and due at once. Done only once it is durably recorded; `id` is
  // then its id, never given to another call of this store. Failed: nothing of it is kept.
  // `client` is the address that posted it.
  virtual Written Accept(const CallRequest& request, const std::string& client, int maxAttempts, const Instant& now,
                         long long& id, std::string& error) = 0;
  // Claims, for `line`, the first due call (by due time, then id) whose number is not in `skip`
  // (nor, on a shared store, being called by another node).
  virtual Claim ClaimNext(const Instant& now, const std::set<std::string>& skip, int line) = 0;
  virtual Written MarkAnswered(long long id, int attempt, const Instant& now, std::string& error) = 0;
  // Ends the attempt and moves the call on (to end.nextMs for a retry); a call that ends with
  // selfdelete loses its text.
  virtual Written FinishAttempt(long long id, int attempt, const AttemptEnd& end, const Instant& now,
                                std::string& error) = 0;
  // After a restart: attempts of this gateway that were going on when it stopped are closed (not
  // dialled again: their INVITE may have rung the phone). Returns the calls it closed.
  virtual std::vector<CallRecord> CloseInterrupted(const Instant& now, std::string& error) = 0;
  // Calls waiting (queued or for a retry) for `maxWaitMs` or longer since they were accepted
  // become expired, and lose their text with selfdelete; returns them. A snoozed call is not
  // one: it was placed, and comes again as its callee asked, before the appointment.
  virtual std::vector<CallRecord> ExpireWaiting(const Instant& now, long long maxWaitMs, const std::string& reason,
                                                std::string& error) = 0;

  // The tick at which the earliest waiting call is due, if any.
  virtual std::optional<long long> NextDueTick() = 0;
  virtual bool Get(long long id, CallRecord& call) = 0;
  virtual std::vector<CallRecord> Recent(int count) = 0;
  // For the limits on accepted calls: the calls waiting now (queued or waiting for a retry),
  // and the ticks at which the calls accepted since `sinceTick` were accepted.
  virtual long long CountWaiting() = 0;
  virtual std::vector<long long> AcceptedSince(long long sinceTick) = 0;
  // For the metrics: calls per state, and the queue's length and oldest call.
  virtual StoreFigures Figures(const Instant& now) = 0;

  // A store shared by several gateways (nodes). The rest is theirs; a store of one gateway
  // keeps the defaults.
  virtual bool Shared() const { return false; }
  // The calls waiting, and on a shared store what the other nodes accepted (AcceptedSince
  // counts this node's own).
  virtual SharedCounts Counts(const Instant& /*now*/) {
    SharedCounts counts;
    counts.waiting = CountWaiting();
    return counts;
  }
  // Renews this node's lease (its calls in progress stay its own) with what it says of itself.
  virtual bool Renew(const Instant& /*now*/, const NodeState& /*state*/, std::string& /*error*/) { return true; }
  // The calls in progress of the other nodes that stayed silent longer than their lease, closed
  // as a restart closes its own (never dialled again); returns them.
  virtual std::vector<CallRecord> CloseSilentNodes(const Instant& /*now*/, std::string& /*error*/) { return {}; }
  virtual std::vector<NodeRecord> Nodes() { return {}; }
};

}  // namespace talmery
