#include "agent/outlook/outlook_retry.h"

#include <gtest/gtest.h>

namespace {

TEST(OutlookRetry, OnlyABusyOrStartingOutlookIsTriedAgain) {
  const struct {
    uint32_t hresult;
    bool transient;
  } rows[] = {
      {0x80010001u, true},   // RPC_E_CALL_REJECTED
      {0x8001010Au, true},   // RPC_E_SERVERCALL_RETRYLATER
      {0x80080005u, true},   // CO_E_SERVER_EXEC_FAILURE
      {0x8000401Au, true},   // CO_E_APPDIDNTREG
      {0x800706BAu, true},   // RPC_S_SERVER_UNAVAILABLE
      {0x800706BBu, true},   // RPC_S_SERVER_TOO_BUSY
      {0x80040154u, false},  // REGDB_E_CLASSNOTREG: no Outlook installed
      {0x800401F3u, false},  // CO_E_CLASSSTRING: no such ProgID
      {0x80070005u, false},  // E_ACCESSDENIED
      {0x80020009u, false},  // DISP_E_EXCEPTION
      {0x80004005u, false},  // E_FAIL
      {0u, false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsTransientOutlookFailure(row.hresult), row.transient) << std::hex << row.hresult;
}

TEST(OutlookRetry, PausesGrowToTwoSecondsWithinTheBudget) {
  const uint32_t expected[] = {250, 500, 1000, 2000, 2000, 2000};
  uint32_t total = 0;
  for (int retry = 1; retry <= 6; ++retry) {
    EXPECT_EQ(OutlookRetryDelayMs(retry), expected[retry - 1]) << retry;
    total += OutlookRetryDelayMs(retry);
  }
  EXPECT_EQ(OutlookRetryDelayMs(1000), 2000u);
  EXPECT_LT(total, kOutlookRetryBudgetMs);  // several tries fit before giving up
}

}  // namespace
