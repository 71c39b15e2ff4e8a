// The gateway on an office network, on the wire: long honest forms taken whole, hostile
// requests refused (each with its log line) while the server goes on, other client addresses
// turned away, limits on accepted calls, code pages, and private files.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "tests/gateway/test_support.h"

namespace gwtest {
namespace {

std::string Escaped(const std::string& bytes) {
  std::string out;
  char escape[4];
  for (unsigned char c : bytes) {
    std::snprintf(escape, sizeof escape, "%%%02X", c);
    out += escape;
  }
  return out;
}

std::string Form(const std::string& number, const std::string& escapedText) {
  return "calltime=0&selfdelete=0&firstocc=15&phoneno=" + number + "&txt=" + escapedText;
}

std::string Post(const std::string& body, const std::string& type = "application/x-www-form-urlencoded",
                 const std::string& extra = "") {
  return "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nConnection: close\r\nContent-Type: " + type + "\r\n" + extra +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Chunked(const std::string& body, size_t chunk = 4096) {
  std::string out =
      "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
  char size[16];
  for (size_t at = 0; at < body.size(); at += chunk) {
    const std::string piece = body.substr(at, chunk);
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    out += size + piece + "\r\n";
  }
  return out + "0\r\n\r\n";
}

std::string StatusLine(const std::string& response) { return response.substr(0, response.find("\r\n")); }

class NetTest : public ::testing::Test {
 protected:
  // Starts a gateway in speaker mode, with `adjust` applied to its settings.
  void StartGateway(const std::function<void(talmery::Config&)>& adjust = nullptr) {
    talmery::Config c = SpeakerConfig(dir_.path());
    c.requestSeconds = 2;
    c.showText = true;
    if (adjust) adjust(c);
    gateway_ = std::make_unique<InProcessGateway>(c);
    std::string error;
    ASSERT_TRUE(gateway_->Start(error)) << error;
    port_ = gateway_->Port();
  }
  std::string LogLines(const std::string& needle) {
    std::string lines, log = gateway_->LogText();
    for (size_t at = 0; (at = log.find(needle, at)) != std::string::npos; ++at) {
      const size_t begin = log.rfind('\n', at) + 1;
      lines += log.substr(begin, log.find('\n', at) - begin) + "\n";
    }
    return lines;
  }

  TempDir dir_;
  std::unique_ptr<InProcessGateway> gateway_;
  int port_ = 0;
};

const std::string kGood = Form("5550100", "Reminder");

TEST_F(NetTest, HonestLongFormsAreAcceptedWhole) {
  StartGateway();
  // Blanks and line breaks, all %-escaped (three bytes each): the text is long on the wire and
  // in the store, yet quick to speak. Its ends are marked so that a cut shows.
  auto text = [](size_t bytes) {
    std::string t = "Start.";
    while (t.size() + 4 < bytes) t += (t.size() % 61 == 0) ? '\n' : ' ';
    return t + "End.";
  };
  const struct {
    const char* name;
    size_t textBytes;
    bool chunked;
  } cases[] = {{"20 KB", 6800, false}, {"200 KB", 65000, false}, {"200 KB chunked", 65000, true}};
  long long id = 0;
  for (const auto& c : cases) {
    const std::string t = text(c.textBytes);
    const std::string body = Form("5550100", Escaped(t));
    ASSERT_GT(body.size(), c.textBytes * 3);
    const std::string response = Exchange(port_, c.chunked ? Chunked(body) : Post(body));
    EXPECT_EQ(BodyOf(response), "[" + std::to_string(++id) + "]\r\n") << c.name << ": " << response.substr(0, 200);
    const nlohmann::json status = CallStatus(port_, id);
    ASSERT_TRUE(status.is_object()) << c.name;
    EXPECT_EQ(status["text"], t) << c.name;
  }
}

TEST_F(NetTest, HostileRequestsAreRefusedAndTheServerGoesOn) {
  StartGateway([](talmery::Config& c) { c.numbers = {"2???", "0[1-9]*"}; });
  const std::string tooLong = Form("2001", std::string(300 * 1024, 'a'));
  const struct {
    std::string request, status, body, logged;
  } cases[] = {
      // Past the limit while reading, whatever the framing; a length past it before reading.
      {Chunked(tooLong), "HTTP/1.1 200 OK", "ERROR: the request is larger than 256 KB\r\n",
       "the request is larger than 256 KB"},
      {Post(tooLong), "HTTP/1.1 200 OK", "ERROR: the request is larger than 256 KB\r\n",
       "the request is larger than 256 KB"},
      {"POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nContent-Length: 1073741824\r\n\r\ncalltime=0", "HTTP/1.1 200 OK",
       "ERROR: the request is larger than 256 KB\r\n", "the request is larger than 256 KB"},
      // What a web page in the office could make a browser send.
      {Post(Form("2001", "x"), "application/x-www-form-urlencoded", "Origin: https://evil.example\r\n"), "HTTP/1.1 200 OK",
       "ERROR: calls are not taken from web browsers (the request has a Origin header)\r\n",
       "calls are not taken from web browsers (the request has a Origin header)"},
      {Post(Form("2001", "x"), "application/x-www-form-urlencoded", "Referer: https://evil.example/\r\n"), "HTTP/1.1 200 OK",
       "ERROR: calls are not taken from web browsers (the request has a Referer header)\r\n",
       "calls are not taken from web browsers (the request has a Referer header)"},
      {Post(Form("2001", "x"), "application/x-www-form-urlencoded", "sec-fetch-mode: no-cors\r\n"), "HTTP/1.1 200 OK",
       "ERROR: calls are not taken from web browsers (the request has a sec-fetch-mode header)\r\n",
       "calls are not taken from web browsers (the request has a sec-fetch-mode header)"},
      // Numbers outside the patterns: international, premium rate.
      {Post(Form("0044201234", "x")), "HTTP/1.1 200 OK", "ERROR: the number 00******34 may not be called from this gateway\r\n",
       "the number 00******34 may not be called from this gateway"},
      {Post(Form("%2B4930123", "x")), "HTTP/1.1 200 OK", "ERROR: the number +4****23 may not be called from this gateway\r\n",
       "the number +4****23 may not be called from this gateway"},
      {Post(Form("2001", "x"), "application/x-www-form-urlencoded; charset=windows-9999"), "HTTP/1.1 200 OK",
       "ERROR: the charset windows-9999 is not known here\r\n", "the charset windows-9999 is not known here"},
      // A head larger than a connection may hold.
      {"GET /" + std::string(40000, 'a') + " HTTP/1.1\r\nHost: gw\r\n\r\n", "HTTP/1.1 414 URI Too Long", "*",
       "the request head is malformed or larger than 32 KB"},
      {"GET / HTTP/1.1\r\nHost: gw\r\nX-Junk: " + std::string(40000, 'a') + "\r\n\r\n", "HTTP/1.1 431 Request Header Fields Too Large",
       "*", "the request head is malformed or larger than 32 KB"},
  };
  for (const auto& c : cases) {
    const std::string response = Exchange(port_, c.request);
    EXPECT_EQ(StatusLine(response), c.status) << c.request.substr(0, 80);
    if (c.body != "*") EXPECT_EQ(BodyOf(response), c.body) << c.request.substr(0, 80);
    // The server goes on; nothing of the refused requests was stored (the ids count on by one).
    const long long next = &c - cases + 1;
    EXPECT_EQ(BodyOf(Exchange(port_, Post(Form("2001", "Honest")))), "[" + std::to_string(next) + "]\r\n")
        << c.request.substr(0, 80);
  }
  for (const auto& c : cases) EXPECT_NE(LogLines("reason=\"" + c.logged).find("from=127.0.0.1"), std::string::npos) << c.logged;
  // The log names the reason, never the text.
  EXPECT_EQ(gateway_->LogText().find("aaaa"), std::string::npos);
}

// A body that stops coming, or trickles in past the request's time, is cut at that time: the
// connection is closed (no answer can go out in the middle of a body), the refusal logged, and
// nothing stored.
TEST_F(NetTest, AClientTooSlowForItsBodyIsCutOff) {
  StartGateway([](talmery::Config& c) { c.requestSeconds = 1; });
  const std::string head = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nContent-Length: 100\r\n\r\n";
  const struct {
    const char* name;
    const char* from;
    int pieces;  // of 10 bytes, 300 ms apart after the head: the 10th would complete the body
  } cases[] = {{"silent after its first bytes", "127.0.0.2", 1}, {"trickled", "127.0.0.3", 20}};
  for (const auto& c : cases) {
    const int fd = ConnectTo(port_, c.from);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, head.data(), head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(head.size()));
    std::string response;
    bool closed = false;
    for (int i = 0; i < c.pieces && !closed; ++i) {
      if (send(fd, "calltime=0", 10, MSG_NOSIGNAL) != 10) break;
      closed = ReadUntilClosed(fd, 300, response);
    }
    if (!closed) closed = ReadUntilClosed(fd, 5000, response);
    close(fd);
    EXPECT_TRUE(closed) << c.name;
    EXPECT_EQ(response, "") << c.name;
    EXPECT_TRUE(gateway_->WaitForLog(
        std::string("event=refused from=") + c.from + " reason=\"the request took too long\"\n", 5000))
        << c.name << "\n" << gateway_->LogText();
  }
  EXPECT_EQ(BodyOf(Exchange(port_, Post(kGood))), "[1]\r\n");
}

TEST_F(NetTest, OnlyTheConfiguredClientsMayPost) {
  std::string error;
  talmery::AddressBlock block;
  ASSERT_TRUE(talmery::ParseAddressBlock("127.0.0.1/32", block, error));
  StartGateway([&](talmery::Config& c) {
    c.clients = {block};
    c.clientsSet = true;
  });
  EXPECT_EQ(ExchangeFrom("127.0.0.2", port_, Post(kGood)), "");  // turned away before a byte is read
  EXPECT_EQ(BodyOf(ExchangeFrom("127.0.0.1", port_, Post(kGood))), "[1]\r\n");
  EXPECT_NE(LogLines("event=refused from=127.0.0.2 reason=\"not among the clients of this gateway\"").size(), 0u);
  // The status page counts both addresses over the last 24 hours.
  const std::string page = BodyOf(Exchange(port_, "GET / HTTP/1.1\r\nHost: gw\r\n\r\n"));
  EXPECT_NE(page.find("<tr><td>127.0.0.1</td><td>1</td><td>0</td></tr>"), std::string::npos) << page;
  EXPECT_NE(page.find("<tr><td>127.0.0.2</td><td>0</td><td>1</td></tr>"), std::string::npos) << page;
}

TEST_F(NetTest, OneAddressHoldsOnlySoManyConnections) {
  StartGateway([](talmery::Config& c) { c.clientConnections = 2; });
  auto open = [this](const char* source) {
    const int fd = ConnectTo(port_, source);
    EXPECT_GE(fd, 0) << source;
    // One kept-alive request answered: the gateway has surely taken the connection in.
    const std::string get = "GET /calls/1 HTTP/1.1\r\nHost: gw\r\n\r\n";
    EXPECT_EQ(send(fd, get.data(), get.size(), MSG_NOSIGNAL), static_cast<ssize_t>(get.size()));
    char buffer[512];
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_GT(recv(fd, buffer, sizeof buffer, 0), 0);
    return fd;
  };
  const int first = open("127.0.0.4"), second = open("127.0.0.4");
  EXPECT_EQ(ExchangeFrom("127.0.0.4", port_, Post(kGood)), "");
  EXPECT_NE(LogLines("event=refused from=127.0.0.4 reason=\"more than 2 connections open at once\"").size(), 0u);
  EXPECT_EQ(BodyOf(ExchangeFrom("127.0.0.5", port_, Post(kGood))), "[1]\r\n");  // others are not held up
  close(first);
  close(second);
}

TEST_F(NetTest, LimitsOnAcceptedCalls) {
  const struct {
    std::function<void(talmery::Config&)> adjust;
    const char* from2;  // the address of the third request
    const char* refusal;
  } cases[] = {
      {[](talmery::Config& c) { c.clientRate = 2; }, "127.0.0.1",
       "ERROR: more than 2 calls a minute from 127.0.0.1: try again in a minute\r\n"},
      {[](talmery::Config& c) { c.clientRate = 2; }, "127.0.0.3", ""},  // another address has its own
      {[](talmery::Config& c) { c.dailyCalls = 2; }, "127.0.0.3",
       "ERROR: the gateway has taken its 2 calls of the last 24 hours\r\n"},
  };
  for (const auto& c : cases) {
    gateway_.reset();
    TempDir dir;
    StartGateway([&](talmery::Config& config) {
      c.adjust(config);
      config.database = dir.path() + "/calls.db";
    });
    EXPECT_EQ(BodyOf(ExchangeFrom("127.0.0.1", port_, Post(kGood))), "[1]\r\n");
    EXPECT_EQ(BodyOf(ExchangeFrom("127.0.0.1", port_, Post(kGood))), "[2]\r\n");
    const std::string third = BodyOf(ExchangeFrom(c.from2, port_, Post(kGood)));
    EXPECT_EQ(third, *c.refusal ? c.refusal : "[3]\r\n");
    const std::string reason = *c.refusal ? std::string(c.refusal + 7, std::strlen(c.refusal) - 9) : "";
    if (*c.refusal) EXPECT_NE(LogLines("reason=\"" + reason + "\"").size(), 0u) << reason;
    gateway_.reset();
  }
}

TEST_F(NetTest, TheTextIsDecodedByItsCodePage) {
  StartGateway([](talmery::Config& c) { c.agentCodePage = 1250; });
  const struct {
    const char* charset;  // empty: none given (the configured agent_code_page)
    const char* bytes;
    const char* utf8;
  } cases[] = {
      {"windows-1250", "\xA3ukasz", "\xC5\x81ukasz"},
      {"windows-1251", "\xC8\xE2\xE0\xED", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
      {"windows-1252", "\xA3 5", "\xC2\xA3 5"},
      {"", "\xA3ukasz", "\xC5\x81ukasz"},
  };
  long long id = 0;
  for (const auto& c : cases) {
    const std::string type =
        std::string("application/x-www-form-urlencoded") + (*c.charset ? std::string("; charset=") + c.charset : "");
    EXPECT_EQ(BodyOf(Exchange(port_, Post(Form("5550100", Escaped(c.bytes)), type))), "[" + std::to_string(++id) + "]\r\n");
    EXPECT_EQ(CallStatus(port_, id)["text"], c.utf8) << c.charset;
  }
}

TEST_F(NetTest, FilesArePrivateWhateverTheUmask) {
  const mode_t old = umask(022);
  StartGateway();
  EXPECT_EQ(BodyOf(Exchange(port_, Post(kGood))), "[1]\r\n");
  EXPECT_EQ(WaitForState(port_, 1, "done", 20000)["state"], "done");
  umask(old);
  const struct {
    std::string path;
    mode_t mode;
  } cases[] = {
      {dir_.path() + "/calls.db", 0600},     {dir_.path() + "/calls.db-wal", 0600},
      {dir_.path() + "/calls.db-shm", 0600}, {dir_.path() + "/speech", 0700},
      {dir_.path() + "/speaker", 0700},      {dir_.path() + "/speaker/call-1.wav", 0600},
  };
  for (const auto& c : cases) {
    struct stat st{};
    ASSERT_EQ(stat(c.path.c_str(), &st), 0) << c.path;
    EXPECT_EQ(st.st_mode & 0777, c.mode) << c.path;
  }
}

}  // namespace
}  // namespace gwtest
