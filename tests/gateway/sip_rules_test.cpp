// Where a redirect may lead, which connections to sip_port are cut, and how often one
// complaint about one address is logged.
#include <gtest/gtest.h>

#include "gateway/sip_rules.h"

namespace talmery {
namespace {

TEST(SipRules, RedirectsLeadOnlyToThePbxAndToNumbersThatMayBeCalled) {
  Config c;
  c.sip.domain = "pbx.example.com";
  c.sip.dial = "sip:0{number}@pbx.example.com";
  c.sip.outboundProxy = "sip:10.0.0.5:5070;transport=tcp;lr";
  c.numbers = {"[2-4]???", "0[2-8]*"};
  const std::vector<std::string> resolved = {"192.0.2.7"};
  const struct {
    const char* target;
    RedirectVerdict::Kind kind;
    const char* number;  // the number dialled, or the user part refused
    const char* host;
  } cases[] = {
      {"sip:02001@pbx.example.com", RedirectVerdict::Follow, "2001", "pbx.example.com"},
      {"<sip:02002@PBX.Example.COM:5060;transport=udp>", RedirectVerdict::Follow, "2002", "pbx.example.com"},
      {"sips:00301234@192.0.2.7", RedirectVerdict::Follow, "0301234", "192.0.2.7"},
      {"sip:03999@10.0.0.5", RedirectVerdict::Follow, "3999", "10.0.0.5"},
      {"sip:00900666777@pbx.example.com", RedirectVerdict::RefusedNumber, "00900666777", "pbx.example.com"},
      {"sip:2001@pbx.example.com", RedirectVerdict::RefusedNumber, "2001", "pbx.example.com"},  // no outside-line 0
      {"sip:0admin@pbx.example.com", RedirectVerdict::RefusedNumber, "0admin", "pbx.example.com"},
      {"sip:02001@evil.example.com", RedirectVerdict::OtherHost, "", "evil.example.com"},
      {"sip:02001@[2001:db8::1]:5060", RedirectVerdict::OtherHost, "", "2001:db8::1"},
      {"tel:+4930123", RedirectVerdict::OtherHost, "", "tel:+4930123"},
      {"", RedirectVerdict::OtherHost, "", ""},
  };
  for (const auto& t : cases) {
    const RedirectVerdict v = CheckRedirect(c, resolved, t.target);
    EXPECT_EQ(v.kind, t.kind) << t.target;
    EXPECT_EQ(v.number, t.number) << t.target;
    EXPECT_EQ(v.host, t.host) << t.target;
  }
  EXPECT_EQ(PbxHosts(c), (std::vector<std::string>{"pbx.example.com", "10.0.0.5"}));
}

TEST(SipRules, ConnectionsBeyondAnAddressShareOrIdleTooLongAreCut) {
  const std::vector<InboundConnection> connections = {
      {10, "192.0.2.9", 100},   {11, "192.0.2.9", 50},  {12, "192.0.2.9", 70000}, {13, "192.0.2.9", 10},
      {14, "192.0.2.1", 49000}, {15, "192.0.2.9", 20},  {16, "192.0.2.1", 60000},
  };
  const std::vector<ConnectionCut> cuts = ConnectionsToCut(connections, 2, 50000);
  std::vector<std::string> seen;
  for (const ConnectionCut& c : cuts) seen.push_back(std::to_string(c.fd) + (c.idle ? " idle" : " over"));
  // 192.0.2.9 keeps its two most recently active (13, 15); 11 and 10 are over its share.
  EXPECT_EQ(seen, (std::vector<std::string>{"11 over", "10 over", "16 idle", "12 idle"}));
}

}  // namespace
}  // namespace talmery
