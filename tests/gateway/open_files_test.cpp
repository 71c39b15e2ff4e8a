#include "gateway/open_files.h"

#include <gtest/gtest.h>

namespace talmery {
namespace {

// The shipped unit's LimitNOFILE (16384) holds every HTTP connection; a shell's 1024 holds a
// few hundred; the lines' own come first, and a limit they do not fit stops the start.
TEST(OpenFiles, TheLimitIsSharedByTheLinesAndHttp) {
  const struct {
    long limit;
    int lines;
    bool fits;
    unsigned http;
  } cases[] = {
      {16384, 4, true, 4000}, {65536, 300, true, 4000}, {1024, 4, true, 408},
      {1024, 200, true, 16},  {100, 4, true, 16},       {100, 10, false, 0},
  };
  for (const auto& c : cases) {
    OpenFiles share;
    std::string error;
    EXPECT_EQ(ShareOpenFiles(c.limit, c.lines, share, error), c.fits) << c.limit << " " << c.lines;
    EXPECT_EQ(share.limit, c.limit);
    if (c.fits) EXPECT_EQ(share.httpConnections, c.http) << c.limit << " " << c.lines;
  }
  OpenFiles share;
  std::string error;
  ASSERT_FALSE(ShareOpenFiles(100, 10, share, error));
  EXPECT_EQ(error, "max_calls = 10 needs 104 open files; the limit is 100");
}

}  // namespace
}  // namespace talmery
