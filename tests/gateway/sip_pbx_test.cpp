// The gateway with a PBX: digests for any password, registration and its refusal, an outbound
// proxy, a PBX found through SRV, redirects only where they may go, only the call's peer in the
// call; and Debian's Kamailio as a real registrar, over UDP and TLS.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/gateway/sip_call_fixtures.h"
#include "tests/gateway/support/name_server.h"
#include "tests/gateway/support/private_network.h"

namespace gwtest {
namespace {

using SipThroughAPbx = SipPeerTest;
using SipRedirect = SipPeerTest;
using SipDialog = SipPeerTest;
using SipRegistrar = SipPeerTest;

// Through a PBX that demands digest authentication: a password of blanks, quotes and
// separators authenticates; a congested PBX's 503 is tried again, a 404 is not; a redirect is
// followed, a loop of redirects is given up; the registration is removed when the
// gateway stops.
TEST_F(SipThroughAPbx, AnyPasswordAuthenticatesTemporaryFailuresAreRetriedTheRegistrationEndsAtStop) {
  const std::string password = "a b;c#\"d<e>\\ f=";
  const std::string pbxHost = "@127.0.0.1:" + std::to_string(base_);
  ASSERT_TRUE(StartPbx(password, {{"5550503", "503 Service Unavailable"},
                                  {"5550302", "302 Moved Temporarily\r\nContact: <sip:5550404" + pbxHost + ">"},
                                  {"5550301", "301 Moved Permanently\r\nContact: <sip:5550301" + pbxHost + ">"}}));
  talmery::Config c = RegisteringConfig(dir_, base_, password);
  c.attempts = 2;
  c.retryPause = 1;
  c.ringTime = 5;
  c.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base_);
  std::string error;
  ASSERT_TRUE(talmery::ValidateConfig(c, error)) << error;
  ASSERT_TRUE(StartGateway(c));
  // All four at once (one line: they queue), then each one's end.
  struct {
    const char* name;
    const char* number;
    const char* reason;
    int attempts;
    long long id = 0;
  } calls[] = {
      {"a congested PBX is tried again", "5550503",
       "temporary failure (503 Service Unavailable) on the last of 2 tries", 2},
      {"a wrong number is not", "5550404", "404 Not Found", 1},
      {"a redirect is followed (to 5550404)", "5550302", "404 Not Found", 1},
      {"a loop of redirects (to itself) is given up after some hops", "5550301", "301 Moved Permanently", 1},
  };
  for (auto& call : calls) call.id = Post(call.number, "Budget review.");
  for (const auto& call : calls) {
    SCOPED_TRACE(call.name);
    const nlohmann::json end = WaitForState(Port(), call.id, "failed", 30000);
    ASSERT_EQ(end["state"], "failed") << end.dump(1);
    EXPECT_EQ(end["reason"], call.reason) << end.dump(1);
    EXPECT_EQ(end["attempts"], call.attempts) << end.dump(1);
  }
  const nlohmann::json congested = CallStatus(Port(), calls[0].id);
  ASSERT_EQ(congested["history"].size(), 2u);
  for (const auto& attempt : congested["history"]) {
    EXPECT_EQ(attempt["outcome"], "temporary failure");
    EXPECT_EQ(attempt["detail"], "503 Service Unavailable");
  }
  // 503 twice, 404 once, 302 and its 404, and the loop: followed a few times (the SIP stack's
  // limit is 15 hops), not for ever.
  EXPECT_GE(pbx_->Right(), 3 + 2 + 2);
  EXPECT_LE(pbx_->Right(), 3 + 2 + 16);
  EXPECT_EQ(pbx_->Wrong(), 0);
  const std::string page = Page();
  EXPECT_NE(page.find("try 1 temporary failure: 503 Service Unavailable; try 2 temporary failure: 503 Service Unavailable"),
            std::string::npos)
      << page;

  EXPECT_EQ(pbx_->Registrations(), std::vector<std::string>{"600"});
  EXPECT_NE(page.find("<p>registration: sip:gateway@127.0.0.1:" + std::to_string(base_) + ": registered</p>"),
            std::string::npos);
  StopGateway();  // a stop: the user agent unregisters before it is gone
  EXPECT_EQ(pbx_->Registrations(), (std::vector<std::string>{"600", "0"}));
}

// An outbound proxy with URI parameters carries the calls and the registration: the PBX and
// the dialled host (192.0.2.1, an address of documentation that nothing answers) are reached
// only through it, and each request names it as its Route.
TEST_F(SipThroughAPbx, TheOutboundProxyCarriesCallsAndRegistration) {
  ASSERT_TRUE(StartPbx("pw"));
  talmery::Config c = RegisteringConfig(dir_, base_, "pw");
  c.sip.domain = "192.0.2.1";
  c.sip.dial = "sip:{number}@192.0.2.1";
  c.sip.outboundProxy = "sip:127.0.0.1:" + std::to_string(base_) + ";transport=udp;lr";
  c.attempts = 1;
  std::string error;
  ASSERT_TRUE(talmery::ValidateConfig(c, error)) << error;
  ASSERT_TRUE(StartGateway(c));
  const long long id = Post("5550404", "Via the proxy.");
  const nlohmann::json done = WaitForState(Port(), id, "failed", 30000);
  EXPECT_EQ(done["reason"], "404 Not Found") << done.dump(1);
  ASSERT_TRUE(gateway().WaitForLog("event=registration state=registered aor=sip:gateway@192.0.2.1", 10000))
      << gateway().LogText();
  StopGateway();
  EXPECT_EQ(pbx_->Registrations(), (std::vector<std::string>{"600", "0"}));
  EXPECT_EQ(pbx_->Right(), 1);
  const std::vector<std::string> routes = pbx_->Routes();
  EXPECT_GE(routes.size(), 5u);  // REGISTER twice, INVITE twice, the removal at least once
  for (const std::string& route : routes) EXPECT_EQ(route, "<sip:127.0.0.1:" + std::to_string(base_) + ";transport=udp;lr>");
}

// A wrong password: the refusal is logged once and shown, and the next try waits.
TEST_F(SipThroughAPbx, ARefusedRegistrationBacksOffAndIsLoggedOnce) {
  ASSERT_TRUE(StartPbx("right"));
  talmery::Config c = RegisteringConfig(dir_, base_, "Wr0ng-pw");
  c.sip.registerRetry = 1;
  ASSERT_TRUE(StartGateway(c));
  // Three rounds: refused, 1 s, refused, 2 s, refused.
  WaitUntil([&] { return pbx_->RefusedRegisters() >= 3; }, 10000);
  ASSERT_GE(pbx_->RefusedRegisters(), 3);
  const std::string log = gateway().LogText();
  EXPECT_EQ(CountOf(log, "event=registration state=refused"), 1u) << log;
  // The detail is the registrar's answer, or (when that came before the control connection,
  // and only the agent's account of it is left) a plain refusal.
  EXPECT_TRUE(std::regex_search(log, std::regex("state=refused aor=sip:gateway@127\\.0\\.0\\.1:" + std::to_string(base_) +
                                                " detail=\"(403 Forbidden|the registrar refused it)\" next=")))
      << log;
  EXPECT_EQ(log.find("Wr0ng-pw"), std::string::npos);  // the password is in no log line
  const std::string page = Page();
  EXPECT_TRUE(std::regex_search(page, std::regex(": refused \\((403 Forbidden|the registrar refused it)\\); next try ")))
      << page;
  EXPECT_TRUE(pbx_->Registrations().empty());
}

// A PBX found through its name's SRV record, at an address of its own, is the PBX: its challenge
// gets the digest.
TEST_F(SipThroughAPbx, APbxFoundThroughItsSrvRecordGetsTheDigest) {
  if (!EnterPrivateNetwork(dir_.path())) GTEST_SKIP() << "needs root for a network namespace of its own";
  OneNameServer names("pbx.office.test", 5090);
  ASSERT_TRUE(names.bound());
  pbx_ = std::make_unique<ChallengingPbx>(5090, kPassword, std::map<std::string, std::string>{}, "127.0.0.2");
  ASSERT_TRUE(pbx_->bound());
  talmery::Config c = PeerConfig(dir_, 5000);
  c.sip.dial = "sip:{number}@pbx.office.test";
  ASSERT_TRUE(StartGateway(c));
  const long long id = Post("5550404", "Budget.");
  EXPECT_EQ(WaitForState(Port(), id, "failed", 30000)["reason"], "404 Not Found") << gateway().LogText();
  EXPECT_EQ(pbx_->Right(), 1);
}

// A redirect is followed only to the PBX's host and a number `numbers` allows; one to a premium
// number or to another host ends the call with the reason, and neither is dialled nor given a
// digest. The numbers a try dialled are kept with it.
TEST_F(SipRedirect, OnlyToThePbxAndToNumbersThatMayBeCalled) {
  ASSERT_TRUE(StartPeer());
  talmery::Config c = PeerConfig(dir_, base_);
  c.numbers = {"200[1-5]"};
  ASSERT_TRUE(StartGateway(c));
  const struct {
    const char* name;
    const char* number;
    const char* state;
    const char* reason;
    std::vector<std::string> dialled;
  } cases[] = {
      {"to a number that may not be called", "2001", "failed",
       "302 redirect to the number 09******77, which may not be called", {"***1"}},
      {"to another host", "2002", "failed", "302 redirect to 127.0.0.2, which is not the PBX", {"***2"}},
      {"to an allowed number of the PBX, followed", "2004", "failed", "busy (486 Busy Here) on the last of 1 try",
       {"***4", "***5"}},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    const long long id = Post(t.number, "Budget.");
    const nlohmann::json end = WaitForState(Port(), id, t.state, 30000);
    EXPECT_EQ(end["reason"], t.reason) << end.dump(1);
    EXPECT_EQ(end["history"][0]["dialled"], nlohmann::json(t.dialled)) << end.dump(1);
    EXPECT_TRUE(gateway().WaitForLog("call=" + std::to_string(id) + " state=failed", 5000)) << gateway().LogText();
  }
  const std::string here = "@127.0.0.1:" + std::to_string(base_);
  EXPECT_EQ(peer_->Invited(), (std::vector<std::string>{"sip:2001" + here, "sip:2002" + here, "sip:2004" + here, "sip:2005" + here}));
}

// A challenge of another realm than `realm` gets no digest: the call fails with the PBX's 401.
TEST_F(SipRedirect, ADigestOnlyForTheConfiguredRealm) {
  ASSERT_TRUE(StartPbx(kPassword));
  talmery::Config c = PeerConfig(dir_, base_);
  c.sip.realm = "office";
  ASSERT_TRUE(StartGateway(c));
  const long long id = Post("2001", "Budget.");
  EXPECT_EQ(WaitForState(Port(), id, "failed", 30000)["reason"], "401 Unauthorized");
  EXPECT_EQ(pbx_->Right() + pbx_->Wrong(), 0);
  EXPECT_TRUE(gateway().WaitForLog("event=sip refused=challenge from=127.0.0.1 realm=pbx reason=\"the realm is not office\"", 5000))
      << gateway().LogText();
}

// Only the call's peer (or the PBX) is in the call: an INFO with key 1, a BYE and a re-INVITE
// from another host who knows the Call-ID each get 403, and the call goes on to its end, not
// confirmed. PCMU named by its static payload type alone is taken; an answer whose media are at
// 0.0.0.0 fails the try.
TEST_F(SipDialog, OnlyThePeerIsInTheCall) {
  ASSERT_TRUE(StartPeer());
  talmery::Config c = PeerConfig(dir_, base_);
  c.confirm = true;
  ASSERT_TRUE(StartGateway(c));
  const long long id = Post("5550100", "Budget.");
  const nlohmann::json end = WaitForState(Port(), id, "failed", 60000);
  EXPECT_EQ(end["reason"], "no answer (answered by a person, not confirmed) on the last of 1 try") << end.dump(1);
  EXPECT_EQ(peer_->StrangerGot(), (std::vector<std::string>{"SIP/2.0 403 Forbidden", "SIP/2.0 403 Forbidden",
                                                             "SIP/2.0 403 Forbidden"}));
  EXPECT_TRUE(std::regex_search(gateway().LogText(),
                                std::regex("event=sip refused=INFO from=127\\.0\\.0\\.2:[0-9]+ reason=\"not from the "
                                           "call's peer or the PBX\"\n")))
      << gateway().LogText();
  const long long nowhere = Post("5550001", "Budget.");
  EXPECT_EQ(WaitForState(Port(), nowhere, "failed", 30000)["reason"],
            "temporary failure (the callee's media address 0.0.0.0:40000 cannot be reached) on the last of 1 try");
  // The callee's own host, not the PBX, challenges our BYE: it gets no digest.
  Post("5550002", "Budget.");
  EXPECT_TRUE(gateway().WaitForLog(" event=sip refused=challenge from=127.0.0.2 realm=evil reason=\"not from the PBX\"\n", 30000))
      << gateway().LogText();
}

// Debian's Kamailio as the registrar, on loopback: digest authentication against a password
// held in an htable, a new nonce for each challenge, every REGISTER written to its log.
class Kamailio {
 public:
  // With `certificate` (the files <certificate>.crt and .key) it also takes TLS on port + 1.
  Kamailio(const std::string& dir, int port, const std::string& password, const std::string& certificate = "")
      : log_(dir + "/kamailio.log") {
    const std::string tls =
        certificate.empty()
            ? ""
            : "enable_tls=yes\nlisten=tls:127.0.0.1:" + std::to_string(port + 1) +
                  "\nloadmodule \"/usr/lib/x86_64-linux-gnu/kamailio/modules/tls.so\"\n"
                  "modparam(\"tls\", \"config\", \"" + dir + "/tls.cfg\")\n";
    if (!certificate.empty())
      WriteFile(dir + "/tls.cfg", "[server:default]\nmethod = TLSv1.2+\nverify_certificate = no\n"
                                  "require_certificate = no\nprivate_key = " + certificate + ".key\ncertificate = " +
                                      certificate + ".crt\n");
    WriteFile(dir + "/kamailio.cfg",
              "#!KAMAILIO\ndebug=1\nlog_stderror=yes\nchildren=1\nlisten=udp:127.0.0.1:" + std::to_string(port) +
                  "\n" + tls + "mpath=\"/usr/lib/x86_64-linux-gnu/kamailio/modules/\"\n"
                  "loadmodule \"kex.so\"\nloadmodule \"corex.so\"\nloadmodule \"tm.so\"\nloadmodule \"sl.so\"\n"
                  "loadmodule \"pv.so\"\nloadmodule \"usrloc.so\"\nloadmodule \"registrar.so\"\n"
                  "loadmodule \"textops.so\"\nloadmodule \"siputils.so\"\nloadmodule \"xlog.so\"\n"
                  "loadmodule \"auth.so\"\nloadmodule \"htable.so\"\n"
                  "modparam(\"usrloc\", \"db_mode\", 0)\nmodparam(\"htable\", \"htable\", \"users=>size=4;\")\n"
                  "event_route[htable:mod-init] {\n  $sht(users=>gateway) = \"" + password + "\";\n}\n"
                  "request_route {\n  if (is_method(\"REGISTER\")) {\n"
                  "    xlog(\"L_ALERT\", \"REGISTER contact=$ct proto=$pr\\n\");\n"
                  "    if (!pv_www_authenticate(\"$td\", \"$sht(users=>$au)\", \"0\")) {\n"
                  "      www_challenge(\"$td\", \"0\");\n      exit;\n    }\n"
                  "    xlog(\"L_ALERT\", \"BOUND contact=$ct\\n\");\n    save(\"location\");\n    exit;\n  }\n"
                  "  sl_send_reply(\"404\", \"Not here\");\n}\n");
    std::string program = "kamailio", dd = "-DD", e = "-E", f = "-f", cfg = dir + "/kamailio.cfg", y = "-Y", w = "-w",
                m = "-m", mv = "48", big = "-M", bigv = "6", run = dir;
    char* argv[] = {program.data(), dd.data(), e.data(), f.data(), cfg.data(), y.data(), run.data(), w.data(),
                    run.data(), m.data(), mv.data(), big.data(), bigv.data(), nullptr};
    const int out = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out, STDERR_FILENO);
      dup2(out, STDOUT_FILENO);
      execvp(argv[0], argv);
      _exit(127);
    }
    close(out);
  }
  ~Kamailio() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool WaitUntilListening() {
    return WaitUntil([&] { return ReadFile(log_).find("Listening on") != std::string::npos; }, 10000);
  }
  size_t Count(const std::string& text) { return CountOf(ReadFile(log_), text); }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

// Against a real registrar: the right password registers and the binding goes at stop; a
// wrong one is refused, logged once, and tried again only after the pause.
TEST_F(SipRegistrar, KamailioRightAndWrongPasswords) {
  const int base = base_;
  const TempDir& dir = dir_;
  Kamailio kamailio(dir.path(), base, "Right pw #1");
  ASSERT_TRUE(kamailio.WaitUntilListening()) << ReadFile(dir.path() + "/kamailio.log");
  talmery::Config c = RegisteringConfig(dir, base, "Right pw #1");
  c.sip.registerRetry = 1;
  ASSERT_TRUE(StartGateway(c));
  ASSERT_TRUE(gateway().WaitForLog("event=registration state=registered", 10000)) << gateway().LogText();
  EXPECT_EQ(kamailio.Count("BOUND contact="), 1u);
  ASSERT_FALSE(Page().empty());
  StopGateway();
  // The stop: one more authenticated REGISTER, which removes the binding.
  ASSERT_EQ(kamailio.Count("BOUND contact="), 2u);
  EXPECT_EQ(kamailio.Count("BOUND contact=<sip:gateway-"), 2u);
  const std::string log = ReadFile(dir.path() + "/kamailio.log");
  const std::string last = log.substr(log.rfind("BOUND contact="));
  EXPECT_EQ(last.substr(0, last.find('\n')).substr(last.find('>')), ">;expires=0");

  c.sip.password = "wrong";
  c.database = dir.path() + "/calls2.db";
  const size_t before = kamailio.Count("REGISTER contact=");
  ASSERT_TRUE(StartGateway(c));
  ASSERT_TRUE(gateway().WaitForLog("event=registration state=refused", 20000)) << gateway().LogText();
  // Kamailio challenges each answer anew: the gateway answers one challenge, the second ends
  // the round (a REGISTER and one wrong digest), not a burst of digests.
  const size_t firstRound = kamailio.Count("REGISTER contact=") - before;
  EXPECT_EQ(firstRound, 2u);
  EXPECT_TRUE(gateway().WaitForLog("event=registration state=refused aor=sip:gateway@127.0.0.1:" + std::to_string(base) +
                                        " detail=\"401 Unauthorized\"", 1000))
      << gateway().LogText();
  // The next round comes after the pause (1 s, then 2 s); wait for it to end.
  WaitUntil([&] { return kamailio.Count("REGISTER contact=") - before >= 2 * firstRound; }, 10000);
  ASSERT_GE(kamailio.Count("REGISTER contact=") - before, 2 * firstRound);
  const std::string gatewayLog = gateway().LogText();
  EXPECT_EQ(CountOf(gatewayLog, "event=registration state=refused"), 1u) << gatewayLog;
  std::printf("REGISTERs in a refused round: %zu\n", firstRound);
  StopGateway();  // while the registrar is still there
}

// Over TLS to Kamailio: the registration is made and removed over TLS with the right
// certificate; with a certificate that does not verify it is refused with the reason, and no
// REGISTER reaches the registrar.
TEST_F(SipRegistrar, KamailioOverTls) {
  const int base = base_;
  const TempDir& dir = dir_;
  ASSERT_TRUE(MakeCertificate(dir.path(), "pbx"));
  ASSERT_TRUE(MakeCertificate(dir.path(), "stranger"));
  Kamailio kamailio(dir.path(), base, "Right pw #1", dir.path() + "/pbx");
  ASSERT_TRUE(kamailio.WaitUntilListening()) << ReadFile(dir.path() + "/kamailio.log");
  talmery::Config c = RegisteringConfig(dir, base, "Right pw #1");
  c.sip.domain = "127.0.0.1:" + std::to_string(base + 1);
  c.sip.transport = "tls";
  c.sip.tlsCaFile = dir.path() + "/pbx.crt";
  ASSERT_TRUE(StartGateway(c));
  ASSERT_TRUE(gateway().WaitForLog("event=registration state=registered", 10000))
      << gateway().LogText() << ReadFile(dir.path() + "/kamailio.log");
  StopGateway();
  EXPECT_EQ(kamailio.Count("BOUND contact="), 2u);  // the binding, and its removal at the stop
  EXPECT_EQ(kamailio.Count("REGISTER contact="), kamailio.Count(" proto=tls\n"));
  EXPECT_EQ(kamailio.Count(";transport=tls>"), kamailio.Count("contact="));

  c.sip.tlsCaFile = dir.path() + "/stranger.crt";
  c.database = dir.path() + "/calls2.db";
  const size_t before = kamailio.Count("REGISTER contact=");
  ASSERT_TRUE(StartGateway(c));
  EXPECT_TRUE(gateway().WaitForLog("event=registration state=refused aor=sip:gateway@127.0.0.1:" + std::to_string(base + 1) +
                                     " detail=\"TLS: the PBX's certificate does not verify for 127.0.0.1: "
                                     "self-signed certificate\"",
                                 10000))
      << gateway().LogText();
  EXPECT_EQ(kamailio.Count("REGISTER contact="), before);
  StopGateway();
}

}  // namespace
}  // namespace gwtest
