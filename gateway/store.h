#pragma once
// The call store: one SQLite file in WAL mode. Every change is committed (fsync of the log)
// before the caller goes on, so an id is answered only for a call that survives a crash. One
// writer thread owns the writing connection and commits whatever is waiting in one transaction,
// so that many requests at once share one fsync; reads use a connection of their own.
#include <sqlite3.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway/call_request.h"

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
}  // namespace state

struct AttemptRecord {
  int attempt = 0;
  int line = -1;
  long long startedMs = 0;
  std::optional<long long> answeredMs, endedMs;
  std::string outcome, detail;
  std::string dialled;  // the numbers dialled, comma-separated: the call's, then each redirect's
};

struct CallRecord {
  long long id = 0;
  std::string number;
  std::optional<std::string> text;  // empty once removed after the call (selfdelete=1)
  bool selfDelete = false;
  int firstOcc = 0;
  std::string state;
  int attempts = 0, maxAttempts = 0;
  long long createdMs = 0, updatedMs = 0;
  std::optional<long long> nextMs;  // when a waiting call may be dialled
  std::string reason;
  std::vector<AttemptRecord> history;
};

// How an attempt ended, as the store records it.
struct AttemptEnd {
  std::string outcome;   // answered, busy, no answer, failed
  std::string detail;    // what the network said
  std::string state;     // the call's next state: done, busy, no answer (to retry), failed
  std::string reason;    // shown to people
  std::optional<long long> nextMs;
  std::string dialled;   // the numbers dialled, comma-separated
};

// What the metrics read of the store at each scrape.
struct StoreFigures {
  std::map<std::string, long long> byState;  // calls in the store, per state
  long long waiting = 0;                     // queued or waiting for their next try
  std::optional<long long> oldestWaitingMs;  // when the longest-waiting of them was received
};

class Sqlite {
 public:
  Sqlite() = default;
  explicit Sqlite(sqlite3* db) : db_(db) {}
  Sqlite(Sqlite&& o) noexcept : db_(o.db_) { o.db_ = nullptr; }
  Sqlite& operator=(Sqlite&& o) noexcept;
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;
  ~Sqlite();
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class CallStore {
 public:
  // Opens (creating when `create`) the store at `path`.
  static std::unique_ptr<CallStore> Open(const std::string& path, bool create, std::string& error);
  ~CallStore();
  CallStore(const CallStore&) = delete;
  CallStore& operator=(const CallStore&) = delete;

  // Stores a new call in state queued; true once it is on disk.
  bool Accept(const CallRequest& request, int maxAttempts, long long nowMs, long long& id, std::string& error);

  // Takes the first call that is due (by due time, then id) and whose number is not in `skip`:
  // it becomes dialling, its attempt count grows and an attempt row is started, all on disk
  // before this returns. No due call: true with `call` empty.
  bool ClaimNext(long long nowMs, const std::set<std::string>& skip, int line, std::optional<CallRecord>& call,
                 std::string& error);
  bool MarkAnswered(long long id, int attempt, long long nowMs, std::string& error);
  // Ends the attempt and moves the call on; a call that ends with selfdelete loses its text.
  bool FinishAttempt(long long id, int attempt, const AttemptEnd& end, long long nowMs, std::string& error);

  // After a restart: attempts that were going on when the gateway stopped are closed (not
  // dialled again: their INVITE may have rung the phone). Returns the calls it closed.
  std::vector<CallRecord> CloseInterrupted(long long nowMs, std::string& error);

  // Calls waiting (queued or for a retry) that arrived at or before `receivedBeforeMs` become
  // expired, and lose their text with selfdelete; returns them.
  std::vector<CallRecord> ExpireWaiting(long long receivedBeforeMs, long long nowMs, const std::string& reason,
                                        std::string& error);

  // The earliest due time of a waiting call, if any.
  std::optional<long long> NextDueMs();
  bool Get(long long id, CallRecord& call);
  std::vector<CallRecord> Recent(int count);

  // For the limits on accepted calls: the calls waiting now (queued or waiting for a retry),
  // and the creation times of the calls accepted since `sinceMs`.
  long long CountWaiting();
  std::vector<long long> CreatedSince(long long sinceMs);
  StoreFigures Figures();

 private:
  using Job = std::function<bool(sqlite3*, std::string&)>;
  CallStore(Sqlite writer, Sqlite reader);
  bool Run(Job job, std::string& error);
  void WriterLoop();
  bool LoadHistory(CallRecord& call);

  struct Pending {
    Job job;
    bool done = false, ok = false;
    std::string error;
  };
  Sqlite writer_, reader_;
  std::mutex readMu_;
  std::mutex mu_;
  std::condition_variable wake_, finished_;
  std::deque<Pending*> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace talmery
