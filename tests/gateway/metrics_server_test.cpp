// GET /metrics on the wire: who may read it, and a real Prometheus (Debian's) scraping the
// gateway program in speaker mode, in clear and over HTTPS, with promtool checking the page.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/gateway/child_process.h"
#include "tests/gateway/test_support.h"
#include "tests/gateway/tls_client.h"
#include "tools/phone/loopback_phone.h"

namespace gwtest {
namespace {

std::string StatusLine(const std::string& response) { return response.substr(0, response.find("\r\n")); }

std::string Get(const std::string& path, const std::string& method = "GET") {
  return method + " " + path + " HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n";
}

const std::string kPost = [] {
  const std::string body = CallBody("5550100", "Budget review.");
  return "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nConnection: close\r\nContent-Type: "
         "application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}();

// Clients 127.0.0.1, the scraper 127.0.0.2: each reads what is its own and nothing else; an
// address that is neither is turned away at once.
TEST(MetricsOnTheWire, ServedToMetricsClientsAlone) {
  TempDir dir;
  talmery::Config c = SpeakerConfig(dir.path());
  std::string error;
  ASSERT_TRUE(talmery::ParseConfigText("clients = 127.0.0.1\nmetrics_clients = 127.0.0.2\n", c, error)) << error;
  InProcessGateway gateway(c);
  ASSERT_TRUE(gateway.Start(error)) << error;
  const struct {
    const char* from;
    std::string request;
    const char* statusLine;  // empty: the connection is closed unanswered
  } cases[] = {
      {"127.0.0.2", Get("/metrics"), "HTTP/1.1 200 OK"},
      {"127.0.0.2", Get("/metrics", "POST"), "HTTP/1.1 405 Method Not Allowed"},
      {"127.0.0.2", Get("/"), ""},
      {"127.0.0.2", kPost, ""},
      {"127.0.0.1", Get("/metrics"), "HTTP/1.1 403 Forbidden"},
      {"127.0.0.1", Get("/"), "HTTP/1.1 200 OK"},
      {"127.0.0.3", Get("/metrics"), ""},
  };
  for (const auto& t : cases) {
    const std::string response = ExchangeFrom(t.from, gateway.Port(), t.request);
    EXPECT_EQ(StatusLine(response), t.statusLine) << t.from << " " << t.request;
  }
  const std::string page = ExchangeFrom("127.0.0.2", gateway.Port(), Get("/metrics"));
  EXPECT_NE(page.find("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"), std::string::npos) << page;
  // Counted under the kind each was refused for: the scraper's page and post, and 127.0.0.3 at its
  // connection, are no client's; the client's scrape is no metrics client's.
  for (const char* counted : {"\ntalmery_calls_refused_total{reason=\"not_a_client\"} 3\n",
                              "\ntalmery_calls_refused_total{reason=\"metrics_client\"} 1\n"})
    EXPECT_NE(page.find(counted), std::string::npos) << counted << page;
  EXPECT_TRUE(gateway.WaitForLog(
      "event=refused from=127.0.0.1 reason=\"the metrics are served to metrics_clients only\"", 5000));
  EXPECT_TRUE(gateway.WaitForLog("event=refused from=127.0.0.2 reason=\"not among the clients of this gateway\"", 5000));
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    if (pclose(p) != 0) out += "\n(exit status not 0)";
  }
  return out;
}

class PrometheusScrape : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, PrometheusScrape, ::testing::Values(Transport{"Clear", false}, Transport{"Tls", true}),
                         [](const auto& p) { return std::string(p.param.name); });

// A few calls, one refused; the page passes promtool, holds neither a number nor a text, and a
// Prometheus started here scrapes it and answers a query for the accepted calls. Over HTTPS it
// trusts the gateway's authority and checks its name; a second job that trusts only the system's
// authorities gets no sample.
TEST_P(PrometheusScrape, PrometheusScrapesTheGatewayAndCountsItsCalls) {
  const bool tls = GetParam().tls;
  TempDir dir;
  const int base = phone::FreePortBlock(2, 1);
  ASSERT_NE(base, 0);
  const int port = base, prometheusPort = base + 1;
  const std::string d = dir.path(), name = "gw.test";
  std::string https;
  if (tls) {
    MakeServerCertificate(d, "gw", name);
    https = "tls_certificate = " + d + "/gw.crt\ntls_key = " + d + "/gw.key\n";
  }
  WriteFile(d + "/gateway.conf", "listen = 127.0.0.1:" + std::to_string(port) + "\ndatabase = " + d +
                                     "/calls.db\nmode = speaker\nspeaker_dir = " + d + "/spoken\n" + https);
  GatewayProcess gateway(d + "/gateway.conf", d + "/gateway.log");
  ASSERT_TRUE(gateway.WaitUntilServing(20000)) << ReadFile(d + "/gateway.log");
  const GatewayClient client(port, tls ? d + "/gw.crt" : "", name);
  for (const char* number : {"5550123", "5550124", "5550125"})
    ASSERT_EQ(BodyOf(client.PostCall(CallBody(number, "Budget review in room Zanzibar."))).substr(0, 1), "[");
  const std::string fromAPage = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nOrigin: http://intranet\r\n"
                                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n\r\n";
  ASSERT_EQ(BodyOf(client.Exchange(fromAPage)).compare(0, 6, "ERROR:"), 0);

  const std::string page = BodyOf(client.Exchange(Get("/metrics")));
  WriteFile(d + "/metrics.txt", page);
  EXPECT_EQ(Output("promtool check metrics < " + d + "/metrics.txt 2>&1"), "");
  EXPECT_NE(page.find("\ntalmery_calls_refused_total{reason=\"browser\"} 1\n"), std::string::npos) << page;
  for (const char* secret : {"555012", "55***2", "Zanzibar", "review"})
    EXPECT_EQ(page.find(secret), std::string::npos) << secret;
  // The gateway's store tells the metrics its commits: each accepted call was one before its id
  // was answered (the line's claims and ends add theirs, as they come).
  const std::string commits = "\ntalmery_store_commit_duration_seconds_count ";
  const size_t at = page.find(commits);
  ASSERT_NE(at, std::string::npos) << page;
  EXPECT_GE(std::atoll(page.c_str() + at + commits.size()), 3) << page;

  const std::string target = "    static_configs:\n      - targets: ['127.0.0.1:" + std::to_string(port) + "']\n";
  std::string jobs = "  - job_name: talmery-gateway\n" + target;
  if (tls) {
    jobs += "    scheme: https\n    tls_config:\n      ca_file: " + d + "/gw.crt\n      server_name: " + name + "\n";
    jobs += "  - job_name: untrusting\n" + target + "    scheme: https\n    tls_config:\n      server_name: " + name + "\n";
  }
  WriteFile(d + "/prometheus.yml", "global:\n  scrape_interval: 1s\nscrape_configs:\n" + jobs);
  ChildProcess prometheus({"prometheus", "--config.file=" + d + "/prometheus.yml", "--storage.tsdb.path=" + d + "/tsdb",
                           "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort)},
                          d + "/prometheus.out", d + "/prometheus.log");
  // The first sample of `expression`, once Prometheus has one (null after a generous minute).
  const auto sampleOf = [&](const std::string& expression) {
    nlohmann::json answer;
    WaitUntil(
        [&] {
          const std::string query =
              "GET /api/v1/query?query=" + expression + " HTTP/1.1\r\nHost: p\r\nConnection: close\r\n\r\n";
          answer = nlohmann::json::parse(BodyOf(Exchange(prometheusPort, query)), nullptr, false);
          return answer.is_object() && !answer["data"]["result"].empty();
        },
        60000, 250);
    return answer.is_object() && !answer["data"]["result"].empty() ? answer["data"]["result"][0] : nlohmann::json();
  };
  const nlohmann::json sample = sampleOf("talmery_calls_accepted_total");
  ASSERT_TRUE(sample.is_object()) << ReadFile(d + "/prometheus.log");
  EXPECT_EQ(sample["metric"]["job"], "talmery-gateway");
  EXPECT_EQ(sample["metric"]["instance"], "127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(sample["value"][1], "3");
  if (!tls) return;
  // The job that does not trust the gateway's authority scraped too, and failed at the handshake.
  const nlohmann::json untrusted = sampleOf("up%7Bjob%3D%22untrusting%22%7D");
  ASSERT_TRUE(untrusted.is_object()) << ReadFile(d + "/prometheus.log");
  EXPECT_EQ(untrusted["value"][1], "0");
  const std::string targets =
      BodyOf(Exchange(prometheusPort, "GET /api/v1/targets HTTP/1.1\r\nHost: p\r\nConnection: close\r\n\r\n"));
  EXPECT_NE(targets.find("x509: certificate signed by unknown authority"), std::string::npos) << targets;
}

}  // namespace
}  // namespace gwtest
