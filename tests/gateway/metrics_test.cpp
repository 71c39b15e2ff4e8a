// The metrics' pure parts: the SIP status of a try, histograms and the store's figures in the
// text format.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "gateway/call_request.h"
#include "gateway/metrics.h"

namespace talmery {
namespace {

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

// A commit the store reports (CommitTook, the store's CommitObserver) is one more in the commits'
// histogram, in the bucket of its time.
TEST(Metrics, TheStoresCommitsInTheirHistogram) {
  const auto sample = [](const std::string& name) {
    const std::string page = metrics::Page(StoreFigures{}, 5);
    const size_t at = page.find(name + " ");
    return at == std::string::npos ? -1 : std::atoll(page.c_str() + at + name.size() + 1);
  };
  const std::string fast = "talmery_store_commit_duration_seconds_bucket{le=\"0.1\"}";
  const std::string slow = "talmery_store_commit_duration_seconds_bucket{le=\"0.25\"}";
  const std::string all = "talmery_store_commit_duration_seconds_count";
  const long long fastBefore = sample(fast), slowBefore = sample(slow), allBefore = sample(all);
  ASSERT_GE(fastBefore, 0);
  metrics::CommitTook(std::chrono::microseconds(100));
  metrics::CommitTook(std::chrono::milliseconds(200));
  EXPECT_EQ(sample(fast), fastBefore + 1);
  EXPECT_EQ(sample(slow), slowBefore + 2);  // cumulative: the fast one is within 0.25 s too
  EXPECT_EQ(sample(all), allBefore + 2);
}

// Answered tries by who answered: each of the three from the first scrape on, counted as they
// come; anything else is no label.
TEST(Metrics, AnsweredTriesByWhoAnswered) {
  const auto count = [](const std::string& by) {
    const std::string page = metrics::Page(StoreFigures{}, 5);
    const std::string line = "talmery_answered_total{by=\"" + by + "\"} ";
    const size_t at = page.find(line);
    return at == std::string::npos ? -1 : std::atoll(page.c_str() + at + line.size());
  };
  const long long people = count("person"), machines = count("machine"), unsure = count("not_sure");
  ASSERT_GE(people, 0);
  ASSERT_GE(machines, 0);
  ASSERT_GE(unsure, 0);
  metrics::AnsweredBy("person");
  metrics::AnsweredBy("machine");
  metrics::AnsweredBy("machine");
  metrics::AnsweredBy("not sure");
  metrics::AnsweredBy("a robot");
  EXPECT_EQ(count("person"), people + 1);
  EXPECT_EQ(count("machine"), machines + 2);
  EXPECT_EQ(count("not_sure"), unsure + 1);
  EXPECT_EQ(count("a_robot"), -1);
}

}  // namespace
}  // namespace talmery
