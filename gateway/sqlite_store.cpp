#include "gateway/sqlite_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "gateway/store_sql.h"

namespace talmery {
namespace {

// One prepared statement, finalised on every path.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) { ok_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) == SQLITE_OK; }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
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
  int Columns() const { return sqlite3_column_count(s_); }
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

// The "mono" columns are on the store's own time, which never steps (see StoreTime below);
// created_ms, updated_ms and next_ms are the wall clock, for display. A call waits while due_mono
// is set; next_ms is set and cleared with it.
const char kTables[] = R"sql(
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
  reason TEXT NOT NULL DEFAULT '',
  created_mono INTEGER,
  due_mono INTEGER,
  caller_token TEXT);
CREATE TABLE IF NOT EXISTS attempts(
  call_id INTEGER NOT NULL,
  attempt INTEGER NOT NULL,
  line INTEGER NOT NULL,
  started_ms INTEGER NOT NULL,
  answered_ms INTEGER,
  ended_ms INTEGER,
  outcome TEXT NOT NULL DEFAULT '',
  detail TEXT NOT NULL DEFAULT '',
  node TEXT NOT NULL DEFAULT '',
  dialled TEXT NOT NULL DEFAULT '',
  answerer TEXT NOT NULL DEFAULT '',
  PRIMARY KEY(call_id, attempt));
CREATE TABLE IF NOT EXISTS store_clock(
  one INTEGER PRIMARY KEY CHECK(one = 1),
  boot TEXT NOT NULL,
  offset_ms INTEGER NOT NULL,
  seen_mono INTEGER NOT NULL,
  seen_wall INTEGER NOT NULL);
)sql";

// A store of an earlier version timed its calls by the wall clock alone; its store time starts
// at the wall clock (see StoreTime), so its wall times carry over as they are.
const char kAddMonoColumns[] = R"sql(
ALTER TABLE calls ADD COLUMN created_mono INTEGER;
ALTER TABLE calls ADD COLUMN due_mono INTEGER;
UPDATE calls SET created_mono = created_ms, due_mono = next_ms;
DROP INDEX IF EXISTS calls_due;
)sql";

// A store of an earlier version did not name the gateway of each try.
const char kAddNodeColumn[] = "ALTER TABLE attempts ADD COLUMN node TEXT NOT NULL DEFAULT ''";
const char kAddDialledColumn[] = "ALTER TABLE attempts ADD COLUMN dialled TEXT NOT NULL DEFAULT ''";
// Nor who answered each try (empty for its tries).
const char kAddAnswererColumn[] = "ALTER TABLE attempts ADD COLUMN answerer TEXT NOT NULL DEFAULT ''";
// Nor the caller's token: its calls keep none, and only administrators may read them.
const char kAddCallerTokenColumn[] = "ALTER TABLE calls ADD COLUMN caller_token TEXT";

const char kIndexes[] = R"sql(
CREATE INDEX IF NOT EXISTS calls_due_mono ON calls(due_mono, id) WHERE due_mono IS NOT NULL;
)sql";

// The columns shown; the store's own queries add created_mono and caller_token.
const char kCallColumns[] =
    "id, number, text, self_delete, first_occ, state, attempts, max_attempts, created_ms, updated_ms, next_ms, "
    "reason";
const char kStoreColumns[] =
    "id, number, text, self_delete, first_occ, state, attempts, max_attempts, created_ms, updated_ms, next_ms, "
    "reason, created_mono, caller_token";

// A row of kCallColumns, or of kStoreColumns with the ticks of the store whose time is ticks +
// offsetMs.
CallRecord ReadCall(const Stmt& s, long long offsetMs = 0) {
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
  if (s.Columns() > 12) c.createdTick = s.Int(12) - offsetMs;
  if (s.Columns() > 13 && !s.IsNull(13)) c.callerToken = s.Text(13);
  return c;
}

// Stores made before the numbers dialled were recorded get their column (empty for old tries).
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

// One gateway per database. A second gateway on the same settings would close the first's
// calls as cut short and delete the speech it is about to play: it is refused before it reads or
// writes anything. The lock is an open-file-description lock on <database>.lock: the kernel
// drops it when the process ends however it ends (kill -9 included), so a file left behind
// never blocks a start, and it holds against a second open in the same process too. The file
// holds the pid of the holder, for the refusal's message.
bool LockStore(const std::string& path, OwnedFd& out, std::string& error) {
  const std::string lockPath = path + ".lock";
  OwnedFd fd(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) {
    error = lockPath + ": " + std::strerror(errno);
    return false;
  }
  struct flock lock{};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
    if (errno != EAGAIN && errno != EACCES) {
      error = lockPath + ": cannot lock: " + std::strerror(errno);
      return false;
    }
    char text[32] = "";
    const ssize_t n = pread(fd.get(), text, sizeof text - 1, 0);
    const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    error = "the call store " + path + " is in use by another talmery-gateway (" +
            (pid > 0 ? "pid " + std::to_string(pid) : "its pid is not known yet") + "); one gateway per database";
    return false;
  }
  fchmod(fd.get(), 0600);
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd.get(), 0) != 0 || pwrite(fd.get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    error = lockPath + ": " + std::strerror(errno);
    return false;
  }
  out = std::move(fd);
  return true;
}

// Ids and <database>.ids. SQLite never gives a row id twice within one database
// (AUTOINCREMENT); the file keeps that promise across a database that is deleted and made
// again, or restored from a copy. It holds a bound above every id given: raised by kIdBlock
// before an id past it is given (one small write per kIdBlock calls), lowered to the last id
// given at a clean stop (so that a restart leaves no gap; after a crash the ids go on past the
// block). A database behind the bound gives its next id past it. With the file gone too,
// nothing is left to know the ids by, and a new database starts at 1.
constexpr long long kIdBlock = 1000;

bool ReadIdBound(const std::string& idsPath, long long& bound, std::string& error) {
  bound = 0;
  const OwnedFd fd(open(idsPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) {
    if (errno == ENOENT) return true;
    error = idsPath + ": " + std::strerror(errno);
    return false;
  }
  char text[32] = "";
  const ssize_t n = read(fd.get(), text, sizeof text - 1);
  char* end = nullptr;
  bound = n > 0 ? std::strtoll(text, &end, 10) : -1;
  if (n <= 0 || bound < 0 || end == text || (*end != '\n' && *end != '\0')) {
    error = idsPath + ": not a bound of ids (the gateway alone writes it; removed, the ids go on from the "
                      "database's own)";
    return false;
  }
  return true;
}

// Replaces the file whole (a new file, synced, renamed over it, the folder synced), so that a
// crash leaves the old bound or the new one.
bool WriteIdBound(const std::string& idsPath, long long bound, std::string& error) {
  const std::string fresh = idsPath + ".new", text = std::to_string(bound) + "\n";
  int err = 0;
  {
    const OwnedFd fd(open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0 || write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        fsync(fd.get()) != 0)
      err = errno ? errno : EIO;
  }
  if (err == 0 && rename(fresh.c_str(), idsPath.c_str()) != 0) err = errno;
  if (err != 0) {
    error = idsPath + ": " + std::strerror(err);
    unlink(fresh.c_str());
    return false;
  }
  const size_t slash = idsPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : idsPath.substr(0, slash));
  const OwnedFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
  return true;
}

// StoreTime: the time the store waits by ("mono" columns) is ticks plus an offset that the store
// keeps in store_clock. Within one boot of the machine the offset stays: waiting goes on across
// restarts of the gateway exactly as the ticks run. After a reboot the ticks start again, and
// only the wall clock can tell how long the machine was off: the store's time goes on from the
// last time it noted (seen_mono, written with the commits, at most once a second) by the wall
// clock's advance since then (none if the wall clock went back), never backwards. A new store's
// time starts at the wall clock. Nothing is written here: the first commit that changes a call
// writes the row too, so that a store on a full disk still opens.
bool StoreOffset(sqlite3* db, const Instant& now, const std::string& boot, long long& offset, std::string& error) {
  Stmt row(db, "SELECT boot, offset_ms, seen_mono, seen_wall FROM store_clock WHERE one = 1");
  const int rc = row.Step();
  if (rc == SQLITE_DONE) {
    offset = now.wallMs - now.tickMs;
    return true;
  }
  if (rc != SQLITE_ROW) {
    error = sqlite3_errmsg(db);
    return false;
  }
  const long long seenMono = row.Int(2), seenWall = row.Int(3);
  if (!boot.empty() && row.Text(0) == boot) offset = row.Int(1);
  else offset = seenMono + std::max(0LL, now.wallMs - seenWall) - now.tickMs;
  offset = std::max(offset, seenMono - now.tickMs);
  return true;
}

// The last id given and the bound of <database>.ids: a database behind the bound (made again,
// or restored from a copy) gives its next id past it. `floor` is 0 when it is not behind.
bool IdFloor(sqlite3* db, const std::string& idsPath, long long& bound, long long& floor, std::string& error) {
  if (!ReadIdBound(idsPath, bound, error)) return false;
  Stmt seq(db, "SELECT seq FROM sqlite_sequence WHERE name = 'calls'");
  const int rc = seq.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    error = sqlite3_errmsg(db);
    return false;
  }
  const long long last = rc == SQLITE_ROW ? seq.Int(0) : 0;
  floor = bound > last ? bound : 0;
  bound = std::max(bound, last);
  return true;
}

// Raises the last id given to `floor` (in the transaction of the first call accepted).
bool RaiseIds(sqlite3* db, long long floor, std::string& error) {
  Stmt up(db, "UPDATE sqlite_sequence SET seq = ? WHERE name = 'calls' AND seq < ?");
  up.Bind(1, floor).Bind(2, floor);
  if (!up.Exec(error)) return false;
  Stmt known(db, "SELECT 1 FROM sqlite_sequence WHERE name = 'calls'");
  if (known.Step() == SQLITE_ROW) return true;
  Stmt add(db, "INSERT INTO sqlite_sequence(name, seq) VALUES('calls', ?)");
  add.Bind(1, floor);
  return add.Exec(error);
}

bool HasColumn(sqlite3* db, const char* table, const char* column) {
  Stmt s(db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?");
  s.Bind(1, std::string(table)).Bind(2, std::string(column));
  return s.Step() == SQLITE_ROW;
}

// The tables and the columns an earlier version lacked (writes only when they are missing).
bool PrepareTables(sqlite3* db, std::string& error) {
  if (!Exec(db, "BEGIN IMMEDIATE", error)) return false;
  const bool ok = Exec(db, kTables, error) &&
                  (HasColumn(db, "calls", "due_mono") || Exec(db, kAddMonoColumns, error)) &&
                  (HasColumn(db, "attempts", "node") || Exec(db, kAddNodeColumn, error)) &&
                  (HasColumn(db, "attempts", "dialled") || Exec(db, kAddDialledColumn, error)) &&
                  (HasColumn(db, "attempts", "answerer") || Exec(db, kAddAnswererColumn, error)) &&
                  (HasColumn(db, "calls", "caller_token") || Exec(db, kAddCallerTokenColumn, error)) &&
                  Exec(db, kIndexes, error) && Exec(db, "COMMIT", error);
  if (!ok) {
    std::string why;
    Exec(db, "ROLLBACK", why);
  }
  return ok;
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

std::unique_ptr<SqliteStore> SqliteStore::Open(const std::string& path, const GatewayClock& clock, std::string& error,
                                               const std::string& node, CommitObserver commits) {
  OwnedFd lock;
  if (!LockStore(path, lock, error)) return nullptr;
  // Every number and text is in these files: the owner alone may read them, whatever the
  // umask. SQLite gives the -wal and -shm files the mode of the database file.
  {
    const OwnedFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) {
      error = path + ": " + std::strerror(errno);
      return nullptr;
    }
    fchmod(fd.get(), 0600);
  }
  for (const char* suffix : {"-wal", "-shm"}) chmod((path + suffix).c_str(), 0600);
  Sqlite writer, reader;
  if (!OpenDb(path, true, writer, error)) return nullptr;
  // WAL: readers (the status page) never wait for the writer. FULL: each commit is on disk
  // before it returns, so an answered id survives a power cut, not only a crash.
  std::string why;
  const std::string boot = clock.BootId(), idsPath = path + ".ids";
  long long offset = 0, bound = 0, floor = 0;
  if (!Exec(writer.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", why) ||
      !PrepareTables(writer.get(), why) || !StoreOffset(writer.get(), clock.Now(), boot, offset, why)) {
    error = path + ": " + why;
    return nullptr;
  }
  if (!IdFloor(writer.get(), idsPath, bound, floor, error)) return nullptr;
  if (!OpenDb(path, false, reader, error)) return nullptr;
  return std::unique_ptr<SqliteStore>(new SqliteStore(std::move(lock), std::move(writer), std::move(reader), boot,
                                                      offset, idsPath, bound, floor, node,
                                                      std::move(commits)));
}

SqliteStore::SqliteStore(OwnedFd lock, Sqlite writer, Sqlite reader, std::string boot, long long offsetMs,
                         std::string idsPath, long long idsReserved, long long idFloor, std::string node,
                         CommitObserver commits)
    : lock_(std::move(lock)), writer_(std::move(writer)), reader_(std::move(reader)), boot_(std::move(boot)),
      offsetMs_(offsetMs), idsPath_(std::move(idsPath)), node_(std::move(node)), commits_(std::move(commits)),
      idsReserved_(idsReserved),
      idFloor_(idFloor),
      thread_([this] { WriterLoop(); }) {}

SqliteStore::~SqliteStore() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  // At a stop the bound becomes the last id given, so that the next start goes on from there
  // without a gap; after a crash it goes on past the reserved block.
  Stmt seq(writer_.get(), "SELECT seq FROM sqlite_sequence WHERE name = 'calls'");
  const long long last = std::max(seq.Step() == SQLITE_ROW ? seq.Int(0) : 0, idFloor_.load());
  std::string error;
  if (last > 0 && last < idsReserved_) WriteIdBound(idsPath_, last, error);
}

bool SqliteStore::Run(const Instant& now, Job job, std::string& error) {
  Pending pending;
  pending.job = std::move(job);
  pending.now = now;
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
// its own, so one failing job does not take the others with it. A job is told it succeeded only
// once the COMMIT has returned: whatever it found out before (an id, a claimed call) counts only
// then.
void SqliteStore::WriterLoop() {
  sqlite3* db = writer_.get();
  for (;;) {
    std::deque<Pending*> batch;
    {
      std::unique_lock<std::mutex> lock(mu_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      batch.swap(queue_);
    }
    std::optional<CommitTimer> timer;
    timer.emplace(commits_);
    std::string error;
    bool whole = Exec(db, "BEGIN IMMEDIATE", error);
    Instant latest = batch.front()->now;
    const long long changesBefore = sqlite3_total_changes64(db);
    for (Pending* p : batch) {
      if (!whole) break;
      std::string why;
      Exec(db, "SAVEPOINT job", why);
      p->ok = p->job(db, p->error);
      if (!p->ok) Exec(db, "ROLLBACK TO job", why);
      Exec(db, "RELEASE job", why);
      if (p->now.tickMs > latest.tickMs) latest = p->now;
      // A full disk or an I/O error can make SQLite roll the whole transaction back by itself:
      // the jobs before this one are undone too, and those after it would run outside any
      // transaction, each committed on its own while reported as failed.
      if (sqlite3_get_autocommit(db)) {
        whole = false;
        error = p->ok ? std::string(sqlite3_errmsg(db)) : p->error;
      }
    }
    // The store's time as last seen, for a start after a reboot (see StoreTime), with the
    // changes it times. A batch that changed nothing commits nothing: no write, no fsync.
    if (whole && sqlite3_total_changes64(db) != changesBefore &&
        (!seenWritten_ || Mono(latest) >= *seenWritten_ + 1000)) {
      Stmt seen(db,
                "INSERT OR REPLACE INTO store_clock(one, boot, offset_ms, seen_mono, seen_wall) VALUES(1, ?, ?, ?, ?)");
      seen.Bind(1, boot_).Bind(2, offsetMs_).Bind(3, Mono(latest)).Bind(4, latest.wallMs);
      std::string why;
      if (seen.Exec(why)) seenWritten_ = Mono(latest);
    }
    if (whole && !Exec(db, "COMMIT", error)) whole = false;
    if (!whole) {
      std::string why;
      if (!sqlite3_get_autocommit(db)) Exec(db, "ROLLBACK", why);
      for (Pending* p : batch) {
        p->ok = false;
        p->error = error;
      }
    }
    timer.reset();  // the commit's time is told before its jobs are, so that they find it counted
    {
      std::lock_guard<std::mutex> lock(mu_);
      for (Pending* p : batch) p->done = true;
    }
    finished_.notify_all();
  }
}

bool SqliteStore::ReserveIds(long long id, std::string& error) {
  if (id <= idsReserved_) return true;
  if (!WriteIdBound(idsPath_, id + kIdBlock, error)) return false;
  idsReserved_ = id + kIdBlock;
  return true;
}

Written SqliteStore::Accept(const CallRequest& request, const std::string& /*client*/, int maxAttempts,
                            const Instant& now, long long& id, std::string& error) {
  long long given = 0;
  const bool ok = Run(
      now,
      [&](sqlite3* db, std::string& err) {
        static const std::string insert =
            "INSERT INTO calls(number, text, self_delete, first_occ, state, max_attempts, created_ms, updated_ms, "
            "next_ms, created_mono, due_mono, caller_token) VALUES(?, ?, ?, ?, " + state::Sql(state::kQueued) +
            ", ?, ?, ?, ?, ?, ?, ?)";
        Stmt s(db, insert.c_str());
        s.Bind(1, request.number).Bind(2, request.text).Bind(3, request.selfDelete ? 1 : 0);
        s.Bind(4, static_cast<long long>(request.firstOcc)).Bind(5, static_cast<long long>(maxAttempts));
        s.Bind(6, now.wallMs).Bind(7, now.wallMs).Bind(8, now.wallMs).Bind(9, Mono(now)).Bind(10, Mono(now));
        if (request.callerToken.empty()) s.BindNull(11);
        else s.Bind(11, request.callerToken);
        const long long floor = idFloor_.load();
        if ((floor > 0 && !RaiseIds(db, floor, err)) || !s.Exec(err)) return false;
        given = sqlite3_last_insert_rowid(db);
        return ReserveIds(given, err);
      },
      error);
  if (!ok) return Written::Failed;
  idFloor_ = 0;
  id = given;
  return Written::Done;
}

Claim SqliteStore::ClaimNext(const Instant& now, const std::set<std::string>& skip, int line) {
  Claim claim;
  std::optional<CallRecord> found;
  const bool ok = Run(
      now,
      [&](sqlite3* db, std::string& err) {
        found.reset();
        const std::string sql = std::string("SELECT ") + kStoreColumns +
                                " FROM calls WHERE due_mono IS NOT NULL AND due_mono <= ? ORDER BY due_mono, id";
        Stmt s(db, sql.c_str());
        s.Bind(1, Mono(now));
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
          CallRecord c = ReadCall(s, offsetMs_);
          if (skip.count(c.number)) continue;
          found = std::move(c);
          break;
        }
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
          err = sqlite3_errmsg(db);
          return false;
        }
        if (!found) return true;
        static const std::string snoozes =
            "SELECT COUNT(*) FROM attempts WHERE call_id=? AND outcome=" + state::Sql(state::kSnoozed);
        Stmt snoozed(db, snoozes.c_str());
        snoozed.Bind(1, found->id);
        if (snoozed.Step() == SQLITE_ROW) found->snoozes = static_cast<int>(snoozed.Int(0));
        found->attempts += 1;
        found->state = state::kDialling;
        found->nextMs.reset();
        found->updatedMs = now.wallMs;
        found->node = node_;
        static const std::string take = "UPDATE calls SET state=" + state::Sql(state::kDialling) +
                                        ", attempts=?, next_ms=NULL, due_mono=NULL, updated_ms=? WHERE id=?";
        Stmt u(db, take.c_str());
        u.Bind(1, static_cast<long long>(found->attempts)).Bind(2, now.wallMs).Bind(3, found->id);
        Stmt a(db, "INSERT INTO attempts(call_id, attempt, line, started_ms, node) VALUES(?, ?, ?, ?, ?)");
        a.Bind(1, found->id).Bind(2, static_cast<long long>(found->attempts)).Bind(3, static_cast<long long>(line));
        a.Bind(4, now.wallMs).Bind(5, node_);
        return u.Exec(err) && a.Exec(err);
      },
      claim.error);
  if (!ok) {
    claim.status = Claim::Status::Failed;
  } else if (found) {
    claim.status = Claim::Status::Claimed;
    claim.call = std::move(*found);
  }
  return claim;
}

Written SqliteStore::MarkAnswered(long long id, int attempt, const Instant& now, std::string& error) {
  return Run(
      now,
      [&](sqlite3* db, std::string& err) {
        static const std::string answered =
            "UPDATE calls SET state=" + state::Sql(state::kAnswered) + ", updated_ms=? WHERE id=?";
        Stmt u(db, answered.c_str());
        u.Bind(1, now.wallMs).Bind(2, id);
        Stmt a(db, "UPDATE attempts SET answered_ms=? WHERE call_id=? AND attempt=?");
        a.Bind(1, now.wallMs).Bind(2, id).Bind(3, static_cast<long long>(attempt));
        return u.Exec(err) && a.Exec(err);
      },
      error) ? Written::Done : Written::Failed;
}

Written SqliteStore::FinishAttempt(long long id, int attempt, const AttemptEnd& end, const Instant& now,
                                   std::string& error) {
  return Run(
      now,
      [&](sqlite3* db, std::string& err) {
        const bool final = end.state == state::kDone || end.state == state::kFailed;
        const std::optional<long long> due = final ? std::nullopt : end.nextMs;
        Stmt u(db,
               final ? "UPDATE calls SET state=?, reason=?, next_ms=?, due_mono=?, updated_ms=?, "
                       "text=CASE WHEN self_delete THEN NULL ELSE text END WHERE id=?"
                     : "UPDATE calls SET state=?, reason=?, next_ms=?, due_mono=?, updated_ms=? WHERE id=?");
        u.Bind(1, end.state).Bind(2, end.reason);
        u.Bind(3, due ? std::optional<long long>(now.wallMs + *due - now.tickMs) : std::nullopt);
        u.Bind(4, due ? std::optional<long long>(*due + offsetMs_) : std::nullopt).Bind(5, now.wallMs).Bind(6, id);
        Stmt a(db,
               "UPDATE attempts SET ended_ms=?, outcome=?, detail=?, dialled=?, answerer=? WHERE call_id=? AND attempt=?");
        a.Bind(1, now.wallMs).Bind(2, end.outcome).Bind(3, end.detail).Bind(4, end.dialled).Bind(5, end.answerer);
        a.Bind(6, id).Bind(7, static_cast<long long>(attempt));
        return u.Exec(err) && a.Exec(err);
      },
      error) ? Written::Done : Written::Failed;
}

std::vector<CallRecord> SqliteStore::CloseInterrupted(const Instant& now, std::string& error) {
  std::vector<CallRecord> closed;
  const bool ok = Run(
      now,
      [&](sqlite3* db, std::string& err) {
        closed.clear();
        const std::string sql = std::string("SELECT ") + kStoreColumns +
                                " FROM calls WHERE state IN " + state::InProgressSql() + " ORDER BY id";
        Stmt s(db, sql.c_str());
        while (s.Step() == SQLITE_ROW) closed.push_back(ReadCall(s, offsetMs_));
        for (CallRecord& c : closed) {
          const bool answered = c.state == state::kAnswered;
          c.state = answered ? state::kDone : state::kFailed;
          c.reason = answered ? "answered; the gateway stopped during the message"
                              : "the gateway stopped while dialling; not dialled again, the phone may have rung";
          Stmt u(db,
                 "UPDATE calls SET state=?, reason=?, next_ms=NULL, due_mono=NULL, updated_ms=?, "
                 "text=CASE WHEN self_delete THEN NULL ELSE text END WHERE id=?");
          u.Bind(1, c.state).Bind(2, c.reason).Bind(3, now.wallMs).Bind(4, c.id);
          Stmt a(db,
                 "UPDATE attempts SET ended_ms=?, outcome='interrupted', detail='gateway stopped' "
                 "WHERE call_id=? AND attempt=?");
          a.Bind(1, now.wallMs).Bind(2, c.id).Bind(3, static_cast<long long>(c.attempts));
          if (!u.Exec(err) || !a.Exec(err)) return false;
        }
        return true;
      },
      error);
  if (!ok) closed.clear();
  return closed;
}

long long SqliteStore::CountWaiting() {
  std::lock_guard<std::mutex> lock(readMu_);
  Stmt s(reader_.get(), "SELECT COUNT(*) FROM calls WHERE due_mono IS NOT NULL");
  return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
}

std::vector<long long> SqliteStore::AcceptedSince(long long sinceTick) {
  std::lock_guard<std::mutex> lock(readMu_);
  Stmt s(reader_.get(), "SELECT created_mono FROM calls WHERE created_mono >= ?");
  s.Bind(1, sinceTick + offsetMs_);
  std::vector<long long> ticks;
  while (s.Step() == SQLITE_ROW) ticks.push_back(s.Int(0) - offsetMs_);
  return ticks;
}

StoreFigures SqliteStore::Figures(const Instant& now) {
  std::lock_guard<std::mutex> lock(readMu_);
  StoreFigures figures;
  Stmt states(reader_.get(), "SELECT state, COUNT(*) FROM calls GROUP BY state");
  while (states.Step() == SQLITE_ROW) figures.byState[states.Text(0)] = states.Int(1);
  // The age on the monotonic timeline, given as the wall time it stands for now.
  Stmt waiting(reader_.get(), "SELECT COUNT(*), MIN(created_mono) FROM calls WHERE due_mono IS NOT NULL");
  if (waiting.Step() == SQLITE_ROW) {
    figures.waiting = waiting.Int(0);
    if (const std::optional<long long> oldest = waiting.OptInt(1)) figures.oldestWaitingMs = now.wallMs - (Mono(now) - *oldest);
  }
  return figures;
}

std::vector<CallRecord> SqliteStore::ExpireWaiting(const Instant& now, long long maxWaitMs, const std::string& reason,
                                                   std::string& error) {
  std::vector<CallRecord> expired;
  const bool ok = Run(
      now,
      [&](sqlite3* db, std::string& err) {
        expired.clear();
        const std::string sql = std::string("SELECT ") + kStoreColumns +
                                " FROM calls WHERE due_mono IS NOT NULL AND created_mono <= ? AND state <> " +
                                state::Sql(state::kSnoozed) + " ORDER BY id";
        Stmt s(db, sql.c_str());
        s.Bind(1, Mono(now) - maxWaitMs);
        while (s.Step() == SQLITE_ROW) expired.push_back(ReadCall(s, offsetMs_));
        for (CallRecord& c : expired) {
          c.state = state::kExpired;
          c.reason = reason;
          c.nextMs.reset();
          c.updatedMs = now.wallMs;
          static const std::string expire = "UPDATE calls SET state=" + state::Sql(state::kExpired) +
                                            ", reason=?, next_ms=NULL, due_mono=NULL, updated_ms=?, "
                                            "text=CASE WHEN self_delete THEN NULL ELSE text END WHERE id=?";
          Stmt u(db, expire.c_str());
          u.Bind(1, reason).Bind(2, now.wallMs).Bind(3, c.id);
          if (!u.Exec(err)) return false;
        }
        return true;
      },
      error);
  if (!ok) expired.clear();
  return expired;
}

std::optional<long long> SqliteStore::NextDueTick() {
  std::lock_guard<std::mutex> lock(readMu_);
  Stmt s(reader_.get(), "SELECT MIN(due_mono) FROM calls WHERE due_mono IS NOT NULL");
  if (s.Step() != SQLITE_ROW || s.IsNull(0)) return std::nullopt;
  return s.Int(0) - offsetMs_;
}

namespace {

// A store not yet opened by this version (--list reads it as it is) may lack the node, dialled
// and answerer columns.
void LoadHistory(sqlite3* db, CallRecord& call) {
  const bool named = HasColumn(db, "attempts", "node");
  const bool dialled = HasColumn(db, "attempts", "dialled");
  const bool answerer = HasColumn(db, "attempts", "answerer");
  Stmt s(db, (std::string("SELECT attempt, line, started_ms, answered_ms, ended_ms, outcome, detail, ") +
              (dialled ? "dialled" : "''") + ", " + (named ? "node" : "''") + ", " + (answerer ? "answerer" : "''") +
              " FROM attempts WHERE call_id=? ORDER BY attempt")
                 .c_str());
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
    a.node = s.Text(8);
    a.answerer = s.Text(9);
    call.history.push_back(std::move(a));
  }
  if (!call.history.empty()) call.node = call.history.back().node;
}

std::vector<CallRecord> RecentCalls(sqlite3* db, const char* columns, long long offsetMs, int count) {
  const std::string sql = std::string("SELECT ") + columns + " FROM calls ORDER BY id DESC LIMIT ?";
  Stmt s(db, sql.c_str());
  s.Bind(1, static_cast<long long>(count));
  std::vector<CallRecord> calls;
  while (s.Step() == SQLITE_ROW) calls.push_back(ReadCall(s, offsetMs));
  for (CallRecord& c : calls) LoadHistory(db, c);
  return calls;
}

}  // namespace

bool SqliteStore::Get(long long id, CallRecord& call) {
  std::lock_guard<std::mutex> lock(readMu_);
  const std::string sql = std::string("SELECT ") + kStoreColumns + " FROM calls WHERE id=?";
  Stmt s(reader_.get(), sql.c_str());
  s.Bind(1, id);
  if (s.Step() != SQLITE_ROW) return false;
  call = ReadCall(s, offsetMs_);
  LoadHistory(reader_.get(), call);
  return true;
}

std::vector<CallRecord> SqliteStore::Recent(int count) {
  std::lock_guard<std::mutex> lock(readMu_);
  return RecentCalls(reader_.get(), kStoreColumns, offsetMs_, count);
}

bool ReadRecentCalls(const std::string& path, int count, std::vector<CallRecord>& calls, std::string& error) {
  Sqlite db;
  if (!OpenDb(path, false, db, error)) return false;
  Stmt probe(db.get(), "SELECT 1 FROM calls LIMIT 1");
  const int rc = probe.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    error = path + ": " + sqlite3_errmsg(db.get());
    return false;
  }
  calls = RecentCalls(db.get(), kCallColumns, 0, count);
  return true;
}

}  // namespace talmery
