#include "gateway/pg_store.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "gateway/config.h"
#include "gateway/store_sql.h"

namespace talmery {
namespace {

// The advisory locks' first key, so that ours are told from any other program's on the database.
constexpr int kSchemaLock = 0x54616c00;
constexpr int kNodeLock = 0x54616c01;
constexpr int kNumberLock = 0x54616c02;
constexpr int kPoolSize = 16;              // connections for requests, claims and reads (http_threads' default)
constexpr long long kResolveMs = 35000;    // asking what became of a broken commit: longer than an agent waits
constexpr int kClaimCandidates = 8;        // due calls looked at per claim before giving up for now
constexpr size_t kAcceptBatch = 200;       // calls committed together at most (11 parameters each)
constexpr int kAcceptCommits = 4;          // commits of accepted calls on their way at once
constexpr size_t kAcceptBatchBytes = 1 << 20;  // and their texts' bytes

long long SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;
struct ConnFinish {
  void operator()(PGconn* c) const { PQfinish(c); }
};
using Connection = std::unique_ptr<PGconn, ConnFinish>;

// The parameters of a statement, as text.
class Params {
 public:
  Params& Add(long long v) { return Text(std::to_string(v)); }
  Params& Add(int v) { return Text(std::to_string(v)); }
  Params& Add(bool v) { return Text(v ? "t" : "f"); }
  Params& Add(const std::string& v) { return Text(v); }
  Params& Add(const char* v) { return Text(v); }
  Params& Add(const std::optional<long long>& v) { return v ? Add(*v) : Null(); }
  Params& Null() {
    values_.emplace_back();
    nulls_.push_back(true);
    return *this;
  }
  int Count() const { return static_cast<int>(values_.size()); }
  std::vector<const char*> Pointers() const {
    std::vector<const char*> p;
    for (size_t i = 0; i < values_.size(); ++i) p.push_back(nulls_[i] ? nullptr : values_[i].c_str());
    return p;
  }

 private:
  Params& Text(std::string v) {
    values_.push_back(std::move(v));
    nulls_.push_back(false);
    return *this;
  }
  std::vector<std::string> values_;
  std::vector<bool> nulls_;
};

// A text[] literal: {"a","b"} with quotes and backslashes escaped.
std::string TextArray(const std::set<std::string>& items) {
  std::string out = "{";
  for (const std::string& item : items) {
    if (out.size() > 1) out += ',';
    out += '"';
    for (char c : item) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out + "}";
}

std::string IdArray(const std::vector<long long>& ids) {
  std::string out = "{";
  for (long long id : ids) out += (out.size() > 1 ? "," : "") + std::to_string(id);
  return out + "}";
}

long long Int(const PGresult* r, int row, int col) { return std::atoll(PQgetvalue(r, row, col)); }
std::optional<long long> OptInt(const PGresult* r, int row, int col) {
  if (PQgetisnull(r, row, col)) return std::nullopt;
  return Int(r, row, col);
}
std::string Text(const PGresult* r, int row, int col) {
  return std::string(PQgetvalue(r, row, col), static_cast<size_t>(PQgetlength(r, row, col)));
}

// libpq's messages end with a line break (sometimes two lines: the message and a detail).
std::string Message(const char* text) {
  std::string m = text ? text : "";
  while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
  for (char& c : m)
    if (c == '\n') c = ' ';
  return m.empty() ? "the database did not answer" : m;
}

// Run inside a transaction that holds the schema's lock: nodes starting together on an empty
// database would otherwise race to create the same tables.
const std::string& Schema() {
  static const std::string schema = std::string(R"sql(
CREATE TABLE IF NOT EXISTS calls(
  id BIGSERIAL PRIMARY KEY,
  number TEXT NOT NULL,
  text TEXT,
  self_delete BOOLEAN NOT NULL,
  first_occ INTEGER NOT NULL,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  max_attempts INTEGER NOT NULL,
  created_ms BIGINT NOT NULL,
  updated_ms BIGINT NOT NULL,
  next_ms BIGINT,
  reason TEXT NOT NULL DEFAULT '',
  created_at BIGINT NOT NULL,
  due_at BIGINT,
  node TEXT,
  accepted_by TEXT NOT NULL,
  client TEXT NOT NULL DEFAULT '',
  token BIGINT NOT NULL,
  caller_token TEXT);
ALTER TABLE calls ADD COLUMN IF NOT EXISTS caller_token TEXT;
CREATE INDEX IF NOT EXISTS calls_due ON calls(due_at, id) WHERE due_at IS NOT NULL;
CREATE INDEX IF NOT EXISTS calls_created ON calls(created_at);
CREATE INDEX IF NOT EXISTS calls_in_progress ON calls(node) WHERE state IN )sql") + state::InProgressSql() + R"sql(;
CREATE INDEX IF NOT EXISTS calls_number_in_progress ON calls(number) WHERE state IN )sql" + state::InProgressSql() + R"sql(;
CREATE TABLE IF NOT EXISTS attempts(
  call_id BIGINT NOT NULL,
  attempt INTEGER NOT NULL,
  line INTEGER NOT NULL,
  node TEXT NOT NULL DEFAULT '',
  started_ms BIGINT NOT NULL,
  answered_ms BIGINT,
  ended_ms BIGINT,
  outcome TEXT NOT NULL DEFAULT '',
  detail TEXT NOT NULL DEFAULT '',
  dialled TEXT NOT NULL DEFAULT '',
  PRIMARY KEY(call_id, attempt));
ALTER TABLE attempts ADD COLUMN IF NOT EXISTS dialled TEXT NOT NULL DEFAULT '';
ALTER TABLE attempts ADD COLUMN IF NOT EXISTS answerer TEXT NOT NULL DEFAULT '';
CREATE TABLE IF NOT EXISTS nodes(
  node TEXT PRIMARY KEY,
  beat BIGINT NOT NULL DEFAULT 0,
  lease_ms INTEGER NOT NULL,
  host TEXT NOT NULL DEFAULT '',
  pid INTEGER NOT NULL DEFAULT 0,
  started_ms BIGINT NOT NULL,
  seen_ms BIGINT NOT NULL,
  stopped_ms BIGINT,
  lines INTEGER NOT NULL DEFAULT 0,
  lines_in_use INTEGER NOT NULL DEFAULT 0,
  registration TEXT NOT NULL DEFAULT '');
)sql";
  return schema;
}

// The columns of a call as ReadCall takes them. The store's own reads add caller_token, which
// --list (on a database perhaps not yet upgraded by a node) does without.
const char kCallColumns[] =
    "id, number, text, self_delete, first_occ, state, attempts, max_attempts, created_ms, updated_ms, next_ms, "
    "reason, created_at, node";
const char kCallColumnsWithToken[] =
    "id, number, text, self_delete, first_occ, state, attempts, max_attempts, created_ms, updated_ms, next_ms, "
    "reason, created_at, node, caller_token";

CallRecord ReadCall(const PGresult* r, int row, long long offsetMs) {
  CallRecord c;
  c.id = Int(r, row, 0);
  c.number = Text(r, row, 1);
  if (!PQgetisnull(r, row, 2)) c.text = Text(r, row, 2);
  c.selfDelete = Text(r, row, 3) == "t";
  c.firstOcc = static_cast<int>(Int(r, row, 4));
  c.state = Text(r, row, 5);
  c.attempts = static_cast<int>(Int(r, row, 6));
  c.maxAttempts = static_cast<int>(Int(r, row, 7));
  c.createdMs = Int(r, row, 8);
  c.updatedMs = Int(r, row, 9);
  c.nextMs = OptInt(r, row, 10);
  c.reason = Text(r, row, 11);
  c.createdTick = Int(r, row, 12) - offsetMs;
  c.node = Text(r, row, 13);
  if (PQnfields(r) > 14 && !PQgetisnull(r, row, 14)) c.callerToken = Text(r, row, 14);
  return c;
}

std::string HostName() {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  return host;
}

constexpr char kStoppedWhileDialling[] = "the gateway stopped while dialling; not dialled again, the phone may have rung";
constexpr char kStoppedDuringMessage[] = "answered; the gateway stopped during the message";

}  // namespace

// One connection: its backend's pid and its server's start, which tell whether a session whose
// commit broke off can still be running there.
struct PgStore::Session {
  Connection conn;
  int pid = 0;
  std::string serverStart;
  std::set<std::string> prepared;
  bool lost = false;  // the connection is gone: what it was committing may or may not be
  bool drop = false;  // usable no more (a standby, a server shutting down): closed, not pooled

  // Runs `sql`; the result when it succeeded, else null with `error`. Without parameters `sql`
  // may hold several statements (the result is the last one's).
  Result Run(const char* sql, const Params& params, std::string& error) {
    const std::vector<const char*> values = params.Pointers();
    return Check(Result(params.Count() == 0 ? PQexec(conn.get(), sql)
                                            : PQexecParams(conn.get(), sql, params.Count(), nullptr, values.data(),
                                                           nullptr, nullptr, 0)),
                 error);
  }
  Result Check(Result r, std::string& error) {
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return r;
    error = Message(r && PQresultErrorMessage(r.get())[0] ? PQresultErrorMessage(r.get()) : PQerrorMessage(conn.get()));
    const char* state = r ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state ? state : "";
    lost = PQstatus(conn.get()) == CONNECTION_BAD;
    // Connection faults (class 08), a server shutting down (57P0x), a read-only server (25006:
    // a standby, or a primary demoted under us).
    drop = lost || code.compare(0, 2, "08") == 0 || code.compare(0, 3, "57P") == 0 || code == "25006";
    return nullptr;
  }
  Result Run(const char* sql, std::string& error) { return Run(sql, Params(), error); }
  // The same for a statement run often, prepared once per connection (no parse or plan each time).
  Result RunPrepared(const char* name, const char* sql, const Params& params, std::string& error) {
    if (!prepared.count(name)) {
      // Preparing runs nothing: when it fails (the connection broke while the statement waited
      // for a lock, say), nothing of the statement can have been committed.
      if (!Check(Result(PQprepare(conn.get(), name, sql, params.Count(), nullptr)), error)) {
        lost = false;
        return nullptr;
      }
      prepared.insert(name);
    }
    const std::vector<const char*> values = params.Pointers();
    return Check(Result(PQexecPrepared(conn.get(), name, params.Count(), values.data(), nullptr, nullptr, 0)), error);
  }
  Backend Id() const { return {pid, serverStart}; }

  static std::unique_ptr<Session> Connect(const std::string& uri, const std::string& appName, std::string& error) {
    // Ours first, so that the URI may set any of them otherwise; the application name last, so
    // that a refused node name can tell who holds it. A silent server (a cut network) is given
    // up on within seconds rather than hours.
    const char* keys[] = {"connect_timeout",      "keepalives",       "keepalives_idle", "keepalives_interval",
                          "keepalives_count",     "tcp_user_timeout", "target_session_attrs", "dbname",
                          "application_name",     nullptr};
    const char* values[] = {"5", "1", "5", "2", "3", "10000", "read-write", uri.c_str(), appName.c_str(), nullptr};
    auto s = std::make_unique<Session>();
    s->conn.reset(PQconnectdbParams(keys, values, 1));
    if (!s->conn || PQstatus(s->conn.get()) != CONNECTION_OK) {
      error = "cannot connect to the database: " + Message(s->conn ? PQerrorMessage(s->conn.get()) : nullptr);
      return nullptr;
    }
    // The server's notices ("already exists, skipping") are not for the gateway's standard error.
    PQsetNoticeProcessor(s->conn.get(), [](void*, const char*) {}, nullptr);
    Result r = s->Run("SET lock_timeout = '10s'; SET idle_in_transaction_session_timeout = '60s'", error);
    if (r) r = s->Run("SELECT pg_backend_pid(), pg_postmaster_start_time()::text", error);
    if (!r) return nullptr;
    s->pid = static_cast<int>(Int(r.get(), 0, 0));
    s->serverStart = Text(r.get(), 0, 1);
    return s;
  }
};

namespace {

// The tries of `calls`, in order.
void LoadTries(PgStore::Session& s, std::vector<CallRecord>& calls, std::string& error) {
  std::vector<long long> ids;
  for (const CallRecord& c : calls) ids.push_back(c.id);
  if (ids.empty()) return;
  Params q;
  q.Add(IdArray(ids));
  Result a = s.Run(
      // (A database no gateway of this version has opened yet, as --list may read it, has no
      // answerer column: read through the row's JSON, it is empty.)
      "SELECT call_id, attempt, line, node, started_ms, answered_ms, ended_ms, outcome, detail, dialled, "
      "COALESCE(to_jsonb(attempts) ->> 'answerer', '') FROM attempts "
      "WHERE call_id = ANY($1::bigint[]) ORDER BY call_id, attempt",
      q, error);
  std::map<long long, std::vector<AttemptRecord>> tries;
  for (int i = 0; a && i < PQntuples(a.get()); ++i) {
    AttemptRecord t;
    t.attempt = static_cast<int>(Int(a.get(), i, 1));
    t.line = static_cast<int>(Int(a.get(), i, 2));
    t.node = Text(a.get(), i, 3);
    t.startedMs = Int(a.get(), i, 4);
    t.answeredMs = OptInt(a.get(), i, 5);
    t.endedMs = OptInt(a.get(), i, 6);
    t.outcome = Text(a.get(), i, 7);
    t.detail = Text(a.get(), i, 8);
    t.dialled = Text(a.get(), i, 9);
    t.answerer = Text(a.get(), i, 10);
    tries[Int(a.get(), i, 0)].push_back(std::move(t));
  }
  for (CallRecord& c : calls) c.history = std::move(tries[c.id]);
}

const char kNodeColumns[] =
    "node, host, pid, started_ms, seen_ms, stopped_ms, lines, lines_in_use, registration, lease_ms, beat";

NodeRecord ReadNode(const PGresult* r, int row) {
  NodeRecord n;
  n.node = Text(r, row, 0);
  n.host = Text(r, row, 1);
  n.pid = Int(r, row, 2);
  n.startedMs = Int(r, row, 3);
  n.seenMs = Int(r, row, 4);
  n.stoppedMs = OptInt(r, row, 5);
  n.lines = static_cast<int>(Int(r, row, 6));
  n.linesInUse = static_cast<int>(Int(r, row, 7));
  n.registration = Text(r, row, 8);
  n.leaseSeconds = static_cast<int>(Int(r, row, 9) / 1000);
  return n;
}

}  // namespace

PgStore::PgStore(std::string uri, std::string node, int leaseSeconds, const GatewayClock& clock,
                 CommitObserver commits)
    : uri_(std::move(uri)), node_(std::move(node)),
      appName_(("talmery-gateway node=" + node_ + " pid=" + std::to_string(getpid()) + " host=" + HostName())
                   .substr(0, 63)),
      leaseMs_(leaseSeconds * 1000), clock_(clock), commits_(std::move(commits)),
      tokenState_(std::random_device()() * 0x9E3779B97F4A7C15ULL) {}

std::unique_ptr<PgStore> PgStore::Open(const std::string& uri, const std::string& node, int leaseSeconds,
                                       const GatewayClock& clock, std::string& error, CommitObserver commits) {
  char* parseError = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &parseError);
  if (!options) {
    error = "database: " + Message(parseError ? parseError : "not a PostgreSQL connection URI");
    PQfreemem(parseError);
    return nullptr;
  }
  bool password = false;
  for (const PQconninfoOption* o = options; o->keyword; ++o)
    password = password || (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val);
  PQconninfoFree(options);
  if (password) {
    error = std::string("database: ") + kPasswordInUri;
    return nullptr;
  }
  std::unique_ptr<PgStore> store(new PgStore(uri, node, leaseSeconds, clock, std::move(commits)));
  // The node's lock first, before anything of the store is read or written.
  store->lock_ = Session::Connect(uri, store->appName_, error);
  if (!store->lock_ || !store->TakeNodeLock(*store->lock_, error)) return nullptr;
  std::string why;
  Params key;
  key.Add(kSchemaLock);
  Session& lock = *store->lock_;
  if (!lock.Run("BEGIN", why) || !lock.Run("SELECT pg_advisory_xact_lock($1::int, 0)", key, why) ||
      !lock.Run(Schema().c_str(), why) || !lock.Run("COMMIT", why)) {
    error = "database: cannot prepare the tables: " + why;
    return nullptr;
  }
  const Instant now = clock.Now();
  if (!store->RecordNode(*store->lock_, now, error)) return nullptr;
  return store;
}

// A session lock: the server drops it with the session, however the process ends. The
// settings make the server notice a vanished machine within half a minute (over TCP).
bool PgStore::TakeNodeLock(Session& lock, std::string& error) {
  std::string why;
  lock.Run("SET tcp_keepalives_idle = 10; SET tcp_keepalives_interval = 5; SET tcp_keepalives_count = 3", why);
  Params key;
  key.Add(kNodeLock).Add(node_);
  Result got = lock.Run("SELECT pg_try_advisory_lock($1::int, hashtext($2))", key, why);
  if (!got) {
    error = "database: cannot lock the node name " + node_ + ": " + why;
    return false;
  }
  if (Text(got.get(), 0, 0) == "t") {
    lockHeld_ = true;
    return true;
  }
  // Who holds it, from its session's application name ("talmery-gateway node=N pid=P host=H").
  // pg_locks lists the advisory locks of every database on the server: only this one's count,
  // or a gateway of another database with the same node name would be named.
  Result holder = lock.Run(
      "SELECT a.application_name FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid "
      "WHERE l.locktype = 'advisory' AND l.classid = $1::int::oid AND l.objid = hashtext($2)::oid AND l.granted "
      "AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database())",
      key, why);
  std::string pid, host;
  if (holder && PQntuples(holder.get()) > 0) {
    const std::string name = Text(holder.get(), 0, 0);
    const size_t p = name.find(" pid="), h = name.find(" host=");
    if (p != std::string::npos) pid = name.substr(p + 5, name.find(' ', p + 5) - p - 5);
    if (h != std::string::npos) host = name.substr(h + 6);
  }
  error = "the node name " + node_ + " is in use by another talmery-gateway on this database (" +
          (pid.empty() ? std::string("its pid is not known") : "pid " + pid + (host.empty() ? "" : " on " + host)) +
          "); one gateway per node name";
  return false;
}

bool PgStore::RecordNode(Session& session, const Instant& now, std::string& error) {
  // The store time starts at the database server's clock (see pg_store.h).
  const long long before = clock_.Now().tickMs;
  Params p;
  p.Add(node_).Add(leaseMs_).Add(HostName()).Add(static_cast<long long>(getpid())).Add(now.wallMs);
  Result r = session.Run(
      "INSERT INTO nodes(node, lease_ms, host, pid, started_ms, seen_ms) VALUES($1, $2, $3, $4, $5, $5) "
      "ON CONFLICT(node) DO UPDATE SET beat = nodes.beat + 1, lease_ms = $2, host = $3, pid = $4, started_ms = $5, "
      "seen_ms = $5, stopped_ms = NULL, lines_in_use = 0 "
      "RETURNING (extract(epoch FROM clock_timestamp()) * 1000)::bigint",
      p, error);
  if (!r) {
    error = "database: cannot record this node: " + error;
    return false;
  }
  offsetMs_ = Int(r.get(), 0, 0) - (before + clock_.Now().tickMs) / 2;
  return true;
}

PgStore::~PgStore() {
  if (lock_ && lockHeld_) {
    std::string why;
    Params p;
    p.Add(clock_.Now().wallMs).Add(node_);
    lock_->Run("UPDATE nodes SET stopped_ms = $1, lines_in_use = 0 WHERE node = $2", p, why);
  }
}

std::unique_ptr<PgStore::Session> PgStore::Take(std::string& error) {
  {
    std::unique_lock<std::mutex> lock(poolMu_);
    poolFree_.wait(lock, [&] { return !idle_.empty() || open_ < kPoolSize; });
    if (!idle_.empty()) {
      std::unique_ptr<Session> s = std::move(idle_.back());
      idle_.pop_back();
      return s;
    }
    ++open_;
  }
  std::unique_ptr<Session> s = Session::Connect(uri_, appName_, error);
  if (!s) {
    std::lock_guard<std::mutex> lock(poolMu_);
    --open_;
    poolFree_.notify_one();
  }
  return s;
}

void PgStore::Give(std::unique_ptr<Session> session) {
  std::lock_guard<std::mutex> lock(poolMu_);
  if (session && !session->drop && !session->lost && PQstatus(session->conn.get()) == CONNECTION_OK &&
      PQtransactionStatus(session->conn.get()) == PQTRANS_IDLE) {
    idle_.push_back(std::move(session));
  } else if (session) {
    --open_;
  }
  poolFree_.notify_one();
}

bool PgStore::Fence(const Backend& old, long long deadlineMs, std::string& error) {
  for (;;) {
    if (std::unique_ptr<Session> s = Session::Connect(uri_, appName_, error)) {
      if (s->serverStart != old.serverStart) return true;  // that server restarted, or another one serves now
      Params p;
      p.Add(old.pid);
      std::string why;
      s->Run("SELECT pg_terminate_backend($1::int, 5000)", p, why);
      Result still = s->Run("SELECT 1 FROM pg_stat_activity WHERE pid = $1::int", p, why);
      if (still && PQntuples(still.get()) == 0) return true;
    }
    if (SteadyMs() >= deadlineMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

// Requests that arrive while kAcceptCommits commits are on their way wait for the next one and
// share it: one INSERT of all their rows, one commit, each told its id only once it returned. The
// first of them commits for all (no thread of its own). Commits on their way at once share the
// server's fsync (its group commit). A shared commit fails for all its calls alike, which only
// the database can make happen: what a request carries (UTF-8 without NUL, checked before) is
// never refused by it. With a synchronous standby each commit waits for a round trip to it:
// sharing them is what keeps a rush within reach (one commit per call measured 1,200/s).
Written PgStore::Accept(const CallRequest& request, const std::string& client, int maxAttempts, const Instant& now,
                        long long& id, std::string& error) {
  PendingAccept me;
  me.request = &request;
  me.client = &client;
  me.maxAttempts = maxAttempts;
  me.now = now;
  std::unique_lock<std::mutex> lock(acceptMu_);
  me.token = static_cast<long long>((tokenState_ = tokenState_ * 6364136223846793005ULL + 1442695040888963407ULL) >> 1);
  acceptQueue_.push_back(&me);
  while (!me.done) {
    if (committing_ >= kAcceptCommits || acceptQueue_.empty()) {
      acceptTurn_.wait(lock);
      continue;
    }
    ++committing_;
    std::vector<PendingAccept*> batch;
    size_t bytes = 0;
    while (!acceptQueue_.empty() && batch.size() < kAcceptBatch && bytes < kAcceptBatchBytes) {
      bytes += acceptQueue_.front()->request->text.size();
      batch.push_back(acceptQueue_.front());
      acceptQueue_.pop_front();
    }
    lock.unlock();
    CommitAccepts(batch);
    lock.lock();
    for (PendingAccept* p : batch) p->done = true;
    --committing_;
    acceptTurn_.notify_all();
  }
  id = me.id;
  error = me.error;
  return me.written;
}

void PgStore::CommitAccepts(const std::vector<PendingAccept*>& batch) {
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) {
    for (PendingAccept* p : batch) p->error = error;
    return;
  }
  Params params;
  std::string sql =
      "INSERT INTO calls(number, text, self_delete, first_occ, state, max_attempts, created_ms, updated_ms, next_ms, "
      "created_at, due_at, accepted_by, client, token, caller_token) VALUES";
  for (size_t i = 0; i < batch.size(); ++i) {
    const PendingAccept& a = *batch[i];
    auto at = [&](int k) { return "$" + std::to_string(i * 11 + static_cast<size_t>(k)); };
    sql += std::string(i ? ", " : " ") + "(" + at(1) + ", " + at(2) + ", " + at(3) + ", " + at(4) + ", " + state::Sql(state::kQueued) + ", " +
           at(5) + ", " + at(6) + ", " + at(6) + ", " + at(6) + ", " + at(7) + ", " + at(7) + ", " + at(8) + ", " +
           at(9) + ", " + at(10) + ", " + at(11) + ")";
    params.Add(a.request->number).Add(a.request->text).Add(a.request->selfDelete).Add(a.request->firstOcc);
    params.Add(a.maxAttempts).Add(a.now.wallMs).Add(StoreTime(a.now)).Add(node_).Add(*a.client).Add(a.token);
    if (a.request->callerToken.empty()) params.Null();
    else params.Add(a.request->callerToken);
  }
  sql += " RETURNING id, token";
  Result r;
  {
    const CommitTimer timer(commits_);
    r = batch.size() == 1 ? s->RunPrepared("accept", sql.c_str(), params, error) : s->Run(sql.c_str(), params, error);
  }
  const bool lost = s->lost;
  const Backend backend = s->Id();
  Give(std::move(s));
  if (r) {
    std::map<long long, long long> ids;
    for (int i = 0; i < PQntuples(r.get()); ++i) ids[Int(r.get(), i, 1)] = Int(r.get(), i, 0);
    for (PendingAccept* p : batch) {
      p->id = ids[p->token];
      p->written = Written::Done;
    }
    return;
  }
  for (PendingAccept* p : batch) p->error = error;
  if (lost) ResolveAccepts(batch, backend);
}

// The connection broke while the batch was being committed: once its session is gone, the
// database says which of the calls it holds (all of them or none).
void PgStore::ResolveAccepts(const std::vector<PendingAccept*>& batch, const Backend& old) {
  const long long deadline = SteadyMs() + kResolveMs;
  std::string why;
  const auto unknown = [&] {
    for (PendingAccept* p : batch) {
      p->written = Written::Unknown;
      p->error = "the database went away while storing the call and has not answered since (" + why + ")";
    }
  };
  if (!Fence(old, deadline, why)) return unknown();
  std::string tokens = "{";
  long long since = 0;
  for (PendingAccept* p : batch) {
    tokens += (tokens.size() > 1 ? "," : "") + std::to_string(p->token);
    since = since ? std::min(since, StoreTime(p->now)) : StoreTime(p->now);
  }
  tokens += "}";
  for (;;) {
    if (std::unique_ptr<Session> s = Session::Connect(uri_, appName_, why)) {
      Params p;
      p.Add(tokens).Add(node_).Add(since - 1000);
      Result r = s->Run("SELECT id, token FROM calls WHERE token = ANY($1::bigint[]) AND accepted_by = $2 AND "
                        "created_at >= $3",
                        p, why);
      if (r) {
        std::map<long long, long long> ids;
        for (int i = 0; i < PQntuples(r.get()); ++i) ids[Int(r.get(), i, 1)] = Int(r.get(), i, 0);
        for (PendingAccept* a : batch) {
          const auto found = ids.find(a->token);
          if (found == ids.end()) continue;  // Failed, with the INSERT's error
          a->id = found->second;
          a->written = Written::Done;
        }
        return;
      }
    }
    if (SteadyMs() >= deadline) return unknown();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

// A claim whose commit broke off was not dialled: once its session is gone it is queued again
// as it was, if it was recorded at all.
bool PgStore::UndoUnclaimed(std::string& error) {
  std::vector<Unclaim> pending;
  {
    std::lock_guard<std::mutex> lock(unclaimMu_);
    pending.swap(unclaimed_);
  }
  for (size_t i = 0; i < pending.size(); ++i) {
    const Unclaim& u = pending[i];
    bool undone = false;
    if (Fence(u.backend, SteadyMs(), error)) {
      if (std::unique_ptr<Session> s = Take(error)) {
        const Instant now = clock_.Now();
        Params p;
        p.Add(StoreTime(now)).Add(now.wallMs).Add(u.id).Add(node_).Add(u.attempt);
        static const std::string undo =
            "WITH c AS (UPDATE calls SET state = " + state::Sql(state::kQueued) +
            ", attempts = attempts - 1, due_at = $1, next_ms = $2, updated_ms = $2 WHERE id = $3 AND node = $4 AND "
            "attempts = $5 AND state = " + state::Sql(state::kDialling) +
            " RETURNING id) DELETE FROM attempts WHERE call_id = $3 AND attempt = $5 AND EXISTS (SELECT 1 FROM c)";
        undone = s->Run(undo.c_str(), p, error) != nullptr;
        Give(std::move(s));
      }
    }
    if (!undone) {
      std::lock_guard<std::mutex> lock(unclaimMu_);
      unclaimed_.insert(unclaimed_.end(), pending.begin() + static_cast<long>(i), pending.end());
      return false;
    }
  }
  return true;
}

Claim PgStore::ClaimNext(const Instant& now, const std::set<std::string>& skip, int line) {
  Claim claim;
  claim.status = Claim::Status::Failed;
  if (!lockHeld_) {
    claim.error = "the node name " + node_ + " is no longer locked on the database: another gateway may hold it";
    return claim;
  }
  if (!UndoUnclaimed(claim.error)) return claim;
  std::unique_ptr<Session> s = Take(claim.error);
  if (!s) return claim;
  std::string& error = claim.error;
  const CommitTimer timer(commits_);
  auto fail = [&] {
    if (!s->lost) {
      std::string why;
      s->Run("ROLLBACK", why);
    }
    Give(std::move(s));
    claim.status = Claim::Status::Failed;
    return claim;
  };
  if (!s->Run("BEGIN", error)) return fail();
  std::vector<long long> passed;  // candidates whose number another node is calling (or claiming)
  Result chosen;
  static const std::string candidate =
      "SELECT id, number FROM calls c WHERE due_at IS NOT NULL AND due_at <= $1 AND NOT (number = ANY($2::text[])) "
      "AND NOT (id = ANY($3::bigint[])) AND NOT EXISTS (SELECT 1 FROM calls p WHERE p.number = c.number AND "
      "p.state IN " + state::InProgressSql() + ") ORDER BY due_at, id LIMIT 1 FOR UPDATE SKIP LOCKED";
  static const std::string numberBusy =
      "SELECT 1 FROM calls WHERE number = $1 AND state IN " + state::InProgressSql() + " LIMIT 1";
  static const std::string take =
      "WITH c AS (UPDATE calls SET state = " + state::Sql(state::kDialling) +
      ", attempts = attempts + 1, next_ms = NULL, due_at = NULL, updated_ms = $1, node = $2 WHERE id = $3 "
      "RETURNING " + kCallColumns +
      "), a AS (INSERT INTO attempts(call_id, attempt, line, node, started_ms) SELECT id, attempts, $4, $2, $1 "
      "FROM c) SELECT * FROM c";
  static const std::string snoozes =
      "SELECT COUNT(*) FROM attempts WHERE call_id = $1 AND outcome = " + state::Sql(state::kSnoozed);
  for (int i = 0; i < kClaimCandidates && !chosen; ++i) {
    Params p;
    p.Add(StoreTime(now)).Add(TextArray(skip)).Add(IdArray(passed));
    Result next = s->Run(candidate.c_str(), p, error);
    if (!next) return fail();
    if (PQntuples(next.get()) == 0) break;
    const long long id = Int(next.get(), 0, 0);
    Params number;
    number.Add(kNumberLock).Add(Text(next.get(), 0, 1));
    // The number's lock, then a fresh look: a claim of the same number by another node has
    // committed before its lock was released.
    Result locked = s->Run("SELECT pg_try_advisory_xact_lock($1::int, hashtext($2))", number, error);
    if (!locked) return fail();
    bool free = Text(locked.get(), 0, 0) == "t";
    if (free) {
      Params n;
      n.Add(Text(next.get(), 0, 1));
      Result busy = s->Run(numberBusy.c_str(), n, error);
      if (!busy) return fail();
      free = PQntuples(busy.get()) == 0;
    }
    if (!free) {
      passed.push_back(id);
      continue;
    }
    // The claim is a beat of this node: a node that watched it fall silent and is closing its
    // calls now holds this row, and this claim waits for it (see CloseCallsOf).
    Params beat;
    beat.Add(now.wallMs).Add(node_);
    Result mine = s->Run("UPDATE nodes SET beat = beat + 1, seen_ms = $1 WHERE node = $2", beat, error);
    if (!mine) return fail();
    if (std::string(PQcmdTuples(mine.get())) != "1") {
      error = "this node's row is missing from the nodes table";
      return fail();
    }
    Params c;
    c.Add(now.wallMs).Add(node_).Add(id).Add(line);
    chosen = s->Run(take.c_str(), c, error);
    if (!chosen) return fail();
  }
  if (!chosen) {
    std::string why;
    s->Run("ROLLBACK", why);
    Give(std::move(s));
    claim.status = Claim::Status::NoneDue;
    return claim;
  }
  CallRecord call = ReadCall(chosen.get(), 0, offsetMs_.load());
  Params id;
  id.Add(call.id);
  Result snoozed = s->Run(snoozes.c_str(), id, error);
  if (!snoozed) return fail();
  call.snoozes = static_cast<int>(Int(snoozed.get(), 0, 0));
  if (!s->Run("COMMIT", error)) {
    if (s->lost) {
      std::lock_guard<std::mutex> lock(unclaimMu_);
      unclaimed_.push_back({call.id, call.attempts, s->Id()});
    }
    Give(std::move(s));
    return claim;
  }
  Give(std::move(s));
  claim.status = Claim::Status::Claimed;
  claim.call = std::move(call);
  return claim;
}

Written PgStore::MarkAnswered(long long id, int attempt, const Instant& now, std::string& error) {
  std::unique_ptr<Session> s = Take(error);
  if (!s) return Written::Failed;
  Params p;
  p.Add(now.wallMs).Add(id).Add(attempt).Add(node_);
  static const std::string answered =
      "WITH c AS (UPDATE calls SET state = " + state::Sql(state::kAnswered) +
      ", updated_ms = $1 WHERE id = $2 AND attempts = $3 AND node = $4 AND state IN " + state::InProgressSql() +
      " RETURNING id) UPDATE attempts SET answered_ms = $1 WHERE call_id = $2 AND attempt = $3 AND EXISTS "
      "(SELECT 1 FROM c)";
  Result r = s->Run(answered.c_str(), p, error);
  const bool lost = s->lost;
  Give(std::move(s));
  if (!r) return lost ? Written::Unknown : Written::Failed;
  if (std::string(PQcmdTuples(r.get())) == "1") return Written::Done;
  error = "call " + std::to_string(id) + " was closed by another node: this node's lease had run out";
  return Written::ClaimLost;
}

Written PgStore::FinishAttempt(long long id, int attempt, const AttemptEnd& end, const Instant& now,
                               std::string& error) {
  std::unique_ptr<Session> s = Take(error);
  if (!s) return Written::Failed;
  const bool final = end.state == state::kDone || end.state == state::kFailed;
  const std::optional<long long> due = final ? std::nullopt : end.nextMs;
  Params p;
  p.Add(end.state).Add(end.reason);
  p.Add(due ? std::optional<long long>(now.wallMs + *due - now.tickMs) : std::nullopt);
  p.Add(due ? std::optional<long long>(*due + offsetMs_.load()) : std::nullopt);
  p.Add(now.wallMs).Add(id).Add(attempt).Add(node_).Add(end.outcome).Add(end.detail).Add(final).Add(end.dialled);
  p.Add(end.answerer);
  static const std::string finish =
      "WITH c AS (UPDATE calls SET state = $1, reason = $2, next_ms = $3, due_at = $4, updated_ms = $5, "
      "text = CASE WHEN $11::boolean AND self_delete THEN NULL ELSE text END "
      "WHERE id = $6 AND attempts = $7 AND node = $8 AND state IN " + state::InProgressSql() + " RETURNING id) "
      "UPDATE attempts SET ended_ms = $5, outcome = $9, detail = $10, dialled = $12, answerer = $13 "
      "WHERE call_id = $6 AND attempt = $7 AND EXISTS (SELECT 1 FROM c)";
  Result r = s->Run(finish.c_str(), p, error);
  if (r && std::string(PQcmdTuples(r.get())) != "1") {
    // Nothing changed: this very end went in before (its commit broke off and it is written
    // again), or the call is not this node's any more.
    Params q;
    q.Add(id).Add(attempt).Add(now.wallMs).Add(end.outcome).Add(node_);
    Result mine = s->Run(
        "SELECT 1 FROM attempts WHERE call_id = $1 AND attempt = $2 AND ended_ms = $3 AND outcome = $4 AND node = $5",
        q, error);
    if (mine && PQntuples(mine.get()) == 0) {
      error = "call " + std::to_string(id) + " was closed by another node: this node's lease had run out";
      Give(std::move(s));
      return Written::ClaimLost;
    }
    if (!mine) r.reset();
  }
  const bool lost = s->lost;
  Give(std::move(s));
  if (!r) return lost ? Written::Unknown : Written::Failed;
  return Written::Done;
}

std::vector<CallRecord> PgStore::CloseCallsOf(const std::string& node, std::optional<long long> beat,
                                              const std::string& detail, const Instant& now, std::string& error) {
  std::vector<CallRecord> closed;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return closed;
  bool ok = s->Run("BEGIN", error) != nullptr;
  if (ok && beat) {
    Params b;
    b.Add(node);
    Result row = s->Run("SELECT beat FROM nodes WHERE node = $1 FOR UPDATE", b, error);
    ok = row != nullptr;
    if (ok && (PQntuples(row.get()) == 0 || Int(row.get(), 0, 0) != *beat)) {  // it spoke meanwhile
      std::string why;
      s->Run("ROLLBACK", why);
      Give(std::move(s));
      return closed;
    }
  }
  if (ok) {
    Params p;
    p.Add(kStoppedDuringMessage).Add(kStoppedWhileDialling).Add(now.wallMs).Add(node).Add(detail);
    static const std::string answered = state::Sql(state::kAnswered);
    static const std::string close =
        "WITH c AS (UPDATE calls SET state = CASE WHEN state = " + answered + " THEN " + state::Sql(state::kDone) +
        " ELSE " + state::Sql(state::kFailed) + " END, reason = CASE WHEN state = " + answered +
        " THEN $1 ELSE $2 END, next_ms = NULL, due_at = NULL, updated_ms = $3, "
        "text = CASE WHEN self_delete THEN NULL ELSE text END WHERE node = $4 AND state IN " + state::InProgressSql() +
        " RETURNING " + kCallColumns +
        "), a AS (UPDATE attempts SET ended_ms = $3, outcome = 'interrupted', detail = $5 FROM c "
        "WHERE attempts.call_id = c.id AND attempts.attempt = c.attempts) SELECT * FROM c ORDER BY id";
    Result r = s->Run(close.c_str(), p, error);
    ok = r != nullptr;
    for (int i = 0; ok && i < PQntuples(r.get()); ++i) closed.push_back(ReadCall(r.get(), i, offsetMs_.load()));
    ok = ok && s->Run("COMMIT", error) != nullptr;
  }
  if (!ok) {
    closed.clear();
    if (!s->lost) {
      std::string why;
      s->Run("ROLLBACK", why);
    }
  }
  Give(std::move(s));
  return closed;
}

// At a start the node's lock is held: whatever is in progress under its name was left by an
// earlier process of it.
std::vector<CallRecord> PgStore::CloseInterrupted(const Instant& now, std::string& error) {
  return CloseCallsOf(node_, std::nullopt, "gateway stopped", now, error);
}

bool PgStore::Renew(const Instant& now, const NodeState& state, std::string& error) {
  // The lock's session went (the primary failed over): taken again, unless another process
  // took the name meanwhile; until then this node claims nothing.
  if (!lockHeld_ || !lock_ || lock_->drop) {
    lockHeld_ = false;
    lock_.reset();
    lock_ = Session::Connect(uri_, appName_, error);
    if (!lock_ || !TakeNodeLock(*lock_, error)) return false;
  }
  const long long before = clock_.Now().tickMs;
  Params p;
  p.Add(now.wallMs).Add(state.lines).Add(state.linesInUse).Add(state.registration).Add(node_);
  Result r = lock_->Run(
      "UPDATE nodes SET beat = beat + 1, seen_ms = $1, lines = $2, lines_in_use = $3, registration = $4, "
      "stopped_ms = NULL WHERE node = $5 RETURNING (extract(epoch FROM clock_timestamp()) * 1000)::bigint",
      p, error);
  if (!r) {
    if (lock_->drop) lockHeld_ = false;
    return false;
  }
  if (PQntuples(r.get()) == 0) return RecordNode(*lock_, now, error);  // someone deleted its row
  // The store time follows the server's clock by at most 1 % of the time between renewals.
  const long long measured = Int(r.get(), 0, 0) - (before + clock_.Now().tickMs) / 2;
  const long long step = std::max(10, leaseMs_ / 400);
  const long long offset = offsetMs_.load();
  offsetMs_ = offset + std::clamp(measured - offset, -step, step);
  return UndoUnclaimed(error);
}

std::vector<CallRecord> PgStore::CloseSilentNodes(const Instant& now, std::string& error) {
  std::vector<CallRecord> closed;
  struct Seen {
    std::string node;
    long long beat, leaseMs;
    bool busy;
  };
  std::vector<Seen> seen;
  {
    std::unique_ptr<Session> s = Take(error);
    if (!s) return closed;
    Params p;
    p.Add(node_);
    static const std::string others =
        "SELECT n.node, n.beat, n.lease_ms, EXISTS (SELECT 1 FROM calls c WHERE c.node = n.node AND "
        "c.state IN " + state::InProgressSql() + ") FROM nodes n WHERE n.node <> $1";
    Result r = s->Run(others.c_str(), p, error);
    Give(std::move(s));
    if (!r) return closed;
    for (int i = 0; i < PQntuples(r.get()); ++i)
      seen.push_back({Text(r.get(), i, 0), Int(r.get(), i, 1), Int(r.get(), i, 2), Text(r.get(), i, 3) == "t"});
  }
  for (const Seen& n : seen) {
    bool silent = false;
    {
      std::lock_guard<std::mutex> lock(watchMu_);
      auto it = watched_.find(n.node);
      if (it == watched_.end() || it->second.beat != n.beat) watched_[n.node] = {n.beat, now.tickMs};
      else silent = now.tickMs - it->second.sinceTick >= n.leaseMs;
    }
    if (!silent || !n.busy) continue;
    const std::string detail = "node " + n.node + " silent for more than " + std::to_string(n.leaseMs / 1000) + " s";
    std::vector<CallRecord> calls = CloseCallsOf(n.node, n.beat, detail, now, error);
    closed.insert(closed.end(), calls.begin(), calls.end());
  }
  return closed;
}

std::vector<NodeRecord> PgStore::Nodes() {
  std::vector<NodeRecord> nodes;
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return nodes;
  Result r = s->Run((std::string("SELECT ") + kNodeColumns + " FROM nodes ORDER BY node").c_str(), error);
  Give(std::move(s));
  const long long tick = clock_.Now().tickMs;
  std::lock_guard<std::mutex> lock(watchMu_);
  for (int i = 0; r && i < PQntuples(r.get()); ++i) {
    NodeRecord n = ReadNode(r.get(), i);
    auto it = watched_.find(n.node);
    n.silent = n.node != node_ && it != watched_.end() && it->second.beat == Int(r.get(), i, 10) &&
               tick - it->second.sinceTick >= Int(r.get(), i, 9);
    nodes.push_back(std::move(n));
  }
  return nodes;
}

std::vector<CallRecord> PgStore::ExpireWaiting(const Instant& now, long long maxWaitMs, const std::string& reason,
                                               std::string& error) {
  std::vector<CallRecord> expired;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return expired;
  Params p;
  p.Add(reason).Add(now.wallMs).Add(StoreTime(now) - maxWaitMs);
  static const std::string expire =
      "UPDATE calls SET state = " + state::Sql(state::kExpired) +
      ", reason = $1, next_ms = NULL, due_at = NULL, updated_ms = $2, "
      "text = CASE WHEN self_delete THEN NULL ELSE text END WHERE id IN (SELECT id FROM calls WHERE due_at IS NOT NULL "
      "AND created_at <= $3 AND state <> " + state::Sql(state::kSnoozed) + " FOR UPDATE SKIP LOCKED) RETURNING " +
      kCallColumns;
  Result r = s->Run(expire.c_str(), p, error);
  Give(std::move(s));
  for (int i = 0; r && i < PQntuples(r.get()); ++i) expired.push_back(ReadCall(r.get(), i, offsetMs_.load()));
  std::sort(expired.begin(), expired.end(), [](const CallRecord& a, const CallRecord& b) { return a.id < b.id; });
  return expired;
}

std::optional<long long> PgStore::NextDueTick() {
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return std::nullopt;
  Result r = s->Run("SELECT MIN(due_at) FROM calls WHERE due_at IS NOT NULL", error);
  Give(std::move(s));
  if (!r || PQgetisnull(r.get(), 0, 0)) return std::nullopt;
  return Int(r.get(), 0, 0) - offsetMs_.load();
}

// Calls of `where` (a condition on calls, with $1... from `values`) with their tries, newest first.
std::vector<CallRecord> PgStore::ReadCalls(Session& s, const std::string& where, const std::vector<std::string>& values,
                                           std::string& error) {
  std::vector<CallRecord> calls;
  Params p;
  for (const std::string& v : values) p.Add(v);
  Result r = s.Run((std::string("SELECT ") + kCallColumnsWithToken + " FROM calls " + where).c_str(), p, error);
  for (int i = 0; r && i < PQntuples(r.get()); ++i) calls.push_back(ReadCall(r.get(), i, offsetMs_.load()));
  LoadTries(s, calls, error);
  return calls;
}

bool PgStore::Get(long long id, CallRecord& call) {
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return false;
  std::vector<CallRecord> found = ReadCalls(*s, "WHERE id = $1", {std::to_string(id)}, error);
  Give(std::move(s));
  if (found.empty()) return false;
  call = std::move(found[0]);
  return true;
}

std::vector<CallRecord> PgStore::Recent(int count) {
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return {};
  std::vector<CallRecord> calls = ReadCalls(*s, "ORDER BY id DESC LIMIT $1", {std::to_string(count)}, error);
  Give(std::move(s));
  return calls;
}

long long PgStore::CountWaiting() {
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return 0;
  Result r = s->Run("SELECT COUNT(*) FROM calls WHERE due_at IS NOT NULL", error);
  Give(std::move(s));
  return r ? Int(r.get(), 0, 0) : 0;
}

std::vector<long long> PgStore::AcceptedSince(long long sinceTick) {
  std::vector<long long> ticks;
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return ticks;
  Params p;
  p.Add(sinceTick + offsetMs_.load()).Add(node_);
  Result r = s->Run("SELECT created_at FROM calls WHERE created_at >= $1 AND accepted_by = $2", p, error);
  Give(std::move(s));
  for (int i = 0; r && i < PQntuples(r.get()); ++i) ticks.push_back(Int(r.get(), i, 0) - offsetMs_.load());
  return ticks;
}

SharedCounts PgStore::Counts(const Instant& now) {
  SharedCounts counts;
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return counts;
  Params day, minute;
  day.Add(StoreTime(now) - 24LL * 3600 * 1000).Add(node_);
  minute.Add(StoreTime(now) - 60 * 1000).Add(node_);
  Result totals = s->Run(
      "SELECT (SELECT COUNT(*) FROM calls WHERE due_at IS NOT NULL), "
      "(SELECT COUNT(*) FROM calls WHERE created_at > $1 AND accepted_by <> $2)",
      day, error);
  Result perClient =
      s->Run("SELECT client, COUNT(*) FROM calls WHERE created_at > $1 AND accepted_by <> $2 GROUP BY client", minute,
             error);
  Give(std::move(s));
  if (totals) {
    counts.waiting = Int(totals.get(), 0, 0);
    counts.othersToday = Int(totals.get(), 0, 1);
  }
  for (int i = 0; perClient && i < PQntuples(perClient.get()); ++i)
    counts.othersMinute[Text(perClient.get(), i, 0)] = Int(perClient.get(), i, 1);
  return counts;
}

StoreFigures PgStore::Figures(const Instant& now) {
  StoreFigures figures;
  std::string error;
  std::unique_ptr<Session> s = Take(error);
  if (!s) return figures;
  Result states = s->Run("SELECT state, COUNT(*) FROM calls GROUP BY state", error);
  Result waiting = s->Run("SELECT COUNT(*), MIN(created_at) FROM calls WHERE due_at IS NOT NULL", error);
  Give(std::move(s));
  for (int i = 0; states && i < PQntuples(states.get()); ++i)
    figures.byState[Text(states.get(), i, 0)] = Int(states.get(), i, 1);
  if (waiting) {
    figures.waiting = Int(waiting.get(), 0, 0);
    if (const std::optional<long long> oldest = OptInt(waiting.get(), 0, 1))
      figures.oldestWaitingMs = now.wallMs - (StoreTime(now) - *oldest);
  }
  return figures;
}

bool ReadPgListing(const std::string& uri, int count, std::vector<CallRecord>& calls, std::vector<NodeRecord>& nodes,
                   std::string& error) {
  std::unique_ptr<PgStore::Session> s =
      PgStore::Session::Connect(uri, "talmery-gateway --list pid=" + std::to_string(getpid()), error);
  if (!s) return false;
  Params p;
  p.Add(count);
  Result r = s->Run((std::string("SELECT ") + kCallColumns + " FROM calls ORDER BY id DESC LIMIT $1").c_str(), p, error);
  Result n = r ? s->Run((std::string("SELECT ") + kNodeColumns + " FROM nodes ORDER BY node").c_str(), error) : nullptr;
  if (!r || !n) {
    error = "the database: " + error;
    return false;
  }
  for (int i = 0; i < PQntuples(r.get()); ++i) calls.push_back(ReadCall(r.get(), i, 0));
  LoadTries(*s, calls, error);
  for (int i = 0; i < PQntuples(n.get()); ++i) nodes.push_back(ReadNode(n.get(), i));
  return true;
}

}  // namespace talmery
