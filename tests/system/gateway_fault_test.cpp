// The gateway misbehaving while the hidden agent runs: refusing connections, failing with 500,
// breaking the connection in the middle of the answer, trickling the answer, closing without
// one, never answering. Each time the user is told, the agent keeps running, Outlook's event
// calls stay short, and the following reminder reaches the gateway.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/system/fault_run.h"
#include "tests/harness/patience.h"

namespace systemtest {
namespace {

constexpr char kError[] = "Error making reminder call\r\n";
constexpr char kUnreachable[] = "Failed to connect to the Talmery Gateway. Make sure it is started.";

gateway::Answer AnswerOf(int status, const std::string& body, gateway::Answer::Mode mode = gateway::Answer::Mode::Normal) {
  gateway::Answer answer;
  answer.status = status;
  answer.reason = status == 200 ? "OK" : "Internal Server Error";
  answer.body = body;
  answer.mode = mode;
  return answer;
}

Fault WithAnswer(const std::string& name, const gateway::Answer& answer, std::vector<std::string> boxes) {
  Fault fault;
  fault.name = name;
  fault.answerSet = true;
  fault.answer = answer;
  fault.boxes = std::move(boxes);
  fault.requests = 1;
  return fault;
}

// The head and "[12345" arrive, then the connection is reset. The read fails with the reset, or,
// should the reset overtake nothing, delivers the half answer, which has no "]".
Fault ResetMidAnswer() {
  Fault fault = WithAnswer("reset mid-answer", AnswerOf(200, "[1234567890]", gateway::Answer::Mode::ResetMidBody),
                           {std::string(kError) + "The connection to the Talmery Gateway was broken off."});
  fault.alternativeBoxes = {std::string(kError) + "Unrecognized return from Talmery Gateway."};
  return fault;
}

TEST(GatewayFaults, EachFaultIsShownAndTheNextReminderStillReachesTheGateway) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());

  Fault refused;
  refused.name = "connection refused";
  refused.arrange = [](SystemRig& r) { r.WritePort(ClosedPort()); };
  refused.repair = [](SystemRig& r) { r.WritePort(r.Gateway().Port()); };
  refused.boxes = {std::string(kError) + "The attempt to connect to the Talmery Gateway failed."};

  gateway::Answer trickled = AnswerOf(200, "ERROR: line busy\r\nsecond line", gateway::Answer::Mode::Trickle);
  trickled.trickleDelayMs = 20;
  gateway::Answer trickledId = AnswerOf(200, "[4711]", gateway::Answer::Mode::Trickle);
  trickledId.trickleDelayMs = 100;

  const std::vector<Fault> faults = {
      refused,
      WithAnswer("status 500", AnswerOf(500, "[99]"), {std::string(kError) + kUnreachable}),
      ResetMidAnswer(),
      WithAnswer("trickled error line", trickled, {std::string(kError) + "ERROR: line busy"}),
      WithAnswer("trickled request id", trickledId, {}),
      WithAnswer("closed without answer", AnswerOf(200, "", gateway::Answer::Mode::CloseWithoutAnswer),
                 {std::string(kError) + "The Talmery Gateway closed the connection without an answer."}),
  };
  RunFaults(rig, faults);
  std::printf("longest event call into the agent: %.1f ms\n", LongestEventMs(rig.OutlookLog()));
}

// A gateway that accepts the request and stays silent: the agent's exchange is bounded by its
// 30 s deadline. While it waits, the agent still serves Outlook, so an event raised
// meanwhile returns at once; its record waits behind the silent request and goes out when the
// user is told of the failure. The reminder after that reaches the gateway.
TEST(GatewayFaults, ASilentGatewayHoldsTheAgentForTheTimeOutOnly) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  harness::MessageBoxWatcher boxes(kAgentCaption);
  gateway::Answer silent;
  silent.mode = gateway::Answer::Mode::NeverAnswer;
  rig.Gateway().SetResponder([silent](const gateway::RecordedRequest& request) {
    if (PhoneOf(request) == "5552000") return silent;
    gateway::Answer good;
    good.autoId = true;
    return good;
  });
  const std::string script = "version \"16.0.0.1\"\n" + ReminderItem("silent", "silent", "555-2000") +
                             ReminderItem("during", "during", "555-2001") +
                             ReminderItem("after", "after", "555-2002") +
                             "wait-advise 60s 1\nfire silent\n"
                             "wait-advise 120s 2\nfire during\nnote during returned\n"
                             "wait-advise 120s 3\nfire after\nnote done\n";
  ASSERT_TRUE(rig.StartOutlook(script));
  ASSERT_TRUE(rig.StartAgent());

  ASSERT_TRUE(rig.WaitForRequests(1, 20000));
  const double requested = NowMs();
  EXPECT_EQ(PhoneOf(rig.Gateway().Requests()[0]), "5552000");
  // The first event call has returned: the request runs outside it.
  EXPECT_GE(rig.OutlookLog().WaitFor("Event 0xF004 Item#silent cookie=1 hr=0x00000000", harness::kPatientMs), 0);

  ASSERT_TRUE(rig.OpenGate());  // a second reminder comes due while the agent waits
  // Its event call returns while the silent request still waits.
  EXPECT_GE(rig.OutlookLog().WaitFor("Note during returned", 10000), 0);
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(rig.Gateway().RequestCount(), 1u) << "the second record must wait behind the first";
  ASSERT_TRUE(PumpWhile([&] { return boxes.Count() >= 1; }, 90000, 10)) << "the agent waits for good";
  const double boxAfterMs = NowMs() - requested;
  EXPECT_EQ(boxes.Seen()[0].text, std::string(kError) + "The Talmery Gateway did not answer within 30 seconds.");
  EXPECT_EQ(boxes.Seen()[0].pid, rig.Agent().Pid());
  // The second record goes out once the first exchange has ended.
  ASSERT_TRUE(rig.WaitForRequests(2, 10000));
  EXPECT_EQ(PhoneOf(rig.Gateway().Requests()[1]), "5552001");

  ASSERT_TRUE(rig.OpenGate());
  ASSERT_TRUE(rig.WaitForRequests(3, 10000));
  EXPECT_EQ(PhoneOf(rig.Gateway().Requests()[2]), "5552002");
  ASSERT_GE(rig.OutlookLog().WaitFor("Note done", 10000), 0);
  ExpectEventsSucceeded(rig.OutlookLog(), 3);
  EXPECT_EQ(boxes.Count(), 1u);
  EXPECT_TRUE(rig.Agent().Running());

  std::printf("silent gateway: the agent showed its message %.1f s after the request\n", boxAfterMs / 1000);
  std::printf("event call into the agent: first %.1f ms, during the silent request %.1f ms, next %.1f ms\n",
              LongestEventMs(rig.OutlookLog(), "silent"), LongestEventMs(rig.OutlookLog(), "during"),
              LongestEventMs(rig.OutlookLog(), "after"));
}

}  // namespace
}  // namespace systemtest
