// Real calls on loopback: the gateway dials the loopback phone (a baresip) on its own SIP engine,
// over SIP and RTP with G.711, and the phone's recording is checked against the spoken text.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "gateway/line.h"
#include "gateway/message_plan.h"
#include "gateway/sip_rules.h"
#include "gateway/speech.h"
#include "tests/gateway/support/challenging_pbx.h"
#include "tests/gateway/support/name_server.h"
#include "tests/gateway/support/private_network.h"
#include "tests/gateway/support/scripted_peer.h"
#include "tests/gateway/test_support.h"
#include "tools/phone/loopback_phone.h"
#include "tools/phone/speech_match.h"

namespace gwtest {
namespace {

constexpr char kPassword[] = "pw-Secret-77";

class SipCallTest : public ::testing::Test {
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

    talmery::Config c;
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
    gatewayConfig_ = c;
    gateway_ = std::make_unique<InProcessGateway>(c);
    ASSERT_TRUE(gateway_->Start(error)) << error;
    port_ = gateway_->Port();
  }

  long long Post(const std::string& number, const std::string& text) {
    const std::string body = BodyOf(PostCall(port_, CallBody(number, text)));
    EXPECT_EQ(body.front(), '[') << body;
    return std::atoll(body.c_str() + 1);
  }

  TempDir dir_;
  std::unique_ptr<phone::LoopbackPhone> phone_;
  talmery::Config gatewayConfig_;
  std::unique_ptr<InProcessGateway> gateway_;
  int port_ = 0;
};

TEST_F(SipCallTest, TheCalleeHearsTheTextTwiceAnsweredAtOnceOrAfterEarlyMedia) {
  const struct {
    const char* number;
    const char* text;
  } calls[] = {{"5550100", "Your dentist appointment begins in fifteen minutes."},
               {"5550183", "The budget review is in room four."}};
  int n = 0;
  for (const auto& call : calls) {
    const long long id = Post(call.number, call.text);
    const nlohmann::json done = WaitForState(port_, id, "done", 60000);
    ASSERT_EQ(done["state"], "done") << done.dump(1);
    EXPECT_EQ(done["attempts"], 1);
    EXPECT_EQ(done["reason"], "answered by a person; the message was played");
    EXPECT_EQ(done["history"][0]["detail"], "the message was played");
    EXPECT_EQ(done["history"][0]["dialled"], nlohmann::json::array({done["number"]}));
    EXPECT_FALSE(done["history"][0]["answered"].is_null());
    ASSERT_TRUE(phone_->WaitForClosedCalls(++n, 10000));

    const std::vector<std::string> recordings = phone_->Recordings();
    ASSERT_EQ(recordings.size(), static_cast<size_t>(n));
    talmery::Pcm recording, speech;
    std::string error, report;
    ASSERT_TRUE(talmery::ReadWavFile(recordings.back(), recording, error)) << error;
    ASSERT_TRUE(talmery::Synthesize(call.text, talmery::Voice(), speech, error)) << error;
    EXPECT_TRUE(phone::RecordingCarries(recording, speech, 2, report)) << call.number << "\n" << report;
    std::printf("%s: %s", call.number, report.c_str());
  }
  EXPECT_EQ(phone_->CallsTo("5550100"), 1);
  EXPECT_EQ(phone_->CallsTo("5550183"), 1);
}

// The longest text the gateway takes is hours of speech: the callee hears it from its start as
// soon as the line may speak, for as long as max_call_time lets the call last, and the call says
// it was cut.
TEST_F(SipCallTest, ALongTextIsHeardFromItsStartAndCutToTheCallsLength) {
  gateway_.reset();
  talmery::Config c = gatewayConfig_;
  c.maxCallTime = 12;
  c.snoozes = 0;  // the short prompt ("Press star ..."), which leaves the text a few seconds
  gateway_ = std::make_unique<InProcessGateway>(c);
  std::string error;
  ASSERT_TRUE(gateway_->Start(error)) << error;
  port_ = gateway_->Port();
  const std::string sentence = "The budget review meets in room four. ";
  std::string text;
  while (text.size() + sentence.size() <= 64 * 1024) text += sentence;
  const long long id = Post("5550100", text);
  const nlohmann::json done = WaitForState(port_, id, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; the message was cut at a sentence to fit max_message_seconds (60 s); the message was cut to fit max_call_time (12 s)") << done.dump(1);
  ASSERT_TRUE(phone_->WaitForClosedCalls(1, 10000));
  talmery::Pcm recording, speech;
  std::string report;
  ASSERT_TRUE(talmery::ReadWavFile(phone_->Recordings().back(), recording, error)) << error;
  // Its first seconds are those of the text's first sentences.
  ASSERT_TRUE(talmery::Synthesize(sentence + sentence, talmery::Voice(), speech, error)) << error;
  // (After the listener's seconds of silence, and before the prompt and the time for a key.)
  speech.samples.resize(std::min<size_t>(speech.samples.size(), 2 * 8000));
  EXPECT_TRUE(phone::RecordingCarries(recording, speech, 1, report)) << report;
  EXPECT_LE(recording.samples.size(), 12u * 8000 + 2 * 160);  // hung up at max_call_time, a packet or two in flight
}

TEST_F(SipCallTest, BusyAndUnansweredCallsAreRetriedThenFailWithTheirAttempts) {
  const long long busy = Post("5550486", "Busy line.");
  const long long never = Post("5550000", "Nobody home.");
  const nlohmann::json b = WaitForState(port_, busy, "failed", 60000);
  const nlohmann::json n = WaitForState(port_, never, "failed", 60000);
  ASSERT_EQ(b["state"], "failed") << b.dump(1);
  ASSERT_EQ(n["state"], "failed") << n.dump(1);
  EXPECT_EQ(b["attempts"], 2);
  EXPECT_EQ(n["attempts"], 2);
  EXPECT_EQ(b["reason"], "busy (486 Rejected) on the last of 2 tries");
  EXPECT_EQ(n["reason"], "no answer (no answer in 3 s) on the last of 2 tries");
  for (const nlohmann::json* call : {&b, &n}) {
    ASSERT_EQ((*call)["history"].size(), 2u);
    for (const auto& attempt : (*call)["history"]) {
      EXPECT_EQ(attempt["outcome"], call == &b ? "busy" : "no answer");
      EXPECT_TRUE(attempt["answered"].is_null());
    }
  }
  EXPECT_EQ(phone_->CallsTo("5550486"), 2);
  EXPECT_EQ(phone_->CallsTo("5550000"), 2);
  const std::string log = gateway_->LogText();
  EXPECT_NE(log.find("call=" + std::to_string(busy) + " state=busy attempt=1 outcome=busy"), std::string::npos) << log;
  EXPECT_NE(log.find("call=" + std::to_string(never) + " state=\"no answer\" attempt=1"), std::string::npos) << log;

  // The SIP password went into the digests and nowhere people can read.
  const std::string page = BodyOf(Exchange(port_, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_NE(page.find("busy (486 Rejected) on the last of 2 tries"), std::string::npos);
  for (const std::string& seen : {log, page, CallStatus(port_, busy).dump()})
    EXPECT_EQ(seen.find(kPassword), std::string::npos);
  // Nor does it lie in any file the gateway wrote (its store, its spool).
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
    if (!entry.is_regular_file() || entry.path().string().find("/phone/") != std::string::npos) continue;
    EXPECT_EQ(ReadFile(entry.path().string()).find(kPassword), std::string::npos) << entry.path();
  }
}

// Through a PBX that demands digest authentication: a password of blanks, quotes and
// separators authenticates; a congested PBX's 503 is tried again, a 404 is not; a redirect is
// followed, a loop of redirects is given up; the registration is removed when the
// gateway stops.
// A gateway of one line that registers as "gateway" with `password` at the registrar on `base`,
// its own ports above it.
talmery::Config RegisteringConfig(const TempDir& dir, int base, const std::string& password) {
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

TEST(SipThroughAPbx, AnyPasswordAuthenticatesTemporaryFailuresAreRetriedTheRegistrationEndsAtStop) {
  const std::string password = "a b;c#\"d<e>\\ f=";
  const int base = phone::FreePortBlock(300, 1);
  ASSERT_NE(base, 0);
  const std::string pbxHost = "@127.0.0.1:" + std::to_string(base);
  ChallengingPbx pbx(base, password,
                     {{"5550503", "503 Service Unavailable"},
                      {"5550302", "302 Moved Temporarily\r\nContact: <sip:5550404" + pbxHost + ">"},
                      {"5550301", "301 Moved Permanently\r\nContact: <sip:5550301" + pbxHost + ">"}});
  ASSERT_TRUE(pbx.bound());
  TempDir dir;
  talmery::Config c = RegisteringConfig(dir, base, password);
  c.attempts = 2;
  c.retryPause = 1;
  c.ringTime = 5;
  c.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base);
  std::string error;
  ASSERT_TRUE(talmery::ValidateConfig(c, error)) << error;
  auto gatewayOwner = std::make_unique<InProcessGateway>(c);
  InProcessGateway& gateway = *gatewayOwner;
  ASSERT_TRUE(gateway.Start(error)) << error;
  auto post = [&](const std::string& number) {
    const std::string body = BodyOf(PostCall(gateway.Port(), CallBody(number, "Budget review.")));
    return std::atoll(body.c_str() + 1);
  };
  const long long congested = post("5550503");
  const long long wrong = post("5550404");
  const long long moved = post("5550302");    // followed to 5550404
  const long long looping = post("5550301");  // to itself: given up after some hops
  const nlohmann::json a = WaitForState(gateway.Port(), congested, "failed", 30000);
  const nlohmann::json b = WaitForState(gateway.Port(), wrong, "failed", 30000);
  ASSERT_EQ(a["state"], "failed") << a.dump(1);
  ASSERT_EQ(b["state"], "failed") << b.dump(1);
  EXPECT_EQ(a["attempts"], 2);
  EXPECT_EQ(a["reason"], "temporary failure (503 Service Unavailable) on the last of 2 tries");
  ASSERT_EQ(a["history"].size(), 2u);
  for (const auto& attempt : a["history"]) {
    EXPECT_EQ(attempt["outcome"], "temporary failure");
    EXPECT_EQ(attempt["detail"], "503 Service Unavailable");
  }
  EXPECT_EQ(b["attempts"], 1);
  EXPECT_EQ(b["reason"], "404 Not Found");
  const nlohmann::json m = WaitForState(gateway.Port(), moved, "failed", 30000);
  const nlohmann::json l = WaitForState(gateway.Port(), looping, "failed", 30000);
  EXPECT_EQ(m["reason"], "404 Not Found") << m.dump(1);
  EXPECT_EQ(l["reason"], "301 Moved Permanently") << l.dump(1);
  EXPECT_EQ(l["attempts"], 1);
  // 503 twice, 404 once, 302 and its 404, and the loop: followed a few times (the SIP stack's
  // limit is 15 hops), not for ever.
  EXPECT_GE(pbx.Right(), 3 + 2 + 2);
  EXPECT_LE(pbx.Right(), 3 + 2 + 16);
  EXPECT_EQ(pbx.Wrong(), 0);
  const std::string page = BodyOf(Exchange(gateway.Port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_NE(page.find("try 1 temporary failure: 503 Service Unavailable; try 2 temporary failure: 503 Service Unavailable"),
            std::string::npos)
      << page;

  EXPECT_EQ(pbx.Registrations(), std::vector<std::string>{"600"});
  EXPECT_NE(page.find("<p>registration: sip:gateway@127.0.0.1:" + std::to_string(base) + ": registered</p>"),
            std::string::npos);
  gatewayOwner.reset();  // a stop: the user agent unregisters before it is gone
  EXPECT_EQ(pbx.Registrations(), (std::vector<std::string>{"600", "0"}));
}

// An outbound proxy with URI parameters carries the calls and the registration: the PBX and
// the dialled host (192.0.2.1, an address of documentation that nothing answers) are reached
// only through it, and each request names it as its Route.
TEST(SipThroughAPbx, TheOutboundProxyCarriesCallsAndRegistration) {
  const int base = phone::FreePortBlock(300, 1);
  ASSERT_NE(base, 0);
  ChallengingPbx proxy(base, "pw", {});
  ASSERT_TRUE(proxy.bound());
  TempDir dir;
  talmery::Config c = RegisteringConfig(dir, base, "pw");
  c.sip.domain = "192.0.2.1";
  c.sip.dial = "sip:{number}@192.0.2.1";
  c.sip.outboundProxy = "sip:127.0.0.1:" + std::to_string(base) + ";transport=udp;lr";
  c.attempts = 1;
  std::string error;
  ASSERT_TRUE(talmery::ValidateConfig(c, error)) << error;
  {
    InProcessGateway gateway(c);
    ASSERT_TRUE(gateway.Start(error)) << error;
    const long long id = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody("5550404", "Via the proxy."))).c_str() + 1);
    const nlohmann::json done = WaitForState(gateway.Port(), id, "failed", 30000);
    EXPECT_EQ(done["reason"], "404 Not Found") << done.dump(1);
    ASSERT_TRUE(gateway.WaitForLog("event=registration state=registered aor=sip:gateway@192.0.2.1", 10000))
        << gateway.LogText();
  }
  EXPECT_EQ(proxy.Registrations(), (std::vector<std::string>{"600", "0"}));
  EXPECT_EQ(proxy.Right(), 1);
  const std::vector<std::string> routes = proxy.Routes();
  EXPECT_GE(routes.size(), 5u);  // REGISTER twice, INVITE twice, the removal at least once
  for (const std::string& route : routes) EXPECT_EQ(route, "<sip:127.0.0.1:" + std::to_string(base) + ";transport=udp;lr>");
}

// A wrong password: the refusal is logged once and shown, and the next try waits.
TEST(SipThroughAPbx, ARefusedRegistrationBacksOffAndIsLoggedOnce) {
  const int base = phone::FreePortBlock(300, 1);
  ASSERT_NE(base, 0);
  ChallengingPbx pbx(base, "right", {});
  ASSERT_TRUE(pbx.bound());
  TempDir dir;
  talmery::Config c = RegisteringConfig(dir, base, "Wr0ng-pw");
  c.sip.registerRetry = 1;
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  // Three rounds: refused, 1 s, refused, 2 s, refused.
  WaitUntil([&] { return pbx.RefusedRegisters() >= 3; }, 10000);
  ASSERT_GE(pbx.RefusedRegisters(), 3);
  const std::string log = gateway.LogText();
  size_t refusals = 0;
  for (size_t at = log.find("event=registration state=refused"); at != std::string::npos;
       at = log.find("event=registration state=refused", at + 1))
    ++refusals;
  EXPECT_EQ(refusals, 1u) << log;
  // The detail is the registrar's answer, or (when that came before the control connection,
  // and only the agent's account of it is left) a plain refusal.
  EXPECT_TRUE(std::regex_search(log, std::regex("state=refused aor=sip:gateway@127\\.0\\.0\\.1:" + std::to_string(base) +
                                                " detail=\"(403 Forbidden|the registrar refused it)\" next=")))
      << log;
  EXPECT_EQ(log.find("Wr0ng-pw"), std::string::npos);  // the password is in no log line
  const std::string page = BodyOf(Exchange(gateway.Port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_TRUE(std::regex_search(page, std::regex(": refused \\((403 Forbidden|the registrar refused it)\\); next try ")))
      << page;
  EXPECT_TRUE(pbx.Registrations().empty());
}

// A Python program (the system's, which any user may run) run as the user nobody (uid 65534), its output in `outputPath`.
class AsNobody {
 public:
  AsNobody(const std::string& script, const std::string& outputPath) {
    std::string setpriv = "setpriv", a1 = "--reuid=65534", a2 = "--regid=65534", a3 = "--clear-groups", py = "/usr/bin/python3",
                c = "-c", code = script;
    char* argv[] = {setpriv.data(), a1.data(), a2.data(), a3.data(), py.data(), c.data(), code.data(), nullptr};
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out, STDOUT_FILENO);
      execvp(argv[0], argv);
      _exit(127);
    }
    close(out);
  }
  ~AsNobody() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};


// The sockets this process holds, from /proc: TCP ports it listens on and UDP ports it has bound.
struct OwnSockets {
  std::set<int> tcpListening, udp;
};

OwnSockets SocketsOfThisProcess() {
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

// Another local user finds nothing of ours to command: the gateway listens on its HTTP port and
// its SIP port only, and holds UDP sockets for SIP and the calls' RTP and RTCP alone. Garbage
// from that user to every one of those sockets during a call does not disturb it: the callee
// hears the whole message.
TEST_F(SipCallTest, AnotherUserFindsNoControlPortAndCannotDisturbACall) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  const std::string text = "The quarterly planning meeting starts in ten minutes in the large room.";
  const long long id = Post("5550100", text);
  ASSERT_EQ(WaitForState(port_, id, "answered", 30000)["state"], "answered");

  const OwnSockets own = SocketsOfThisProcess();
  EXPECT_EQ(own.tcpListening, (std::set<int>{port_, gatewayConfig_.sip.sipPort}));
  std::string udpList;
  for (int udp : own.udp) {
    EXPECT_TRUE(udp == gatewayConfig_.sip.sipPort ||
                (udp >= gatewayConfig_.sip.rtpPortFirst && udp <= gatewayConfig_.sip.rtpPortLast))
        << udp;
    udpList += std::to_string(udp) + ",";
  }
  EXPECT_GE(own.udp.size(), 3u);  // SIP, and the call's RTP and RTCP

  const std::string sent = dir_.path() + "/garbage.txt";
  AsNobody intruder("import socket,time\n"
                    "udp=[" + udpList + "]\n"
                    "u=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                    "junk=[b'\\x80\\x00\\x00\\x01'+b'\\xa5'*200, b'INVITE sip:x SIP/2.0\\r\\nVia: junk\\r\\n\\r\\n', b'hangup', b'\\x00'*1400]\n"
                    "n=0\n"
                    "end=time.time()+4\n"
                    "while time.time()<end:\n"
                    "  for p in udp:\n"
                    "    for j in junk: u.sendto(j,('127.0.0.1',p)); n+=1\n"
                    "  try:\n"
                    "    c=socket.create_connection(('127.0.0.1'," + std::to_string(gatewayConfig_.sip.sipPort) + "),timeout=1)\n"
                    "    c.sendall(b'BYE sip:x SIP/2.0\\r\\nContent-Length: 99999\\r\\n\\r\\n'+b'\\xff'*4000); c.close(); n+=1\n"
                    "  except Exception: pass\n"
                    "  time.sleep(0.01)\n"
                    "print(n, flush=True)\n",
                    sent);
  const nlohmann::json done = WaitForState(port_, id, "done", 60000);
  ASSERT_EQ(done["state"], "done") << done.dump(1);
  EXPECT_EQ(done["history"][0]["detail"], "the message was played");
  WaitUntil([&] { return !ReadFile(sent).empty(); }, 5000);
  EXPECT_GT(std::atoi(ReadFile(sent).c_str()), 100) << "the garbage was not sent";

  ASSERT_TRUE(phone_->WaitForClosedCalls(1, 10000));
  talmery::Pcm recording, speech;
  std::string error, report;
  ASSERT_TRUE(talmery::ReadWavFile(phone_->Recordings().back(), recording, error)) << error;
  ASSERT_TRUE(talmery::Synthesize(text, talmery::Voice(), speech, error)) << error;
  EXPECT_TRUE(phone::RecordingCarries(recording, speech, 2, report)) << report;
}

// Nobody calls the gateway: an INVITE to it is declined; a PBX's OPTIONS (it watches its
// registered contacts) is answered.
TEST_F(SipCallTest, AnIncomingCallIsDeclinedAndOptionsAreAnswered) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  socklen_t size = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
  const std::string me = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
  sockaddr_in gateway{};
  gateway.sin_family = AF_INET;
  gateway.sin_port = htons(static_cast<uint16_t>(gatewayConfig_.sip.sipPort));
  gateway.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (const auto& [method, answer] : {std::pair<std::string, std::string>{"INVITE", "SIP/2.0 603 Decline\r\n"},
                                       {"OPTIONS", "SIP/2.0 200 OK\r\n"}}) {
    const std::string request = method + " sip:gateway@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP " + me +
                                ";branch=z9hG4bK-" + method + "\r\nFrom: <sip:pbx@127.0.0.1>;tag=p1\r\n"
                                "To: <sip:gateway@127.0.0.1>\r\nCall-ID: " + method + "-1@pbx\r\nCSeq: 1 " + method +
                                "\r\nMax-Forwards: 70\r\nContact: <sip:pbx@" + me + ">\r\nContent-Length: 0\r\n\r\n";
    sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&gateway), sizeof gateway);
    std::string reply;
    for (int i = 0; i < 40 && reply.compare(0, 8, "SIP/2.0 ") != 0; ++i) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) reply.assign(buffer, static_cast<size_t>(n));
      if (reply.compare(0, 11, "SIP/2.0 100") == 0) reply.clear();  // Trying, then the answer
    }
    EXPECT_EQ(reply.substr(0, reply.find("\r\n") + 2), answer) << reply;
  }
  // The 603 came without a transaction: it is not sent again (a transaction would repeat it after
  // 0.5 s and 1.5 s until an ACK).
  int more = 0;
  for (int i = 0; i < 40; ++i) {
    pollfd p{fd, POLLIN, 0};
    char buffer[4096];
    if (poll(&p, 1, 50) == 1 && recv(fd, buffer, sizeof buffer, 0) > 0) ++more;
  }
  EXPECT_EQ(more, 0);
  close(fd);
}

talmery::Config PeerConfig(const TempDir& dir, int base) {
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

// A redirect is followed only to the PBX's host and a number `numbers` allows; one to a premium
// number or to another host ends the call with the reason, and neither is dialled nor given a
// digest. The numbers a try dialled are kept with it.
TEST(SipRedirect, OnlyToThePbxAndToNumbersThatMayBeCalled) {
  const int base = phone::FreePortBlock(300, 1);
  ASSERT_NE(base, 0);
  ScriptedPeer peer(base);
  ASSERT_TRUE(peer.bound());
  TempDir dir;
  talmery::Config c = PeerConfig(dir, base);
  c.numbers = {"200[1-5]"};
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const struct {
    const char* number;
    const char* state;
    const char* reason;
    std::vector<std::string> dialled;
  } cases[] = {
      {"2001", "failed", "302 redirect to the number 09******77, which may not be called", {"***1"}},
      {"2002", "failed", "302 redirect to 127.0.0.2, which is not the PBX", {"***2"}},
      {"2004", "failed", "busy (486 Busy Here) on the last of 1 try", {"***4", "***5"}},
  };
  for (const auto& t : cases) {
    const long long id = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody(t.number, "Budget."))).c_str() + 1);
    const nlohmann::json end = WaitForState(gateway.Port(), id, t.state, 30000);
    EXPECT_EQ(end["reason"], t.reason) << end.dump(1);
    EXPECT_EQ(end["history"][0]["dialled"], nlohmann::json(t.dialled)) << end.dump(1);
    EXPECT_TRUE(gateway.WaitForLog("call=" + std::to_string(id) + " state=failed", 5000)) << gateway.LogText();
  }
  const std::string here = "@127.0.0.1:" + std::to_string(base);
  EXPECT_EQ(peer.Invited(), (std::vector<std::string>{"sip:2001" + here, "sip:2002" + here, "sip:2004" + here, "sip:2005" + here}));
}

// A challenge of another realm than `realm` gets no digest: the call fails with the PBX's 401.
TEST(SipRedirect, ADigestOnlyForTheConfiguredRealm) {
  const int base = phone::FreePortBlock(300, 1);
  ASSERT_NE(base, 0);
  ChallengingPbx pbx(base, kPassword, {});
  ASSERT_TRUE(pbx.bound());
  TempDir dir;
  talmery::Config c = PeerConfig(dir, base);
  c.sip.realm = "office";
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const long long id = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody("2001", "Budget."))).c_str() + 1);
  EXPECT_EQ(WaitForState(gateway.Port(), id, "failed", 30000)["reason"], "401 Unauthorized");
  EXPECT_EQ(pbx.Right() + pbx.Wrong(), 0);
  EXPECT_TRUE(gateway.WaitForLog("event=sip refused=challenge from=127.0.0.1 realm=pbx reason=\"the realm is not office\"", 5000))
      << gateway.LogText();
}

// Only the call's peer (or the PBX) is in the call: an INFO with key 1, a BYE and a re-INVITE
// from another host who knows the Call-ID each get 403, and the call goes on to its end, not
// confirmed. PCMU named by its static payload type alone is taken; an answer whose media are at
// 0.0.0.0 fails the try.
TEST(SipDialog, OnlyThePeerIsInTheCall) {
  const int base = phone::FreePortBlock(300, 1);
  ASSERT_NE(base, 0);
  ScriptedPeer peer(base);
  ASSERT_TRUE(peer.bound());
  TempDir dir;
  talmery::Config c = PeerConfig(dir, base);
  c.confirm = true;
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const long long id = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody("5550100", "Budget."))).c_str() + 1);
  const nlohmann::json end = WaitForState(gateway.Port(), id, "failed", 60000);
  EXPECT_EQ(end["reason"], "no answer (answered by a person, not confirmed) on the last of 1 try") << end.dump(1);
  EXPECT_EQ(peer.StrangerGot(), (std::vector<std::string>{"SIP/2.0 403 Forbidden", "SIP/2.0 403 Forbidden",
                                                           "SIP/2.0 403 Forbidden"}));
  EXPECT_TRUE(std::regex_search(gateway.LogText(),
                                std::regex("event=sip refused=INFO from=127\\.0\\.0\\.2:[0-9]+ reason=\"not from the "
                                           "call's peer or the PBX\"\n")))
      << gateway.LogText();
  const long long nowhere = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody("5550001", "Budget."))).c_str() + 1);
  EXPECT_EQ(WaitForState(gateway.Port(), nowhere, "failed", 30000)["reason"],
            "temporary failure (the callee's media address 0.0.0.0:40000 cannot be reached) on the last of 1 try");
  // The callee's own host, not the PBX, challenges our BYE: it gets no digest.
  PostCall(gateway.Port(), CallBody("5550002", "Budget."));
  EXPECT_TRUE(gateway.WaitForLog(" event=sip refused=challenge from=127.0.0.2 realm=evil reason=\"not from the PBX\"\n", 30000))
      << gateway.LogText();
}

// This process's standard error (where libre writes what it has to say) goes to a file while
// this lives.
class StderrCapture {
 public:
  explicit StderrCapture(std::string path) : path_(std::move(path)) {
    std::fflush(stderr);
    const int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    saved_ = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    close(file);
  }
  ~StderrCapture() {
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  std::string Text() const {
    std::fflush(stderr);
    return ReadFile(path_);
  }

 private:
  std::string path_;
  int saved_ = -1;
};

// A stranger's malformed datagrams are logged once for their address, however many come, and a
// response to nothing of ours is dropped with a line; neither reaches the log, nor stderr, as
// the bytes that came. A call goes out meanwhile.
TEST_F(SipCallTest, MalformedMessagesFromAStrangerAreLoggedOnce) {
  const StderrCapture stderrText(dir_.path() + "/stderr");
  sockaddr_in gateway{};
  gateway.sin_family = AF_INET;
  gateway.sin_port = htons(static_cast<uint16_t>(gatewayConfig_.sip.sipPort));
  gateway.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in stranger{};
  stranger.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.2", &stranger.sin_addr);
  const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr*>(&stranger), sizeof stranger), 0);
  socklen_t size = sizeof stranger;
  getsockname(udp, reinterpret_cast<sockaddr*>(&stranger), &size);
  // (As many as a socket's buffer holds: the kernel would drop more before the gateway saw them.)
  for (int i = 0; i < 200; ++i) {
    const std::string junk = "\x01\x02 not SIP \x1b[31m " + std::to_string(i) + "\r\n\r\n";
    sendto(udp, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&gateway), sizeof gateway);
  }
  ASSERT_TRUE(gateway_->WaitForLog("event=sip malformed=udp", 10000));
  const std::string response = "SIP/2.0 200 \x1b[31mOK\r\nVia: SIP/2.0/UDP 127.0.0.1;branch=z9hG4bK-none\r\n"
                               "From: <sip:a@b>;tag=1\r\nTo: <sip:c@d>;tag=2\r\nCall-ID: \x1b[0m@x\r\nCSeq: 1 OPTIONS\r\n"
                               "Content-Length: 0\r\n\r\n";
  sendto(udp, response.data(), response.size(), 0, reinterpret_cast<sockaddr*>(&gateway), sizeof gateway);
  close(udp);
  EXPECT_TRUE(gateway_->WaitForLog(" event=sip dropped=response from=127.0.0.2:" + std::to_string(ntohs(stranger.sin_port)) +
                                       " status=200 reason=\"a response to no request of ours\"\n",
                                   10000))
      << gateway_->LogText();
  const long long id = Post("5550100", "The call that still goes out.");
  const nlohmann::json done = WaitForState(port_, id, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; the message was played") << done.dump(1);
  const std::string log = gateway_->LogText();
  size_t malformed = 0;
  for (size_t at = log.find("event=sip malformed=udp"); at != std::string::npos; at = log.find("event=sip malformed=udp", at + 1))
    ++malformed;
  EXPECT_EQ(malformed, 1u) << log;
  EXPECT_NE(log.find(" event=sip malformed=udp from=127.0.0.2 reason=\"not a SIP message\"\n"), std::string::npos) << log;
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
  EXPECT_EQ(stderrText.Text(), "");
}

// TCP connections to 127.0.0.1:port opened at once, `count` from each of the `sources`; the
// descriptors of those the gateway has not closed are kept.
class Connections {
 public:
  Connections(int port, const std::vector<std::string>& sources, int count) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    for (const std::string& source : sources) {
      sockaddr_in from{};
      from.sin_family = AF_INET;
      inet_pton(AF_INET, source.c_str(), &from.sin_addr);
      for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        fds_.push_back(fd);
        if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS))
          ++refused_;
      }
    }
  }
  ~Connections() {
    for (int fd : fds_) close(fd);
  }
  int Opened() const { return static_cast<int>(fds_.size()) - refused_; }
  // How many the gateway has not closed: a closed one reads its end (or its reset).
  int Open() const {
    int open = 0;
    for (int fd : fds_) {
      char byte;
      if (recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno == EAGAIN) ++open;
    }
    return open;
  }
  // Waits until Open() is `wanted` (or `timeoutMs` passes); the last count.
  int WaitForOpen(int wanted, int timeoutMs) const {
    int open = Open();
    for (int waited = 0; open != wanted && waited < timeoutMs; waited += 50) {
      usleep(50000);
      open = Open();
    }
    return open;
  }

 private:
  std::vector<int> fds_;
  int refused_ = 0;
};

// Connections to sip_port starve no call. 1,100 from one address: beyond its share (32) the
// gateway closes them. 1,120 from 35 others, 32 each, stay open, and the SIP stack still has
// descriptors for the call's sockets (both ends of every connection are this process's, over
// 2,000 descriptors). Idle connections are closed too.
TEST_F(SipCallTest, ConnectionsFromOneAddressAreCappedAndIdleOnesClosed) {
  const int sipPort = gatewayConfig_.sip.sipPort;
  const auto restart = [&](int idleMs) {  // (the gateway's idle time is 50 s)
    gateway_.reset();
    gatewayConfig_.sip.tcpIdleMs = idleMs;
    gateway_ = std::make_unique<InProcessGateway>(gatewayConfig_);
    std::string error;
    ASSERT_TRUE(gateway_->Start(error)) << error;
    port_ = gateway_->Port();
  };
  {
    restart(3600000);  // none is idle long enough however slow this machine is now
    std::vector<std::string> others;
    for (int i = 1; i <= 35; ++i) others.push_back("127.0.1." + std::to_string(i));
    Connections flood(sipPort, {"127.0.0.2"}, 1100), shared(sipPort, others, 32);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    ASSERT_EQ(flood.Opened(), 1100) << "open-file limit " << files.rlim_cur;
    ASSERT_EQ(shared.Opened(), 1120) << "open-file limit " << files.rlim_cur;
    EXPECT_EQ(flood.WaitForOpen(32, 20000), 32);
    const long long id = Post("5550100", "The call that still goes out.");
    const nlohmann::json done = WaitForState(port_, id, "done", 60000);
    EXPECT_EQ(done["reason"], "answered by a person; the message was played") << done.dump(1);
    EXPECT_EQ(flood.Open(), 32);
    EXPECT_EQ(shared.Open(), 1120);
    EXPECT_TRUE(std::regex_search(gateway_->LogText(),
                                  std::regex("event=sip closed=tcp from=127\\.0\\.0\\.2 connections=[0-9]+ reason=\"more "
                                             "than 32 connections from one address\"\n")))
        << gateway_->LogText();
  }
  // With a short idle time, idle connections go, however few.
  restart(300);
  const Connections idle(sipPort, {"127.0.0.2"}, 5);
  ASSERT_EQ(idle.Opened(), 5);
  EXPECT_EQ(idle.WaitForOpen(0, 20000), 0);
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

// A gateway in this process dialling the CalleeProcess on `base` directly: its SIP on base + 10,
// its RTP on base + 200..399, a second between tries.
talmery::Config DiallingTheCallee(int base, const std::string& dir) {
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

// With confirm = yes the message ends with the prompt to press 1; the key, as an RFC 4733 event
// or as a SIP INFO, ends the call as delivered. Another key, or none, is not a confirmation: the
// call is tried again, and fails after its attempts.
TEST(SipConfirm, KeyOneConfirmsAsEventOrInfoOtherwiseTheCallIsTriedAgain) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  CalleeProcess callee(dir.path(), base, base + 100, base + 199);
  ASSERT_TRUE(callee.WaitUntilReady());

  talmery::Config c = DiallingTheCallee(base, dir.path());
  c.maxCalls = 2;
  c.attempts = 2;
  c.confirm = true;
  c.snoozes = 0;  // 2 is then a key the call does not take
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  auto post = [&](const std::string& number, const std::string& text) {
    return std::atoll(BodyOf(PostCall(gateway.Port(), CallBody(number, text))).c_str() + 1);
  };
  const long long byEvent = post("5550101", "Board meeting.");
  const long long byInfo = post("5550102", "Board meeting.");
  const long long silent = post("5550100", "Lunch with the auditors.");
  const long long wrongKey = post("5550103", "Board meeting.");
  // Key 1 forged from another socket into the calls' RTP ports confirms nothing.
  ASSERT_EQ(WaitForState(gateway.Port(), silent, "answered", 30000)["state"], "answered");
  const int forger = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int forged = 0;
  for (int round = 0; round < 20; ++round) {
    for (int port : SocketsOfThisProcess().udp) {
      if (port < c.sip.rtpPortFirst || port > c.sip.rtpPortLast) continue;
      const unsigned char event[] = {0x80, 101, 0, static_cast<unsigned char>(round), 0, 1, 0, 0, 0x12, 0x34, 0x56, 0x78,
                                     1, 0x8a, 0x01, 0x40};
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(static_cast<uint16_t>(port));
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (sendto(forger, event, sizeof event, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) ++forged;
    }
    usleep(100000);
  }
  close(forger);
  EXPECT_GT(forged, 20);
  for (long long id : {byEvent, byInfo}) {
    const nlohmann::json done = WaitForState(gateway.Port(), id, "done", 60000);
    EXPECT_EQ(done["reason"], "answered by a person; confirmed (key 1)") << done.dump(1);
    EXPECT_EQ(done["attempts"], 1);
  }
  for (long long id : {silent, wrongKey}) {
    const nlohmann::json failed = WaitForState(gateway.Port(), id, "failed", 90000);
    EXPECT_EQ(failed["reason"], "no answer (answered by a person, not confirmed) on the last of 2 tries") << failed.dump(1);
    EXPECT_EQ(failed["attempts"], 2);
  }
  // The unconfirmed calls heard the whole message: the text twice, then the prompt.
  talmery::Pcm speech;
  ASSERT_TRUE(talmery::Synthesize("Lunch with the auditors.", talmery::Voice(), speech, error)) << error;
  int carrying = 0;
  std::string reports;
  // Six calls in all reached the callee; the last recording is written as its call closes.
  WaitUntil([&] { return std::filesystem::exists(dir.path() + "/call-6.wav"); }, 5000);
  for (int n = 1; n <= 6; ++n) {
    talmery::Pcm recording;
    std::string report;
    if (!talmery::ReadWavFile(dir.path() + "/call-" + std::to_string(n) + ".wav", recording, error)) continue;
    if (phone::RecordingCarries(recording, speech, 2, report)) ++carrying;
    reports += report;
  }
  EXPECT_EQ(carrying, 2) << reports;
}

// A callee who hangs up while the message plays (its BYE, which libre reports as ECONNRESET)
// answered the call: it ends done after one try, not failed.
TEST(SipHangUp, ACalleeWhoHangsUpAnsweredTheCall) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  CalleeProcess callee(dir.path(), base, base + 100, base + 199);
  ASSERT_TRUE(callee.WaitUntilReady());
  talmery::Config c = DiallingTheCallee(base, dir.path());
  c.attempts = 3;
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const long long id = std::atoll(
      BodyOf(PostCall(gateway.Port(), CallBody("5550106", "The quarterly budget review with the auditors begins soon, "
                                                          "in the large meeting room on the fourth floor.")))
          .c_str() + 1);
  const nlohmann::json done = WaitForState(gateway.Port(), id, "done", 30000);
  EXPECT_EQ(done["state"], "done") << done.dump(1);
  EXPECT_EQ(done["reason"], "answered; the callee hung up") << done.dump(1);
  EXPECT_EQ(done["attempts"], 1);
  EXPECT_FALSE(done["history"][0]["answered"].is_null());
}

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

talmery::Pcm SpeechOf(const std::string& text) {
  talmery::Pcm speech;
  std::string error;
  EXPECT_TRUE(talmery::Synthesize(text, talmery::Voice(), speech, error)) << error;
  return speech;
}

int PeakOf(const talmery::Pcm& pcm, size_t from, size_t to) {
  int peak = 0;
  for (size_t i = from; i < std::min(to, pcm.samples.size()); ++i) peak = std::max(peak, std::abs(int{pcm.samples[i]}));
  return peak;
}

// Where `speech` begins in `heard` (its best place), -1 when it is not there.
long StartOf(const talmery::Pcm& heard, const talmery::Pcm& speech) {
  std::string report;
  if (!phone::RecordingCarries(heard, speech, 1, report)) return -1;
  return phone::FindSpeech(heard, speech, 1).at(0).lag;
}

long long PostTo(int port, const std::string& number, const std::string& text, int firstOcc = 15) {
  std::string body = CallBody(number, text);
  body.replace(body.find("firstocc=15"), 11, "firstocc=" + std::to_string(firstOcc));
  return std::atoll(BodyOf(PostCall(port, body)).c_str() + 1);
}

constexpr char kMailbox[] = "You have reached the voicemail of Ann Baker. Please leave a message after the tone.";

// Who answered decides when the message begins and what it is: a person who says "Hello?" hears
// it after their word (the line silent while they spoke), as planned (twice, then the prompt); a
// mailbox gets it once, whole, after its tone, or after its greeting when it has none; a person
// who hangs up answered. Each outcome says who answered.
TEST(SipListen, TheMessageWaitsForWhoeverAnsweredAndAMailboxGetsItOnce) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  Greetings callee(dir.path());
  const size_t hello = callee.Say("5550201", "Hello?");
  const size_t toned = callee.Say("5550202", kMailbox, 500);
  const size_t greeting = callee.Say("5550203", kMailbox);
  callee.Say("5550204", "Hello?");
  callee.Press("5550204", "2500 bye\n");
  CalleeProcess process(dir.path(), base, base + 100, base + 199);
  ASSERT_TRUE(process.WaitUntilReady());
  talmery::Config c = DiallingTheCallee(base, dir.path());
  c.maxCalls = 4;
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const std::string text = "The budget review is in room four.";
  const long long person = PostTo(gateway.Port(), "5550201", text);
  const long long tone = PostTo(gateway.Port(), "5550202", text);
  const long long noTone = PostTo(gateway.Port(), "5550203", text);
  const long long hangsUp = PostTo(gateway.Port(), "5550204", text);
  const struct {
    long long id;
    const char* number;
    const char* reason;
    const char* answerer;
  } calls[] = {{person, "5550201", "answered by a person; the message was played", "person"},
               {tone, "5550202", "answered by a machine; left on voicemail after the tone", "machine"},
               {noTone, "5550203", "answered by a machine; left on voicemail after the greeting", "machine"},
               {hangsUp, "5550204", "answered by a person; the callee hung up", "person"}};
  for (const auto& call : calls) {
    const nlohmann::json done = WaitForState(gateway.Port(), call.id, "done", 60000);
    EXPECT_EQ(done["reason"], call.reason) << done.dump(1);
    EXPECT_EQ(done["answerer"], call.answerer) << call.number;
    EXPECT_EQ(done["history"][0]["answerer"], call.answerer) << call.number;
    EXPECT_EQ(done["attempts"], 1);
  }
  const talmery::Pcm speech = SpeechOf(text);
  const talmery::Pcm prompt = SpeechOf(talmery::KeysPrompt(c, false));
  std::string report;
  // The person: nothing while they spoke, then the message twice and the prompt.
  talmery::Pcm heard = callee.Heard("5550201");
  EXPECT_LT(PeakOf(heard, 0, hello), 64) << "the line spoke over the callee's word";
  EXPECT_GT(StartOf(heard, speech), static_cast<long>(hello));
  std::printf("person: the word ended at %.2f s, the message began at %.2f s\n", hello / 8000.0,
              StartOf(heard, speech) / 8000.0);
  EXPECT_TRUE(phone::RecordingCarries(heard, speech, 2, report)) << report;
  EXPECT_TRUE(phone::RecordingCarries(heard, prompt, 1, report)) << report;
  // The mailboxes: silence through the greeting (and the tone), then the message once, no prompt.
  for (const auto& [number, quiet] : {std::pair<const char*, size_t>{"5550202", toned}, {"5550203", greeting}}) {
    heard = callee.Heard(number);
    EXPECT_LT(PeakOf(heard, 0, quiet), 64) << number;
    EXPECT_GT(StartOf(heard, speech), static_cast<long>(quiet)) << number;
    std::printf("%s: the greeting ended at %.2f s, the message began at %.2f s\n", number, quiet / 8000.0,
                StartOf(heard, speech) / 8000.0);
    EXPECT_TRUE(phone::RecordingCarries(heard, speech, 1, report)) << number << "\n" << report;
    EXPECT_FALSE(phone::RecordingCarries(heard, speech, 2, report)) << number << "\n" << report;
    EXPECT_FALSE(phone::RecordingCarries(heard, prompt, 1, report)) << number << "\n" << report;
  }
}

// voicemail = hang_up: a mailbox hears nothing and the call ends not delivered, not tried again;
// voicemail = retry: it is tried again like a call nobody answered, then fails.
TEST(SipListen, AMailboxIsHungUpOnOrTriedAgainAsVoicemailSays) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  Greetings callee(dir.path());
  callee.Say("5550203", kMailbox);
  CalleeProcess process(dir.path(), base, base + 100, base + 199);
  ASSERT_TRUE(process.WaitUntilReady());
  const std::string text = "The budget review is in room four.";
  for (const talmery::Voicemail voicemail : {talmery::Voicemail::HangUp, talmery::Voicemail::Retry}) {
    talmery::Config c = DiallingTheCallee(base, dir.path());
    c.database = dir.path() + (voicemail == talmery::Voicemail::HangUp ? "/hang-up.db" : "/retry.db");
    c.attempts = 2;
    c.voicemail = voicemail;
    InProcessGateway gateway(c);
    std::string error;
    ASSERT_TRUE(gateway.Start(error)) << error;
    const long long id = PostTo(gateway.Port(), "5550203", text);
    const nlohmann::json failed = WaitForState(gateway.Port(), id, "failed", 60000);
    if (voicemail == talmery::Voicemail::HangUp) {
      EXPECT_EQ(failed["reason"], "answered by a machine; hung up without a message (voicemail = hang_up)")
          << failed.dump(1);
      EXPECT_EQ(failed["attempts"], 1);
    } else {
      EXPECT_EQ(failed["reason"],
                "no answer (answered by a machine; hung up without a message (voicemail = retry)) on the last of 2 "
                "tries")
          << failed.dump(1);
      EXPECT_EQ(failed["attempts"], 2);
    }
    EXPECT_EQ(failed["answerer"], "machine");
    std::string report;
    EXPECT_FALSE(phone::RecordingCarries(callee.Heard("5550203"), SpeechOf(text), 1, report)) << report;
    std::filesystem::remove(dir.path() + "/heard-5550203.wav");
  }
}

// The callee's keys: star starts the message again from its beginning, 1 confirms, 2 puts the
// call off (the notice said, the call due again after snooze_minutes) while snoozes are left and
// the appointment is far enough; otherwise 2 is not offered and does nothing.
TEST(SipKeys, StarRepeatsOneConfirmsTwoSnoozesWhileItMay) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  Greetings callee(dir.path());
  // Nothing said: the line speaks after listen's initial silence, some seconds after the answer.
  callee.Press("5550211", "4500 *\n16000 1\n");
  callee.Press("5550212", "4500 2\n");
  callee.Press("5550213", "4500 2\n14000 info:1\n");
  CalleeProcess process(dir.path(), base, base + 100, base + 199);
  ASSERT_TRUE(process.WaitUntilReady());
  talmery::Config c = DiallingTheCallee(base, dir.path());
  c.maxCalls = 4;
  c.confirm = true;
  c.maxCallTime = 60;
  c.repeat = 1;
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const std::string text = "The budget review is in room four.";
  const long long again = PostTo(gateway.Port(), "5550211", text);
  const long long snooze = PostTo(gateway.Port(), "5550212", text);
  const long long tooLate = PostTo(gateway.Port(), "5550213", text, 5);  // a snooze would call after it began

  nlohmann::json done = WaitForState(gateway.Port(), again, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; confirmed (key 1)") << done.dump(1);
  const talmery::Pcm speech = SpeechOf(text);
  const talmery::Pcm withSnooze = SpeechOf(talmery::KeysPrompt(c, true));
  const talmery::Pcm withoutSnooze = SpeechOf(talmery::KeysPrompt(c, false));
  const talmery::Pcm notice = SpeechOf(talmery::SnoozeNotice(c));
  std::string report;
  // Said once whole after the star (its first time was cut by it), then the prompt.
  talmery::Pcm heard = callee.Heard("5550211");
  const long star = 4500 * 8;
  EXPECT_GT(StartOf(heard, speech), star) << "not said again from its beginning";
  EXPECT_TRUE(phone::RecordingCarries(heard, withSnooze, 1, report)) << report;

  const nlohmann::json snoozed = WaitForState(gateway.Port(), snooze, "snoozed", 60000);
  EXPECT_EQ(snoozed["reason"], "answered by a person; to be called again in 5 minutes (key 2), snooze 1 of 2")
      << snoozed.dump(1);
  EXPECT_EQ(snoozed["attempts"], 1);
  EXPECT_FALSE(snoozed["next_attempt"].is_null());
  heard = callee.Heard("5550212");
  EXPECT_GT(StartOf(heard, notice), star) << "the notice was not heard";

  done = WaitForState(gateway.Port(), tooLate, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; confirmed (key 1)") << done.dump(1);
  heard = callee.Heard("5550213");
  EXPECT_EQ(StartOf(heard, notice), -1) << "2 put off a call that would come after the appointment began";
  EXPECT_TRUE(phone::RecordingCarries(heard, withoutSnooze, 1, report)) << report;
}

// With no snooze left (snoozes = 0 here) 2 is neither offered nor taken: the call goes on.
TEST(SipKeys, NoSnoozeLeftTheKeyTwoIsNotTaken) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  Greetings callee(dir.path());
  callee.Press("5550214", "3000 2\n");
  CalleeProcess process(dir.path(), base, base + 100, base + 199);
  ASSERT_TRUE(process.WaitUntilReady());
  talmery::Config c = DiallingTheCallee(base, dir.path());
  c.snoozes = 0;
  c.repeat = 1;
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const std::string text = "The budget review is in room four.";
  const long long id = PostTo(gateway.Port(), "5550214", text);
  const nlohmann::json done = WaitForState(gateway.Port(), id, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; the message was played") << done.dump(1);
  std::string report;
  const talmery::Pcm heard = callee.Heard("5550214");
  EXPECT_TRUE(phone::RecordingCarries(heard, SpeechOf(text), 1, report)) << report;
  EXPECT_TRUE(phone::RecordingCarries(heard, SpeechOf("Press star to hear this again."), 1, report)) << report;
  EXPECT_EQ(StartOf(heard, SpeechOf(talmery::SnoozeNotice(c))), -1);
}

// A gateway that speaks SIP over TLS, its SIP port base + 10 and its RTP within base + 200 to
// base + 399; its calls are kept in <database>.
talmery::Config TlsGatewayConfig(const std::string& database, int base) {
  talmery::Config config;
  config.listenPort = 0;
  config.database = database;
  config.sip.transport = "tls";
  config.sip.sipPort = base + 10;
  config.sip.rtpPortFirst = base + 200;
  config.sip.rtpPortLast = base + 399;
  return config;
}

// SIP over TLS with SRTP to a callee that speaks both, its certificate trusted through
// tls_ca_file: the callee, which records only what decrypts with the key of our offer, hears the
// text, and its reports as SRTCP under the same key, never RTCP in clear. A certificate that
// does not verify ends the call before anything is sent (tls_verify = no takes it); an answer
// without a key fails the call. Each fails for good, with its reason. A callee that re-INVITEs
// mid-message with a key we do not take is refused and the call goes on; its next re-INVITE,
// with a new key and media address, is followed: the message arrives whole at the new address,
// and a key pressed under the new key confirms the call, also when the re-INVITEs came over a
// connection the callee opened to our Contact (our tls_certificate answers it).
TEST(SipOverTls, TheCalleeHearsTheTextThroughSrtpUnverifiedOrKeylessFailsTheCall) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  ASSERT_TRUE(MakeCertificate(dir.path(), "callee"));
  ASSERT_TRUE(MakeCertificate(dir.path(), "stranger"));
  ASSERT_TRUE(MakeCertificate(dir.path(), "gateway"));
  CalleeProcess callee(dir.path(), base, base + 100, base + 199, dir.path() + "/callee.pem");
  ASSERT_TRUE(callee.WaitUntilReady());

  const struct {
    const char* ca;
    bool verify;
    const char* number;
    const char* state;
    const char* reason;
    bool confirm = false;
  } cases[] = {
      {"callee.crt", true, "5550100", "done", "answered by a person; the message was played"},
      {"stranger.crt", true, "5550100", "failed",
       "TLS: the PBX's certificate does not verify for 127.0.0.1: self-signed certificate"},
      {"stranger.crt", false, "5550100", "done", "answered by a person; the message was played"},
      {"callee.crt", true, "5550488", "failed",
       "488 no usable SRTP key in the answer (a=crypto AES_CM_128_HMAC_SHA1_80): none"},
      {"callee.crt", true, "5550104", "done", "answered by a person; the message was played"},
      {"callee.crt", true, "5550105", "done", "answered by a person; confirmed (key 1)", true},
  };
  const std::string text = "The quarterly review starts in ten minutes.";
  int n = 0;
  for (const auto& c : cases) {
    talmery::Config config = TlsGatewayConfig(dir.path() + "/calls-" + std::to_string(++n) + ".db", base);
    config.attempts = 2;
    config.retryPause = 1;
    config.sip.srtp = true;
    config.confirm = c.confirm;
    config.sip.tlsCaFile = dir.path() + "/" + c.ca;
    config.sip.tlsVerify = c.verify;
    config.sip.tlsCertificate = dir.path() + "/gateway.pem";
    config.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base);
    std::string error;
    ASSERT_TRUE(talmery::ValidateConfig(config, error)) << error;
    InProcessGateway gateway(config);
    ASSERT_TRUE(gateway.Start(error)) << error;
    const long long id = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody(c.number, text))).c_str() + 1);
    const nlohmann::json end = WaitForState(gateway.Port(), id, c.state, 60000);
    EXPECT_EQ(end["state"], c.state) << n << end.dump(1);
    EXPECT_EQ(end["reason"], c.reason) << n << end.dump(1);
    EXPECT_EQ(end["attempts"], 1) << n << end.dump(1);
    const std::string refused =
        "refused=re-INVITE reason=\"488 no usable SRTP key in the offer (a=crypto AES_CM_128_HMAC_SHA1_80): "
        "suite AES_CM_128_HMAC_SHA1_32, not AES_CM_128_HMAC_SHA1_80\"";
    EXPECT_EQ(gateway.LogText().find(refused) != std::string::npos, c.number[6] == '4' || c.number[6] == '5')
        << n << gateway.LogText();
  }
  // Five calls reached the callee (the keyless one ends at once): the refused one sent nothing,
  // in clear or otherwise. Each of the four with media sent SRTCP, at least the RTCP BYE at its
  // end, and nothing else came to an RTCP port.
  WaitUntil([&] { return std::filesystem::exists(dir.path() + "/call-5.wav"); }, 5000);
  const std::string counts = callee.Stop();
  std::smatch m;
  const std::regex calleeCounts("ready\nanswered 5, closed 5, srtcp ([0-9]+), unauthenticated 0\n");
  ASSERT_TRUE(std::regex_match(counts, m, calleeCounts)) << counts;
  EXPECT_GE(std::stoi(m[1]), 4) << counts;
  talmery::Pcm speech;
  std::string error;
  ASSERT_TRUE(talmery::Synthesize(text, talmery::Voice(), speech, error)) << error;
  for (int call : {1, 2, 4}) {
    talmery::Pcm recording;
    std::string report;
    ASSERT_TRUE(talmery::ReadWavFile(dir.path() + "/call-" + std::to_string(call) + ".wav", recording, error)) << error;
    EXPECT_TRUE(phone::RecordingCarries(recording, speech, 2, report)) << call << ": " << report;
  }
  // An authority or a certificate of ours that cannot be read stops the start, rather than
  // trusting nothing or all, or leaving the PBX's own connections unanswered.
  const std::string missing = dir.path() + "/missing.pem";
  for (const bool authority : {true, false}) {
    talmery::Config config = TlsGatewayConfig(dir.path() + "/calls-start.db", base);
    (authority ? config.sip.tlsCaFile : config.sip.tlsCertificate) = missing;
    InProcessGateway gateway(config);
    EXPECT_FALSE(gateway.Start(error));
    EXPECT_EQ(error, authority ? "sip.tls_ca_file: cannot read certificates from " + missing
                               : "sip.tls_certificate: cannot read a certificate and its private key from " + missing);
  }
}

// Over SRTP the listener hears the callee's audio as it is decrypted: a mailbox's greeting is
// waited out, and the message left after it.
TEST(SipOverTls, TheListenerHearsTheCalleeThroughSrtp) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  ASSERT_TRUE(MakeCertificate(dir.path(), "callee"));
  Greetings greetings(dir.path());
  const size_t greeting = greetings.Say("5550203", kMailbox);
  CalleeProcess callee(dir.path(), base, base + 100, base + 199, dir.path() + "/callee.pem");
  ASSERT_TRUE(callee.WaitUntilReady());
  talmery::Config config = TlsGatewayConfig(dir.path() + "/calls.db", base);
  config.sip.srtp = true;
  config.sip.tlsCaFile = dir.path() + "/callee.crt";
  config.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base);
  InProcessGateway gateway(config);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const std::string text = "The quarterly review starts in ten minutes.";
  const long long id = PostTo(gateway.Port(), "5550203", text);
  const nlohmann::json done = WaitForState(gateway.Port(), id, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a machine; left on voicemail after the greeting") << done.dump(1);
  const talmery::Pcm heard = greetings.Heard("5550203");
  EXPECT_GT(StartOf(heard, SpeechOf(text)), static_cast<long>(greeting));
}

// A certificate's refusal is the reason of the calls its connection carried, not of the next
// connection's failure: a peer that shows a certificate nobody trusts, then (the same address)
// one that speaks no TLS at all.
TEST(SipOverTls, ARefusalIsToldOnlyToTheCallsOfTheConnectionItEnded) {
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  ASSERT_TRUE(MakeCertificate(dir.path(), "callee"));
  ASSERT_TRUE(MakeCertificate(dir.path(), "stranger"));
  SSL_CTX* stranger = SSL_CTX_new(TLS_server_method());
  ASSERT_EQ(SSL_CTX_use_certificate_file(stranger, (dir.path() + "/stranger.crt").c_str(), SSL_FILETYPE_PEM), 1);
  ASSERT_EQ(SSL_CTX_use_PrivateKey_file(stranger, (dir.path() + "/stranger.key").c_str(), SSL_FILETYPE_PEM), 1);
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<uint16_t>(base + 50));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  std::atomic<bool> speakTls{true}, stop{false};
  std::thread peer([&] {
    while (!stop) {
      pollfd p{listener, POLLIN, 0};
      if (poll(&p, 1, 100) != 1) continue;
      const int conn = accept(listener, nullptr, nullptr);
      if (conn < 0) continue;
      if (speakTls) {
        SSL* ssl = SSL_new(stranger);
        SSL_set_fd(ssl, conn);
        SSL_accept(ssl);  // the gateway refuses the certificate and leaves
        SSL_free(ssl);
      } else {
        char hello[512];
        if (recv(conn, hello, sizeof hello, 0) > 0) (void)!send(conn, "SIP/2.0 400 Bad Request\r\n\r\n", 28, MSG_NOSIGNAL);
      }
      close(conn);
    }
  });
  struct Join {
    std::atomic<bool>& stop;
    std::thread& peer;
    int fd;
    SSL_CTX* context;
    ~Join() {
      stop = true;
      peer.join();
      close(fd);
      SSL_CTX_free(context);
    }
  } join{stop, peer, listener, stranger};

  talmery::Config config = TlsGatewayConfig(dir.path() + "/calls.db", base);
  config.attempts = 1;
  config.sip.tlsCaFile = dir.path() + "/callee.crt";
  config.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base + 50);
  std::string error;
  ASSERT_TRUE(talmery::ValidateConfig(config, error)) << error;
  InProcessGateway gateway(config);
  ASSERT_TRUE(gateway.Start(error)) << error;
  const struct {
    bool tls;
    const char* reason;
  } calls[] = {
      {true, "TLS: the PBX's certificate does not verify for 127.0.0.1: self-signed certificate"},
      {false, "TLS: the connection to the PBX failed before an answer: Protocol error"},
  };
  for (const auto& c : calls) {
    speakTls = c.tls;
    const long long id = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody("5550100", "Budget."))).c_str() + 1);
    const nlohmann::json end = WaitForState(gateway.Port(), id, "failed", 30000);
    EXPECT_EQ(end["reason"], c.reason) << end.dump(1);
  }
}

// A PBX found through its name's SRV record, at an address of its own, is the PBX: its challenge
// gets the digest.
TEST(SipThroughAPbx, APbxFoundThroughItsSrvRecordGetsTheDigest) {
  TempDir dir;
  if (!EnterPrivateNetwork(dir.path())) GTEST_SKIP() << "needs root for a network namespace of its own";
  OneNameServer names("pbx.office.test", 5090);
  ASSERT_TRUE(names.bound());
  ChallengingPbx pbx(5090, kPassword, {}, "127.0.0.2");
  ASSERT_TRUE(pbx.bound());
  talmery::Config c = PeerConfig(dir, 5000);
  c.sip.dial = "sip:{number}@pbx.office.test";
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  const long long id = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody("5550404", "Budget."))).c_str() + 1);
  EXPECT_EQ(WaitForState(gateway.Port(), id, "failed", 30000)["reason"], "404 Not Found") << gateway.LogText();
  EXPECT_EQ(pbx.Right(), 1);
}

// A PBX known by its name, reached over TLS at the port TLS has when the address names none
// (5061): the handshake names it (SNI), its certificate is checked against that name, and the
// gateway listens for TLS alone on sip_port, nothing in clear. In a network namespace of the
// test's own, where it can be the name server and hold 5061.
TEST(SipOverTls, ANamedPbxIsCalledOnPort5061NamedInTheHandshakeAndCheckedByName) {
  TempDir dir;
  if (!EnterPrivateNetwork(dir.path())) GTEST_SKIP() << "needs root for a network namespace of its own";
  ASSERT_TRUE(MakeCertificate(dir.path(), "pbx", "pbx.office.test"));
  OneNameServer names("pbx.office.test");
  ASSERT_TRUE(names.bound());
  CalleeProcess callee(dir.path(), 5061, 20000, 20099, dir.path() + "/pbx.pem");
  ASSERT_TRUE(callee.WaitUntilReady());
  talmery::Config config = TlsGatewayConfig(dir.path() + "/calls.db", 5070);  // sip_port 5080
  config.sip.srtp = true;
  config.sip.tlsCaFile = dir.path() + "/pbx.crt";
  config.sip.dial = "sip:{number}@pbx.office.test";
  std::string error;
  ASSERT_TRUE(talmery::ValidateConfig(config, error)) << error;
  InProcessGateway gateway(config);
  ASSERT_TRUE(gateway.Start(error)) << error;
  const long long id = std::atoll(BodyOf(PostCall(gateway.Port(), CallBody("5550100", "Budget review."))).c_str() + 1);
  const nlohmann::json end = WaitForState(gateway.Port(), id, "done", 30000);
  EXPECT_EQ(end["state"], "done") << end.dump(1);
  // TLS holds sip_port; UDP's sip_port is nobody's.
  const auto bindsOrConnects = [](int type, bool connectTo) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(5080);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = (connectTo ? connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at)
                               : bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at)) == 0;
    close(fd);
    return ok;
  };
  EXPECT_TRUE(bindsOrConnects(SOCK_STREAM, true));
  EXPECT_TRUE(bindsOrConnects(SOCK_DGRAM, false));
  const std::string counts = callee.Stop();
  EXPECT_TRUE(std::regex_match(counts, std::regex("ready\nanswered 1, closed 1, srtcp [1-9][0-9]*, unauthenticated 0, "
                                                  "server name pbx.office.test\n")))
      << counts;
}

// Debian's Kamailio as the registrar, on loopback: digest authentication against a password
// held in an htable, a new nonce for each challenge, every REGISTER written to its log.
class Kamailio {
 public:
  // With `certificate` (the files <certificate>.crt and .key) it also takes TLS on port + 1.
  Kamailio(const std::string& dir, int port, const std::string& password, const std::string& certificate = "")
      : log_(dir + "/kamailio.log") {
    const std::string tls =
        certificate.empty()
            ? ""
            : "enable_tls=yes\nlisten=tls:127.0.0.1:" + std::to_string(port + 1) +
                  "\nloadmodule \"/usr/lib/x86_64-linux-gnu/kamailio/modules/tls.so\"\n"
                  "modparam(\"tls\", \"config\", \"" + dir + "/tls.cfg\")\n";
    if (!certificate.empty())
      WriteFile(dir + "/tls.cfg", "[server:default]\nmethod = TLSv1.2+\nverify_certificate = no\n"
                                  "require_certificate = no\nprivate_key = " + certificate + ".key\ncertificate = " +
                                      certificate + ".crt\n");
    WriteFile(dir + "/kamailio.cfg",
              "#!KAMAILIO\ndebug=1\nlog_stderror=yes\nchildren=1\nlisten=udp:127.0.0.1:" + std::to_string(port) +
                  "\n" + tls + "mpath=\"/usr/lib/x86_64-linux-gnu/kamailio/modules/\"\n"
                  "loadmodule \"kex.so\"\nloadmodule \"corex.so\"\nloadmodule \"tm.so\"\nloadmodule \"sl.so\"\n"
                  "loadmodule \"pv.so\"\nloadmodule \"usrloc.so\"\nloadmodule \"registrar.so\"\n"
                  "loadmodule \"textops.so\"\nloadmodule \"siputils.so\"\nloadmodule \"xlog.so\"\n"
                  "loadmodule \"auth.so\"\nloadmodule \"htable.so\"\n"
                  "modparam(\"usrloc\", \"db_mode\", 0)\nmodparam(\"htable\", \"htable\", \"users=>size=4;\")\n"
                  "event_route[htable:mod-init] {\n  $sht(users=>gateway) = \"" + password + "\";\n}\n"
                  "request_route {\n  if (is_method(\"REGISTER\")) {\n"
                  "    xlog(\"L_ALERT\", \"REGISTER contact=$ct proto=$pr\\n\");\n"
                  "    if (!pv_www_authenticate(\"$td\", \"$sht(users=>$au)\", \"0\")) {\n"
                  "      www_challenge(\"$td\", \"0\");\n      exit;\n    }\n"
                  "    xlog(\"L_ALERT\", \"BOUND contact=$ct\\n\");\n    save(\"location\");\n    exit;\n  }\n"
                  "  sl_send_reply(\"404\", \"Not here\");\n}\n");
    std::string program = "kamailio", dd = "-DD", e = "-E", f = "-f", cfg = dir + "/kamailio.cfg", y = "-Y", w = "-w",
                m = "-m", mv = "48", big = "-M", bigv = "6", run = dir;
    char* argv[] = {program.data(), dd.data(), e.data(), f.data(), cfg.data(), y.data(), run.data(), w.data(),
                    run.data(), m.data(), mv.data(), big.data(), bigv.data(), nullptr};
    const int out = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out, STDERR_FILENO);
      dup2(out, STDOUT_FILENO);
      execvp(argv[0], argv);
      _exit(127);
    }
    close(out);
  }
  ~Kamailio() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool WaitUntilListening() {
    return WaitUntil([&] { return ReadFile(log_).find("Listening on") != std::string::npos; }, 10000);
  }
  size_t Count(const std::string& text) {
    const std::string log = ReadFile(log_);
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

// Against a real registrar: the right password registers and the binding goes at stop; a
// wrong one is refused, logged once, and tried again only after the pause.
TEST(SipRegistrar, KamailioRightAndWrongPasswords) {
  const int base = phone::FreePortBlock(300, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  Kamailio kamailio(dir.path(), base, "Right pw #1");
  ASSERT_TRUE(kamailio.WaitUntilListening()) << ReadFile(dir.path() + "/kamailio.log");
  talmery::Config c = RegisteringConfig(dir, base, "Right pw #1");
  c.sip.registerRetry = 1;
  {
    InProcessGateway gateway(c);
    std::string error;
    ASSERT_TRUE(gateway.Start(error)) << error;
    ASSERT_TRUE(gateway.WaitForLog("event=registration state=registered", 10000)) << gateway.LogText();
    EXPECT_EQ(kamailio.Count("BOUND contact="), 1u);
    ASSERT_FALSE(BodyOf(Exchange(gateway.Port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n")).empty());
  }
  // The stop: one more authenticated REGISTER, which removes the binding.
  ASSERT_EQ(kamailio.Count("BOUND contact="), 2u);
  EXPECT_EQ(kamailio.Count("BOUND contact=<sip:gateway-"), 2u);
  const std::string log = ReadFile(dir.path() + "/kamailio.log");
  const std::string last = log.substr(log.rfind("BOUND contact="));
  EXPECT_EQ(last.substr(0, last.find('\n')).substr(last.find('>')), ">;expires=0");

  c.sip.password = "wrong";
  c.database = dir.path() + "/calls2.db";
  const size_t before = kamailio.Count("REGISTER contact=");
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  ASSERT_TRUE(gateway.WaitForLog("event=registration state=refused", 20000)) << gateway.LogText();
  // Kamailio challenges each answer anew: the gateway answers one challenge, the second ends
  // the round (a REGISTER and one wrong digest), not a burst of digests.
  const size_t firstRound = kamailio.Count("REGISTER contact=") - before;
  EXPECT_EQ(firstRound, 2u);
  EXPECT_TRUE(gateway.WaitForLog("event=registration state=refused aor=sip:gateway@127.0.0.1:" + std::to_string(base) +
                                      " detail=\"401 Unauthorized\"", 1000))
      << gateway.LogText();
  // The next round comes after the pause (1 s, then 2 s); wait for it to end.
  WaitUntil([&] { return kamailio.Count("REGISTER contact=") - before >= 2 * firstRound; }, 10000);
  ASSERT_GE(kamailio.Count("REGISTER contact=") - before, 2 * firstRound);
  const std::string gatewayLog = gateway.LogText();
  size_t refusals = 0;
  for (size_t at = gatewayLog.find("event=registration state=refused"); at != std::string::npos;
       at = gatewayLog.find("event=registration state=refused", at + 1))
    ++refusals;
  EXPECT_EQ(refusals, 1u) << gatewayLog;
  std::printf("REGISTERs in a refused round: %zu\n", firstRound);
}

// Over TLS to Kamailio: the registration is made and removed over TLS with the right
// certificate; with a certificate that does not verify it is refused with the reason, and no
// REGISTER reaches the registrar.
TEST(SipRegistrar, KamailioOverTls) {
  const int base = phone::FreePortBlock(300, 1);
  ASSERT_NE(base, 0);
  TempDir dir;
  ASSERT_TRUE(MakeCertificate(dir.path(), "pbx"));
  ASSERT_TRUE(MakeCertificate(dir.path(), "stranger"));
  Kamailio kamailio(dir.path(), base, "Right pw #1", dir.path() + "/pbx");
  ASSERT_TRUE(kamailio.WaitUntilListening()) << ReadFile(dir.path() + "/kamailio.log");
  talmery::Config c = RegisteringConfig(dir, base, "Right pw #1");
  c.sip.domain = "127.0.0.1:" + std::to_string(base + 1);
  c.sip.transport = "tls";
  c.sip.tlsCaFile = dir.path() + "/pbx.crt";
  {
    InProcessGateway gateway(c);
    std::string error;
    ASSERT_TRUE(gateway.Start(error)) << error;
    ASSERT_TRUE(gateway.WaitForLog("event=registration state=registered", 10000))
        << gateway.LogText() << ReadFile(dir.path() + "/kamailio.log");
  }
  EXPECT_EQ(kamailio.Count("BOUND contact="), 2u);  // the binding, and its removal at the stop
  EXPECT_EQ(kamailio.Count("REGISTER contact="), kamailio.Count(" proto=tls\n"));
  EXPECT_EQ(kamailio.Count(";transport=tls>"), kamailio.Count("contact="));

  c.sip.tlsCaFile = dir.path() + "/stranger.crt";
  c.database = dir.path() + "/calls2.db";
  const size_t before = kamailio.Count("REGISTER contact=");
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  EXPECT_TRUE(gateway.WaitForLog("event=registration state=refused aor=sip:gateway@127.0.0.1:" + std::to_string(base + 1) +
                                     " detail=\"TLS: the PBX's certificate does not verify for 127.0.0.1: "
                                     "self-signed certificate\"",
                                 10000))
      << gateway.LogText();
  EXPECT_EQ(kamailio.Count("REGISTER contact="), before);
}

}  // namespace
}  // namespace gwtest
