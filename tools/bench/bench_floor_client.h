#pragma once
// The floor for the reminder path: a plain client with nothing of the product in it. Its sink
// makes the same Automation calls on the item as the agent's handler (MessageClass, Start,
// UserProperties, Find, Value, EntryID, Subject, Location, Body, ReminderMinutesBeforeStart),
// posts itself a message, returns, and on that message sends one bare POST of the given body over
// blocking Windows Sockets, as the agent defers its request and sends it over Winsock.
#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <string>

namespace systemtest {

class FloorClient {
 public:
  // post false: the message is taken but nothing is sent (to tell the two costs apart).
  FloorClient(uint16_t port, std::string body, bool post = true);
  ~FloorClient();
  FloorClient(const FloorClient&) = delete;
  FloorClient& operator=(const FloorClient&) = delete;

  // The sink to advise on the simulator (the client keeps its own reference).
  IDispatch* Sink() const;
  size_t Failures() const;

 private:
  class FloorSink;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Post();

  uint16_t port_;
  std::string body_;
  bool post_;
  HWND window_ = nullptr;
  FloorSink* sink_ = nullptr;
  size_t postFailures_ = 0;
};

// One POST to 127.0.0.1:port with the bytes the agent sends (the same request line and headers,
// in the same order), with nothing of the product around it. True when the answer's status is 200
// and a body follows. Every wait is bounded (30 s).
bool BareWinsockPost(uint16_t port, const std::string& body);

}  // namespace systemtest
