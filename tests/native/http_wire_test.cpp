#include "agent/calls/http_wire.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Reader = HttpAnswerReader;
using State = Reader::State;
using Failure = Reader::Failure;

TEST(ComposeGatewayRequest, TheHeaderSetTheGatewayHasAlwaysReceived) {
  EXPECT_EQ(ComposeGatewayRequest("127.0.0.1", 8155, "/ocall/callreqHandler.jsp", "a=1&b=2", 1250),
            "POST /ocall/callreqHandler.jsp HTTP/1.1\r\n"
            "Content-Type: application/x-www-form-urlencoded; charset=windows-1250\r\n"
            "Host: 127.0.0.1:8155\r\n"
            "Content-Length: 7\r\n"
            "User-Agent: Brisomel\r\n"
            "\r\n"
            "a=1&b=2");
  // The default port is left out of Host; an IPv6 address is bracketed.
  const std::string onDefault = ComposeGatewayRequest("gateway", 80, "/p", "", 1252);
  EXPECT_NE(onDefault.find("\r\nHost: gateway\r\n"), std::string::npos) << onDefault;
  EXPECT_NE(onDefault.find("\r\nContent-Length: 0\r\n"), std::string::npos) << onDefault;
  EXPECT_NE(ComposeGatewayRequest("::1", 81, "/p", "", 1252).find("\r\nHost: [::1]:81\r\n"), std::string::npos);
}

TEST(ComposeGatewayRequest, TheCharsetNamesTheCodePage) {
  const struct {
    unsigned codePage;
    const char* contentType;
  } cases[] = {
      {1251, "Content-Type: application/x-www-form-urlencoded; charset=windows-1251\r\n"},
      {874, "Content-Type: application/x-www-form-urlencoded; charset=windows-874\r\n"},
      {65001, "Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"},
      {0, "Content-Type: application/x-www-form-urlencoded\r\n"},
  };
  for (const auto& c : cases) {
    const std::string request = ComposeGatewayRequest("gw", 8155, "/p", "txt=%A3", c.codePage);
    EXPECT_NE(request.find(c.contentType), std::string::npos) << request;
    EXPECT_EQ(request.substr(request.size() - 7), "txt=%A3");  // the body as it is
  }
}

TEST(IsUsableHostName, RefusesWhatCouldBreakTheRequestHead) {
  for (const char* good : {"localhost", "127.0.0.1", "gw.example.org", "::1"}) EXPECT_TRUE(IsUsableHostName(good)) << good;
  for (const std::string& bad : {std::string(), std::string(" "), std::string("a b"), std::string("gw\r\nX: 1"),
                                std::string("gw\t"), std::string("a\0b", 3), std::string("\x7f")}) {
    EXPECT_FALSE(IsUsableHostName(bad)) << bad;
  }
}

struct Case {
  const char* name;
  std::string bytes;
  bool endOfStream;  // the peer closes after the bytes
  State state;
  Failure failure;
  int status;
  std::string body;
};

// One answer, fed at once and byte by byte: both must end alike.
void Check(const Case& c) {
  for (const bool piecewise : {false, true}) {
    SCOPED_TRACE(std::string(c.name) + (piecewise ? " (byte by byte)" : ""));
    Reader reader;
    if (piecewise) {
      for (char byte : c.bytes) reader.Feed(&byte, 1);
    } else {
      reader.Feed(c.bytes.data(), c.bytes.size());
    }
    if (c.endOfStream) reader.EndOfStream();
    EXPECT_EQ(reader.state(), c.state);
    EXPECT_EQ(reader.failure(), c.failure);
    EXPECT_EQ(reader.status(), c.status);
    EXPECT_EQ(reader.body(), c.body);
  }
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";

TEST(HttpAnswerReader, FramesTheBodyAsTheHeadSays) {
  const std::string chunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
  const Case cases[] = {
      {"length", kOk + "Content-Length: 4\r\n\r\n[42]", false, State::Done, Failure::None, 200, "[42]"},
      {"bytes past the length", kOk + "Content-Length: 2\r\n\r\n[42]", false, State::Done, Failure::None, 200, "[4"},
      {"length 0", kOk + "Content-Length: 0\r\n\r\n", false, State::Done, Failure::None, 200, ""},
      {"no length: to the close", "HTTP/1.0 201 Created\r\n\r\n[42]", true, State::Done, Failure::None, 201, "[42]"},
      {"no length, still open", "HTTP/1.0 200 OK\r\n\r\n[42]", false, State::NeedMore, Failure::None, 200, "[42]"},
      {"cut short", kOk + "Content-Length: 10\r\n\r\n[42]", true, State::Done, Failure::None, 200, "[42]"},
      {"chunks", chunked + "2\r\n[4\r\n2;name=value\r\n2]\r\n0\r\n\r\n", false, State::Done, Failure::None, 200, "[42]"},
      {"last chunk, no trailers yet", chunked + "4\r\n[42]\r\n0\r\n", false, State::Done, Failure::None, 200, "[42]"},
      {"chunked wins over a length", kOk + "Content-Length: 1\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n4\r\n[42]\r\n0\r\n",
       false, State::Done, Failure::None, 200, "[42]"},
      {"other coding: to the close", kOk + "Transfer-Encoding: gzip\r\nContent-Length: 1\r\n\r\n[42]", true, State::Done,
       Failure::None, 200, "[42]"},
      {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 4\n\n[42]", false, State::Done, Failure::None, 200, "[42]"},
      {"interim answers skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: y\r\n\r\n" + kOk + "Content-Length: 4\r\n\r\n[42]", false,
       State::Done, Failure::None, 200, "[42]"},
      {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 4\r\n\r\n[42]", false, State::Done, Failure::None, 200, "[42]"},
      {"204 has no body", "HTTP/1.1 204 No Content\r\n\r\n", false, State::Done, Failure::None, 204, ""},
      {"redirect: body not read", "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 4\r\n\r\n[42]", false,
       State::Done, Failure::None, 302, ""},
      {"error status: body not read", "HTTP/1.1 500 Oops\r\n\r\n[42]", false, State::Done, Failure::None, 500, ""},
  };
  for (const Case& c : cases) Check(c);
}

TEST(HttpAnswerReader, EndlessBodiesStopAfterTheFirst1024Bytes) {
  std::string endlessChunks = kOk + "Transfer-Encoding: chunked\r\n\r\n4\r\n[42]\r\n";
  for (int i = 0; i < 100; ++i) endlessChunks += "400\r\n" + std::string(0x400, 'x') + "\r\n";
  const std::string first1024 = "[42]" + std::string(1020, 'x');
  const Case cases[] = {
      {"endless chunks", endlessChunks, false, State::Done, Failure::None, 200, first1024},
      {"huge length", kOk + "Content-Length: 999999999999\r\n\r\n" + first1024 + "yyy", false, State::Done, Failure::None,
       200, first1024},
      {"no length", kOk + "\r\n" + first1024 + "yyy", false, State::Done, Failure::None, 200, first1024},
  };
  for (const Case& c : cases) Check(c);
}

// The token an accepted call is answered with: taken from the final answer only, and only when
// it is one (32 hex digits); a reader for a call's JSON keeps the bytes it is made for.
TEST(HttpAnswerReader, TakesTheCallTokenOfTheFinalAnswer) {
  const std::string token = "0123456789abcdefABCDEF0123456789";
  const struct {
    const char* name;
    std::string head;
    std::string expected;
  } cases[] = {
      {"as the gateway sends it", "Talmery-Call-Token: " + token + "\r\n", token},
      {"any case, blanks around", "talmery-call-token:   " + token + " \r\n", token},
      {"none", "X-Other: " + token + "\r\n", ""},
      {"too short", "Talmery-Call-Token: " + token.substr(1) + "\r\n", ""},
      {"not hex", "Talmery-Call-Token: " + token.substr(1) + "g\r\n", ""},
      {"empty", "Talmery-Call-Token:\r\n", ""},
  };
  for (const auto& c : cases) {
    Reader reader;
    const std::string answer = kOk + c.head + "Content-Length: 4\r\n\r\n[42]";
    EXPECT_EQ(reader.Feed(answer.data(), answer.size()), State::Done) << c.name;
    EXPECT_EQ(reader.callToken(), c.expected) << c.name;
  }
  Reader interim;
  const std::string withInterim = "HTTP/1.1 100 Continue\r\nTalmery-Call-Token: " + token + "\r\n\r\n" + kOk +
                                  "Content-Length: 4\r\n\r\n[42]";
  interim.Feed(withInterim.data(), withInterim.size());
  EXPECT_EQ(interim.callToken(), "") << "an interim answer's header is not the answer's";

  Reader large(4096);
  const std::string json = kOk + "Content-Length: 3000\r\n\r\n" + std::string(3000, 'j');
  EXPECT_EQ(large.Feed(json.data(), json.size()), State::Done);
  EXPECT_EQ(large.body().size(), 3000u);
}

TEST(ComposeCallStatusRequest, AsksForOneCallWithItsToken) {
  const std::string token = "00112233445566778899aabbccddeeff";
  EXPECT_EQ(ComposeCallStatusRequest("gw.example", 8155, "12", token),
            "GET /calls/12 HTTP/1.1\r\nHost: gw.example:8155\r\nTalmery-Call-Token: " + token +
                "\r\nUser-Agent: Brisomel\r\nConnection: close\r\n\r\n");
  EXPECT_NE(ComposeCallStatusRequest("::1", 80, "7", token).find("\r\nHost: [::1]\r\n"), std::string::npos);
  for (const auto& [id, tok] : std::initializer_list<std::pair<std::string, std::string>>{
           {"", token}, {"12a", token}, {"1 2", token}, {std::string(19, '1'), token}, {"12", token.substr(1)},
           {"12", token + "\r\nX: y"}, {"12", ""}})
    EXPECT_EQ(ComposeCallStatusRequest("gw", 8155, id, tok), "") << id << " " << tok;
  EXPECT_EQ(ComposeCallStatusRequest("g w", 8155, "12", token), "");
}

TEST(HttpAnswerReader, FailsOnWhatIsNoAnswer) {
  const std::string hugeHead = kOk + "X-Filler: " + std::string(Reader::kMaxHeadBytes, 'h') + "\r\n\r\n[42]";
  std::string interimFlood;
  while (interimFlood.size() <= Reader::kMaxHeadBytes) interimFlood += "HTTP/1.1 100 Continue\r\n\r\n";
  const Case cases[] = {
      {"closed without a byte", "", true, State::Failed, Failure::NoAnswer, 0, ""},
      {"closed amid the head", kOk + "Content-", true, State::Failed, Failure::NoAnswer, 0, ""},
      {"not HTTP, known at once", "<html>", false, State::Failed, Failure::NotHttp, 0, ""},
      {"no status code", "HTTP/1.1 OK\r\n\r\n", false, State::Failed, Failure::NotHttp, 0, ""},
      {"status code of 4 digits", "HTTP/1.1 2000 OK\r\n\r\n", false, State::Failed, Failure::NotHttp, 0, ""},
      {"no version", "HTTP/ 200 OK\r\n\r\n", false, State::Failed, Failure::NotHttp, 0, ""},
      {"huge head", hugeHead, false, State::Failed, Failure::HeadTooLarge, 0, ""},
      {"endless interim answers", interimFlood, false, State::Failed, Failure::HeadTooLarge, 0, ""},
      {"length no number", kOk + "Content-Length: 4x\r\n\r\n[42]", false, State::Failed, Failure::BadLength, 200, ""},
      {"lengths differ", kOk + "Content-Length: 4\r\nContent-Length: 5\r\n\r\n[42]", false, State::Failed,
       Failure::BadLength, 200, ""},
      {"chunk size no number", kOk + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", false, State::Failed, Failure::BadChunk,
       200, ""},
      {"chunk size line too long", kOk + "Transfer-Encoding: chunked\r\n\r\n4;" + std::string(300, 'e'), false,
       State::Failed, Failure::BadChunk, 200, ""},
      {"data past the chunk size", kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\n[42]\r\n", false, State::Failed,
       Failure::BadChunk, 200, "[4"},
  };
  for (const Case& c : cases) Check(c);
}

TEST(HttpAnswerReader, KeepsNoMoreThanItsCapsWhateverArrives) {
  // 300 MB of header lines in 64 KB pieces: the reader gives up at its cap, holding little.
  const std::string piece = "X-Filler: " + std::string(65536 - 12, 'h') + "\r\n";
  Reader reader;
  reader.Feed(kOk.data(), kOk.size());
  size_t fed = 0;
  while (reader.state() == State::NeedMore && fed < 300u * 1024 * 1024) {
    reader.Feed(piece.data(), piece.size());
    fed += piece.size();
  }
  EXPECT_EQ(reader.failure(), Failure::HeadTooLarge);
  EXPECT_LE(fed, 2 * Reader::kMaxHeadBytes);
}

TEST(DescribeAnswerFailure, OneLinePerFailure) {
  for (const Failure failure :
       {Failure::NoAnswer, Failure::NotHttp, Failure::HeadTooLarge, Failure::BadLength, Failure::BadChunk}) {
    const std::string text = DescribeAnswerFailure(failure);
    EXPECT_EQ(text.rfind("The Talmery Gateway", 0), 0u) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
  }
  EXPECT_STREQ(DescribeAnswerFailure(Failure::None), "");
}

}  // namespace

namespace {

TEST(ParseGatewayHost, PlainHostsStayAsWrittenAndHttpsNamesAreTakenApart) {
  const char* const bad = "The Talmery Gateway's host name is empty or not a valid name.";
  const struct {
    const char* written;
    bool https;
    const char* name;
    const char* problem;  // nullptr: usable
  } cases[] = {
      {"gateway.example.org", false, "gateway.example.org", nullptr},
      {"127.0.0.1", false, "127.0.0.1", nullptr},
      {"::1", false, "::1", nullptr},
      // A plain host is taken exactly as it always was, odd parts and all.
      {"gw:8155", false, "gw:8155", nullptr},
      {"http://gw", false, "http://gw", nullptr},
      {"", false, "", bad},
      {"gate way", false, "gate way", bad},
      {"https://gateway.example.org", true, "gateway.example.org", nullptr},
      {"HTTPS://Gateway.Example.org/", true, "Gateway.Example.org", nullptr},
      {"https://192.0.2.10", true, "192.0.2.10", nullptr},
      {"https://[2001:db8::1]", true, "2001:db8::1", nullptr},
      {"https://2001:db8::1", true, "2001:db8::1", nullptr},
      {"https://gw:8443", true, "gw:8443", kGatewayHostPortText},
      {"https://[::1]:8443", true, "[::1]:8443", kGatewayHostPortText},
      {"https://gw/calls", true, "gw/calls", kGatewayHostPathText},
      {"https://user@gw", true, "user@gw", kGatewayHostPathText},
      {"https://", true, "", bad},
      {"https:///", true, "", bad},
      {"https://gw two", true, "gw two", bad},
      {"https://[gw]", true, "gw", bad},
      {"https://[::1", true, "[::1", bad},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    const GatewayHost host = ParseGatewayHost(c.written);
    EXPECT_EQ(host.https, c.https);
    if (!c.problem) EXPECT_EQ(host.name, c.name);
    EXPECT_STREQ(host.problem, c.problem);
  }
}

}  // namespace
