#include "gateway/store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "gateway/metrics.h"

namespace talmery {
namespace {

// One prepared statement, finalised on every path.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) { ok_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) == SQLITE_OK; }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return ok_; }
  Stmt& Bind(int i, long long v) {
    ok_ = ok_ && sqlite3_bind_int64(s_, i, v) == SQLITE_OK;
    return *this;
  }
  Stmt& Bind(int i, const std::string& v) {
    ok_ = ok_ && sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT) == SQLITE_OK;
    return *this;
  }
  Stmt& Bind(int i, const std::optional<long long>& v) {
    ok_ = ok_ && (v ? sqlite3_bind_int64(s_, i, *v) : sqlite3_bind_null(s_, i)) == SQLITE_OK;
    return *this;
  }
  Stmt& BindNull(int i) {
    ok_ = ok_ && sqlite3_bind_null(s_, i) == SQLITE_OK;
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE, or an error code.
  int Step() { return ok_ ? sqlite3_step(s_) : SQLITE_ERROR; }
  bool Exec(std::string& error) {
    const int rc = Step();
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
    error = sqlite3_errmsg(db_);
    return false;
  }
  long long Int(int col) const { return sqlite3_column_int64(s_, col); }
  bool IsNull(int col) const { return sqlite3_column_type(s_, col) == SQLITE_NULL; }
  std::optional<long long> OptInt(int col) const {
    if (IsNull(col)) return std::nullopt;
    return Int(col);
  }
  std::string Text(int col) const {
    const unsigned char* t = sqlite3_column_text(s_, col);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s_, col))) : "";
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
  bool ok_ = false;
};

bool Exec(sqlite3* db, const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

const char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS calls(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  number TEXT NOT NULL,
  text TEXT,
  self_delete INTEGER NOT NULL,
  first_occ INTEGER NOT NULL,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  max_attempts INTEGER NOT NULL,
  created_ms INTEGER NOT NULL,
  updated_ms INTEGER NOT NULL,
  next_ms INTEGER,
  reason TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS calls_due ON calls(next_ms, id) WHERE next_ms IS NOT NULL;
CREATE TABLE IF NOT EXISTS attempts(
  call_id INTEGER NOT NULL,
  attempt INTEGER NOT NULL,
  line INTEGER NOT NULL,
  started_ms INTEGER NOT NULL,
  answered_ms INTEGER,
  ended_ms INTEGER,
  outcome TEXT NOT NULL DEFAULT '',
  detail TEXT NOT NULL DEFAULT '',
  dialled TEXT NOT NULL DEFAULT '',
  PRIMARY KEY(call_id, attempt));
)sql";

const char kCallColumns[] =
    "id, number, text, self_delete, first_occ, state, attempts, max_attempts, created_ms, updated_ms, next_ms, "
    "reason";

CallRecord ReadCall(const Stmt& s) {
  CallRecord c;
  c.id = s.Int(0);
  c.number = s.Text(1);
  if (!s.IsNull(2)) c.text = s.Text(2);
  c.selfDelete = s.Int(3) != 0;
  c.firstOcc = static_cast<int>(s.Int(4));
  c.state = s.Text(5);
  c.attempts = static_cast<int>(s.Int(6));
  c.maxAttempts = static_cast<int>(s.Int(7));
  c.createdMs = s.Int(8);
  c.updatedMs = s.Int(9);
  c.nextMs = s.OptInt(10);
  c.reason = s.Text(11);
  return c;
}

// Stores made before the numbers dialled were recorded get their column (empty for old tries).
bool AddDialled(sqlite3* db, std::string& error) {
  if (Stmt(db, "SELECT dialled FROM attempts LIMIT 0").ok()) return true;
  return Exec(db, "ALTER TABLE attempts ADD COLUMN dialled TEXT NOT NULL DEFAULT ''", error);
}

bool OpenDb(const std::string& path, bool create, Sqlite& out, std::string& error) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  out = Sqlite(db);
  if (rc != SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    return false;
  }
  sqlite3_busy_timeout(db, 10000);
  return true;
}

}  // namespace

Sqlite& Sqlite::operator=(Sqlite&& o) noexcept {
  if (this != &o) {
    if (db_) sqlite3_close_v2(db_);
    db_ = o.db_;
    o.db_ = nullptr;
  }
  return *this;
}

Sqlite::~Sqlite() {
  if (db_) sqlite3_close_v2(db_);
}

std::unique_ptr<CallStore> CallStore::Open(const std::string& path, bool create, std::string& error) {
  // Every number and text is in these files: the owner alone may read them, whatever the
  // umask. SQLite gives the -wal and -shm files the mode of the database file.
  if (create) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      error = path + ": " + std::strerror(errno);
      return nullptr;
    }
    fchmod(fd, 0600);
    close(fd);
    for (const char* suffix : {"-wal", "-shm"}) chmod((path + suffix).c_str(), 0600);
  }
  Sqlite writer, reader;
  if (!OpenDb(path, create, writer, error)) return nullptr;
  // WAL: readers (the status page) never wait for the writer. FULL: each commit is on disk
  // before it returns, so an answered id survives a power cut, not only a crash.
  std::string why;
  if (!Exec(writer.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", why) ||
      !Exec(writer.get(), kSchema, why) || !AddDialled(writer.get(), why)) {
    error = path + ": " + why;
    return nullptr;
  }
  if (!OpenDb(path, false, reader, error)) return nullptr;
  return std::unique_ptr<CallStore>(new CallStore(std::move(writer), std::move(reader)));
}

CallStore::CallStore(Sqlite writer, Sqlite reader)
    : writer_(std::move(writer)), reader_(std::move(reader)), thread_([this] { WriterLoop(); }) {}

CallStore::~CallStore() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool CallStore::Run(Job job, std::string& error) {
  Pending pending;
  pending.job = std::move(job);
  std::unique_lock<std::mutex> lock(mu_);
  if (stopping_) {
    error = "the call store is closing";
    return false;
  }
  queue_.push_back(&pending);
  wake_.notify_one();
  finished_.wait(lock, [&] { return pending.done; });
  if (!pending.ok) error = pending.error;
  return pending.ok;
}

// Commits everything that is waiting in one transaction; each job runs inside a savepoint of
// its own, so one failing job does not take the others with it.
void CallStore::WriterLoop() {
  sqlite3* db = writer_.get();
  for (;;) {
    std::deque<Pending*> batch;
    {
      std::unique_lock<std::mutex> lock(mu_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      batch.swap(queue_);
    }
    const metrics::CommitTimer timer;
    std::string error;
    const bool begun = Exec(db, "BEGIN IMMEDIATE", error);
    for (Pending* p : batch) {
      if (!begun) {
        p->error = error;
        continue;
      }
      std::string why;
      Exec(db, "SAVEPOINT job", why);
      p->ok = p->job(db, p->error);
      if (!p->ok) Exec(db, "ROLLBACK TO job", why);
      Exec(db, "RELEASE job", why);
    }
    if (begun && !Exec(db, "COMMIT", error)) {
      std::string why;
      Exec(db, "ROLLBACK", why);
      for (Pending* p : batch) {
        p->ok = false;
        p->error = error;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      for (Pending* p : batch) p->done = true;
    }
    finished_.notify_all();
  }
}

bool CallStore::Accept(const CallRequest& request, int maxAttempts, long long nowMs, long long& id, std::string& error) {
  return Run(
      [&](sqlite3* db, std::string& err) {
        Stmt s(db,
               "INSERT INTO calls(number, text, self_delete, first_occ, state, max_attempts, created_ms, updated_ms, "
               "next_ms) VALUES(?, ?, ?, ?, 'queued', ?, ?, ?, ?)");
        s.Bind(1, request.number).Bind(2, request.text).Bind(3, request.selfDelete ? 1 : 0);
        s.Bind(4, static_cast<long long>(request.firstOcc)).Bind(5, static_cast<long long>(maxAttempts));
        s.Bind(6, nowMs).Bind(7, nowMs).Bind(8, nowMs);
        if (!s.Exec(err)) return false;
        id = sqlite3_last_insert_rowid(db);
        return true;
      },
      error);
}

bool CallStore::ClaimNext(long long nowMs, const std::set<std::string>& skip, int line,
                          std::optional<CallRecord>& call, std::string& error) {
  call.reset();
  return Run(
      [&](sqlite3* db, std::string& err) {
        const std::string sql = std::string("SELECT ") + kCallColumns +
                                " FROM calls WHERE next_ms IS NOT NULL AND next_ms <= ? ORDER BY next_ms, id";
        Stmt s(db, sql.c_str());
        s.Bind(1, nowMs);
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
          CallRecord c = ReadCall(s);
          if (skip.count(c.number)) continue;
          call = std::move(c);
          break;
        }
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
          err = sqlite3_errmsg(db);
          return false;
        }
        if (!call) return true;
        call->attempts += 1;
        call->state = state::kDialling;
        call->nextMs.reset();
        call->updatedMs = nowMs;
        Stmt u(db, "UPDATE calls SET state='dialling', attempts=?, next_ms=NULL, updated_ms=? WHERE id=?");
        u.Bind(1, static_cast<long long>(call->attempts)).Bind(2, nowMs).Bind(3, call->id);
        Stmt a(db, "INSERT INTO attempts(call_id, attempt, line, started_ms) VALUES(?, ?, ?, ?)");
        a.Bind(1, call->id).Bind(2, static_cast<long long>(call->attempts)).Bind(3, static_cast<long long>(line));
        a.Bind(4, nowMs);
        if (!u.Exec(err) || !a.Exec(err)) {
          call.reset();
          return false;
        }
        return true;
      },
      error);
}

bool CallStore::MarkAnswered(long long id, int attempt, long long nowMs, std::string& error) {
  return Run(
      [&](sqlite3* db, std::string& err) {
        Stmt u(db, "UPDATE calls SET state='answered', updated_ms=? WHERE id=?");
        u.Bind(1, nowMs).Bind(2, id);
        Stmt a(db, "UPDATE attempts SET answered_ms=? WHERE call_id=? AND attempt=?");
        a.Bind(1, nowMs).Bind(2, id).Bind(3, static_cast<long long>(attempt));
        return u.Exec(err) && a.Exec(err);
      },
      error);
}

bool CallStore::FinishAttempt(long long id, int attempt, const AttemptEnd& end, long long nowMs, std::string& error) {
  return Run(
      [&](sqlite3* db, std::string& err) {
        const bool final = end.state == state::kDone || end.state == state::kFailed;
        Stmt u(db,
               final ? "UPDATE calls SET state=?, reason=?, next_ms=?, updated_ms=?, "
                       "text=CASE WHEN self_delete THEN NULL ELSE text END WHERE id=?"
                     : "UPDATE calls SET state=?, reason=?, next_ms=?, updated_ms=? WHERE id=?");
        u.Bind(1, end.state).Bind(2, end.reason).Bind(3, final ? std::nullopt : end.nextMs).Bind(4, nowMs).Bind(5, id);
        Stmt a(db, "UPDATE attempts SET ended_ms=?, outcome=?, detail=?, dialled=? WHERE call_id=? AND attempt=?");
        a.Bind(1, nowMs).Bind(2, end.outcome).Bind(3, end.detail).Bind(4, end.dialled).Bind(5, id);
        a.Bind(6, static_cast<long long>(attempt));
        return u.Exec(err) && a.Exec(err);
      },
      error);
}

std::vector<CallRecord> CallStore::CloseInterrupted(long long nowMs, std::string& error) {
  std::vector<CallRecord> closed;
  const bool ok = Run(
      [&](sqlite3* db, std::string& err) {
        const std::string sql = std::string("SELECT ") + kCallColumns +
                                " FROM calls WHERE state IN ('dialling', 'answered') ORDER BY id";
        Stmt s(db, sql.c_str());
        while (s.Step() == SQLITE_ROW) closed.push_back(ReadCall(s));
        for (CallRecord& c : closed) {
          const bool answered = c.state == state::kAnswered;
          c.state = answered ? state::kDone : state::kFailed;
          c.reason = answered ? "answered; the gateway stopped during the message"
                              : "the gateway stopped while dialling; not dialled again, the phone may have rung";
          Stmt u(db,
                 "UPDATE calls SET state=?, reason=?, next_ms=NULL, updated_ms=?, "
                 "text=CASE WHEN self_delete THEN NULL ELSE text END WHERE id=?");
          u.Bind(1, c.state).Bind(2, c.reason).Bind(3, nowMs).Bind(4, c.id);
          Stmt a(db,
                 "UPDATE attempts SET ended_ms=?, outcome='interrupted', detail='gateway stopped' "
                 "WHERE call_id=? AND attempt=?");
          a.Bind(1, nowMs).Bind(2, c.id).Bind(3, static_cast<long long>(c.attempts));
          if (!u.Exec(err) || !a.Exec(err)) return false;
        }
        return true;
      },
      error);
  if (!ok) closed.clear();
  return closed;
}

long long CallStore::CountWaiting() {
  std::lock_guard<std::mutex> lock(readMu_);
  Stmt s(reader_.get(), "SELECT COUNT(*) FROM calls WHERE next_ms IS NOT NULL");
  return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
}

std::vector<long long> CallStore::CreatedSince(long long sinceMs) {
  std::lock_guard<std::mutex> lock(readMu_);
  Stmt s(reader_.get(), "SELECT created_ms FROM calls WHERE created_ms >= ?");
  s.Bind(1, sinceMs);
  std::vector<long long> times;
  while (s.Step() == SQLITE_ROW) times.push_back(s.Int(0));
  return times;
}

StoreFigures CallStore::Figures() {
  std::lock_guard<std::mutex> lock(readMu_);
  StoreFigures figures;
  Stmt states(reader_.get(), "SELECT state, COUNT(*) FROM calls GROUP BY state");
  while (states.Step() == SQLITE_ROW) figures.byState[states.Text(0)] = states.Int(1);
  Stmt waiting(reader_.get(), "SELECT COUNT(*), MIN(created_ms) FROM calls WHERE next_ms IS NOT NULL");
  if (waiting.Step() == SQLITE_ROW) {
    figures.waiting = waiting.Int(0);
    figures.oldestWaitingMs = waiting.OptInt(1);
  }
  return figures;
}

std::vector<CallRecord> CallStore::ExpireWaiting(long long receivedBeforeMs, long long nowMs, const std::string& reason,
                                                 std::string& error) {
  std::vector<CallRecord> expired;
  const bool ok = Run(
      [&](sqlite3* db, std::string& err) {
        const std::string sql = std::string("SELECT ") + kCallColumns +
                                " FROM calls WHERE next_ms IS NOT NULL AND created_ms <= ? ORDER BY id";
        Stmt s(db, sql.c_str());
        s.Bind(1, receivedBeforeMs);
        while (s.Step() == SQLITE_ROW) expired.push_back(ReadCall(s));
        for (CallRecord& c : expired) {
          c.state = state::kExpired;
          c.reason = reason;
          c.nextMs.reset();
          c.updatedMs = nowMs;
          Stmt u(db,
                 "UPDATE calls SET state='expired', reason=?, next_ms=NULL, updated_ms=?, "
                 "text=CASE WHEN self_delete THEN NULL ELSE text END WHERE id=?");
          u.Bind(1, reason).Bind(2, nowMs).Bind(3, c.id);
          if (!u.Exec(err)) return false;
        }
        return true;
      },
      error);
  if (!ok) expired.clear();
  return expired;
}

std::optional<long long> CallStore::NextDueMs() {
  std::lock_guard<std::mutex> lock(readMu_);
  Stmt s(reader_.get(), "SELECT MIN(next_ms) FROM calls WHERE next_ms IS NOT NULL");
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  return s.OptInt(0);
}

bool CallStore::LoadHistory(CallRecord& call) {
  Stmt s(reader_.get(),
         "SELECT attempt, line, started_ms, answered_ms, ended_ms, outcome, detail, dialled FROM attempts "
         "WHERE call_id=? ORDER BY attempt");
  s.Bind(1, call.id);
  call.history.clear();
  while (s.Step() == SQLITE_ROW) {
    AttemptRecord a;
    a.attempt = static_cast<int>(s.Int(0));
    a.line = static_cast<int>(s.Int(1));
    a.startedMs = s.Int(2);
    a.answeredMs = s.OptInt(3);
    a.endedMs = s.OptInt(4);
    a.outcome = s.Text(5);
    a.detail = s.Text(6);
    a.dialled = s.Text(7);
    call.history.push_back(std::move(a));
  }
  return true;
}

bool CallStore::Get(long long id, CallRecord& call) {
  std::lock_guard<std::mutex> lock(readMu_);
  const std::string sql = std::string("SELECT ") + kCallColumns + " FROM calls WHERE id=?";
  Stmt s(reader_.get(), sql.c_str());
  s.Bind(1, id);
  if (s.Step() != SQLITE_ROW) return false;
  call = ReadCall(s);
  return LoadHistory(call);
}

std::vector<CallRecord> CallStore::Recent(int count) {
  std::lock_guard<std::mutex> lock(readMu_);
  const std::string sql = std::string("SELECT ") + kCallColumns + " FROM calls ORDER BY id DESC LIMIT ?";
  Stmt s(reader_.get(), sql.c_str());
  s.Bind(1, static_cast<long long>(count));
  std::vector<CallRecord> calls;
  while (s.Step() == SQLITE_ROW) calls.push_back(ReadCall(s));
  for (CallRecord& c : calls) LoadHistory(c);
  return calls;
}

}  // namespace talmery
