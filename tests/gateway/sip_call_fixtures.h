#pragma once
// What the SIP call tests share: the gateway's configurations for each kind of far end (the
// loopback phone, a PBX stand-in, the libre callee, a TLS callee), the callee as a process of
// its own, its greetings and keys, and a fixture per far end that starts the gateway under test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gateway/speech.h"
#include "tests/gateway/support/challenging_pbx.h"
#include "tests/gateway/support/scripted_peer.h"
#include "tests/gateway/test_support.h"
#include "tools/phone/loopback_phone.h"
#include "tools/phone/speech_match.h"

namespace gwtest {

inline constexpr char kPassword[] = "pw-Secret-77";
inline constexpr char kMailbox[] =
    "You have reached the voicemail of Ann Baker. Please leave a message after the tone.";

// Posts a call to the gateway on `port`, its first occurrence `firstOcc` minutes ahead; its id.
inline long long PostTo(int port, const std::string& number, const std::string& text, int firstOcc = 15) {
  std::string body = CallBody(number, text);
  body.replace(body.find("firstocc=15"), 11, "firstocc=" + std::to_string(firstOcc));
  const std::string answer = BodyOf(PostCall(port, body));
  EXPECT_EQ(answer.substr(0, 1), "[") << answer;
  return std::atoll(answer.c_str() + 1);
}

// A gateway of one line that registers as "gateway" with `password` at the registrar on `base`,
// its own ports above it.
inline talmery::Config RegisteringConfig(const TempDir& dir, int base, const std::string& password) {
  talmery::Config c;
  c.listenPort = 0;
  c.database = dir.path() + "/calls.db";
  c.maxCalls = 1;
  c.sip.user = "gateway";
  c.sip.password = password;
  c.sip.domain = "127.0.0.1:" + std::to_string(base);
  c.sip.registerSeconds = 600;
  c.sip.sipPort = base + 10;
  c.sip.rtpPortFirst = base + 100;
  c.sip.rtpPortLast = base + 199;
  return c;
}

// A gateway that dials a PBX stand-in on `base` without registering, one try a call.
inline talmery::Config PeerConfig(const TempDir& dir, int base) {
  talmery::Config c;
  c.listenPort = 0;
  c.database = dir.path() + "/calls.db";
  c.attempts = 1;
  c.repeat = 1;
  c.ringTime = 5;
  c.sip.user = "gateway";
  c.sip.password = kPassword;
  c.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base);
  c.sip.sipPort = base + 10;
  c.sip.rtpPortFirst = base + 100;
  c.sip.rtpPortLast = base + 199;
  return c;
}

// A gateway in this process dialling the CalleeProcess on `base` directly: its SIP on base + 10,
// its RTP on base + 200..399, a second between tries.
inline talmery::Config DiallingTheCallee(int base, const std::string& dir) {
  talmery::Config c;
  c.listenPort = 0;
  c.database = dir + "/calls.db";
  c.retryPause = 1;
  c.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base);
  c.sip.sipPort = base + 10;
  c.sip.rtpPortFirst = base + 200;
  c.sip.rtpPortLast = base + 399;
  return c;
}

// A gateway that speaks SIP over TLS, its SIP port base + 10 and its RTP within base + 200 to
// base + 399; its calls are kept in <database>.
inline talmery::Config TlsGatewayConfig(const std::string& database, int base) {
  talmery::Config config;
  config.listenPort = 0;
  config.database = database;
  config.sip.transport = "tls";
  config.sip.sipPort = base + 10;
  config.sip.rtpPortFirst = base + 200;
  config.sip.rtpPortLast = base + 399;
  return config;
}

// The sockets this process holds, from /proc: TCP ports it listens on and UDP ports it has bound.
struct OwnSockets {
  std::set<int> tcpListening, udp;
};

inline OwnSockets SocketsOfThisProcess() {
  std::set<std::string> inodes;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(fds)) {
      char target[128];
      const ssize_t n = readlink((std::string("/proc/self/fd/") + e->d_name).c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      const std::string link(target, static_cast<size_t>(n));
      if (link.compare(0, 8, "socket:[") == 0) inodes.insert(link.substr(8, link.size() - 9));
    }
    closedir(fds);
  }
  OwnSockets own;
  for (const char* table : {"tcp", "tcp6", "udp", "udp6"}) {
    std::istringstream lines(ReadFile(std::string("/proc/self/net/") + table));
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
      std::istringstream f(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      f >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (!inodes.count(inode)) continue;
      const int port = static_cast<int>(std::strtol(local.substr(local.find(':') + 1).c_str(), nullptr, 16));
      if (table[0] == 'u') own.udp.insert(port);
      else if (state == "0A") own.tcpListening.insert(port);
    }
  }
  return own;
}

// How many times `text` occurs in `log`.
inline size_t CountOf(const std::string& log, const std::string& text) {
  size_t n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

// The libre callee as a child process (libre keeps one loop per process, and the gateway under
// test runs in this one): "ready" on its output once it listens, its counts there at its end.
class CalleeProcess {
 public:
  CalleeProcess(const std::string& dir, int sipPort, int rtpFirst, int rtpLast, const std::string& certificate = "")
      : out_(dir + "/callee.txt") {
    const std::string sip = std::to_string(sipPort), first = std::to_string(rtpFirst), last = std::to_string(rtpLast);
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      dup2(fd, STDOUT_FILENO);
      if (certificate.empty())
        execl(LIBRE_CALLEE_EXE, LIBRE_CALLEE_EXE, sip.c_str(), first.c_str(), last.c_str(), dir.c_str(), nullptr);
      else
        execl(LIBRE_CALLEE_EXE, LIBRE_CALLEE_EXE, sip.c_str(), first.c_str(), last.c_str(), dir.c_str(),
              certificate.c_str(), nullptr);
      _exit(127);
    }
  }
  ~CalleeProcess() { Stop(); }
  CalleeProcess(const CalleeProcess&) = delete;
  CalleeProcess& operator=(const CalleeProcess&) = delete;
  bool WaitUntilReady() {
    WaitUntil([&] { return !ReadFile(out_).empty(); }, 5000);
    return ReadFile(out_) == "ready\n";
  }
  // Ends it; what it printed ("ready\nanswered N, closed N, srtcp N, unauthenticated N\n").
  std::string Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    return ReadFile(out_);
  }

 private:
  std::string out_;
  pid_t pid_ = -1;
};

// The callee's side of the listening tests: greetings made with the gateway's own speech (and a
// mailbox's tone) that the libre callee plays back, keys it presses, and what it heard.
class Greetings {
 public:
  explicit Greetings(std::string dir) : dir_(std::move(dir)) {}

  // <number> says `words` from the answer on, then `toneMs` of a 1 kHz tone after 300 ms (none
  // when 0), then is silent; its length in samples.
  size_t Say(const std::string& number, const std::string& words, int toneMs = 0) {
    talmery::Pcm greeting;
    std::string error;
    EXPECT_TRUE(talmery::Synthesize(words, talmery::Voice(), greeting, error)) << error;
    if (toneMs > 0) {
      greeting.samples.resize(greeting.samples.size() + 2400, 0);
      for (int i = 0; i < toneMs * 8; ++i)
        greeting.samples.push_back(static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * i / 8000.0)));
    }
    EXPECT_TRUE(talmery::WriteWavFile(dir_ + "/play-" + number + ".wav", greeting, error)) << error;
    return greeting.samples.size();
  }
  // <number> presses `keys` ("<ms after the answer> <key, info:key or bye>" lines).
  void Press(const std::string& number, const std::string& keys) {
    std::ofstream(dir_ + "/keys-" + number + ".txt") << keys;
  }
  // What the gateway sent to <number>'s last call.
  talmery::Pcm Heard(const std::string& number) {
    talmery::Pcm heard;
    std::string error;
    const std::string path = dir_ + "/heard-" + number + ".wav";
    WaitUntil([&] { return std::filesystem::exists(path); }, 5000);
    EXPECT_TRUE(talmery::ReadWavFile(path, heard, error)) << error;
    return heard;
  }

 private:
  std::string dir_;
};

inline talmery::Pcm SpeechOf(const std::string& text) {
  talmery::Pcm speech;
  std::string error;
  EXPECT_TRUE(talmery::Synthesize(text, talmery::Voice(), speech, error)) << error;
  return speech;
}

inline int PeakOf(const talmery::Pcm& pcm, size_t from, size_t to) {
  int peak = 0;
  for (size_t i = from; i < std::min(to, pcm.samples.size()); ++i) peak = std::max(peak, std::abs(int{pcm.samples[i]}));
  return peak;
}

// Where `speech` begins in `heard` (its best place), -1 when it is not there.
inline long StartOf(const talmery::Pcm& heard, const talmery::Pcm& speech) {
  std::string report;
  if (!phone::RecordingCarries(heard, speech, 1, report)) return -1;
  return phone::FindSpeech(heard, speech, 1).at(0).lag;
}

// The gateway under test in this process, started and stopped by the test; a folder of the
// test's own. Its far ends are the fixtures' members declared before it, so that they are still
// there when it stops (it unregisters, hangs up).
class SipGatewayTest : public ::testing::Test {
 protected:
  ::testing::AssertionResult StartGateway(const talmery::Config& config) {
    gateway_.reset();
    std::string error;
    gateway_ = std::make_unique<InProcessGateway>(config);
    if (!gateway_->Start(error)) return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
  }
  void StopGateway() { gateway_.reset(); }
  InProcessGateway& gateway() { return *gateway_; }
  int Port() const { return gateway_->Port(); }
  long long Post(const std::string& number, const std::string& text, int firstOcc = 15) {
    return PostTo(gateway_->Port(), number, text, firstOcc);
  }
  std::string Page() const { return BodyOf(Exchange(gateway_->Port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n")); }

  TempDir dir_;
  std::unique_ptr<InProcessGateway> gateway_;
};

// Dialling the loopback phone (a baresip), whose numbers answer at once, after early media, are
// busy or never answer; two lines, two tries a second apart, 3 s of ringing.
class LoopbackPhoneTest : public SipGatewayTest {
 protected:
  void SetUp() override {
    const int base = phone::FreePortBlock(400, 1);
    ASSERT_NE(base, 0);
    phone::PhonePorts ports{base, base + 2, base + 100};
    phone_ = std::make_unique<phone::LoopbackPhone>(
        dir_.path() + "/phone", ports,
        std::vector<phone::PhoneAccount>{{"5550100", phone::Behaviour::Answer, 0},
                                         {"5550183", phone::Behaviour::EarlyAnswer, 1500},
                                         {"5550486", phone::Behaviour::Busy, 0},
                                         {"5550000", phone::Behaviour::Never, 0}});
    std::string error;
    ASSERT_TRUE(phone_->Start(error)) << error;

    talmery::Config& c = config_;
    c.listenPort = 0;
    c.database = dir_.path() + "/calls.db";
    c.maxCalls = 2;
    c.attempts = 2;
    c.retryPause = 1;
    c.ringTime = 3;
    c.sip.user = "gateway";
    c.sip.password = kPassword;
    c.sip.dial = phone_->DialTemplate();
    c.sip.sipPort = base + 10;
    c.sip.rtpPortFirst = base + 200;
    c.sip.rtpPortLast = base + 399;
    ASSERT_TRUE(StartGateway(c));
  }
  void TearDown() override { StopGateway(); }

  std::unique_ptr<phone::LoopbackPhone> phone_;
  talmery::Config config_;
};

// A PBX stand-in on a free block of ports `base_` (made by the test: a digest-checking PBX or a
// scripted peer), the gateway's own ports above it.
class SipPeerTest : public SipGatewayTest {
 protected:
  void SetUp() override {
    base_ = phone::FreePortBlock(300, 1);
    ASSERT_NE(base_, 0);
  }
  void TearDown() override { StopGateway(); }
  ::testing::AssertionResult StartPbx(const std::string& password, std::map<std::string, std::string> finals = {}) {
    pbx_ = std::make_unique<ChallengingPbx>(base_, password, std::move(finals));
    if (!pbx_->bound()) return ::testing::AssertionFailure() << "the PBX could not bind " << base_;
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult StartPeer() {
    peer_ = std::make_unique<ScriptedPeer>(base_);
    if (!peer_->bound()) return ::testing::AssertionFailure() << "the peer could not bind " << base_;
    return ::testing::AssertionSuccess();
  }

  int base_ = 0;
  std::unique_ptr<ChallengingPbx> pbx_;
  std::unique_ptr<ScriptedPeer> peer_;
};

// The libre callee on `base_`, its RTP on base_ + 100..199, playing the greetings and pressing
// the keys the test gave it before it started.
class LibreCalleeTest : public SipGatewayTest {
 protected:
  void SetUp() override {
    base_ = phone::FreePortBlock(400, 1);
    ASSERT_NE(base_, 0);
  }
  void TearDown() override {
    StopGateway();
    callee_.reset();
  }
  // Starts the callee (over TLS with `certificate`, a .pem, when one is given).
  ::testing::AssertionResult StartCallee(const std::string& certificate = "") {
    callee_ = std::make_unique<CalleeProcess>(dir_.path(), base_, base_ + 100, base_ + 199, certificate);
    if (!callee_->WaitUntilReady()) return ::testing::AssertionFailure() << "the callee did not start";
    return ::testing::AssertionSuccess();
  }

  int base_ = 0;
  Greetings greetings_{dir_.path()};
  std::unique_ptr<CalleeProcess> callee_;
};

}  // namespace gwtest
