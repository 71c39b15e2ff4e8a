#pragma once
// While the simulator serves a client's call that itself calls out (Advise asks the sink for its
// interface, Unadvise lets go of it: both are calls into the client's process), COM runs a
// message loop on the apartment's thread until the answer comes, and the script's window gets
// its messages there. The script must not take its next step inside that loop: a quit would
// disconnect the very object whose call is still being answered, and the client would see
// RPC_E_DISCONNECTED or RPC_S_CALL_FAILED instead of the call's result (or the simulator would
// end under a call it is still in).
namespace sim {

class ServingCall {
 public:
  ServingCall() { ++depth_; }
  ~ServingCall() { --depth_; }
  ServingCall(const ServingCall&) = delete;
  ServingCall& operator=(const ServingCall&) = delete;

  static bool Active() { return depth_ > 0; }

 private:
  static inline int depth_ = 0;  // the apartment's thread only
};

}  // namespace sim
