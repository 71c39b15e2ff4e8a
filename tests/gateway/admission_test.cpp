// How many calls a client may post, a day may take and the queue may hold.
#include <gtest/gtest.h>

#include <vector>

#include "gateway/admission.h"

namespace talmery {
namespace {

TEST(Admission, LimitsPerClientPerDayAndOnTheQueue) {
  const long long t = 1700000000000;
  const struct {
    AdmissionLimits limits;
    long long waiting;
    int admitted;  // of 5 tries from one address at the same moment
    const char* reason;
    Refusal kind;
  } cases[] = {
      {{2, 0, 0}, 0, 2, "more than 2 calls a minute from 192.0.2.1: try again in a minute", Refusal::ClientRate},
      {{0, 3, 0}, 0, 3, "the gateway has taken its 3 calls of the last 24 hours", Refusal::DailyCalls},
      {{0, 0, 10}, 10, 0, "10 calls are waiting already: try again later", Refusal::QueueFull},
      {{0, 0, 0}, 99, 5, "", Refusal::BadRequest},
  };
  for (const auto& c : cases) {
    Admission admission(c.limits);
    int admitted = 0;
    std::string reason;
    Refusal kind = Refusal::BadRequest;
    for (int i = 0; i < 5; ++i) admitted += admission.TryAdmit("192.0.2.1", t, c.waiting, reason, kind) ? 1 : 0;
    EXPECT_EQ(admitted, c.admitted);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(RefusalLabel(kind), std::string(RefusalLabel(c.kind)));
  }
  // The windows move on: a minute later the address may post again; the day counts on.
  Admission admission({2, 3, 0});
  std::string reason;
  Refusal kind;
  admission.Seed({t - 25LL * 3600 * 1000, t - 3600 * 1000});  // one still inside the 24 hours
  EXPECT_TRUE(admission.TryAdmit("a", t, 0, reason, kind));
  EXPECT_TRUE(admission.TryAdmit("a", t, 0, reason, kind));
  EXPECT_FALSE(admission.TryAdmit("a", t + 59999, 0, reason, kind));
  EXPECT_FALSE(admission.TryAdmit("b", t + 60000, 0, reason, kind));  // the day is full
  EXPECT_EQ(reason, "the gateway has taken its 3 calls of the last 24 hours");
  admission.Released("a", t + 60000);  // one of a's calls was not stored after all
  EXPECT_TRUE(admission.TryAdmit("b", t + 60000, 0, reason, kind));
  admission.Refused("c", t);
  const std::vector<ClientActivity> activity = admission.Activity(t + 60000);
  ASSERT_EQ(activity.size(), 3u);
  EXPECT_EQ(activity[0].address, "a");  // 1 accepted (one released), 2 refused
  EXPECT_EQ(activity[0].accepted, 1);
  EXPECT_EQ(activity[0].refused, 2);
  EXPECT_EQ(activity[1].address, "b");
  EXPECT_EQ(activity[1].accepted, 1);
  EXPECT_EQ(activity[1].refused, 1);
  EXPECT_EQ(activity[2].address, "c");
  // A day later all of it has gone.
  EXPECT_TRUE(admission.Activity(t + 25LL * 3600 * 1000).empty());
}

}  // namespace
}  // namespace talmery
