// The metrics' pure parts: the kind each refusal is counted as (from the texts the gateway really
// logs), the SIP status of a try, histograms and the store's figures in the text format.
#include <gtest/gtest.h>

#include "gateway/call_request.h"
#include "gateway/metrics.h"
#include "gateway/net_policy.h"

namespace talmery {
namespace {

std::string AdmissionRefusal(AdmissionLimits limits, long long waiting) {
  Admission admission(limits);
  std::string reason;
  admission.TryAdmit("192.0.2.7", 0, 0, reason);
  admission.TryAdmit("192.0.2.7", 1, waiting, reason);
  return reason;
}

std::string ContentTypeRefusal(const std::string& type) {
  int codePage = 0;
  std::string reason;
  ParseFormContentType(type, codePage, reason);
  return reason;
}

std::string FormRefusal(const std::string& body) {
  CallRequest request;
  std::string reason;
  ParseCallRequest(body, request, reason);
  return reason;
}

TEST(Metrics, EachRefusalIsCountedUnderItsKind) {
  const struct {
    std::string reason;
    const char* kind;
  } cases[] = {
      {"not among the clients of this gateway", "not_a_client"},
      {"more than 64 connections open at once", "too_many_connections"},
      {"the request head is malformed or larger than 32 KB", "malformed_head"},
      {"nothing was sent within 10 s", "idle"},
      {"the request took too long", "too_slow"},
      {"calls are not taken from web browsers (the request has a Origin header)", "browser"},
      {ContentTypeRefusal("text/plain"), "content_type"},
      {ContentTypeRefusal("application/x-www-form-urlencoded; charset=x-martian"), "content_type"},
      {"the request is larger than 256 KB", "too_large"},
      {"the gateway is busy reading other requests: try again", "busy"},
      {FormRefusal("calltime=0&selfdelete=1&firstocc=15&txt=x"), "bad_request"},
      {FormRefusal("calltime=5&selfdelete=1&firstocc=15&phoneno=5550100&txt=x"), "bad_request"},
      {"the number 00******34 may not be called from this gateway", "number_not_allowed"},
      {AdmissionRefusal({1, 0, 0}, 0), "client_rate"},
      {AdmissionRefusal({0, 1, 0}, 0), "daily_calls"},
      {AdmissionRefusal({0, 0, 5}, 5), "queue_full"},
      {"the call could not be stored", "store_error"},
      {"the metrics are served to metrics_clients only", "metrics_client"},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.reason.empty()) << c.kind;
    EXPECT_EQ(metrics::RefusalKind(c.reason), c.kind) << c.reason;
  }
}

TEST(Metrics, HistogramBucketsAreCumulativeAndInclusive) {
  metrics::Histogram h({0.25, 1});
  for (double v : {0.25, 0.5, 4.0}) h.Observe(v);
  EXPECT_EQ(h.Samples("x_seconds", "handler=\"call\""),
            "x_seconds_bucket{handler=\"call\",le=\"0.25\"} 1\n"
            "x_seconds_bucket{handler=\"call\",le=\"1\"} 2\n"
            "x_seconds_bucket{handler=\"call\",le=\"+Inf\"} 3\n"
            "x_seconds_sum{handler=\"call\"} 4.75\n"
            "x_seconds_count{handler=\"call\"} 3\n");
}

// Every state has its series (0 when no call is in it), names with blanks become labels with
// underscores, and the oldest waiting call's age is counted from its request.
TEST(Metrics, TheStoresFiguresOnThePage) {
  StoreFigures figures;
  figures.byState = {{"no answer", 2}, {"done", 5}};
  figures.waiting = 2;
  figures.oldestWaitingMs = 1'000'000;
  const std::string page = metrics::Page(figures, 1'090'500);
  for (const char* line : {"talmery_calls{state=\"no_answer\"} 2\n", "talmery_calls{state=\"done\"} 5\n",
                           "talmery_calls{state=\"temporary_failure\"} 0\n", "talmery_calls{state=\"queued\"} 0\n",
                           "talmery_queue_length 2\n", "talmery_queue_oldest_age_seconds 90.5\n",
                           "# TYPE process_resident_memory_bytes gauge\n"})
    EXPECT_NE(page.find(line), std::string::npos) << line;
  EXPECT_NE(metrics::Page(StoreFigures{}, 5).find("talmery_queue_oldest_age_seconds 0\n"), std::string::npos);
}

}  // namespace
}  // namespace talmery
