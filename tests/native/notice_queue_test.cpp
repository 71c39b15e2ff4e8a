#include "agent/calls/notice_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The box texts a queue gives, in order, after the messages were added.
std::vector<std::string> Boxes(const std::vector<std::string>& messages) {
  NoticeQueue queue;
  for (const std::string& text : messages) queue.Add(text);
  std::vector<std::string> boxes;
  while (const std::optional<Notice> notice = queue.Take()) boxes.push_back(NoticeBoxText(*notice));
  EXPECT_TRUE(queue.Empty());
  return boxes;
}

TEST(NoticeQueue, CombinesRepeatsKeepsOrderAndBoundsWhatWaits) {
  const std::string down = "Error making reminder call\r\nThe attempt to connect to the Talmery Gateway failed.";
  const struct {
    const char* name;
    std::vector<std::string> messages;
    std::vector<std::string> boxes;
  } cases[] = {
      {"nothing", {}, {}},
      {"one", {"a"}, {"a"}},
      {"repeats anywhere in the queue", {"a", "b", "a", "a"}, {"a\r\n\r\n(This happened 3 times.)", "b"}},
      {"a gateway down for an hour", std::vector<std::string>(120, down), {down + "\r\n\r\n(This happened 120 times.)"}},
      {"five distinct texts fit", {"1", "2", "3", "4", "5", "1"}, {"1\r\n\r\n(This happened 2 times.)", "2", "3", "4", "5"}},
      {"one left out", {"1", "2", "3", "4", "5", "6"},
       {"1", "2", "3", "4", "5", "1 more message about reminder calls was not shown."}},
      {"many left out, repeats still counted", {"1", "2", "3", "4", "5", "6", "7", "5"},
       {"1", "2", "3", "4", "5\r\n\r\n(This happened 2 times.)", "2 more messages about reminder calls were not shown."}},
  };
  for (const auto& c : cases) EXPECT_EQ(Boxes(c.messages), c.boxes) << c.name;
}

TEST(NoticeQueue, TakingMakesRoomForNewTexts) {
  NoticeQueue queue;
  for (const char* text : {"1", "2", "3", "4", "5"}) queue.Add(text);
  EXPECT_EQ(queue.Take()->text, "1");
  queue.Add("6");
  queue.Add("1");  // shown before: a new notice
  std::vector<std::string> rest;
  while (const std::optional<Notice> notice = queue.Take()) rest.push_back(notice->text);
  EXPECT_EQ(rest, (std::vector<std::string>{"2", "3", "4", "5", "6", "1 more message about reminder calls was not shown."}));
}

// Outcomes that come while a box is up are listed in one next box, whatever else waits; one
// taken already (its box is up) is not added to.
TEST(NoticeQueue, OutcomesThatComeMeanwhileAreListedInOneBox) {
  NoticeQueue queue;
  queue.AddOutcome("call 1: busy");
  EXPECT_EQ(queue.Take()->text, "call 1: busy");  // its box is up
  queue.AddOutcome("call 2: busy");
  queue.Add("the gateway is down");
  queue.AddOutcome("call 3: voicemail");
  queue.AddOutcome("call 3: voicemail");  // a call is told once: listed as it comes
  for (size_t i = 4; i < NoticeQueue::kMaxOutcomes + 4; ++i) queue.AddOutcome("call " + std::to_string(i));
  std::vector<std::string> boxes;
  while (const std::optional<Notice> notice = queue.Take()) boxes.push_back(NoticeBoxText(*notice));
  std::string listed = "call 2: busy\r\n\r\ncall 3: voicemail\r\n\r\ncall 3: voicemail";
  for (size_t i = 4; i < NoticeQueue::kMaxOutcomes + 1; ++i) listed += "\r\n\r\ncall " + std::to_string(i);
  EXPECT_EQ(boxes, (std::vector<std::string>{listed, "the gateway is down",
                                             "3 more messages about reminder calls were not shown."}));
}

// What waits for an outcome to be read goes with the notice that lists it, and only with it.
TEST(NoticeQueue, AnOutcomesReaderGoesWithItsNotice) {
  NoticeQueue queue;
  std::string read;
  queue.AddOutcome("a", [&] { read += "a"; });
  queue.AddOutcome("b", [&] { read += "b"; });
  queue.AddOutcome("c");
  queue.Add("other");
  const std::optional<Notice> outcomes = queue.Take();
  ASSERT_EQ(outcomes->onRead.size(), 2u);
  for (const auto& onRead : outcomes->onRead) onRead();
  EXPECT_EQ(read, "ab");
  EXPECT_TRUE(queue.Take()->onRead.empty());
}

}  // namespace
