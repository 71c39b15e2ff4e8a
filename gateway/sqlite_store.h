#pragma once
// The call store of one gateway: one SQLite file (see CallStore in store.h for the contract).
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway/clock.h"
#include "gateway/owned_fd.h"
#include "gateway/store.h"

namespace talmery {

// A connection, closed with its owner.
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

// One SQLite file in WAL mode, for one gateway process. Every change is committed (fsync of the
// log) before the caller goes on. One writer thread owns the writing connection and commits
// whatever is waiting in one transaction, so that many requests at once share one fsync; reads
// use a connection of their own.
//
// Beside the database: <database>.lock, locked by the serving process and holding its pid, and
// <database>.ids, a bound above every id the store has given. A database that is deleted and
// made again starts its ids past that bound, so an id an agent was given never names another
// call (see the README on ids).
class SqliteStore : public CallStore {
 public:
  // Opens the store at `path` for the gateway that serves it, creating it when missing. The
  // lock comes first, before anything of the store is read or written: a second gateway on the
  // same database is refused, naming the pid of the first.
  // `node` names this gateway in the calls' tries; `commits` is told the time of each commit.
  static std::unique_ptr<SqliteStore> Open(const std::string& path, const GatewayClock& clock, std::string& error,
                                           const std::string& node = "", CommitObserver commits = {});
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

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

 private:
  using Job = std::function<bool(sqlite3*, std::string&)>;
  SqliteStore(OwnedFd lock, Sqlite writer, Sqlite reader, std::string boot, long long offsetMs, std::string idsPath,
              long long idsReserved, long long idFloor, std::string node, CommitObserver commits);
  // Runs `job` in the writer thread; true once it is committed. `now` is when it was asked for.
  bool Run(const Instant& now, Job job, std::string& error);
  void WriterLoop();
  // The store's own time of `now`: see StoreTime in sqlite_store.cpp.
  long long Mono(const Instant& now) const { return now.tickMs + offsetMs_; }
  bool ReserveIds(long long id, std::string& error);

  struct Pending {
    Job job;
    Instant now;
    bool done = false, ok = false;
    std::string error;
  };
  OwnedFd lock_;
  Sqlite writer_, reader_;
  const std::string boot_;
  const long long offsetMs_;
  const std::string idsPath_;
  const std::string node_;
  const CommitObserver commits_;        // set before the writer thread starts
  long long idsReserved_;               // the bound in <database>.ids (the writer thread's)
  std::atomic<long long> idFloor_;      // > 0: the next id is given past it (see RaiseIds)
  std::optional<long long> seenWritten_;  // the store time last noted in store_clock (the writer thread's)
  std::mutex readMu_;
  std::mutex mu_;
  std::condition_variable wake_, finished_;
  std::deque<Pending*> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

// The most recent calls of the store at `path`, read without locking or writing it
// (talmery-gateway --list, while the gateway runs).
bool ReadRecentCalls(const std::string& path, int count, std::vector<CallRecord>& calls, std::string& error);

}  // namespace talmery
