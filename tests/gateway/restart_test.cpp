// kill -9 while one call is going on and two wait: after the restart each accepted call has
// been placed exactly once, and the one cut short is closed, not dialled again.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "tests/gateway/test_support.h"
#include "tools/phone/loopback_phone.h"

namespace gwtest {
namespace {

TEST(Restart, AfterKill9EveryAcceptedCallIsPlacedOnce) {
  TempDir dir;
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  phone::LoopbackPhone phone(dir.path() + "/phone", {base, base + 2, base + 100},
                             {{"5551001", phone::Behaviour::Answer, 0},
                              {"5551002", phone::Behaviour::Answer, 0},
                              {"5551003", phone::Behaviour::Answer, 0}});
  std::string error;
  ASSERT_TRUE(phone.Start(error)) << error;
  const int port = base + 50;
  const std::string config = dir.path() + "/gateway.conf";
  WriteFile(config, "listen = 127.0.0.1:" + std::to_string(port) + "\ndatabase = " + dir.path() +
                        "/calls.db\nmax_calls = 1\nrepeat = 3\n[sip]\ndial = " + phone.DialTemplate() +
                        "\nsip_port = " + std::to_string(base + 10) +
                        "\nrtp_ports = " + std::to_string(base + 200) + "-" + std::to_string(base + 399) + "\n");

  {
    GatewayProcess first(config, dir.path() + "/first.log");
    ASSERT_TRUE(first.WaitUntilServing(20000)) << ReadFile(dir.path() + "/first.log");
    for (int i = 1; i <= 3; ++i)
      ASSERT_EQ(BodyOf(PostCall(port, CallBody("555100" + std::to_string(i), "Reminder number " + std::to_string(i) + "."))),
                "[" + std::to_string(i) + "]\r\n");
    ASSERT_EQ(WaitForState(port, 1, "answered", 30000)["state"], "answered");
    EXPECT_EQ(CallStatus(port, 2)["state"], "queued");
    first.Kill(SIGKILL);
    EXPECT_EQ(first.Wait(10000), 128 + SIGKILL);
  }
  GatewayProcess second(config, dir.path() + "/second.log");
  ASSERT_TRUE(second.WaitUntilServing(20000)) << ReadFile(dir.path() + "/second.log");
  for (long long id : {2, 3}) EXPECT_EQ(WaitForState(port, id, "done", 60000)["state"], "done") << id;
  const nlohmann::json cut = CallStatus(port, 1);
  EXPECT_EQ(cut["state"], "done");
  EXPECT_EQ(cut["reason"], "answered; the gateway stopped during the message");
  EXPECT_EQ(cut["history"][0]["outcome"], "interrupted");
  // Call 1 would have been dialled before 2 and 3: it was not.
  for (const char* number : {"5551001", "5551002", "5551003"}) EXPECT_EQ(phone.CallsTo(number), 1) << number;

  // A stop signal ends the program cleanly.
  second.Kill(SIGTERM);
  EXPECT_EQ(second.Wait(30000), 0);
  EXPECT_NE(ReadFile(dir.path() + "/second.log").find("event=stop"), std::string::npos);
}

}  // namespace
}  // namespace gwtest
