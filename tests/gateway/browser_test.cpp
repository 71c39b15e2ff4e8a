// A real browser at the door: headless Chromium (Debian's) opens a page of another site
// (127.0.0.2) whose scripts post the gateway's form and a no-cors fetch, and nothing is stored;
// then it renders the status page, whose DOM and picture are checked. The same in clear and over
// HTTPS, where Chromium trusts the gateway's key alone and reaches it by its certificate's name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/gateway/child_process.h"
#include "tests/gateway/support/challenging_pbx.h"
#include "tests/gateway/test_support.h"
#include "tests/gateway/tls_client.h"
#include "tools/phone/loopback_phone.h"

namespace gwtest {
namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Chromium, headless (as root it needs --no-sandbox), with a profile of the test's own and told by
// `reach` how to find and trust the gateway; the DOM as it rendered it.
std::string Chromium(const std::string& dir, const std::string& name, const std::vector<std::string>& reach,
                     std::vector<std::string> args) {
  std::vector<std::string> argv = {"chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                   "--user-data-dir=" + dir + "/profile-" + name};
  argv.insert(argv.end(), reach.begin(), reach.end());
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess chromium(argv, dir + "/" + name + ".html", dir + "/" + name + ".log");
  const int status = chromium.Wait(90000);
  EXPECT_EQ(status, 0) << ReadFile(dir + "/" + name + ".log");
  return ReadFile(dir + "/" + name + ".html");
}

class Browser : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, Browser, ::testing::Values(Transport{"Clear", false}, Transport{"Tls", true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_P(Browser, APageOfAnotherSiteStoresNothingAndTheStatusPageShowsMaskedCalls) {
  const bool tls = GetParam().tls;
  TempDir dir;
  const int base = phone::FreePortBlock(200, 1);
  ASSERT_NE(base, 0);
  const std::string pbx = "127.0.0.1:" + std::to_string(base);
  ChallengingPbx answering(base, "", {{"5550486", "486 Busy Here"}});  // asks for no digest
  ASSERT_TRUE(answering.bound());
  talmery::Config c;
  c.listenPort = 0;
  c.database = dir.path() + "/calls.db";
  c.attempts = 2;
  c.retryPause = 3600;  // the busy call waits for its next try while the page is taken
  c.sip.user = "gateway";
  c.sip.domain = pbx;
  c.sip.registerSeconds = 600;
  c.sip.dial = "sip:{number}@" + pbx;
  c.sip.sipPort = base + 1;
  c.sip.rtpPortFirst = base + 100;
  c.sip.rtpPortLast = base + 199;
  // Over TLS the gateway is "gw.test" (a name, as the agents reach it), which Chromium resolves
  // to 127.0.0.1; it trusts the certificate's key and nothing else: the handshake is real.
  const std::string name = tls ? "gw.test" : "127.0.0.1";
  std::vector<std::string> reach;
  if (tls) {
    MakeServerCertificate(dir.path(), "gw", name);
    c.tlsCertificate = dir.path() + "/gw.crt";
    c.tlsKey = dir.path() + "/gw.key";
    const std::string spki = Output("openssl x509 -in " + c.tlsCertificate + " -pubkey -noout | openssl pkey -pubin "
                                    "-outform der | openssl dgst -sha256 -binary | base64");
    ASSERT_EQ(spki.size(), 45u) << spki;  // 32 bytes in base64, and the line's end
    reach = {"--host-resolver-rules=MAP " + name + " 127.0.0.1",
             "--ignore-certificate-errors-spki-list=" + spki.substr(0, 44)};
  }
  InProcessGateway gateway(c);
  std::string error;
  ASSERT_TRUE(gateway.Start(error)) << error;
  EXPECT_EQ(gateway.PlainPort(), 0);  // over TLS, nothing else listens: the browser's posts reach TLS
  const GatewayClient client(gateway.Port(), tls ? c.tlsCertificate : "", name);
  const std::string url = (tls ? "https://" : "http://") + name + ":" + std::to_string(gateway.Port());
  ASSERT_EQ(BodyOf(client.PostCall(CallBody("5550486", "Budget review."))), "[1]\r\n");
  ASSERT_EQ(BodyOf(client.PostCall(CallBody("5550404", "Dentist."))), "[2]\r\n");
  ASSERT_EQ(client.WaitForState(1, "busy", 20000)["state"], "busy");
  ASSERT_EQ(client.WaitForState(2, "failed", 20000)["state"], "failed");
  ASSERT_TRUE(gateway.WaitForLog("event=registration state=registered", 20000)) << gateway.LogText();

  // The other site: a plain form that its script submits, and a fetch that asks for no answer it
  // could read. The form navigates its own page, so that the DOM Chromium dumps is the gateway's
  // answer to it: a form posted into a frame may still be on its way when the dump is taken.
  const std::string site = dir.path() + "/site";
  ASSERT_EQ(mkdir(site.c_str(), 0755), 0);
  WriteFile(site + "/form.html",
            "<!DOCTYPE html><html><body>\n"
            "<form id=\"f\" method=\"post\" action=\"" + url + "/ocall/callreqHandler.jsp\">\n"
            "<input name=\"calltime\" value=\"0\"><input name=\"selfdelete\" value=\"1\"><input name=\"firstocc\" "
            "value=\"15\"><input name=\"phoneno\" value=\"5550999\"><input name=\"txt\" value=\"From a page.\"></form>\n"
            "<script>document.getElementById('f').submit();</script></body></html>\n");
  WriteFile(site + "/fetch.html",
            "<!DOCTYPE html><html><body><p id=\"fetch\">fetch: pending</p>\n<script>\n"
            "fetch('" + url + "/ocall/callreqHandler.jsp', {method: 'POST', mode: 'no-cors', body: new URLSearchParams("
            "{calltime: '0', selfdelete: '1', firstocc: '15', phoneno: '5550998', txt: 'From a script.'})})\n"
            "  .then(() => { document.getElementById('fetch').textContent = 'fetch: sent'; },\n"
            "        (e) => { document.getElementById('fetch').textContent = 'fetch: failed ' + e; });\n"
            "</script></body></html>\n");
  const int sitePort = base + 2;
  ChildProcess server({"python3", "-u", "-m", "http.server", "--bind", "127.0.0.2", std::to_string(sitePort),
                       "--directory", site},
                      dir.path() + "/site.out", dir.path() + "/site.log");
  WaitUntil([&] { return ReadFile(dir.path() + "/site.out").find("Serving HTTP") != std::string::npos; }, 10000);
  const std::string page = "http://127.0.0.2:" + std::to_string(sitePort) + "/";
  const std::string form =
      Chromium(dir.path(), "form", reach, {"--virtual-time-budget=10000", "--dump-dom", page + "form.html"});
  EXPECT_NE(form.find("ERROR: calls are not taken from web browsers (the request has a Origin header)"), std::string::npos)
      << form;
  const std::string fetched =
      Chromium(dir.path(), "fetch", reach, {"--virtual-time-budget=10000", "--dump-dom", page + "fetch.html"});
  EXPECT_NE(fetched.find("<p id=\"fetch\">fetch: sent</p>"), std::string::npos) << fetched;
  const std::string refusal =
      "event=refused from=127.0.0.1 reason=\"calls are not taken from web browsers (the request has a Origin header)\"";
  EXPECT_TRUE(gateway.WaitForLog(refusal, 5000));
  // Both were refused; the log tells the kind once a minute, the metrics count each.
  EXPECT_EQ(Count(gateway.LogText(), refusal), 1u) << gateway.LogText();
  EXPECT_NE(BodyOf(client.Exchange("GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"))
                .find("talmery_calls_refused_total{reason=\"browser\"} 2\n"),
            std::string::npos);
  EXPECT_EQ(Count(gateway.LogText(), "state=queued"), 2u);
  EXPECT_TRUE(client.CallStatus(3).is_null());

  // The status page as Chromium renders it, and its picture.
  const std::string png = dir.path() + "/status.png";
  const std::string dom = Chromium(dir.path(), "status", reach, {"--window-size=1200,700", "--hide-scrollbars",
                                                                 "--screenshot=" + png, "--dump-dom", url + "/"});
  for (const std::string& shown :
       {std::string("<td>55***86</td><td>busy</td><td>1 of 2</td>"), std::string("<td>55***04</td><td>failed</td>"),
        "<p>registration: sip:gateway@" + pbx + ": registered</p>", std::string("busy: 1; failed: 1.")})
    EXPECT_NE(dom.find(shown), std::string::npos) << shown << "\n" << dom;
  for (const char* hidden : {"5550486", "5550404", "Budget", "Dentist"}) EXPECT_EQ(dom.find(hidden), std::string::npos) << hidden;
  const std::string picture = ReadFile(png);
  ASSERT_GE(picture.size(), 24u);
  EXPECT_EQ(picture.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(picture.substr(16, 8), std::string("\0\0\x04\xb0\0\0\x02\xbc", 8));  // IHDR: 1200 x 700
  // Text drawn with smoothed edges has hundreds of colours; a blank or failed page has one or two.
  EXPECT_GE(std::atoi(Output("identify -format %k " + png).c_str()), 100);
}

}  // namespace
}  // namespace gwtest
