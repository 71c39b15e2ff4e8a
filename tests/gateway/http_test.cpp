// The protocol on the wire, against the gateway in speaker mode: the exact answer to an accepted
// request, the answer to every kind of bad request, and slow or silent clients that are cut off
// while other requests are served.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "gateway/speech.h"
#include "tests/gateway/test_support.h"

namespace gwtest {
namespace {

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    talmery::Config c = SpeakerConfig(dir_.path());
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

// A call is read by its caller, who shows the token the gateway answered with its id, and by
// administrators (metrics_clients, here 127.0.0.2); anyone else, and whoever tries ids, is told
// what an unknown id is told.
TEST(CallReading, OnlyTheCallerAndAdministratorsReadACall) {
  TempDir dir;
  talmery::Config c = SpeakerConfig(dir.path());
  std::string error;
  ASSERT_TRUE(talmery::ParseConfigText("metrics_clients = 127.0.0.2\n", c, error)) << error;
  InProcessGateway gateway(c);
  ASSERT_TRUE(gateway.Start(error)) << error;
  const std::string answer = PostCall(gateway.Port(), kGood);
  ASSERT_EQ(BodyOf(answer), "[1]\r\n");
  const size_t at = answer.find("\r\nTalmery-Call-Token: ");
  ASSERT_NE(at, std::string::npos) << answer;
  const std::string token = answer.substr(at + 22, answer.find("\r\n", at + 2) - at - 22);
  EXPECT_EQ(token.size(), 32u) << answer;
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
  const std::string other = PostCall(gateway.Port(), kGood);
  ASSERT_EQ(BodyOf(other), "[2]\r\n");
  EXPECT_EQ(other.find(token), std::string::npos) << "each call has a token of its own";

  auto get = [](long long id, const std::string& header) {
    return "GET /calls/" + std::to_string(id) + " HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n" + header + "\r\n";
  };
  std::string wrong = token;
  wrong[31] = wrong[31] == '0' ? '1' : '0';
  const std::string notFound = "{\"error\": \"no such call\"}\n";
  const struct {
    const char* from;
    long long id;
    std::string header;
    bool read;
  } cases[] = {
      {"127.0.0.1", 1, "Talmery-Call-Token: " + token + "\r\n", true},
      {"127.0.0.1", 1, "talmery-call-token: " + token + "\r\n", true},  // a header's name has no case
      {"127.0.0.1", 1, "Talmery-Call-Token: " + wrong + "\r\n", false},
      {"127.0.0.1", 1, "Talmery-Call-Token: " + token.substr(0, 31) + "\r\n", false},
      {"127.0.0.1", 1, "Talmery-Call-Token: \r\n", false},
      {"127.0.0.1", 1, "", false},
      {"127.0.0.1", 2, "Talmery-Call-Token: " + token + "\r\n", false},  // a guessed id, with one's own token
      {"127.0.0.1", 3, "Talmery-Call-Token: " + token + "\r\n", false},  // no such call
      {"127.0.0.2", 1, "", true},
      {"127.0.0.2", 2, "Talmery-Call-Token: " + wrong + "\r\n", true},
      {"127.0.0.2", 3, "", false},
  };
  for (const auto& t : cases) {
    const std::string response = ExchangeFrom(t.from, gateway.Port(), get(t.id, t.header));
    const std::string trace = std::string(t.from) + " " + std::to_string(t.id) + " " + t.header;
    if (t.read) {
      EXPECT_EQ(response.substr(0, response.find("\r\n")), "HTTP/1.1 200 OK") << trace;
      const nlohmann::json j = nlohmann::json::parse(BodyOf(response), nullptr, false);
      ASSERT_TRUE(j.is_object()) << response;
      EXPECT_EQ(j["id"], t.id) << trace;
      EXPECT_TRUE(j["final"].is_boolean()) << trace;
      EXPECT_TRUE(j["ask_again_seconds"].is_number_integer()) << trace;
      EXPECT_TRUE(j["follow_seconds"].is_number_integer()) << trace;
    } else {
      EXPECT_EQ(response.substr(0, response.find("\r\n")), "HTTP/1.1 404 Not Found") << trace;
      EXPECT_EQ(BodyOf(response), notFound) << trace;
    }
    EXPECT_EQ(response.find(token, response.find("\r\n\r\n")), std::string::npos) << "never in a body: " << trace;
  }
  // The caller follows its call to its end.
  nlohmann::json status;
  ASSERT_TRUE(WaitUntil(
      [&] {
        status = nlohmann::json::parse(BodyOf(ExchangeFrom("127.0.0.1", gateway.Port(), get(1, "Talmery-Call-Token: " + token + "\r\n"))),
                                       nullptr, false);
        return status.is_object() && status["final"] == true;
      },
      20000, 50))
      << status.dump();
  EXPECT_EQ(status["state"], "done");
  EXPECT_EQ(status["ask_again_seconds"], 0);
  EXPECT_EQ(status["follow_seconds"], 0);
  EXPECT_EQ(gateway.LogText().find(token), std::string::npos) << "never logged";
}

// Two headers that could each tell the body's length (RFC 9112, 6.1 and 6.3): one request that a
// proxy in front reads by Content-Length and we by the chunks would carry a second call in its
// body. Refused, the connection closed after the answer, nothing stored.
TEST_F(HttpTest, AmbiguousFramingIsRefusedAndTheConnectionClosed) {
  const std::string inner = "calltime=0&selfdelete=1&firstocc=15&phoneno=5550199&txt=Smuggled";
  const std::string smuggled = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\nContent-Type: "
                               "application/x-www-form-urlencoded\r\nContent-Length: " +
                               std::to_string(inner.size()) + "\r\n\r\n" + inner;
  char size[16];
  std::snprintf(size, sizeof size, "%zx", std::strlen(kGood));
  const std::string chunks = std::string(size) + "\r\n" + kGood + "\r\n0\r\n\r\n";
  const std::string head = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\nContent-Type: "
                           "application/x-www-form-urlencoded\r\n";
  const struct {
    std::string request, status, body;
  } cases[] = {
      {head + "Content-Length: " + std::to_string(chunks.size()) + "\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks +
           smuggled,
       "HTTP/1.1 400 Bad Request", "ERROR: the request has both Content-Length and Transfer-Encoding\r\n"},
      {head + "Content-Length: 5\r\ncontent-length: " + std::to_string(std::strlen(kGood)) + "\r\n\r\n" + kGood +
           smuggled,
       "HTTP/1.1 400 Bad Request", "ERROR: the request has more than one Content-Length\r\n"},
      {head + "Transfer-Encoding: gzip, chunked\r\n\r\n" + chunks + smuggled, "HTTP/1.1 501 Not Implemented",
       "ERROR: the request's Transfer-Encoding is not chunked\r\n"},
      {"GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n" + smuggled,
       "HTTP/1.1 400 Bad Request", "ERROR: the request has both Content-Length and Transfer-Encoding\r\n"},
  };
  for (const auto& c : cases) {
    // Exchange reads until the server closes: one answer, then the end.
    const std::string response = Exchange(port_, c.request, 5000);
    EXPECT_EQ(response.substr(0, response.find("\r\n")), c.status) << c.request.substr(0, 160);
    EXPECT_NE(response.find("\r\nConnection: close\r\n"), std::string::npos) << response;
    EXPECT_EQ(BodyOf(response), c.body);
  }
  EXPECT_TRUE(CallStatus(port_, 1).is_null());  // neither the call nor the one in its body
  EXPECT_EQ(BodyOf(Post(kGood)), "[1]\r\n");
}

// A stranger's flood of refusals costs a line when it starts and one per minute while it goes
// on (told at a stop too), and what it sent reaches the log escaped.
TEST_F(HttpTest, RefusalsAreLoggedOncePerKindWithTheirCount) {
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(BodyOf(Post("calltime=0&selfdelete=1&firstocc=1&phoneno=1&txt=+")), "ERROR: the text is empty\r\n");
  EXPECT_EQ(BodyOf(Post("calltime=0&selfdelete=1&firstocc=1&phoneno=1&txt=x&%1b%5b2J%9b=1&%1b%5b2J%9b=2")),
            "ERROR: the field \\x1b[2J\\x9b is given twice\r\n");
  gateway_->Stop();  // what is not told yet is told now
  const std::string log = gateway_->LogText();
  const std::string line = "event=refused from=127.0.0.1 reason=\"the text is empty\"";
  ASSERT_NE(log.find(line + "\n"), std::string::npos) << log;
  EXPECT_EQ(log.find(line + "\n", log.find(line + "\n") + 1), std::string::npos) << log;
  EXPECT_NE(log.find(line + " repeated=19 interval=60s\n"), std::string::npos) << log;
  EXPECT_NE(log.find("reason=\"the field \\\\x1b[2J\\\\x9b is given twice\""), std::string::npos) << log;
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
}

// The longest text the gateway takes is hours of speech: only what max_call_time can play is
// made, and the call says that its message was cut.
TEST(SpeakerCall, ALongTextIsCutToTheCallsLength) {
  TempDir dir;
  talmery::Config c = SpeakerConfig(dir.path());
  c.maxCallTime = 8;
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  std::string text;
  while (text.size() < 64 * 1024 - 40) text += "The budget review meets in room four. ";
  ASSERT_EQ(BodyOf(PostCall(gateway.Port(), CallBody("5550100", text))), "[1]\r\n");
  const nlohmann::json done = WaitForState(gateway.Port(), 1, "done", 60000);
  const std::string path = dir.path() + "/speaker/call-1.wav";
  EXPECT_EQ(done["reason"], "answered; spoken to " + path + "; the message was cut at a sentence to fit max_message_seconds (60 s); the message was cut to fit max_call_time (8 s)")
      << done.dump(1);
  talmery::Pcm message;
  ASSERT_TRUE(talmery::ReadWavFile(path, message, error)) << error;
  EXPECT_EQ(message.samples.size(), 7u * 8000);  // a second before the line would hang up
  const std::string detail = "detail=\"spoken to " + path + "; the message was cut at a sentence to fit max_message_seconds (60 s); the message was cut to fit max_call_time (8 s)\"";
  EXPECT_TRUE(gateway.WaitForLog(detail, 5000)) << gateway.LogText();
}

// A text longer than a listener attends to is cut at a sentence before it is spoken (the rest
// is in the calendar), and the call's outcome and log say so.
TEST(SpeakerCall, ALongTextIsCutAtASentenceToTheListenersAttention) {
  TempDir dir;
  talmery::Config c = SpeakerConfig(dir.path());
  c.maxMessageSeconds = 10;
  c.repeat = 1;
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  std::string text = "Budget review with Ann at 9:30.";
  for (int i = 0; i < 6; ++i) text += " The figures for each department are compared with the plan.";
  ASSERT_EQ(BodyOf(PostCall(gateway.Port(), CallBody("5550100", text))), "[1]\r\n");
  const nlohmann::json done = WaitForState(gateway.Port(), 1, "done", 60000);
  const std::string path = dir.path() + "/speaker/call-1.wav";
  const std::string note = "spoken to " + path + "; the message was cut at a sentence to fit max_message_seconds (10 s)";
  EXPECT_EQ(done["reason"], "answered; " + note) << done.dump(1);
  EXPECT_TRUE(gateway.WaitForLog("detail=\"" + note + "\"", 5000)) << gateway.LogText();
  // What was heard is the text up to a sentence, then where the rest is.
  talmery::Pcm message, expected;
  ASSERT_TRUE(talmery::ReadWavFile(path, message, error)) << error;
  ASSERT_TRUE(talmery::Synthesize("Budget review with Ann at nine thirty. The rest is in your calendar.", talmery::Voice(),
                                  expected, error))
      << error;
  EXPECT_EQ(message.samples.size(), expected.samples.size() + 8000 / 2 + 8000 * 3 / 10);
}

// A head trickled past request_seconds (a byte every 100 ms, 3 s in all, the server's time being
// 1 s) is cut at its time, not at its end; a connection that says nothing is closed at its time.
// Neither gets an answer (libmicrohttpd answers only a request whose head has come whole), and
// each leaves its line. Requests are served as usual meanwhile.
TEST_F(HttpTest, SlowAndSilentClientsAreCutOffWhileOthersAreServed) {
  const int trickler = ConnectTo(port_);
  const int silent = ConnectTo(port_);
  ASSERT_GE(trickler, 0);
  ASSERT_GE(silent, 0);
  const std::string head = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\n";
  size_t trickled = 0;
  std::thread trickle([&] {
    for (; trickled < 30 && trickled < head.size(); ++trickled) {
      if (send(trickler, &head[trickled], 1, MSG_NOSIGNAL) != 1) break;
      usleep(100 * 1000);
    }
  });
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(BodyOf(Post(kGood)), "[" + std::to_string(i) + "]\r\n");
  std::string fromTrickled, fromSilent;
  EXPECT_TRUE(ReadUntilClosed(trickler, 10000, fromTrickled));
  EXPECT_TRUE(ReadUntilClosed(silent, 10000, fromSilent));
  trickle.join();
  EXPECT_EQ(fromTrickled, "");
  EXPECT_EQ(fromSilent, "");
  EXPECT_LT(trickled, 30u) << "the head was let run to its end";
  EXPECT_TRUE(gateway_->WaitForLog("event=refused from=127.0.0.1 reason=\"the request took too long\"\n", 5000))
      << gateway_->LogText();
  EXPECT_TRUE(gateway_->WaitForLog("event=refused from=127.0.0.1 reason=\"nothing was sent within 1 s\"\n", 5000))
      << gateway_->LogText();
  close(trickler);
  close(silent);
  EXPECT_EQ(BodyOf(Post(kGood)), "[4]\r\n");
}

}  // namespace
}  // namespace gwtest
