// The agent's request at its edges, with the real call server: a gateway name whose first address
// swallows the connection, texts the gateway refuses as they come from Outlook (too long, with a
// NUL), texts beyond the ANSI code page, and a number written the international way. Run by
// gateway_edges.sh, which starts talmery-gateway on 127.0.0.2 at BRISOMEL_EDGE_PORT, addresses
// that swallow every connection on [::1] and 127.0.0.1 at that port, and runs this test in a mount
// namespace of its own whose /etc/hosts gives the names below.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "tests/harness/message_box_watcher.h"
#include "tests/system/fault_run.h"
#include "tests/system/log_follower.h"
#include "tests/system/system_rig.h"
#include "tools/gateway/raw_client.h"

namespace systemtest {
namespace {

constexpr uint32_t kGatewayAddress = 0x7F000002;  // 127.0.0.2
constexpr char kGatewayName[] = "gateway.brisomel.test";  // 127.0.0.2 only

uint16_t EdgePort() {
  const char* port = std::getenv("BRISOMEL_EDGE_PORT");
  return port ? static_cast<uint16_t>(std::atoi(port)) : 0;
}

// GET /calls/<id> of the real gateway: the call as JSON, empty when there is none.
std::string CallJson(int id) {
  const gateway::RawClient::Received r = gateway::Exchange(
      EdgePort(), "GET /calls/" + std::to_string(id) + " HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n", 5000,
      kGatewayAddress);
  if (r.bytes.rfind("HTTP/1.1 200", 0) != 0) return std::string();
  const size_t body = r.bytes.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : r.bytes.substr(body + 4);
}

// The id the gateway gives the next call: the calls are this program's only.
int NextCallId() {
  int id = 1;
  while (!CallJson(id).empty()) ++id;
  return id;
}

// A string field of the call's JSON ("<none>" when absent or null); of the escapes only those
// of the texts here, line feeds, are undone.
std::string Field(const std::string& json, const std::string& name) {
  size_t at = json.find("\"" + name + "\": \"");
  if (at == std::string::npos) return "<none>";
  std::string value;
  for (at += name.size() + 5; at < json.size() && json[at] != '"'; ++at) {
    value += json[at] == '\\' && at + 1 < json.size() && json[at + 1] == 'n' ? (++at, '\n') : json[at];
  }
  return value;
}

// Waits until the gateway holds call `id`; its JSON, or empty after a minute.
std::string WaitForCall(int id) {
  std::string json;
  PumpWhile([&] { return !(json = CallJson(id)).empty(); }, 60000, 10);
  return json;
}

const std::string kHead =
    "Hi, this is Ann Lee's appointment reminder call program.\n"
    "You have an appointment coming up in 15 minutes.\n";

// Outlook with the items and one gate per item before its reminder fires ("fire <i>" after the
// i-th gate), and the agent connected to it.
class Edges : public ::testing::Test {
 protected:
  void StartWith(const std::string& items, size_t reminders) {
    ASSERT_NE(EdgePort(), 0) << "run by tests/system/gateway_edges.sh";
    ASSERT_TRUE(rig_.Ok());
    rig_.WritePort(EdgePort());
    rig_.WriteSetting("host", REG_SZ, harness::SzBytes(kGatewayName));
    std::string script = "version \"16.0.0.1\"\n" + items + "wait-advise 60s 1\n";
    for (size_t i = 0; i < reminders; ++i) {
      script += "wait-advise 120s " + std::to_string(i + 2) + "\nfire r" + std::to_string(i) + "\n";
    }
    ASSERT_TRUE(rig_.StartOutlook(script));
    ASSERT_TRUE(rig_.StartAgent());
  }

  // Lets reminder i fire; the moment (NowMs) it fired.
  double Fire() {
    QuietSink* sink = nullptr;
    EXPECT_TRUE(rig_.OpenGate(&sink)) << rig_.GateError();
    EXPECT_TRUE(sink && PumpWhile([&] { return !sink->EventTimes().empty(); }, 30000, 5));
    return sink && !sink->EventTimes().empty() ? sink->EventTimes()[0] : NowMs();
  }

  SystemRig rig_;
  harness::MessageBoxWatcher boxes_{kAgentCaption};
};

// An address that takes no connection costs its own limit (about 3 s), not the whole 30 s
// deadline; the request goes out on the next address only, once. The first row, a name with the
// live address alone, is what the figures of the others compare with.
TEST_F(Edges, EveryAddressOfTheHostGetsItsTurn) {
  const struct {
    const char* name;
    const char* host;  // its addresses in the resolver's order
  } rows[] = {
      {"the live address alone", "gateway.brisomel.test"},
      {"IPv6 first (::1 swallows, 127.0.0.2 answers)", "v6-first.brisomel.test"},
      {"IPv4 first (127.0.0.1 swallows, 127.0.0.2 answers)", "v4-first.brisomel.test"},
  };
  std::string items;
  for (size_t i = 0; i < std::size(rows); ++i) items += ReminderItem("r" + std::to_string(i), "s", "555-010" + std::to_string(i));
  StartWith(items, std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    rig_.WriteSetting("host", REG_SZ, harness::SzBytes(rows[i].host));
    const int id = NextCallId();
    const double fired = Fire();
    const std::string json = WaitForCall(id);
    const double arrived = NowMs();
    ASSERT_FALSE(json.empty()) << "the request did not reach the live address";
    std::printf("[ figure ] %s: the request reached the gateway %.0f ms after the reminder\n", rows[i].name,
                arrived - fired);
    EXPECT_EQ(Field(json, "number"), "55***0" + std::to_string(i));
    EXPECT_EQ(boxes_.Count(), 0u) << (boxes_.Count() ? boxes_.Seen()[0].text : "");
    EXPECT_TRUE(CallJson(id + 1).empty()) << "the call was requested twice";
  }
  ExpectEventsSucceeded(rig_.OutlookLog(), std::size(rows));
}

// When no address takes the connection the user learns that nothing was sent, not that the
// gateway "did not answer" (which leaves open whether the call is placed).
TEST_F(Edges, NoAddressTakingTheConnectionIsToldAsSuch) {
  StartWith(ReminderItem("r0", "unreachable", "555-0100"), 1);
  rig_.WriteSetting("host", REG_SZ, harness::SzBytes("nowhere.brisomel.test"));  // both addresses swallow
  const int id = NextCallId();
  Fire();
  ASSERT_TRUE(boxes_.WaitForCount(1, 60000));
  EXPECT_EQ(boxes_.Seen()[0].text, "Error making reminder call\r\nThe attempt to connect to the Talmery Gateway failed.");
  EXPECT_TRUE(CallJson(id).empty());
}

// What Outlook holds is said, whatever its length, its NULs or its characters: the gateway takes
// the text (no "ERROR: ...") and speaks what the user wrote.
TEST_F(Edges, TextsReachTheGatewayWhole) {
  const struct {
    const char* name;
    std::string fields;  // of the item, in the simulator's script language
    std::string text;    // what the gateway stores: the expected text, or its beginning when
    bool shortened;      // the notes were shortened
  } rows[] = {
      {"a NUL in the subject", "subject \"Budget\\u{0} review\"",
       kHead + "The appointment subject is: Budget review\n", false},
      {"Polish, Chinese, an emoji", "subject \"Spotkanie z \\u{141}ukaszem \\u{4e2d}\\u{6587} \\u{1f600}\"",
       kHead + "The appointment subject is: Spotkanie z \xC5\x81ukaszem \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80\n",
       false},
      {"70,000 bytes of notes", "subject \"S\" body \"word \"*14000",
       kHead + "The appointment subject is: S\n. The appointment notes is: word word", true},
      {"80,000 bytes of notes beyond the code page", "subject \"S\" body \"\\u{142}\\u{f3}d\\u{17a} \"*10000",
       kHead + "The appointment subject is: S\n. The appointment notes is: \xC5\x82\xC3\xB3" "d\xC5\xBA", true},
  };
  std::string items;
  for (size_t i = 0; i < std::size(rows); ++i) {
    const std::string name = "r" + std::to_string(i);
    items += ReminderItem(name, "", "555-0100") + "item " + name + " " + rows[i].fields + "\n";
  }
  StartWith(items, std::size(rows));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const int id = NextCallId();
    Fire();
    const std::string json = WaitForCall(id);
    ASSERT_FALSE(json.empty()) << "the gateway did not take the request";
    const std::string text = Field(json, "text");
    if (!row.shortened) {
      EXPECT_EQ(text, row.text);
      continue;
    }
    const std::string told = "\nThe notes were shortened.\n";
    EXPECT_EQ(text.substr(0, row.text.size()), row.text);
    ASSERT_GT(text.size(), told.size());
    EXPECT_EQ(text.substr(text.size() - told.size()), told);
    EXPECT_LE(text.size(), 65536u);
    EXPECT_GT(text.size(), 60000u);
  }
  EXPECT_EQ(boxes_.Count(), 0u) << (boxes_.Count() ? boxes_.Seen()[0].text : "");
}

// The gateway only allows +44 numbers and extensions (numbers = +44*, 555*): the call to
// "+44 20 7946 0018" goes through only as the international number it is.
TEST_F(Edges, AnInternationalNumberKeepsItsPlus) {
  StartWith(ReminderItem("r0", "abroad", "+44 20 7946 0018"), 1);
  const int id = NextCallId();
  Fire();
  const std::string json = WaitForCall(id);
  ASSERT_FALSE(json.empty()) << "the gateway did not take the request";
  EXPECT_EQ(Field(json, "number"), "+4*********18");
  EXPECT_EQ(boxes_.Count(), 0u) << (boxes_.Count() ? boxes_.Seen()[0].text : "");
}

}  // namespace
}  // namespace systemtest
