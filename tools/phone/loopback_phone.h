#pragma once
// A telephone for tests and the demo: a baresip on 127.0.0.1 with one account per behaviour,
// chosen by the user part of the number dialled. It answers at once (recording what it hears,
// baresip's sndfile module), answers after early media, says busy (486) or rings for ever; and
// it counts the calls each account received.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/phone/baresip.h"
#include "gateway/event_log.h"

namespace phone {

enum class Behaviour {
  Answer,      // 200 at once
  Busy,        // 486
  Never,       // rings until the caller gives up
  EarlyAnswer  // 183 with early media, then 200 after answerAfterMs
};

struct PhoneAccount {
  std::string user;
  Behaviour behaviour = Behaviour::Answer;
  int answerAfterMs = 0;
};

struct PhonePorts {
  int sip = 0, control = 0, rtpFirst = 0;
};

// `count` free loopback ports (TCP and UDP) from base, base + step, ...; base chosen at random
// from 10000 up to the kernel's ephemeral range (several test programs run at once; a block too
// large for that anywhere up to 60000); 0 when none is free.
int FreePortBlock(int count, int step);

class LoopbackPhone {
 public:
  // Recordings go to <dir>/recordings; the phone's baresip folder is <dir>/phone.
  LoopbackPhone(std::string dir, PhonePorts ports, std::vector<PhoneAccount> accounts);
  ~LoopbackPhone();
  LoopbackPhone(const LoopbackPhone&) = delete;
  LoopbackPhone& operator=(const LoopbackPhone&) = delete;

  bool Start(std::string& error);
  void Stop();

  // "sip:{number}@127.0.0.1:<port>", for the gateway's dial setting.
  std::string DialTemplate() const;
  int CallsTo(const std::string& user);
  int CallsClosed();
  // Waits until `n` calls have ended at the phone.
  bool WaitForClosedCalls(int n, int timeoutMs);
  // Received audio of the finished calls, oldest first.
  std::vector<std::string> Recordings() const;

 private:
  void Pump();
  std::string dir_;
  PhonePorts ports_;
  std::vector<PhoneAccount> accounts_;
  talmery::EventLog log_;
  std::unique_ptr<talmery::Baresip> baresip_;
  std::thread pump_;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::map<std::string, int> calls_;
  int closed_ = 0;
};

}  // namespace phone
