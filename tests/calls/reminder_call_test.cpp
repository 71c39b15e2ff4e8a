// MakeReminderCall end to end: the settings in the registry, the request at the stand-in gateway
// and the messages meant for the user.
#include "agent/calls/reminder_call.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/calls/settings_store.h"
#include "agent/outlook/outlook_rules.h"
#include "tests/calls/settings_key_fixture.h"
#include "tools/gateway/form.h"
#include "tools/gateway/gateway_server.h"

namespace {

const char kNoNumber[] = "Cannot make reminder call. MyPhoneNumber not specified";
const char kErrorPrefix[] = "Error making reminder call\r\n";

// The moment the calls are composed; each record's appointment starts `minutes` later.
const double kNow = *OleDateFromFields(2030, 1, 1, 10, 0, 0);

std::unique_ptr<ReminderRecord> Record(const std::string& phone, const std::string& subject,
                                       int32_t minutes, const std::string& location = "",
                                       const std::string& notes = "") {
  auto r = std::make_unique<ReminderRecord>();
  r->m_strEntryId = "00000000AB";
  r->m_strPhone = phone;
  r->m_strSubject = subject;
  r->m_strLocation = location;
  r->m_strNotes = notes;
  r->m_nMinutes = minutes;
  r->start = kNow + minutes / 1440.0;
  return r;
}

class ReminderCallTest : public SettingsKeyFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_server.Start());
    m_server.SetAnswer({200, "OK", "[1]"});
    ASSERT_TRUE(SetHost("127.0.0.1").Ok());
    ASSERT_TRUE(SetPort(m_server.Port()).Ok());
    ASSERT_TRUE(SetFirstName("Ann").Ok());
    ASSERT_TRUE(SetLastName("Lee").Ok());
  }

  // The call text as the gateway decodes it from the one request received.
  std::string ReceivedText() {
    EXPECT_EQ(m_server.RequestCount(), 1u);
    if (m_server.RequestCount() != 1) return "<no request>";
    return gateway::FormField(gateway::ParseForm(m_server.Requests()[0].body), "txt");
  }

  // Makes the call; what it has to tell the user joins m_notices.
  bool Call(std::unique_ptr<ReminderRecord> record) {
    const Outcome outcome = MakeReminderCall(std::move(record), kNow);
    if (!outcome) m_notices.push_back(outcome.Message());
    return outcome.Ok();
  }

  size_t Told() const { return m_notices.size(); }

  gateway::Server m_server;
  std::vector<std::string> m_notices;
};

TEST_F(ReminderCallTest, WorkedExampleArrivesByteForByte) {
  const std::string body =
      "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Hi%2c+this+is+Ann+Lee%27s+"
      "appointment+reminder+call+program%2e%0aYou+have+an+appointment+coming+up+in+15+minutes%2e"
      "%0aThe+appointment+subject+is%3a+Budget+review%0a";
  EXPECT_TRUE(Call(Record("555-0100", "Budget review", 15)));
  ASSERT_EQ(m_server.RequestCount(), 1u);
  const gateway::RecordedRequest r = m_server.Requests()[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/ocall/callreqHandler.jsp");
  EXPECT_EQ(r.Header("Content-Type"),
            "application/x-www-form-urlencoded; charset=windows-" + std::to_string(GetACP()));
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(r.Header("User-Agent"), "Brisomel");
  EXPECT_EQ(r.body, body);
  EXPECT_EQ(Told(), 0u);
}

TEST_F(ReminderCallTest, OwnNumberOnlyWhenTheAppointmentNamesNone) {
  const struct {
    const char* phone;
    const char* myNumber;
    const char* dialled;  // nullptr: nothing may be sent
  } cases[] = {
      {"", "(555) 010-0200", "5550100200"},
      {"+1 (555) 0100", "999", "+15550100"},
      {"call the office", "5550100", nullptr},
      {"", "", nullptr},
      {"", "none", nullptr},
  };
  size_t boxes = 0;
  for (const auto& c : cases) {
    m_server.ClearRequests();
    const size_t connections = m_server.ConnectionCount();
    ASSERT_TRUE(SetMyNumber(c.myNumber).Ok());
    const bool called = Call(Record(c.phone, "S", 5));
    if (c.dialled) {
      EXPECT_TRUE(called) << c.phone;
      ASSERT_EQ(m_server.RequestCount(), 1u) << c.phone;
      EXPECT_EQ(gateway::FormField(gateway::ParseForm(m_server.Requests()[0].body), "phoneno"),
                c.dialled);
    } else {
      EXPECT_FALSE(called) << c.phone;
      ASSERT_EQ(Told(), ++boxes) << c.phone;
      EXPECT_EQ(m_notices.back(), kNoNumber) << c.phone;
      EXPECT_EQ(m_server.ConnectionCount(), connections) << c.phone;
    }
  }
  EXPECT_EQ(Told(), boxes);
}

TEST_F(ReminderCallTest, CallTextFollowsTheNamesAndFields) {
  // A reminder snoozed to 3 minutes before its start still carries its 15 minutes before.
  std::unique_ptr<ReminderRecord> snoozed = Record("1", "", 15);
  snoozed->start = kNow + 3 / 1440.0;
  // Minutes that Outlook would not give: the time left (rounded) is both spoken and firstocc.
  std::unique_ptr<ReminderRecord> noMinutes = Record("1", "", 15);
  noMinutes->m_nMinutes.reset();
  noMinutes->start = kNow + (7 * 60 + 31) / 86400.0;
  const struct {
    const char* first;
    const char* last;
    std::unique_ptr<ReminderRecord> record;
    std::string text;
    std::string firstocc;
  } cases[] = {
      {"", "", Record("1", "", 10),
       "Hi, this is   appointment reminder call program.\n"
       "You have an appointment coming up in 10 minutes.\n",
       "10"},
      {"Ann", "", Record("1", "", 10),
       "Hi, this is Ann 's appointment reminder call program.\n"
       "You have an appointment coming up in 10 minutes.\n",
       "10"},
      {"", "Lee", Record("1", "", 10),
       "Hi, this is  Lee's appointment reminder call program.\n"
       "You have an appointment coming up in 10 minutes.\n",
       "10"},
      {"Ann", "Lee", std::move(snoozed),
       "Hi, this is Ann Lee's appointment reminder call program.\n"
       "You have an appointment coming up in 3 minutes.\n",
       "15"},
      {"Ann", "Lee", std::move(noMinutes),
       "Hi, this is Ann Lee's appointment reminder call program.\n"
       "You have an appointment coming up in 8 minutes.\n",
       "8"},
      {"Ann", "Lee", Record("1", "Review", -1, "Room 4", "Bring\r\nslides"),
       "Hi, this is Ann Lee's appointment reminder call program.\n"
       "Your appointment has already begun.\n"
       "The appointment subject is: Review\n"
       "The appointment location is: Room 4\n"
       ". The appointment notes is: Bring\r\nslides\n",
       "-1"},
  };
  for (const auto& c : cases) {
    m_server.ClearRequests();
    ASSERT_TRUE(SetFirstName(c.first).Ok());
    ASSERT_TRUE(SetLastName(c.last).Ok());
    EXPECT_TRUE(Call(std::make_unique<ReminderRecord>(*c.record)));
    EXPECT_EQ(ReceivedText(), c.text);
    if (m_server.RequestCount() == 1) {
      EXPECT_EQ(gateway::FormField(gateway::ParseForm(m_server.Requests()[0].body), "firstocc"),
                c.firstocc);
    }
  }
  EXPECT_EQ(Told(), 0u);
}

TEST_F(ReminderCallTest, EncodesBytesOfTheCallText) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  EXPECT_TRUE(Call(Record("1", "caf\xC3\xA9\tA~B", -1)));
  ASSERT_EQ(m_server.RequestCount(), 1u);
  const std::string body = m_server.Requests()[0].body;
  EXPECT_EQ(body.rfind("calltime=0&selfdelete=1&firstocc=-1&phoneno=1&txt=Hi%2c+", 0), 0u) << body;
  EXPECT_NE(body.find("%0aYour+appointment+has+already+begun%2e%0a"), std::string::npos) << body;
  EXPECT_NE(body.find("is%3a+caf%e9%09A%7eB%0a"), std::string::npos) << body;
}

// The text goes as the gateway has always received it where the ANSI code page has every
// character, else as UTF-8 under its charset: nothing arrives as "?".
TEST_F(ReminderCallTest, TextBeyondTheCodePageGoesAsUtf8) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  const struct {
    const char* what;
    std::string subject;  // UTF-8
    std::string charset;
    std::string encoded;  // the subject in the request body
  } cases[] = {
      {"Western", "Caf\xC3\xA9 \xE2\x82\xAC" "5", "windows-1252", "Caf%e9+%805"},
      {"Polish", "\xC5\x81ukasz", "utf-8", "%c5%81ukasz"},
      {"best fit is no fit", "Pr\xC4\x85" "d", "utf-8", "Pr%c4%85d"},  // not "Prad"
  };
  for (const auto& c : cases) {
    m_server.ClearRequests();
    EXPECT_TRUE(Call(Record("1", c.subject, 5))) << c.what;
    ASSERT_EQ(m_server.RequestCount(), 1u) << c.what;
    const gateway::RecordedRequest r = m_server.Requests()[0];
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded; charset=" + c.charset) << c.what;
    EXPECT_NE(r.body.find("subject+is%3a+" + c.encoded + "%0a"), std::string::npos) << c.what << ": " << r.body;
  }
  EXPECT_EQ(Told(), 0u);
}

// The gateway takes 64 KB of text, counted in the bytes it is sent as: longer notes are shortened
// to that and say so, in either encoding, so that the reminder is never refused for its length.
TEST_F(ReminderCallTest, NotesBeyondWhatTheGatewayTakesAreShortened) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  const std::string e = "\xC3\xA9";        // é: one byte in code page 1252
  const std::string l = "\xC5\x82";        // ł: two bytes in UTF-8
  std::string western, polish;
  for (int i = 0; i < 5400; ++i) western += "caf" + e + " caf" + e + "\r\n";  // 59,400 bytes in 1252, 70,200 in UTF-8
  for (int i = 0; i < 7000; ++i) polish += "Pi" + l + "ka no" + l + "na\r\n";  // 105,000 bytes in UTF-8
  const struct {
    const char* what;
    std::string notes;
    bool shortened;
  } cases[] = {
      {"59,400 characters of the code page fit", western, false},
      {"105,000 bytes of UTF-8 do not", polish, true},
  };
  for (const auto& c : cases) {
    m_server.ClearRequests();
    EXPECT_TRUE(Call(Record("1", "S", 5, "", c.notes))) << c.what;
    const std::string text = ReceivedText();  // the bytes the gateway counts
    EXPECT_LE(text.size(), 65536u) << c.what;
    EXPECT_GT(text.size(), 65000u * c.shortened) << c.what;
    const std::string told = "\nThe notes were shortened.\n";
    EXPECT_EQ(text.size() > told.size() && text.compare(text.size() - told.size(), told.size(), told) == 0,
              c.shortened)
        << c.what;
  }
}

TEST_F(ReminderCallTest, FailedRequestShowsTheReason) {
  gateway::Answer closed;
  closed.mode = gateway::Answer::Mode::CloseWithoutAnswer;
  const struct {
    const char* name;
    gateway::Answer answer;
    std::string reason;
  } cases[] = {
      {"error line", {200, "OK", "Gateway\r\nERROR: no free line\r\nbye"}, "ERROR: no free line"},
      {"status 500",
       {500, "Internal", "[1]"},
       "Failed to connect to the Talmery Gateway. Make sure it is started."},
      {"unclosed id", {200, "OK", "[77"}, "Unrecognized return from Talmery Gateway."},
      {"other text", {200, "OK", "Busy\r\nnow"}, "Busy"},
      {"empty answer", {200, "OK", ""}, ""},
  };
  size_t boxes = 0;
  for (const auto& c : cases) {
    m_server.SetAnswer(c.answer);
    EXPECT_FALSE(Call(Record("5550100", "S", 5))) << c.name;
    ASSERT_EQ(Told(), ++boxes) << c.name;
    EXPECT_EQ(m_notices.back(), kErrorPrefix + c.reason) << c.name;
  }
  EXPECT_EQ(m_server.RequestCount(), boxes);
}

TEST_F(ReminderCallTest, GatewayDownIsTold) {
  const uint16_t port = m_server.Port();
  m_server.Stop();
  ASSERT_TRUE(SetPort(port).Ok());
  EXPECT_FALSE(Call(Record("5550100", "S", 5)));
  EXPECT_EQ(m_notices, std::vector<std::string>{std::string(kErrorPrefix) +
                                                "The attempt to connect to the Talmery Gateway failed."});
}

// The gateway's address is read for each call, and a stored port out of range (written by other
// means than Setup) is told, never cut to 16 bits, which would call whatever listens on the rest.
TEST_F(ReminderCallTest, TheGatewaySettingsAreReadForEachCall) {
  EXPECT_TRUE(Call(Record("5550100", "S", 5)));
  gateway::Server other;
  ASSERT_TRUE(other.Start());
  other.SetAnswer({200, "OK", "[7]"});
  ASSERT_TRUE(SetPort(other.Port()).Ok());
  EXPECT_TRUE(Call(Record("5550100", "S", 5)));
  ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, settings_key::kPath, "host"), ERROR_SUCCESS);
  EXPECT_TRUE(Call(Record("5550100", "S", 5))) << "the default host is localhost";
  EXPECT_EQ(other.RequestCount(), 2u);

  for (const int32_t stored : {0, 65536 + other.Port()}) {
    ASSERT_TRUE(SetPort(stored).Ok());
    EXPECT_FALSE(Call(Record("5550100", "S", 5))) << stored;
    EXPECT_EQ(m_notices.back(), kErrorPrefix + ("The Talmery Gateway port " + std::to_string(stored) +
                                                " is not between 1 and 65535. Correct it in File > Setup."));
  }
  EXPECT_EQ(other.ConnectionCount(), 2u);
  EXPECT_EQ(m_server.RequestCount(), 1u);
}

TEST_F(ReminderCallTest, AcceptedRequestShowsNothing) {
  m_server.SetAnswer({200, "OK", "queued [4711]"});
  EXPECT_TRUE(Call(Record("5550100", "S", 5)));
  EXPECT_EQ(m_server.RequestCount(), 1u);
  EXPECT_EQ(Told(), 0u);
}

TEST_F(ReminderCallTest, NoRecordMeansNoCall) {
  EXPECT_TRUE(Call(nullptr));
  EXPECT_EQ(m_server.ConnectionCount(), 0u);
  EXPECT_EQ(Told(), 0u);
}

}  // namespace
