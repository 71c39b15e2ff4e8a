#include "gateway/dispatcher.h"

#include <chrono>

#include "gateway/event_log.h"
#include "gateway/metrics.h"
#include "gateway/status_view.h"

namespace talmery {

AttemptEnd EndOfAttempt(const TryEnd& tried, int attempts, int maxAttempts, int retryPauseSeconds, long long nowMs) {
  AttemptEnd end;
  end.detail = DescribeEnd(tried);
  for (const std::string& number : tried.dialled) end.dialled += (end.dialled.empty() ? "" : ",") + number;
  switch (const Result result = ResultOf(tried)) {
    case Result::Delivered:
      end.outcome = "answered";
      end.state = state::kDone;
      end.reason = "answered; " + end.detail;
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

Dispatcher::Dispatcher(const Config& config, CallStore& store, EventLog& log, std::vector<std::unique_ptr<Line>> lines)
    : config_(config), store_(store), log_(log), lines_(std::move(lines)) {}

Dispatcher::~Dispatcher() { Stop(0); }

void Dispatcher::Start() {
  metrics::SetLines(lines_.size());
  for (size_t i = 0; i < lines_.size(); ++i) threads_.emplace_back([this, i] { Serve(i); });
}

void Dispatcher::Wake() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++wakeups_;
  }
  cv_.notify_all();
}

void Dispatcher::HangUpNow() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    hangUpNow_ = true;
  }
  cv_.notify_all();
}

void Dispatcher::Stop(int graceSeconds) {
  {
    std::unique_lock<std::mutex> lock(mu_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(graceSeconds), [&] { return activeNumbers_.empty() || hangUpNow_; });
  }
  for (auto& line : lines_) line->Abort();
  cv_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  for (auto& line : lines_) line->Shutdown();
}

void Dispatcher::Serve(size_t index) {
  Line& line = *lines_[index];
  bool lineDown = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
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
    long long seen = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
      seen = wakeups_;
      std::string error;
      ExpireLongWaiting();
      if (!store_.ClaimNext(NowMs(), activeNumbers_, static_cast<int>(index), call, error)) {
        log_.Write("store", {{"error", error}});
      }
      if (call) activeNumbers_.insert(call->number);
    }
    if (call) {
      PlaceOne(index, std::move(*call));
      continue;
    }
    // Nothing due: sleep until a call is accepted, a line frees a number, or the next retry.
    // A call already due that could not be claimed waits for its number's call to end, and
    // that end wakes us: no polling for it.
    const std::optional<long long> due = store_.NextDueMs();
    long long waitMs = 5000;
    if (due && *due > NowMs()) waitMs = std::max(10LL, std::min(waitMs, *due - NowMs()));
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return stopping_ || wakeups_ != seen; });
  }
}

// A reminder that could not be placed within max_wait would come after what it reminds of:
// it is not placed at all.
void Dispatcher::ExpireLongWaiting() {
  const long long now = NowMs();
  const long long maxWaitMs = static_cast<long long>(config_.maxWait) * 60 * 1000;
  const std::string reason = "not placed: waited more than " + std::to_string(config_.maxWait) +
                             (config_.maxWait == 1 ? " minute" : " minutes");
  std::string error;
  for (const CallRecord& c : store_.ExpireWaiting(now - maxWaitMs, now, reason, error)) {
    log_.Write("state", {{"call", std::to_string(c.id)}, {"state", state::kExpired}, {"attempts", std::to_string(c.attempts)},
                         {"reason", reason}});
    metrics::CallEnded(state::kExpired);
  }
  if (!error.empty()) log_.Write("store", {{"error", error}});
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
  job.text = LateNotice(NowMs() - call.createdMs) + call.text.value_or("");
  const TryEnd tried = lines_[index]->Place(job, [&] {
    std::string error;
    if (!store_.MarkAnswered(call.id, call.attempts, NowMs(), error)) log_.Write("store", {{"call", id}, {"error", error}});
    log_.Write("state", {{"call", id}, {"state", state::kAnswered}, {"attempt", attempt}});
  });
  const long long now = NowMs();
  const AttemptEnd end = EndOfAttempt(tried, call.attempts, call.maxAttempts, config_.retryPause, now);
  std::string error;
  if (!store_.FinishAttempt(call.id, call.attempts, end, now, error)) log_.Write("store", {{"call", id}, {"error", error}});
  metrics::TryEnded(end.outcome, SipStatusOf(tried), end.state);
  LogFields fields = {{"call", id}, {"state", end.state}, {"attempt", attempt}, {"outcome", end.outcome},
                      {"detail", end.detail}};
  if (end.nextMs) fields.push_back({"next", UtcStamp(*end.nextMs)});
  log_.Write("state", fields);
  {
    std::lock_guard<std::mutex> lock(mu_);
    activeNumbers_.erase(call.number);
    ++wakeups_;
  }
  cv_.notify_all();
}

}  // namespace talmery
