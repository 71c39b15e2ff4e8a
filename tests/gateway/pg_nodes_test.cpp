// Two talmery-gateway programs on one PostgreSQL database, calling the loopback phone: requests
// posted to both go into one queue; one node is killed (SIGKILL) while a call of its own is
// answered. The other closes that call once the killed node's lease (2 s here) has run out,
// places the rest, and the killed node, started again, closes nothing of the other's. Every
// acknowledged id ends done, each phone rang once per call, and a number posted to both nodes
// was never called by both at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>

#include "tests/gateway/pg_test_db.h"
#include "tests/gateway/test_support.h"
#include "tools/phone/loopback_phone.h"

namespace gwtest {
namespace {

struct Node {
  std::string name, config;
  int port;
};

// The first of calls 1..`count` in `state` placed by `node`, or 0.
long long FindCall(int port, int count, const std::string& state, const std::string& node) {
  for (long long id = 1; id <= count; ++id) {
    const nlohmann::json c = CallStatus(port, id);
    if (c.is_object() && c["state"] == state && c["node"] == node) return id;
  }
  return 0;
}

template <typename F>
bool Eventually(F done, int timeoutMs) {
  for (int waited = 0; !done(); waited += 50) {
    if (waited >= timeoutMs) return false;
    usleep(50000);
  }
  return true;
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

TEST(PgGateways, ANodeKilledDuringACallLosesNothingAndRingsNothingTwice) {
  PgTestDatabase db;
  if (!db.Usable()) GTEST_SKIP() << db.Skip();
  TempDir dir;
  const int base = phone::FreePortBlock(500, 1);
  ASSERT_NE(base, 0);
  const std::vector<std::string> numbers = {"5551001", "5551002", "5551003", "5551002"};
  phone::LoopbackPhone phone(dir.path() + "/phone", {base, base + 2, base + 100},
                             {{"5551001", phone::Behaviour::Answer, 0},
                              {"5551002", phone::Behaviour::Answer, 0},
                              {"5551003", phone::Behaviour::Answer, 0}});
  std::string error;
  ASSERT_TRUE(phone.Start(error)) << error;
  std::vector<Node> nodes = {{"gw-a", dir.path() + "/a.conf", base + 50}, {"gw-b", dir.path() + "/b.conf", base + 52}};
  for (size_t i = 0; i < nodes.size(); ++i) {
    const int own = base + 200 + static_cast<int>(i) * 100;
    mkdir((dir.path() + "/" + nodes[i].name).c_str(), 0700);
    WriteFile(nodes[i].config, "listen = 127.0.0.1:" + std::to_string(nodes[i].port) + "\ndatabase = " + db.Uri() +
                                   "\nnode = " + nodes[i].name + "\nlease_seconds = 2\nspool = " + dir.path() + "/" +
                                   nodes[i].name + "\nmax_calls = 1\nrepeat = 3\n[sip]\ndial = " +
                                   phone.DialTemplate() + "\nsip_port = " + std::to_string(own) +
                                   "\nrtp_ports = " + std::to_string(own + 10) + "-" + std::to_string(own + 99) + "\n");
  }
  auto a = std::make_unique<GatewayProcess>(nodes[0].config, dir.path() + "/a.log");
  GatewayProcess b(nodes[1].config, dir.path() + "/b.log");
  ASSERT_TRUE(a->WaitUntilServing(20000)) << ReadFile(dir.path() + "/a.log");
  ASSERT_TRUE(b.WaitUntilServing(20000)) << ReadFile(dir.path() + "/b.log");
  for (size_t i = 0; i < numbers.size(); ++i) {
    const int port = nodes[i < 2 ? 0 : 1].port;
    ASSERT_EQ(BodyOf(PostCall(port, CallBody(numbers[i], "Reminder number " + std::to_string(i + 1) + "."))),
              "[" + std::to_string(i + 1) + "]\r\n");
  }

  long long killed = 0;
  ASSERT_TRUE(Eventually([&] { return (killed = FindCall(nodes[1].port, 4, "answered", "gw-a")) != 0; }, 30000));
  a->Kill(SIGKILL);
  EXPECT_EQ(a->Wait(10000), 128 + SIGKILL);
  a.reset();
  nlohmann::json cut;
  ASSERT_TRUE(Eventually([&] { return (cut = CallStatus(nodes[1].port, killed))["state"] == "done"; }, 20000));
  EXPECT_EQ(cut["reason"], "answered; the gateway stopped during the message");
  EXPECT_EQ(cut["history"].back()["outcome"], "interrupted");
  EXPECT_EQ(cut["history"].back()["detail"], "node gw-a silent for more than 2 s");
  const std::string page = BodyOf(Exchange(nodes[1].port, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
  EXPECT_NE(page.find("<tr><td>gw-a</td>"), std::string::npos) << page;
  EXPECT_NE(page.find("silent longer than its lease (2 s)"), std::string::npos);

  // Started again while gw-b has a call answered: it takes calls, and closes none of gw-b's.
  ASSERT_TRUE(Eventually([&] { return FindCall(nodes[1].port, 4, "answered", "gw-b") != 0; }, 30000));
  a = std::make_unique<GatewayProcess>(nodes[0].config, dir.path() + "/a2.log");
  ASSERT_TRUE(a->WaitUntilServing(20000)) << ReadFile(dir.path() + "/a2.log");
  for (long long id = 1; id <= 4; ++id) {
    const nlohmann::json c = WaitForState(nodes[0].port, id, "done", 60000);
    EXPECT_EQ(c["state"], "done") << c.dump();
    if (id != killed) EXPECT_EQ(c["reason"], "answered by a person; the message was played") << c.dump();
  }
  EXPECT_EQ(ReadFile(dir.path() + "/a2.log").find("outcome=interrupted"), std::string::npos)
      << ReadFile(dir.path() + "/a2.log");
  EXPECT_EQ(phone.CallsTo("5551001"), 1);
  EXPECT_EQ(phone.CallsTo("5551002"), 2);
  EXPECT_EQ(phone.CallsTo("5551003"), 1);
  // The two calls to 5551002 (one posted to each node): one after the other.
  const nlohmann::json second = CallStatus(nodes[0].port, 2), fourth = CallStatus(nodes[0].port, 4);
  const nlohmann::json& earlier = second["history"][0]["started"] < fourth["history"][0]["started"] ? second : fourth;
  const nlohmann::json& later = &earlier == &second ? fourth : second;
  EXPECT_LE(earlier["history"][0]["ended"].get<std::string>(), later["history"][0]["started"].get<std::string>());

  const std::string list = Output(std::string(TALMERY_GATEWAY_EXE) + " --config " + nodes[0].config + " --list");
  EXPECT_NE(list.find("  gw-a ("), std::string::npos) << list;
  EXPECT_NE(list.find("  gw-b ("), std::string::npos) << list;
}

}  // namespace
}  // namespace gwtest
