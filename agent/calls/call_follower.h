#pragma once
// Follows the accepted reminder calls to their end, on a thread of its own: one question to the
// gateway at a time (GET /calls/<id> with the call's token, on the gateway client's connect and
// deadline rules), at the pace the gateway gives, for as long as it says the call may take. A
// call that did not reach the user is told once through `tell`. Nothing here waits for Outlook or
// for the user: Follow only queues, and Stop ends a question under way at once.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/calls/call_follow.h"
#include "common/win/handles.h"
#include "common/win/sync.h"

// The wall clock in ms since 1970: what followed calls are timed by (they outlive the agent).
long long WallClockMs();

class CallFollower {
 public:
  // `tell` gets the text of each call that did not reach the user, on the follower's thread,
  // and what to run once the user has read it: until then the call counts as not told, and goes
  // to the next agent with the calls still followed.
  using Tell = std::function<void(const std::string& text, std::function<void()> onRead)>;
  explicit CallFollower(Tell tell) : tell_(std::move(tell)), telling_(std::make_shared<Telling>()) {}
  ~CallFollower() { Stop(); }
  CallFollower(const CallFollower&) = delete;
  CallFollower& operator=(const CallFollower&) = delete;

  // Follows a call (the thread starts with the first). Any thread may call this.
  void Follow(FollowedCall call);
  // Ends the following (a question under way is abandoned) and returns the calls not finished
  // (and those told but not read): they stay noted for the next agent (follow_handover.h).
  // Later calls to Follow start it again.
  std::vector<FollowedCall> Stop();
 private:
  void Run();

  // The calls told but not yet read, shared with the notices' onRead (which may outlive this).
  struct Telling {
    win::SrwLock mu;
    std::vector<FollowedCall> calls;
  };

  Tell tell_;
  std::shared_ptr<Telling> telling_;
  mutable win::SrwLock mu_;
  std::vector<FollowedCall> calls_;
  bool stopping_ = false;
  win::KernelHandle wake_;  // manual-reset: a new call or the stop
  win::KernelHandle stop_;  // manual-reset: set by Stop, ends a question under way
  win::Thread thread_;
};
