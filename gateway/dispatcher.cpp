#include "gateway/dispatcher.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "gateway/event_log.h"
#include "gateway/metrics.h"
#include "gateway/status_view.h"
#include "gateway/try_outcome.h"

namespace talmery {

std::string LateNotice(long long lateMs) {
  if (lateMs <= 2 * 60 * 1000) return "";
  return "This reminder is " + std::to_string(lateMs / 60000) + " minutes late. ";
}

bool SnoozeAllowed(const Config& config, int snoozesUsed, long long createdTick, int firstOcc, long long nowTick) {
  if (snoozesUsed >= config.snoozes) return false;
  const long long startTick = createdTick + static_cast<long long>(firstOcc) * 60 * 1000;
  const long long againTick =
      nowTick + (static_cast<long long>(config.maxCallTime) + static_cast<long long>(config.snoozeMinutes) * 60) * 1000;
  return againTick <= startTick;
}

AttemptEnd EndOfAttempt(const TryEnd& tried, int attempts, int maxAttempts, int retryPauseSeconds, long long nowMs,
                        int snoozesBefore, int snoozes) {
  AttemptEnd end;
  end.detail = DescribeEnd(tried);
  end.answerer = AnswererWord(tried);
  for (const std::string& number : tried.dialled) end.dialled += (end.dialled.empty() ? "" : ",") + number;
  switch (const Result result = ResultOf(tried)) {
    case Result::Delivered:
      end.outcome = "answered";
      end.state = state::kDone;
      end.reason = AnsweredBy(tried) + "; " + end.detail;
      return end;
    case Result::Undelivered:
      end.outcome = "answered";
      end.state = state::kFailed;
      end.reason = AnsweredBy(tried) + "; " + end.detail;
      return end;
    case Result::Snoozed:
      // Not a try used up: the call comes again as the callee asked.
      end.outcome = state::kSnoozed;
      end.state = state::kSnoozed;
      end.nextMs = nowMs + static_cast<long long>(tried.seconds) * 1000;
      end.reason = AnsweredBy(tried) + "; " + end.detail + ", snooze " + std::to_string(snoozesBefore + 1) + " of " +
                   std::to_string(snoozes);
      return end;
    case Result::Busy:
    case Result::NoAnswer:
    case Result::Transient: {
      const char* name = result == Result::Busy       ? state::kBusy
                         : result == Result::NoAnswer ? state::kNoAnswer
                                                      : state::kTemporary;
      end.outcome = name;
      const std::string what = name + (end.detail.empty() ? "" : " (" + end.detail + ")");
      if (attempts < maxAttempts) {
        end.state = name;
        end.nextMs = nowMs + static_cast<long long>(retryPauseSeconds) * 1000;
        end.reason = what + " on try " + std::to_string(attempts) + " of " + std::to_string(maxAttempts);
      } else {
        end.state = state::kFailed;
        end.reason = what + " on the last of " + std::to_string(maxAttempts) + (maxAttempts == 1 ? " try" : " tries");
      }
      return end;
    }
    case Result::Failed:
      end.outcome = "failed";
      end.state = state::kFailed;
      end.reason = end.detail.empty() ? "failed" : end.detail;
      return end;
  }
  return end;
}

Dispatcher::Dispatcher(const Config& config, CallStore& store, EventLog& log, std::vector<std::unique_ptr<Line>> lines,
                       const GatewayClock& clock)
    : config_(config), store_(store), log_(log), clock_(clock), lines_(std::move(lines)) {}

Dispatcher::~Dispatcher() { Stop(0); }

void Dispatcher::Start() {
  metrics::SetLines(lines_.size());
  if (store_.Shared()) {
    std::string error;
    store_.Renew(clock_.Now(), {static_cast<int>(lines_.size()), 0, registration_ ? registration_() : ""}, error);
    watch_ = std::thread([this] { Watch(); });
  }
  for (size_t i = 0; i < lines_.size(); ++i) threads_.emplace_back([this, i] { Serve(i); });
}

// The lease's renewal and the look for silent nodes, every quarter of lease_seconds (between a
// quarter and five seconds), until the lines have stopped: the calls a stop lets end are renewed
// too.
void Dispatcher::Watch() {
  const auto period = std::chrono::milliseconds(std::clamp(config_.leaseSeconds * 250, 250, 5000));
  std::unique_lock<std::mutex> lock(mu_);
  while (!linesStopped_) {
    NodeState state;
    state.lines = static_cast<int>(lines_.size());
    state.linesInUse = static_cast<int>(activeNumbers_.size());
    lock.unlock();
    state.registration = registration_ ? registration_() : "";
    const Instant now = clock_.Now();
    std::string error;
    store_.Renew(now, state, error);
    error.clear();
    const std::vector<CallRecord> closed = store_.CloseSilentNodes(now, error);
    std::map<std::string, int> silent;
    for (const CallRecord& c : closed) ++silent[c.node];
    for (const auto& [node, calls] : silent)
      log_.Write("node", {{"node", node}, {"state", "silent"}, {"calls-closed", std::to_string(calls)}});
    LogClosed(closed);
    lock.lock();
    cv_.wait_for(lock, period, [&] { return linesStopped_; });
  }
}

void Dispatcher::LogClosed(const std::vector<CallRecord>& closed) {
  for (const CallRecord& c : closed) {
    log_.Write("state", {{"call", std::to_string(c.id)}, {"state", c.state}, {"attempt", std::to_string(c.attempts)},
                         {"outcome", "interrupted"}, {"node", c.node}, {"detail", c.reason}});
    metrics::TryEnded("interrupted", 0, c.state);
  }
}

// One idle line is enough for one accepted call: waking them all would have each of them look
// in the store for it (in a rush of 100 calls on 100 lines, ten thousand looks).
void Dispatcher::Wake() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++wakeups_;
  }
  cv_.notify_one();
}

void Dispatcher::HangUpNow() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    hangUpNow_ = true;
  }
  ended_.notify_all();
}

void Dispatcher::Stop(int graceSeconds) {
  {
    std::unique_lock<std::mutex> lock(mu_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
    cv_.notify_all();
    ended_.wait_for(lock, std::chrono::seconds(graceSeconds), [&] { return activeNumbers_.empty() || hangUpNow_; });
  }
  for (auto& line : lines_) line->Abort();
  cv_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  {
    std::lock_guard<std::mutex> lock(mu_);
    linesStopped_ = true;
  }
  cv_.notify_all();
  if (watch_.joinable()) watch_.join();
  for (auto& line : lines_) line->Shutdown();
  // A last try for the ends the store could not take; those still left are closed as cut short
  // at the next start, never dialled again.
  std::string error;
  if (!RecordUnrecordedEnds(error))
    log_.Write("store", {{"state", "failing"}, {"error", error}, {"ends", "not recorded: closed at the next start"}});
}

// A store that cannot write is tried again this often (by one line at a time).
constexpr auto kStoreRetry = std::chrono::seconds(1);

void Dispatcher::Serve(size_t index) {
  Line& line = *lines_[index];
  bool lineDown = false;
  for (;;) {
    long long seen = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
      seen = wakeups_;
    }
    std::string why;
    if (!line.Ready(why)) {
      if (!lineDown) log_.Write("line", {{"line", std::to_string(index)}, {"state", "down"}, {"error", why}});
      lineDown = true;
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait_for(lock, std::chrono::seconds(5), [&] { return stopping_; });
      continue;
    }
    lineDown = false;

    std::optional<CallRecord> call;
    const bool writes = ClaimOne(index, call);
    if (call) {
      PlaceOne(index, std::move(*call));
      continue;
    }
    // Nothing due: sleep until a call is accepted, a line frees a number, or the next retry.
    // A call already due that could not be claimed waits for its number's call to end, and
    // that end wakes a line: no polling for it.
    long long waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(kStoreRetry).count();
    if (writes) {
      waitMs = store_.Shared() ? 1000 : 5000;  // calls accepted by other nodes wake no line here
      const std::optional<long long> due = store_.NextDueTick();
      const long long now = clock_.Now().tickMs;
      if (due && *due > now) waitMs = std::max(10LL, std::min(waitMs, *due - now));
    }
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return stopping_ || wakeups_ != seen; });
  }
}

bool Dispatcher::ClaimOne(size_t index, std::optional<CallRecord>& call) {
  std::lock_guard<std::mutex> claiming(claimMu_);
  bool failing = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    failing = storeFailing_;
  }
  if (failing && std::chrono::steady_clock::now() - lastFailedWrite_ < kStoreRetry) return false;
  const Instant now = clock_.Now();
  std::string error;
  Claim claim;
  if (RecordUnrecordedEnds(error) && ExpireLongWaiting(now, error)) {
    std::set<std::string> busy;
    {
      std::lock_guard<std::mutex> lock(mu_);
      busy = activeNumbers_;
    }
    claim = store_.ClaimNext(now, busy, static_cast<int>(index));
    error = claim.error;
  } else {
    claim.status = Claim::Status::Failed;
  }
  if (claim.status == Claim::Status::Failed) {
    lastFailedWrite_ = std::chrono::steady_clock::now();
    StoreFailed(error);
    return false;
  }
  StoreWrites();
  if (claim.status == Claim::Status::Claimed) {
    std::lock_guard<std::mutex> lock(mu_);
    activeNumbers_.insert(claim.call.number);
    call = std::move(claim.call);
  }
  return true;
}

bool Dispatcher::RecordUnrecordedEnds(std::string& error) {
  std::vector<UnrecordedEnd> ends;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ends.swap(unrecorded_);
  }
  for (size_t i = 0; i < ends.size(); ++i) {
    const UnrecordedEnd& e = ends[i];
    const Written written = store_.FinishAttempt(e.id, e.attempt, e.end, e.at, error);
    if (written == Written::ClaimLost) {
      log_.Write("claim", {{"call", std::to_string(e.id)}, {"attempt", std::to_string(e.attempt)}, {"state", "lost"},
                           {"end", e.end.state}, {"error", error}});
      error.clear();
    }
    if (written == Written::Done || written == Written::ClaimLost) continue;
    std::lock_guard<std::mutex> lock(mu_);
    unrecorded_.insert(unrecorded_.begin(), ends.begin() + static_cast<long>(i), ends.end());
    return false;
  }
  return true;
}

// Said once when the store stops taking writes, and once when it takes them again.
void Dispatcher::StoreFailed(const std::string& error) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (storeFailing_) return;
    storeFailing_ = true;
  }
  log_.Write("store", {{"state", "failing"}, {"error", error}, {"dialling", "stopped"}});
  SetGatewayNote("store", "cannot write (" + error + "): no call is dialled until it can, and requests are refused");
}

void Dispatcher::StoreWrites() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!storeFailing_) return;
    storeFailing_ = false;
  }
  log_.Write("store", {{"state", "writing"}, {"dialling", "resumed"}});
  SetGatewayNote("store", "");
}

// A reminder that could not be placed within max_wait would come after what it reminds of:
// it is not placed at all. Looked for at most once a second (max_wait is in minutes), so that
// in a rush each claim is one trip to the store's writer, not two.
bool Dispatcher::ExpireLongWaiting(const Instant& now, std::string& error) {
  if (lastExpiry_ && now.tickMs - *lastExpiry_ < 1000 && now.tickMs >= *lastExpiry_) return true;
  const long long maxWaitMs = static_cast<long long>(config_.maxWait) * 60 * 1000;
  const std::string reason = "not placed: waited more than " + std::to_string(config_.maxWait) +
                             (config_.maxWait == 1 ? " minute" : " minutes");
  for (const CallRecord& c : store_.ExpireWaiting(now, maxWaitMs, reason, error)) {
    log_.Write("state", {{"call", std::to_string(c.id)}, {"state", state::kExpired}, {"attempts", std::to_string(c.attempts)},
                         {"reason", reason}});
    metrics::CallEnded(state::kExpired);
  }
  if (!error.empty()) return false;
  lastExpiry_ = now.tickMs;
  return true;
}

void Dispatcher::PlaceOne(size_t index, CallRecord call) {
  const metrics::LineInUse inUse;
  const std::string masked = MaskNumber(call.number);
  const std::string id = std::to_string(call.id);
  const std::string attempt = std::to_string(call.attempts);
  log_.Write("state", {{"call", id}, {"state", state::kDialling}, {"attempt", attempt},
                       {"of", std::to_string(call.maxAttempts)}, {"number", masked}, {"line", std::to_string(index)}});
  DialJob job;
  job.id = call.id;
  job.attempt = call.attempts;
  job.number = call.number;
  job.text = LateNotice(clock_.Now().tickMs - call.createdTick) + call.text.value_or("");
  job.snoozeOffered = SnoozeAllowed(config_, call.snoozes, call.createdTick, call.firstOcc, clock_.Now().tickMs);
  const TryEnd tried = lines_[index]->Place(job, [&] {
    std::string error;
    const Written written = store_.MarkAnswered(call.id, call.attempts, clock_.Now(), error);
    if (written == Written::ClaimLost)
      log_.Write("claim", {{"call", id}, {"attempt", attempt}, {"state", "lost"}, {"error", error}});
    else if (written != Written::Done)
      StoreFailed(error);
    log_.Write("state", {{"call", id}, {"state", state::kAnswered}, {"attempt", attempt}});
  });
  // The retry's time is a tick: it waits as long however the wall clock is set meanwhile.
  const Instant now = clock_.Now();
  // Snoozes are not tries: the tries used are the attempts less the snoozes before this one.
  const AttemptEnd end = EndOfAttempt(tried, call.attempts - call.snoozes, call.maxAttempts, config_.retryPause,
                                      now.tickMs, call.snoozes, config_.snoozes);
  std::string error;
  const Written written = store_.FinishAttempt(call.id, call.attempts, end, now, error);
  if (written == Written::ClaimLost) {
    // Another node closed the call after this node's lease ran out: its record stands.
    log_.Write("claim", {{"call", id}, {"attempt", attempt}, {"state", "lost"}, {"end", end.state}, {"error", error}});
  } else if (written != Written::Done) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      unrecorded_.push_back({call.id, call.attempts, end, now});
    }
    StoreFailed(error);
  }
  metrics::TryEnded(end.outcome, SipStatusOf(tried), end.state);
  if (tried.answered) metrics::AnsweredBy(end.answerer);
  LogFields fields = {{"call", id}, {"state", end.state}, {"attempt", attempt}, {"outcome", end.outcome}};
  if (tried.answered) fields.push_back({"answerer", end.answerer});
  fields.push_back({"detail", end.detail});
  if (end.nextMs) fields.push_back({"next", UtcStamp(now.wallMs + *end.nextMs - now.tickMs)});
  log_.Write("state", fields);
  {
    std::lock_guard<std::mutex> lock(mu_);
    activeNumbers_.erase(call.number);
    ++wakeups_;
  }
  cv_.notify_one();
  ended_.notify_all();
}

}  // namespace talmery
