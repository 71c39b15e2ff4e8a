// Who may post and where: addresses and blocks of them, as the settings write them.
#include <gtest/gtest.h>

#include "gateway/addresses.h"

namespace talmery {
namespace {

TEST(Addresses, BlocksHostsAndLoopback) {
  const struct {
    const char* block;
    const char* address;
    bool in;
  } cases[] = {
      {"192.0.2.0/24", "192.0.2.255", true},    {"192.0.2.0/24", "192.0.3.0", false},
      {"10.1.2.3/16", "10.1.200.9", true},      {"10.0.0.0/9", "10.127.0.1", true},
      {"10.0.0.0/9", "10.128.0.1", false},      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "127.0.0.2", false},        {"0.0.0.0/0", "203.0.113.5", true},
      {"0.0.0.0/0", "2001:db8::1", false},      {"2001:db8::/32", "2001:db8:ffff::1", true},
      {"2001:db8::/32", "2001:db9::1", false},  {"::1", "::1", true},
      {"192.0.2.0/24", "::ffff:192.0.2.9", true},  // a v4 client on a dual-stack socket
      {"fe80::/10", "febf::1", true},           {"fe80::/10", "fec0::1", false},
  };
  for (const auto& c : cases) {
    AddressBlock block;
    Address16 address;
    std::string error;
    ASSERT_TRUE(ParseAddressBlock(c.block, block, error)) << error;
    ASSERT_TRUE(ParseAddress(c.address, address)) << c.address;
    EXPECT_EQ(InBlock(address, block), c.in) << c.block << " " << c.address;
  }
  std::vector<AddressBlock> list;
  std::string error;
  ASSERT_TRUE(ParseAddressBlocks("192.0.2.0/24, 2001:db8::/32  10.0.0.1", list, error)) << error;
  EXPECT_EQ(list.size(), 3u);
  EXPECT_FALSE(ParseAddressBlocks("192.0.2.0/24, 300.1.1.1", list, error));
  EXPECT_EQ(error, "\"300.1.1.1\" is not an IPv4 or IPv6 address or block");
  for (const char* host : {"127.0.0.1", "127.3.0.1", "::1", "[::1]", "localhost"}) EXPECT_TRUE(IsLoopbackHost(host)) << host;
  for (const char* host : {"0.0.0.0", "::", "[::]", "192.0.2.10", "pbx"}) EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

}  // namespace
}  // namespace talmery
