// PostToGateway over HTTPS against the real call server (started by https_gateway.sh): the
// certificate is checked with the system's trust (the test authority trusted in this prefix's
// machine store for the run) before anything is sent, and each refusal says why.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "agent/calls/call_text.h"
#include "agent/calls/gateway_client.h"
#include "agent/calls/tls_channel.h"
#include "tests/harness/trusted_authority.h"

namespace {

const char kBody[] = "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Meeting+at+ten";

uint16_t PortOf(const char* gateway) {
  const char* port = std::getenv((std::string("BRISOMEL_HTTPS_PORT_") + gateway).c_str());
  return static_cast<uint16_t>(port ? std::atoi(port) : 0);
}

struct Posted {
  bool accepted = false;
  std::string requestId;
  std::string text;
  std::string callToken;
};

Posted Post(const std::string& host, const char* gateway) {
  const GatewayAnswer answer = PostToGateway({host, PortOf(gateway)}, kCallRequestPath, kBody, 65001);
  return Posted{answer.outcome.Ok(), answer.requestId, answer.outcome.Message(), answer.callToken};
}

// Trusted before the first certificate is checked: the system reads its trusted roots once a
// process, so an authority added later would not count in this one.
class TrustForTheRun : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* ca = std::getenv("BRISOMEL_TEST_CA");
    ASSERT_NE(ca, nullptr);
    ASSERT_TRUE(authority_.Add(ca));
  }
  void TearDown() override { authority_.Remove(); }

 private:
  harness::TrustedAuthority authority_;
};
::testing::Environment* const trust = ::testing::AddGlobalTestEnvironment(new TrustForTheRun);

struct Case {
  const char* name;
  std::string host;
  const char* gateway;
  bool accepted;
  std::string text;  // when refused
};

TEST(HttpsGateway, PostsOnlyToAGatewayWithACertificateForItsName) {
  const Case cases[] = {
      {"trusted, for the name", "https://localhost", "VALID", true, ""},
      {"trusted, for the name, written with a slash", "HTTPS://localhost/", "VALID", true, ""},
      {"for another name", "https://localhost", "OTHERNAME", false,
       "The Talmery Gateway's certificate is for another name than localhost."},
      {"expired", "https://localhost", "EXPIRED", false, "The Talmery Gateway's certificate has expired."},
      {"self-signed", "https://localhost", "SELFSIGNED", false,
       "The Talmery Gateway's certificate is not trusted: it is self-signed."},
      {"of an authority not trusted here", "https://localhost", "UNKNOWNCA", false,
       "The Talmery Gateway's certificate is not trusted: its issuing authority is unknown."},
      {"plain HTTP on the port", "https://localhost", "PLAIN", false, kGatewayTlsFailedText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(PortOf(c.gateway), 0);
    const Posted o = Post(c.host, c.gateway);
    EXPECT_EQ(o.accepted, c.accepted) << o.text;
    if (c.accepted) {
      EXPECT_FALSE(o.requestId.empty());
    } else {
      EXPECT_EQ(o.text, c.text);
    }
  }
}

// Following a call reads its state over the same HTTPS, with the name the certificate is for.
TEST(HttpsGateway, ReadsAnAcceptedCallBackOverHttps) {
  const Posted o = Post("https://localhost", "VALID");
  ASSERT_TRUE(o.accepted) << o.text;
  ASSERT_FALSE(o.callToken.empty());
  const GatewayExchange x =
      ExchangeWithGateway({"https://localhost", PortOf("VALID")},
                          ComposeCallStatusRequest(ParseGatewayHost("https://localhost").name, PortOf("VALID"),
                                                   o.requestId, o.callToken),
                          64 * 1024);
  EXPECT_EQ(x.failure, "");
  EXPECT_EQ(x.status, 200);
  EXPECT_NE(x.body.find("\"id\": " + o.requestId + ","), std::string::npos) << x.body;
}

// An agent still set to plain HTTP while the gateway serves HTTPS alone gets a failure, not a
// call and not a hang.
TEST(HttpsGateway, PlainRequestToAnHttpsGatewayFails) {
  const Posted o = Post("localhost", "VALID");
  EXPECT_FALSE(o.accepted);
  // The gateway drops a connection that speaks no TLS: closed (FIN) or, when our request is still
  // unread in its buffer, reset (RST); which one is the system's timing.
  const std::string closed = DescribeAnswerFailure(HttpAnswerReader::Failure::NoAnswer);
  EXPECT_TRUE(o.text == closed || o.text == kGatewayBrokenText) << o.text;
}

}  // namespace
