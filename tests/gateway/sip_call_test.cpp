// Real calls on loopback: the gateway dials the loopback phone through its own baresip, over
// SIP and RTP with G.711, and the phone's recording is checked against the spoken text.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "gateway/speech.h"
#include "tests/gateway/test_support.h"
#include "tools/phone/loopback_phone.h"
#include "tools/phone/speech_match.h"

namespace gwtest {
namespace {

constexpr char kPassword[] = "pw-Secret-77";

class SipCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const int base = phone::FreePortBlock(400, 1);
    ASSERT_NE(base, 0);
    phone::PhonePorts ports{base, base + 2, base + 100};
    phone_ = std::make_unique<phone::LoopbackPhone>(
        dir_.path() + "/phone", ports,
        std::vector<phone::PhoneAccount>{{"5550100", phone::Behaviour::Answer, 0},
                                         {"5550183", phone::Behaviour::EarlyAnswer, 1500},
                                         {"5550486", phone::Behaviour::Busy, 0},
                                         {"5550000", phone::Behaviour::Never, 0}});
    std::string error;
    ASSERT_TRUE(phone_->Start(error)) << error;

    talmery::Config c;
    c.listenPort = 0;
    c.database = dir_.path() + "/calls.db";
    c.maxCalls = 2;
    c.attempts = 2;
    c.retryPause = 1;
    c.ringTime = 3;
    c.sip.user = "gateway";
    c.sip.password = kPassword;
    c.sip.dial = phone_->DialTemplate();
    c.sip.sipPort = base + 10;
    c.sip.controlPort = base + 30;
    c.sip.rtpPortFirst = base + 200;
    c.sip.rtpPortLast = base + 399;
    gateway_ = std::make_unique<InProcessGateway>(c);
    ASSERT_TRUE(gateway_->Start(error)) << error;
    port_ = gateway_->Port();
  }

  long long Post(const std::string& number, const std::string& text) {
    const std::string body = BodyOf(PostCall(port_, CallBody(number, text)));
    EXPECT_EQ(body.front(), '[') << body;
    return std::atoll(body.c_str() + 1);
  }

  TempDir dir_;
  std::unique_ptr<phone::LoopbackPhone> phone_;
  std::unique_ptr<InProcessGateway> gateway_;
  int port_ = 0;
};

TEST_F(SipCallTest, TheCalleeHearsTheTextTwiceAnsweredAtOnceOrAfterEarlyMedia) {
  const struct {
    const char* number;
    const char* text;
  } calls[] = {{"5550100", "Your dentist appointment begins in fifteen minutes."},
               {"5550183", "The budget review is in room four."}};
  int n = 0;
  for (const auto& call : calls) {
    const long long id = Post(call.number, call.text);
    const nlohmann::json done = WaitForState(port_, id, "done", 60000);
    ASSERT_EQ(done["state"], "done") << done.dump(1);
    EXPECT_EQ(done["attempts"], 1);
    EXPECT_EQ(done["reason"], "answered; the message was played");
    EXPECT_EQ(done["history"][0]["detail"], "end of file");
    EXPECT_FALSE(done["history"][0]["answered"].is_null());
    ASSERT_TRUE(phone_->WaitForClosedCalls(++n, 10000));

    const std::vector<std::string> recordings = phone_->Recordings();
    ASSERT_EQ(recordings.size(), static_cast<size_t>(n));
    talmery::Pcm recording, speech;
    std::string error, report;
    ASSERT_TRUE(talmery::ReadWavFile(recordings.back(), recording, error)) << error;
    ASSERT_TRUE(talmery::Synthesize(call.text, talmery::Voice(), speech, error)) << error;
    EXPECT_TRUE(phone::RecordingCarries(recording, speech, 2, report)) << call.number << "\n" << report;
    std::printf("%s: %s", call.number, report.c_str());
  }
  EXPECT_EQ(phone_->CallsTo("5550100"), 1);
  EXPECT_EQ(phone_->CallsTo("5550183"), 1);
}

TEST_F(SipCallTest, BusyAndUnansweredCallsAreRetriedThenFailWithTheirAttempts) {
  const long long busy = Post("5550486", "Busy line.");
  const long long never = Post("5550000", "Nobody home.");
  const nlohmann::json b = WaitForState(port_, busy, "failed", 60000);
  const nlohmann::json n = WaitForState(port_, never, "failed", 60000);
  ASSERT_EQ(b["state"], "failed") << b.dump(1);
  ASSERT_EQ(n["state"], "failed") << n.dump(1);
  EXPECT_EQ(b["attempts"], 2);
  EXPECT_EQ(n["attempts"], 2);
  EXPECT_EQ(b["reason"], "busy (486 Rejected) on the last of 2 tries");
  EXPECT_EQ(n["reason"], "no answer (no answer in 3 s) on the last of 2 tries");
  for (const nlohmann::json* call : {&b, &n}) {
    ASSERT_EQ((*call)["history"].size(), 2u);
    for (const auto& attempt : (*call)["history"]) {
      EXPECT_EQ(attempt["outcome"], call == &b ? "busy" : "no answer");
      EXPECT_TRUE(attempt["answered"].is_null());
    }
  }
  EXPECT_EQ(phone_->CallsTo("5550486"), 2);
  EXPECT_EQ(phone_->CallsTo("5550000"), 2);
  const std::string log = gateway_->LogText();
  EXPECT_NE(log.find("call=" + std::to_string(busy) + " state=busy attempt=1 outcome=busy"), std::string::npos) << log;
  EXPECT_NE(log.find("call=" + std::to_string(never) + " state=\"no answer\" attempt=1"), std::string::npos) << log;

  // The SIP password reached baresip's private account file and nothing people can read.
  const std::string page = BodyOf(Exchange(port_, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_NE(page.find("busy (486 Rejected) on the last of 2 tries"), std::string::npos);
  for (const std::string& seen : {log, page, CallStatus(port_, busy).dump()})
    EXPECT_EQ(seen.find(kPassword), std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat((dir_.path() + "/line0/accounts").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(ReadFile(dir_.path() + "/line0/accounts").find(kPassword), std::string::npos);
}

}  // namespace
}  // namespace gwtest
