// The whole system with the real call server: the agent, started hidden, gets a reminder from
// the Outlook simulator and posts it to talmery-gateway (a Linux process), which dials the
// loopback phone over SIP. Run by real_gateway.sh, which starts the gateway and the phone, hands
// over the gateway's port in BRISOMEL_REAL_GATEWAY_PORT and afterwards checks the phone's
// recording against the text this test expects (written to BRISOMEL_REAL_GATEWAY_TEXT).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/harness/message_box_watcher.h"
#include "tests/system/fault_run.h"
#include "tests/system/log_follower.h"
#include "tests/system/system_rig.h"
#include "tools/gateway/raw_client.h"

namespace systemtest {
namespace {

std::string StatusOfCall(uint16_t port, int id) {
  const gateway::RawClient::Received r =
      gateway::Exchange(port, "GET /calls/" + std::to_string(id) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 5000);
  const size_t body = r.bytes.find("\r\n\r\n");
  return body == std::string::npos ? "" : r.bytes.substr(body + 4);
}

TEST(RealGateway, AReminderInOutlookEndsAsAPhoneCallThatSpeaksItsText) {
  const char* portText = std::getenv("BRISOMEL_REAL_GATEWAY_PORT");
  const char* textPath = std::getenv("BRISOMEL_REAL_GATEWAY_TEXT");
  ASSERT_TRUE(portText && textPath) << "run by tests/system/real_gateway.sh";
  const uint16_t port = static_cast<uint16_t>(std::atoi(portText));

  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  rig.WritePort(port);
  harness::MessageBoxWatcher boxes(kAgentCaption);
  const std::string subject = "Dentist at nine";
  ASSERT_TRUE(rig.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("r", subject, "555-0100") +
                               "wait-advise 60s 1\nfire r\nnote fired\n"));
  ASSERT_TRUE(rig.StartAgent());
  ASSERT_GE(rig.OutlookLog().WaitFor("Note fired", 30000), 0);

  // The gateway took the request as call 1 and works through it; the phone answers at once.
  std::string status;
  ASSERT_TRUE(PumpWhile(
      [&] {
        status = StatusOfCall(port, 1);
        return status.find("\"state\": \"done\"") != std::string::npos ||
               status.find("\"state\": \"failed\"") != std::string::npos;
      },
      90000, 200))
      << status;
  EXPECT_NE(status.find("\"state\": \"done\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"reason\": \"answered by a person; the message was played\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"number\": \"55***00\""), std::string::npos) << status;
  EXPECT_EQ(boxes.Count(), 0u) << "the agent reported a failure";
  ExpectEventsSucceeded(rig.OutlookLog(), 1);

  // What the phone must have heard, as the agent composes it from the settings and the item.
  std::ofstream text(textPath, std::ios::binary | std::ios::trunc);
  text << "Hi, this is Ann Lee's appointment reminder call program.\nYou have an appointment coming up in 15 "
          "minutes.\nThe appointment subject is: "
       << subject << "\n";
  ASSERT_TRUE(text.good());
}

}  // namespace
}  // namespace systemtest
