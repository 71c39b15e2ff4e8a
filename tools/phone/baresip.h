#pragma once
// One baresip process, started and supervised by us and driven over its TCP control channel
// (ctrl_tcp: netstrings of JSON commands, responses and events). It serves one call at a time,
// so that the commands that act on "the current call" (ausrc, hangup) can only mean ours.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/phone/netstring.h"

namespace talmery {

class EventLog;

struct BaresipSetup {
  std::string program = "baresip";
  std::string modulePath;
  std::string dir;                // its config folder (created, private)
  std::string listenAddress;      // SIP and RTP address
  int sipPort = 0;
  int controlPort = 0;
  int rtpFirst = 0, rtpLast = 0;
  std::string defaultSource;      // the audio source of new calls: aufile,<silence.wav>
  std::string accountLine;        // the accounts file's one line (no password in it)
  std::string password;           // given on baresip's standard input when it asks for it
  std::string aor;                // the account's address, to check that the account loaded
  std::vector<std::string> extraModules;  // e.g. sndfile.so for a recording phone
  std::vector<std::string> extraConfig;   // e.g. "snd_path /tmp/rec"
  std::string name = "line";      // for log lines
};

struct BaresipEvent {
  std::string klass, type, id, param, aor, peer;
};

using SteadyTime = std::chrono::steady_clock::time_point;

class Baresip {
 public:
  Baresip(BaresipSetup setup, EventLog* log);
  ~Baresip();
  Baresip(const Baresip&) = delete;
  Baresip& operator=(const Baresip&) = delete;

  // Writes the config, starts the process and connects to it; false with a reason (and the
  // process's last words) when it does not come up.
  bool Start(std::string& error);
  // Ends the process: with SIGTERM, which lets baresip remove its registration first, or at
  // once with SIGKILL.
  void Stop(bool graceful = true);
  bool Running();
  // Between calls: reads and drops what arrived; false when the process or its control
  // connection is gone.
  bool Idle();
  pid_t Pid() const { return pid_; }

  // Sends one command and waits for its response; events that arrive meanwhile are kept for
  // NextEvent. False when the response says not ok (reason in `data`) or none came in time.
  bool Command(const std::string& command, const std::string& params, std::string& data, int timeoutMs = 5000);

  // Selects the account `aor` and runs `command` on it in one write. baresip runs the frames of
  // one read back to back, so an incoming call on another account (which makes that account the
  // current one) cannot slip in between and receive the command.
  bool CommandOnAccount(const std::string& aor, const std::string& command, std::string& data,
                        int timeoutMs = 5000);

  enum class Wait { Event, Timeout, Lost };
  Wait NextEvent(BaresipEvent& event, SteadyTime deadline);

  // The last lines baresip printed (the password blanked out), for error reports.
  std::string LastOutput();

 private:
  bool WriteFiles(std::string& error);
  bool Spawn(std::string& error);
  bool Connect(std::string& error);
  bool PeerIsOurs(int fd, std::string& who);
  // Reads what arrives until `deadline`; false when the connection is gone.
  bool Receive(SteadyTime deadline);
  // Sends `frames` in one write and waits for the answer to each token, in order.
  bool SendAndWait(const std::vector<std::pair<std::string, std::string>>& commands, std::string& data,
                   int timeoutMs);
  void ReadOutput(int fd);

  BaresipSetup setup_;
  EventLog* log_;
  pid_t pid_ = -1;
  int control_ = -1;
  std::thread outputThread_;
  std::mutex outputMu_;
  std::deque<std::string> output_;
  NetstringReader reader_;
  std::deque<BaresipEvent> events_;
  std::deque<std::pair<std::string, std::pair<bool, std::string>>> responses_;  // token -> ok, data
  long long nextToken_ = 1;
  bool lost_ = false;
};

}  // namespace talmery
