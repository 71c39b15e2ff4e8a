#include "tools/gateway/request_parser.h"

#include <gtest/gtest.h>

namespace {

using Status = gateway::RequestParser::Status;

const std::string kRequest =
    "POST /ocall/callreqHandler.jsp HTTP/1.1\r\n"
    "Accept: */*\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "content-length:   11  \r\n"
    "X-Empty:\r\n"
    "\r\n"
    "phoneno=123";

TEST(GatewayRequestParser, ParsesWhateverTheSegmentation) {
  for (size_t chunk : {kRequest.size(), size_t{1}, size_t{7}, kRequest.size() - 11, kRequest.size() - 1}) {
    gateway::RequestParser p;
    Status s = Status::NeedMore;
    for (size_t i = 0; i < kRequest.size(); i += chunk) {
      ASSERT_EQ(s, Status::NeedMore) << "complete too early, chunk " << chunk;
      s = p.Feed(kRequest.data() + i, std::min(chunk, kRequest.size() - i));
    }
    ASSERT_EQ(s, Status::Complete) << chunk;
    const gateway::RecordedRequest& r = p.request();
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/ocall/callreqHandler.jsp");
    EXPECT_EQ(r.version, "HTTP/1.1");
    const std::vector<std::pair<std::string, std::string>> headers = {
        {"Accept", "*/*"},
        {"Content-Type", "application/x-www-form-urlencoded"},
        {"content-length", "11"},
        {"X-Empty", ""}};
    EXPECT_EQ(r.headers, headers);
    EXPECT_EQ(r.body, "phoneno=123");
    EXPECT_EQ(r.raw, kRequest);
    EXPECT_EQ(r.Header("CONTENT-LENGTH"), "11");
    EXPECT_TRUE(r.HasHeader("x-empty"));
    EXPECT_FALSE(r.HasHeader("Host"));
    EXPECT_EQ(r.Header("Host"), "");
  }
}

TEST(GatewayRequestParser, BytesAfterTheBodyAreNotPartOfTheRequest) {
  gateway::RequestParser p;
  std::string extra = kRequest + "GET / HTTP/1.1\r\n\r\n";
  ASSERT_EQ(p.Feed(extra.data(), extra.size()), Status::Complete);
  EXPECT_EQ(p.request().raw, kRequest);
  EXPECT_EQ(p.Feed("more", 4), Status::Complete);
  EXPECT_EQ(p.request().body, "phoneno=123");
}

TEST(GatewayRequestParser, NoContentLengthMeansNoBodyAndBareLfIsTolerated) {
  const std::string cases[] = {"GET /x HTTP/1.0\r\n\r\n", "GET /x HTTP/1.0\n\n", "GET /x HTTP/1.0\r\nA: b\n\n"};
  for (const std::string& c : cases) {
    gateway::RequestParser p;
    ASSERT_EQ(p.Feed(c.data(), c.size()), Status::Complete) << c;
    EXPECT_EQ(p.request().method, "GET");
    EXPECT_EQ(p.request().target, "/x");
    EXPECT_EQ(p.request().body, "");
  }
}

TEST(GatewayRequestParser, RefusesMalformedRequests) {
  const std::pair<std::string, std::string> cases[] = {
      {"GARBAGE\r\n\r\n", "malformed request line"},
      {"GET  HTTP/1.1\r\n\r\n", "malformed request line"},
      {"GET / FTP/1.1\r\n\r\n", "malformed request line"},
      {"POST / HTTP/1.1\r\nNoColon\r\n\r\n", "malformed header line"},
      {"POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", "bad Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "bad Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: \r\n\r\n", "bad Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999999999\r\n\r\n", "bad Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", "conflicting Content-Length"},
      {"POST / HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n", "body too large"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "chunked request bodies are not supported"},
  };
  for (const auto& c : cases) {
    gateway::RequestParser p;
    EXPECT_EQ(p.Feed(c.first.data(), c.first.size()), Status::Bad) << c.first;
    EXPECT_EQ(p.error(), c.second) << c.first;
  }
}

TEST(GatewayRequestParser, RefusesAnEndlessHead) {
  gateway::RequestParser p;
  std::string line = "X-Filler: " + std::string(1000, 'x') + "\r\n";
  std::string head = "POST / HTTP/1.1\r\n";
  Status s = p.Feed(head.data(), head.size());
  for (int i = 0; i < 100 && s == Status::NeedMore; ++i) s = p.Feed(line.data(), line.size());
  EXPECT_EQ(s, Status::Bad);
  EXPECT_EQ(p.error(), "request head too large");
}

}  // namespace
