// The framing of baresip's control channel, which the loopback phone is driven over.
#include <gtest/gtest.h>

#include "tools/phone/netstring.h"

namespace talmery {
namespace {

TEST(PhoneControl, Netstrings) {
  EXPECT_EQ(EncodeNetstring("{\"a\":1}"), "7:{\"a\":1},");
  NetstringReader r;
  const std::string stream = "3:abc,0:,5:he";
  r.Feed(stream.data(), stream.size());
  std::string p;
  ASSERT_TRUE(r.Next(p));
  EXPECT_EQ(p, "abc");
  ASSERT_TRUE(r.Next(p));
  EXPECT_EQ(p, "");
  EXPECT_FALSE(r.Next(p));  // the rest is still coming
  EXPECT_FALSE(r.Failed());
  r.Feed("llo,", 4);
  ASSERT_TRUE(r.Next(p));
  EXPECT_EQ(p, "hello");

  for (const std::string bad : {"x:abc,", "3:abcd", ":", "99999999999:"}) {
    NetstringReader b(1000);
    b.Feed(bad.data(), bad.size());
    EXPECT_FALSE(b.Next(p)) << bad;
    EXPECT_TRUE(b.Failed()) << bad;
  }
  NetstringReader small(4);
  small.Feed("5:hello,", 8);
  EXPECT_FALSE(small.Next(p));
  EXPECT_EQ(small.Error(), "netstring of 5 bytes is over the limit");
}

}  // namespace
}  // namespace talmery
