// The message filter AfxOleInit installs: how it answers a busy server.
#include <gtest/gtest.h>

#include <objbase.h>

#include "agent/framework/ole/ole.h"

namespace {

TEST(OleMessageFilter, RetriesABusyServerForAMinuteThenGivesUp) {
  IMessageFilter* filter = nullptr;
  ASSERT_EQ(CoRegisterMessageFilter(nullptr, &filter), S_OK);
  ASSERT_NE(filter, nullptr);
  IMessageFilter* none = nullptr;
  ASSERT_EQ(CoRegisterMessageFilter(filter, &none), S_OK);  // put it back

  struct Row {
    DWORD elapsedMs;
    DWORD rejectType;
    DWORD expected;
  };
  const Row rows[] = {
      {0, SERVERCALL_RETRYLATER, 100},
      {59999, SERVERCALL_RETRYLATER, 100},
      {60000, SERVERCALL_RETRYLATER, static_cast<DWORD>(-1)},
      {0, SERVERCALL_REJECTED, static_cast<DWORD>(-1)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(filter->RetryRejectedCall(nullptr, row.elapsedMs, row.rejectType), row.expected)
        << row.elapsedMs << " ms, reject type " << row.rejectType;
  }
  EXPECT_EQ(filter->HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, nullptr), static_cast<DWORD>(SERVERCALL_ISHANDLED));
  filter->Release();
}

}  // namespace
