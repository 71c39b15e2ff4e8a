#pragma once
// Places the stored calls: one thread per line takes the next due call (in the order they were
// accepted, retries at their time), dials it and records every step in the store and the log.
// A number that is being called is not dialled a second time at once.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway/config.h"
#include "gateway/line.h"
#include "gateway/store.h"

namespace talmery {

class EventLog;

// The store's record of a try that ended as `tried`, the call having had `attempts` of
// `maxAttempts` tries: where the texts people read are made.
AttemptEnd EndOfAttempt(const TryEnd& tried, int attempts, int maxAttempts, int retryPauseSeconds, long long nowMs);

class Dispatcher {
 public:
  Dispatcher(const Config& config, CallStore& store, EventLog& log, std::vector<std::unique_ptr<Line>> lines);
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  void Start();
  // A call was accepted: a free line takes it now.
  void Wake();
  // Takes no further calls; waits up to graceSeconds for the calls going on, then hangs up
  // what is left. Returns once every line has stopped.
  void Stop(int graceSeconds);
  // Ends the grace of a Stop at once (a second signal).
  void HangUpNow();

 private:
  void Serve(size_t index);
  void PlaceOne(size_t index, CallRecord call);
  void ExpireLongWaiting();

  const Config& config_;
  CallStore& store_;
  EventLog& log_;
  std::vector<std::unique_ptr<Line>> lines_;
  std::vector<std::thread> threads_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::set<std::string> activeNumbers_;
  bool stopping_ = false;
  bool hangUpNow_ = false;
  long long wakeups_ = 0;
};

}  // namespace talmery
