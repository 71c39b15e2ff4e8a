#pragma once
// The gateway's figures for Prometheus: GET /metrics answers them in its text format (0.0.4), to
// the addresses of metrics_clients only. The parts of the gateway report what happens through the
// one-line hooks below (process-wide: one gateway runs per process); what the store holds (calls
// by state, the queue) is read at each scrape, and the process's own figures from /proc. No
// number and no text of a call enters a metric: every label value comes from a fixed set.
#include <chrono>
#include <string>
#include <vector>

#include "gateway/refusal.h"
#include "gateway/store.h"

namespace talmery::metrics {

// Hooks, each called where the thing happens.
void CallAccepted();
// A refusal of any kind, counted under its label.
void CallRefused(Refusal kind);
// A try ended: its outcome as the store records it, its SIP status (SipStatusOf; 0: none), and
// the call's state after it (done and failed end the call).
void TryEnded(const std::string& outcome, int sipStatus, const std::string& nextState);
// An answered try, by who answered: person, machine, not sure (AnswererWord).
void AnsweredBy(const std::string& answerer);
// A call ended without a try of its own (expired).
void CallEnded(const std::string& state);
void SetLines(size_t lines);
// The registration's state (registered, refused, down, starting); never called without one.
void SetRegistration(const std::string& state);
void HttpAnswered(const std::string& path, std::chrono::steady_clock::duration took);

// A line placing a call, for as long as it lives.
class LineInUse {
 public:
  LineInUse();
  ~LineInUse();
  LineInUse(const LineInUse&) = delete;
  LineInUse& operator=(const LineInUse&) = delete;
};

// A commit of the store took `took`: the gateway gives this to its store as its CommitObserver.
void CommitTook(std::chrono::steady_clock::duration took);

// The handler label of a request path: call, status_page, call_json, metrics or other.
std::string HttpHandler(const std::string& path);
// A state or outcome as a label value: "no answer" is no_answer.
std::string LabelValue(const std::string& text);

// A Prometheus histogram over fixed upper bounds (seconds).
class Histogram {
 public:
  explicit Histogram(std::vector<double> bounds);
  void Observe(double value);
  // Its _bucket, _sum and _count samples; `labels` is empty or `name="value"` pairs.
  std::string Samples(const std::string& name, const std::string& labels) const;

 private:
  std::vector<double> bounds_;
  std::vector<long long> counts_;  // per bound, not cumulative; the last is +Inf
  double sum_ = 0;
  long long count_ = 0;
};

// The whole page: the hooks' figures, the store's and the process's.
std::string Page(const StoreFigures& store, long long nowMs);

}  // namespace talmery::metrics
