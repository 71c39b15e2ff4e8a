#pragma once
// Places the stored calls: one thread per line takes the next due call (in the order they were
// accepted, retries at their time), dials it and records every step in the store and the log.
// A number that is being called is not dialled a second time at once.
//
// A call is dialled only once its claim is on disk. A store that cannot write (a full disk)
// stops the dialling: said once in the log and on the status page, tried again every second,
// and dialling resumes when a write succeeds. The ends of calls that could not be recorded are
// kept and recorded first. The HTTP side wakes the lines for every accepted call: the lock it
// takes for that is never held across a store call.
//
// On a store shared by several gateways (nodes) a watch thread renews this node's lease every
// quarter of lease_seconds (saying how many lines are in use and the registration's state) and
// closes the calls in progress of nodes that fell silent; lines that find nothing look again
// every second, for the calls other nodes accepted. A write about a call whose claim this node
// lost (its lease ran out, another node closed the call) is logged and dropped.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway/clock.h"
#include "gateway/config.h"
#include "gateway/line.h"
#include "gateway/store.h"

namespace talmery {

class EventLog;

// The store's record of a try that ended as `tried`, the call having had `attempts` of
// `maxAttempts` tries (its snoozes not counted), and `snoozesBefore` of its `snoozes` snoozes
// before this try: where the texts people read are made.
AttemptEnd EndOfAttempt(const TryEnd& tried, int attempts, int maxAttempts, int retryPauseSeconds, long long nowMs,
                        int snoozesBefore = 0, int snoozes = 0);

// What a call placed `lateMs` after its request arrived says first: nothing up to two minutes,
// then "This reminder is N minutes late. " (whole minutes), so that "in 15 minutes" in the text
// that follows is not taken at its word.
std::string LateNotice(long long lateMs);

// Whether a call placed at `nowTick` may offer key 2: it has snoozes left, and the call it would
// ask for (after the whole of this one, and snooze_minutes) comes before the appointment begins
// (the request's time plus its firstocc minutes).
bool SnoozeAllowed(const Config& config, int snoozesUsed, long long createdTick, int firstOcc, long long nowTick);

class Dispatcher {
 public:
  Dispatcher(const Config& config, CallStore& store, EventLog& log, std::vector<std::unique_ptr<Line>> lines,
             const GatewayClock& clock = SystemClock());
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // `registration` tells the nodes table the PBX registration's state (set before Start).
  void SetRegistrationState(std::function<std::string()> registration) { registration_ = std::move(registration); }
  void Start();
  // A call was accepted: a free line takes it now.
  void Wake();
  // Takes no further calls; waits up to graceSeconds for the calls going on, then hangs up
  // what is left. Returns once every line has stopped.
  void Stop(int graceSeconds);
  // Ends the grace of a Stop at once (a second signal).
  void HangUpNow();

 private:
  struct UnrecordedEnd {
    long long id;
    int attempt;
    AttemptEnd end;
    Instant at;
  };
  void Serve(size_t index);
  // Takes the next due call for line `index`, if any; false when the store cannot write.
  bool ClaimOne(size_t index, std::optional<CallRecord>& call);
  void PlaceOne(size_t index, CallRecord call);
  bool ExpireLongWaiting(const Instant& now, std::string& error);
  bool RecordUnrecordedEnds(std::string& error);
  void StoreFailed(const std::string& error);
  void StoreWrites();
  void Watch();
  void LogClosed(const std::vector<CallRecord>& closed);

  const Config& config_;
  CallStore& store_;
  EventLog& log_;
  const GatewayClock& clock_;
  std::vector<std::unique_ptr<Line>> lines_;
  std::vector<std::thread> threads_;
  std::thread watch_;
  std::function<std::string()> registration_;
  // One line claims at a time (so that two lines never take calls to one number), across the
  // store's writes; the HTTP side never takes it.
  std::mutex claimMu_;
  std::chrono::steady_clock::time_point lastFailedWrite_;  // under claimMu_
  std::optional<long long> lastExpiry_;                    // the tick of the last look; under claimMu_
  // The rest of the state; held for moments only, never across a store call.
  std::mutex mu_;
  std::condition_variable cv_;     // idle lines wait here
  std::condition_variable ended_;  // a stop waits here for the calls going on
  std::set<std::string> activeNumbers_;
  std::vector<UnrecordedEnd> unrecorded_;
  bool storeFailing_ = false;
  bool stopping_ = false;
  bool hangUpNow_ = false;
  bool linesStopped_ = false;
  long long wakeups_ = 0;
};

}  // namespace talmery
