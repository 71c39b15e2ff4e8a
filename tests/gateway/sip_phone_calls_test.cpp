// Real calls on loopback: the gateway dials the loopback phone (a baresip) on its own SIP engine,
// over SIP and RTP with G.711, and the phone's recording is checked against the spoken text.
// Also what reaches its SIP and RTP sockets from others meanwhile: calls, garbage, floods.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/gateway/sip_call_fixtures.h"

namespace gwtest {
namespace {

using SipCallTest = LoopbackPhoneTest;

TEST_F(SipCallTest, TheCalleeHearsTheTextTwiceAnsweredAtOnceOrAfterEarlyMedia) {
  const struct {
    const char* name;
    const char* number;
    const char* text;
  } calls[] = {{"answered at once", "5550100", "Your dentist appointment begins in fifteen minutes."},
               {"answered after early media", "5550183", "The budget review is in room four."}};
  int n = 0;
  for (const auto& call : calls) {
    SCOPED_TRACE(call.name);
    const long long id = Post(call.number, call.text);
    const nlohmann::json done = WaitForState(Port(), id, "done", 60000);
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
  talmery::Config c = config_;
  c.maxCallTime = 12;
  c.snoozes = 0;  // the short prompt ("Press star ..."), which leaves the text a few seconds
  ASSERT_TRUE(StartGateway(c));
  std::string error;
  const std::string sentence = "The budget review meets in room four. ";
  std::string text;
  while (text.size() + sentence.size() <= 64 * 1024) text += sentence;
  const long long id = Post("5550100", text);
  const nlohmann::json done = WaitForState(Port(), id, "done", 60000);
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
  struct {
    const char* name;
    const char* number;
    const char* text;
    const char* reason;
    const char* outcome;
    const char* logged;  // the first try's line, after "call=<id> "
    long long id = 0;
  } calls[] = {
      {"busy", "5550486", "Busy line.", "busy (486 Rejected) on the last of 2 tries", "busy",
       "state=busy attempt=1 outcome=busy"},
      {"never answered", "5550000", "Nobody home.", "no answer (no answer in 3 s) on the last of 2 tries", "no answer",
       "state=\"no answer\" attempt=1"},
  };
  for (auto& call : calls) call.id = Post(call.number, call.text);  // both at once, one line each
  for (const auto& call : calls) {
    SCOPED_TRACE(call.name);
    const nlohmann::json end = WaitForState(Port(), call.id, "failed", 60000);
    ASSERT_EQ(end["state"], "failed") << end.dump(1);
    EXPECT_EQ(end["attempts"], 2);
    EXPECT_EQ(end["reason"], call.reason);
    ASSERT_EQ(end["history"].size(), 2u);
    for (const auto& attempt : end["history"]) {
      EXPECT_EQ(attempt["outcome"], call.outcome);
      EXPECT_TRUE(attempt["answered"].is_null());
    }
    EXPECT_EQ(phone_->CallsTo(call.number), 2);
    EXPECT_TRUE(gateway_->WaitForLog("call=" + std::to_string(call.id) + " " + call.logged, 5000)) << gateway_->LogText();
  }
  const long long busy = calls[0].id;
  const std::string log = gateway_->LogText();

  // The SIP password went into the digests and nowhere people can read.
  const std::string page = Page();
  EXPECT_NE(page.find("busy (486 Rejected) on the last of 2 tries"), std::string::npos);
  for (const std::string& seen : {log, page, CallStatus(Port(), busy).dump()})
    EXPECT_EQ(seen.find(kPassword), std::string::npos);
  // Nor does it lie in any file the gateway wrote (its store, its spool).
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
    if (!entry.is_regular_file() || entry.path().string().find("/phone/") != std::string::npos) continue;
    EXPECT_EQ(ReadFile(entry.path().string()).find(kPassword), std::string::npos) << entry.path();
  }
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

// Another local user finds nothing of ours to command: the gateway listens on its HTTP port and
// its SIP port only, and holds UDP sockets for SIP and the calls' RTP and RTCP alone. Garbage
// from that user to every one of those sockets during a call does not disturb it: the callee
// hears the whole message.
TEST_F(SipCallTest, AnotherUserFindsNoControlPortAndCannotDisturbACall) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  const std::string text = "The quarterly planning meeting starts in ten minutes in the large room.";
  const long long id = Post("5550100", text);
  ASSERT_EQ(WaitForState(Port(), id, "answered", 30000)["state"], "answered");

  const OwnSockets own = SocketsOfThisProcess();
  EXPECT_EQ(own.tcpListening, (std::set<int>{Port(), config_.sip.sipPort}));
  std::string udpList;
  for (int udp : own.udp) {
    EXPECT_TRUE(udp == config_.sip.sipPort ||
                (udp >= config_.sip.rtpPortFirst && udp <= config_.sip.rtpPortLast))
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
                    "    c=socket.create_connection(('127.0.0.1'," + std::to_string(config_.sip.sipPort) + "),timeout=1)\n"
                    "    c.sendall(b'BYE sip:x SIP/2.0\\r\\nContent-Length: 99999\\r\\n\\r\\n'+b'\\xff'*4000); c.close(); n+=1\n"
                    "  except Exception: pass\n"
                    "  time.sleep(0.01)\n"
                    "print(n, flush=True)\n",
                    sent);
  const nlohmann::json done = WaitForState(Port(), id, "done", 60000);
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
  gateway.sin_port = htons(static_cast<uint16_t>(config_.sip.sipPort));
  gateway.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const struct {
    const char* name;
    std::string method;
    const char* answer;
  } requests[] = {{"a call is declined", "INVITE", "SIP/2.0 603 Decline\r\n"},
                  {"a PBX's keep-alive is answered", "OPTIONS", "SIP/2.0 200 OK\r\n"}};
  for (const auto& [name, method, answer] : requests) {
    SCOPED_TRACE(name);
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
  gateway.sin_port = htons(static_cast<uint16_t>(config_.sip.sipPort));
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
  const nlohmann::json done = WaitForState(Port(), id, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; the message was played") << done.dump(1);
  const std::string log = gateway_->LogText();
  EXPECT_EQ(CountOf(log, "event=sip malformed=udp"), 1u) << log;
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
  const int sipPort = config_.sip.sipPort;
  const auto restart = [&](int idleMs) {  // (the gateway's idle time is 50 s)
    config_.sip.tcpIdleMs = idleMs;
    ASSERT_TRUE(StartGateway(config_));
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
    const nlohmann::json done = WaitForState(Port(), id, "done", 60000);
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

}  // namespace
}  // namespace gwtest
