// The owning handle wrapper: closes once, and a close on the way out of a failed call does not
// overwrite the error that call left for its caller.
#include <gtest/gtest.h>

#include "common/win/handles.h"

namespace {

int closes = 0;
struct ClobberingTraits {  // a close that sets the thread's error, as some closes do
  using Handle = int;
  static Handle Invalid() { return 0; }
  static void Close(Handle) {
    ++closes;
    ::SetLastError(ERROR_INVALID_HANDLE);
  }
};

TEST(OwnedHandles, ResetAndDestructionKeepTheLastErrorAndCloseOnce) {
  closes = 0;
  {
    win::UniqueHandle<ClobberingTraits> handle(7);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    handle.reset(8);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(closes, 1);
    ::SetLastError(ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(closes, 2);
  win::UniqueHandle<win::KernelHandleTraits> event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  ::SetLastError(ERROR_SHARING_VIOLATION);
  event.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(event);
}

}  // namespace
