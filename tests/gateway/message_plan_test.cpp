// What a line says on a call: the keys' prompt, the snooze notice, the message cut to fit the
// call and the listener's attention, and what the outcome says of a message that did not fit.
#include <gtest/gtest.h>

#include "gateway/ear_text.h"
#include "gateway/message_plan.h"

namespace talmery {
namespace {

// The prompt after the message names the keys this call offers; key 2's notice says when.
TEST(MessagePlan, ThePromptNamesTheKeysOffered) {
  Config c;
  EXPECT_EQ(KeysPrompt(c, false), "Press star to hear this again.");
  EXPECT_EQ(KeysPrompt(c, true), "Press 2 to be reminded again in 5 minutes, star to hear this again.");
  c.confirm = true;
  EXPECT_EQ(KeysPrompt(c, true), "Press 1 to confirm, 2 to be reminded again in 5 minutes, star to hear this again.");
  c.snoozeMinutes = 1;
  EXPECT_EQ(KeysPrompt(c, false), "Press 1 to confirm, star to hear this again.");
  EXPECT_EQ(SnoozeNotice(c), "The reminder will call again in 1 minute.");
  c.snoozeMinutes = 10;
  EXPECT_EQ(SnoozeNotice(c), "The reminder will call again in 10 minutes.");
}

// The message fits max_call_time, less the time for a key after the prompt; what did not fit is
// said in the outcome.
TEST(MessagePlan, MessageFitsTheCall) {
  Config c;
  c.maxCallTime = 600;
  c.repeat = 2;
  MessagePlan p = PlanMessage("Budget review.", c);
  EXPECT_EQ(p.text, "Budget review.");
  EXPECT_EQ(p.prompt, "Press star to hear this again.");
  EXPECT_EQ(p.budgetSamples, 594u * 8000);
  c.confirm = true;
  p = PlanMessage("Budget review.", c, true);
  EXPECT_EQ(p.text, "Budget review.");
  EXPECT_EQ(p.prompt, "Press 1 to confirm, 2 to be reminded again in 5 minutes, star to hear this again.");
  EXPECT_EQ(p.budgetSamples, 594u * 8000);
  // Speaker mode: no keys, so neither prompt nor wait for one.
  EXPECT_EQ(PlanMessage("Budget review.", c, true, 0, false).prompt, "");
  EXPECT_EQ(PlanMessage("Budget review.", c, true, 0, false).budgetSamples, 599u * 8000);
  // A repetition asked for by star: what is left of the call.
  EXPECT_EQ(PlanMessage("Budget review.", c, false, 40).budgetSamples, 34u * 8000);
  EXPECT_EQ(ShortenedNote(false, false, 1, c, 1), "");
  EXPECT_EQ(ShortenedNote(false, false, 2, c), "");
  EXPECT_EQ(ShortenedNote(false, true, 0, c), "the message was cut to fit max_call_time (600 s)");
  EXPECT_EQ(ShortenedNote(false, false, 1, c), "the message was said 1 of 2 times to fit max_call_time (600 s)");
  EXPECT_EQ(ShortenedNote(true, false, 2, c), "the message was cut at a sentence to fit max_message_seconds (60 s)");
  EXPECT_EQ(ShortenedNote(true, false, 1, c),
            "the message was cut at a sentence to fit max_message_seconds (60 s); the message was said 1 of 2 times "
            "to fit max_call_time (600 s)");
}

// A text longer than max_message_seconds is cut at a sentence, and the listener told where the
// rest is; the text spoken is the one written for the ear.
TEST(MessagePlan, MessageWithinTheListenersAttention) {
  Config c;
  c.maxMessageSeconds = 10;  // 22 words at 150 a minute less a tenth (a sentence's end counts as one)
  c.speechRate = 150;
  MessagePlan p = PlanMessage("Budget review at 9:30 in B-204.", c);
  EXPECT_EQ(p.text, "Budget review at nine thirty in B, 2 0 4.");
  EXPECT_FALSE(p.trimmed);
  const std::string notes =
      "Budget review with Ann. Bring the figures for the third quarter. "
      "We go through each department's plan and its costs in turn, one by one.";
  p = PlanMessage(notes, c);
  EXPECT_EQ(p.text, std::string("Budget review with Ann. Bring the figures for the third quarter. ") + kRestInCalendar);
  EXPECT_TRUE(p.trimmed);
  c.maxMessageSeconds = 60;
  p = PlanMessage(notes, c);
  EXPECT_EQ(p.text, notes);
  EXPECT_FALSE(p.trimmed);
}

}  // namespace
}  // namespace talmery
