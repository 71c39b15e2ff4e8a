// Prints how long one MakeReminderCall takes against the loopback stand-in gateway, beside a bare
// WinINet POST of the same bytes, measured alternately in the same run. Never asserts.
// Usage: calls_bench [runs]   (default 200). Needs a prefix without Brisomel settings: it writes
// its own and removes them again.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "agent/calls/call_text.h"
#include "agent/calls/reminder_call.h"
#include "agent/calls/settings_store.h"
#include "tests/support/internet_handle.h"
#include "tests/harness/registry.h"
#include "tools/gateway/gateway_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// Composed at kNow, 15 minutes before the start.
const double kNow = 47484.5;  // 2030-01-01 12:00

std::unique_ptr<ReminderRecord> WorkedExample() {
  auto r = std::make_unique<ReminderRecord>();
  r->m_strPhone = "555-0100";
  r->m_strSubject = "Budget review";
  r->m_nMinutes = 15;
  r->start = kNow + 15 / 1440.0;
  return r;
}

// The same request as the product's, with nothing of the product around it.
bool BarePost(uint16_t port, const std::string& body) {
  win::InternetHandle session(
      InternetOpenA("Brisomel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  win::InternetHandle connection(InternetConnectA(session.get(), "127.0.0.1", port, nullptr, nullptr,
                                                 INTERNET_SERVICE_HTTP, 0, 1));
  win::InternetHandle request(HttpOpenRequestA(connection.get(), "POST", kCallRequestPath, nullptr,
                                              nullptr, nullptr, INTERNET_FLAG_EXISTING_CONNECT, 1));
  if (!request) return false;
  HttpAddRequestHeadersA(request.get(), "Content-Type: application/x-www-form-urlencoded\r\n",
                         static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  if (!HttpSendRequestA(request.get(), nullptr, 0, const_cast<char*>(body.data()),
                        static_cast<DWORD>(body.size()))) {
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                 nullptr);
  char answer[1024];
  DWORD read = 0;
  return InternetReadFile(request.get(), answer, sizeof answer, &read) && status == 200 && read > 0;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(const char* name, std::vector<double> ms, int failures) {
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double v : ms) sum += v;
  const size_t n = ms.size();
  std::printf(
      "%-22s n=%zu  median %7.3f ms  p95 %7.3f ms  min %7.3f ms  mean %7.3f ms  failures %d\n",
      name, n, ms[n / 2], ms[std::min(n - 1, (n * 95) / 100)], ms.front(), sum / n, failures);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  if (harness::KeyExists(HKEY_CURRENT_USER, "Software\\Brisomel")) {
    std::fprintf(stderr,
                 "calls_bench: HKCU\\Software\\Brisomel exists; run it in a test prefix.\n");
    return 2;
  }
  harness::ScopedRegistryKey cleanup(HKEY_CURRENT_USER, "Software\\Brisomel");
  gateway::Server server;
  if (!server.Start()) {
    std::fprintf(stderr, "calls_bench: the stand-in gateway did not start\n");
    return 2;
  }
  server.SetAnswer({200, "OK", "[1]"});
  if (!SetHost("127.0.0.1").Ok() || !SetPort(server.Port()).Ok() || !SetFirstName("Ann").Ok() ||
      !SetLastName("Lee").Ok()) {
    std::fprintf(stderr, "calls_bench: the settings could not be stored\n");
    return 2;
  }
  const std::unique_ptr<ReminderRecord> example = WorkedExample();
  const std::string body = ComposeCallForm(*example->m_nMinutes, DialledNumber(example->m_strPhone),
                                           ComposeCallText(CallerName("Ann", "Lee"), *example, 15 * 60));

  std::vector<double> product, bare;
  int productFailures = 0, bareFailures = 0;
  for (int i = -5; i < runs; ++i) {  // five warm-up rounds
    for (int order = 0; order < 2; ++order) {
      // Alternate which goes first, so neither always meets a freshly woken server.
      const bool productTurn = (order == 0) == (i % 2 == 0);
      const size_t before = server.RequestCount();
      const Clock::time_point start = Clock::now();
      const bool ok =
          productTurn ? MakeReminderCall(WorkedExample(), kNow).Ok() : BarePost(server.Port(), body);
      const Clock::duration took = Clock::now() - start;
      const bool arrived = server.RequestCount() == before + 1;
      if (i < 0) continue;
      if (productTurn) {
        product.push_back(Ms(took));
        productFailures += !(ok && arrived);
      } else {
        bare.push_back(Ms(took));
        bareFailures += !(ok && arrived);
      }
    }
  }
  std::printf("One reminder call request to the loopback stand-in gateway (%d runs each):\n", runs);
  Report("MakeReminderCall", product, productFailures);
  Report("bare WinINet POST", bare, bareFailures);
  return 0;
}
