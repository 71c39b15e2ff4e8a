// The protocol on the wire, against the gateway in speaker mode: the exact answer to an accepted
// request, the answer to every kind of bad request, and slow or silent clients that are cut off
// while other requests are served.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "tests/gateway/test_support.h"

namespace gwtest {
namespace {

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    talmery::Config c;
    c.listenPort = 0;
    c.database = dir_.path() + "/calls.db";
    c.mode = talmery::DialMode::Speaker;
    c.speakerDir = dir_.path() + "/speaker";
    c.requestSeconds = 1;
    gateway_ = std::make_unique<InProcessGateway>(c);
    std::string error;
    ASSERT_TRUE(gateway_->Start(error)) << error;
    port_ = gateway_->Port();
  }
  std::string Post(const std::string& body) { return PostCall(port_, body); }

  TempDir dir_;
  std::unique_ptr<InProcessGateway> gateway_;
  int port_ = 0;
};

const char kGood[] = "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Your+appointment+reminder.";

TEST_F(HttpTest, AnAcceptedRequestIsAnsweredWithItsId) {
  const std::string first = Post(kGood);
  EXPECT_EQ(first.substr(0, first.find("\r\n")), "HTTP/1.1 200 OK");
  EXPECT_NE(first.find("Content-Type: text/plain\r\n"), std::string::npos);
  EXPECT_EQ(BodyOf(first), "[1]\r\n");
  EXPECT_EQ(BodyOf(Post(kGood)), "[2]\r\n");
  const nlohmann::json done = WaitForState(port_, 2, "done", 20000);
  EXPECT_EQ(done["state"], "done") << done.dump();
  EXPECT_EQ(done["number"], "55***00");
  EXPECT_TRUE(done["text_removed"]);
  EXPECT_NE(ReadFile(dir_.path() + "/speaker/call-2.wav").size(), 0u);
  EXPECT_TRUE(gateway_->WaitForLog("event=state call=2 state=done attempt=1 outcome=answered", 10000))
      << gateway_->LogText();
  EXPECT_NE(gateway_->LogText().find(
                "event=state call=2 state=queued number=55***00 firstocc=15 selfdelete=1 from=127.0.0.1"),
            std::string::npos)
      << gateway_->LogText();
  // A healthy start and exchange draw no complaint from the HTTP library, and a client that closes
  // after its answer, or connects and leaves without a word, is no refused request.
  Exchange(port_, "");
  usleep(200000);  // the server notes the close just after it has closed its side
  EXPECT_EQ(gateway_->LogText().find("event=http "), std::string::npos) << gateway_->LogText();
  EXPECT_EQ(gateway_->LogText().find("event=refused"), std::string::npos) << gateway_->LogText();
}

TEST_F(HttpTest, EveryBadRequestGetsItsAnswerAndTheServerGoesOn) {
  auto post = [](const std::string& path, const std::string& type, const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\nHost: x\r\n" + (type.empty() ? "" : "Content-Type: " + type + "\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  const std::string form = "application/x-www-form-urlencoded";
  const struct {
    std::string request, status, body;
  } cases[] = {
      {post("/ocall/callreqHandler.jsp", form, "calltime=9&selfdelete=1&firstocc=1&phoneno=1&txt=x"), "HTTP/1.1 200 OK",
       "ERROR: calltime must be 0: calls at a later time are not supported\r\n"},
      {post("/ocall/callreqHandler.jsp", form, "phoneno=12"), "HTTP/1.1 200 OK", "ERROR: the field calltime is missing\r\n"},
      {post("/ocall/callreqHandler.jsp", "text/plain", kGood), "HTTP/1.1 200 OK",
       "ERROR: the request body must be a URL-encoded form\r\n"},
      {post("/ocall/callreqHandler.jsp", form, std::string(300 * 1024, 'a')), "HTTP/1.1 200 OK",
       "ERROR: the request is larger than 256 KB\r\n"},
      {"GET /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405 Method Not Allowed", "method not allowed\n"},
      {post("/", form, kGood), "HTTP/1.1 405 Method Not Allowed", "method not allowed\n"},
      {"DELETE /calls/1 HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405 Method Not Allowed", "method not allowed\n"},
      {"GET /ocall/other.jsp HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found", "not found\n"},
      {post("/ocall/callreqHandler.jsp/x", form, kGood), "HTTP/1.1 404 Not Found", "not found\n"},
      {"GET /calls/99999999999999999999 HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found",
       "{\"error\": \"no such call\"}\n"},
      {"GET /calls/12x HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found", "not found\n"},
      {"HELLO THERE\r\n\r\n", "HTTP/1.1 400 Bad Request", "*"},
  };
  for (const auto& c : cases) {
    const std::string response = Exchange(port_, c.request);
    EXPECT_EQ(response.substr(0, response.find("\r\n")), c.status) << c.request.substr(0, 60);
    if (c.body != "*") EXPECT_EQ(BodyOf(response), c.body) << c.request.substr(0, 60);
  }
  EXPECT_NE(Exchange(port_, "GET /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\n\r\n").find("\r\nAllow: POST\r\n"),
            std::string::npos);
  EXPECT_EQ(BodyOf(Post(kGood)), "[1]\r\n");
  EXPECT_NE(gateway_->LogText().find("event=refused from=127.0.0.1 reason=\"the field calltime is missing\""),
            std::string::npos);
}

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

// Reads until the server closes the connection (or 30 s pass).
std::string ReadToClose(int fd) {
  std::string got;
  char buffer[1024];
  for (int i = 0; i < 600; ++i) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return got;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got + "(still open)";
}

TEST_F(HttpTest, SlowAndSilentClientsAreCutOffWhileOthersAreServed) {
  // A client that trickles its head (a byte every 100 ms, 3 s in all) and one that says nothing.
  const int trickler = Connect(port_);
  const int silent = Connect(port_);
  std::thread trickle([&] {
    const std::string head = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\n";
    for (size_t i = 0; i < 30 && i < head.size(); ++i) {
      if (send(trickler, &head[i], 1, MSG_NOSIGNAL) != 1) break;
      usleep(100 * 1000);
    }
  });
  // Meanwhile requests are served as usual.
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(BodyOf(Post(kGood)), "[" + std::to_string(i) + "]\r\n");
  const std::string trickled = ReadToClose(trickler);
  trickle.join();
  EXPECT_EQ(trickled.substr(0, trickled.find("\r\n")), "HTTP/1.1 408 Request Timeout");
  EXPECT_EQ(BodyOf(trickled), "ERROR: the request took too long\r\n");
  EXPECT_EQ(ReadToClose(silent), "");
  close(trickler);
  close(silent);
  EXPECT_EQ(BodyOf(Post(kGood)), "[4]\r\n");
}

}  // namespace
}  // namespace gwtest
