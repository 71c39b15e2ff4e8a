#include "agent/calls/call_follower.h"

#include <algorithm>

#include "agent/calls/follow_handover.h"
#include "agent/calls/gateway_client.h"
#include "agent/calls/http_wire.h"
#include "agent/calls/settings_store.h"

namespace {

// A call's JSON lists every try: a few KB; anything longer is no answer of ours.
constexpr size_t kMaxCallJsonBytes = 64 * 1024;

}  // namespace

long long WallClockMs() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<long long>(ticks / 10000) - 11644473600000LL;  // 100 ns since 1601 to ms since 1970
}

void CallFollower::Follow(FollowedCall call) {
  win::Held lock(mu_);
  if (stopping_) return;
  if (!wake_) wake_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!stop_) stop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!wake_ || !stop_) return;  // no events to be had: the call is not followed, as before
  NoteRecentCall(call, "waiting", WallClockMs());  // the visible window's list
  KeepFollowedCall(call);  // the next agent's, should this one end before its end is known
  calls_.push_back(std::move(call));
  SetEvent(wake_.get());
  // Without a thread (the process is out of them) the call waits: the next one starts it again.
  if (!thread_.Joinable()) thread_.Start([this] { Run(); });
}

std::vector<FollowedCall> CallFollower::Stop() {
  win::Held lock(mu_);
  if (thread_.Joinable()) {
    stopping_ = true;
    SetEvent(stop_.get());
    SetEvent(wake_.get());
    win::Thread thread = std::move(thread_);
    lock.Unlock();
    thread.Join();
    lock.Relock();
    stopping_ = false;
    ResetEvent(stop_.get());
  }
  std::vector<FollowedCall> left = std::move(calls_);
  calls_.clear();
  // Told, not read: the box went with this agent, or never opened.
  win::Held told(telling_->mu);
  for (FollowedCall& call : telling_->calls) left.push_back(std::move(call));
  telling_->calls.clear();
  return left;
}

void CallFollower::Run() {
  win::Held lock(mu_);
  while (!stopping_) {
    // The call due first; the wait until then, or until a new call comes.
    const auto due = std::min_element(calls_.begin(), calls_.end(),
                                      [](const FollowedCall& a, const FollowedCall& b) { return a.nextMs < b.nextMs; });
    const long long now = WallClockMs();
    if (due == calls_.end() || due->nextMs > now) {
      const long long wait = due == calls_.end() ? INFINITE : std::min<long long>(due->nextMs - now, 3600 * 1000);
      ResetEvent(wake_.get());
      const HANDLE wake = wake_.get();
      lock.Unlock();
      WaitForSingleObject(wake, static_cast<DWORD>(wait));
      lock.Relock();
      continue;
    }
    FollowedCall call = *due;
    calls_.erase(due);
    lock.Unlock();
    // One question in flight, on this thread: the answer is read before anything else is asked.
    const GatewayAddress gateway{call.host, call.port};
    const GatewayExchange x =
        ExchangeWithGateway(gateway, ComposeCallStatusRequest(ParseGatewayHost(call.host).name, call.port, call.requestId, call.token),
                            kMaxCallJsonBytes, stop_.get());
    lock.Relock();
    if (stopping_) {
      calls_.push_back(std::move(call));  // asked again by the next agent
      break;
    }
    const FollowStep step = NextFollowStep(call, x.failure.empty(), x.status, x.body, WallClockMs(), TellsVoicemail());
    NoteRecentCall(call, step.outcome, WallClockMs());
    if (!step.done) {
      calls_.push_back(std::move(call));
      continue;
    }
    if (step.tell.empty()) {
      ForgetFollowedCall(call);
      continue;
    }
    {
      win::Held told(telling_->mu);
      telling_->calls.push_back(call);
    }
    const std::weak_ptr<Telling> telling = telling_;
    lock.Unlock();
    // Queues a box, never waits for the user.
    tell_(step.tell, [telling, call] {
      ForgetFollowedCall(call);  // read: told, once
      const std::shared_ptr<Telling> t = telling.lock();
      if (!t) return;
      const std::string& host = call.host;
      const std::string& id = call.requestId;
      const uint16_t port = call.port;
      win::Held told(t->mu);
      t->calls.erase(std::remove_if(t->calls.begin(), t->calls.end(),
                                    [&](const FollowedCall& c) { return c.host == host && c.port == port && c.requestId == id; }),
                     t->calls.end());
    });
    lock.Relock();
  }
}
