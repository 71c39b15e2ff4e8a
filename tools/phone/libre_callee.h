#pragma once
// A callee for many calls at once and for keys: one libre stack on a thread of its own that answers
// every INVITE at once (200 with a PCMU answer), records each call's RTP (mu-law decoded, placed by
// RTP timestamp) and writes it to <dir>/call-<n>.wav when the caller hangs up. Hundreds of calls in
// one process, where a baresip per call would not fit on two cores. The number called chooses a key
// pressed 1.5 s after the answer: 5550101 presses 1 as an RFC 4733 event in the RTP stream, 5550102
// presses 1 as a SIP INFO (application/dtmf-relay), 5550103 presses 2 (an event); 5550106 hangs up
// (BYE) 1.5 s after the answer; any other number presses nothing. Over SRTP, 5550104 re-INVITEs
// during the call with a new key and media address (after one offer the caller has to refuse) on
// the caller's own connection, and 5550105 does so on a connection of its own to the caller's
// Contact and then presses 1 under its new key. Any number may also have files of its own in the
// folder: <dir>/play-<number>.wav (8 kHz, mono, 16-bit) is played into the call from the answer,
// once, then silence (a greeting, a mailbox's tone); <dir>/keys-<number>.txt lists, a line each,
// "<ms after the answer> <what>": a key (0-9, *, #) as an RFC 4733 event, "info:<key>" as a SIP
// INFO, or "bye" to hang up. The recording of a call to such a number is also written to
// <dir>/heard-<number>.wav (the last call's). libre keeps one loop per process: a program that
// runs a gateway in process starts this one as its own process (libre-callee).
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class LibreCallee {
 public:
  // With `certificate` (a PEM file holding the certificate and its key) the callee also takes
  // SIP over TLS on sipPort (TCP).
  LibreCallee(std::string address, int sipPort, int rtpFirst, int rtpLast, std::string dir, std::string certificate = "");
  ~LibreCallee();
  LibreCallee(const LibreCallee&) = delete;
  LibreCallee& operator=(const LibreCallee&) = delete;

  bool Start(std::string& error);
  void Stop();

  int Answered() const { return answered_; }
  // The server name the callers' TLS handshakes asked for (SNI), "" when none did; after Stop.
  std::string ServerName() const { return serverName_; }
  int Closed() const { return closed_; }
  // SRTCP packets that authenticated with the caller's key, and RTCP that did not (in clear, or
  // under another key), on SRTP calls.
  int Srtcp() const { return srtcp_; }
  int Unauthenticated() const { return unauthenticated_; }
  // When the n-th call (1, 2, ...) was answered.
  std::chrono::steady_clock::time_point AnsweredAt(int n);
  std::vector<std::string> Recordings();

  struct Call;

 private:
  friend struct Call;
  void Main(std::string* error, std::atomic<int>* state);

  const std::string address_, dir_, certificate_;
  const int sipPort_, rtpFirst_, rtpLast_;
  std::atomic<int> answered_{0}, closed_{0}, srtcp_{0}, unauthenticated_{0};
  std::mutex mu_;
  std::vector<std::chrono::steady_clock::time_point> answeredAt_;
  std::vector<std::string> recordings_;
  std::vector<Call*> calls_;
  std::string serverName_;  // the SIP thread's until Stop
  void* sip_ = nullptr;
  void* sessions_ = nullptr;
  void* stop_ = nullptr;  // mqueue
  std::thread thread_;
};

}  // namespace bench
