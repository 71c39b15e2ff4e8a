#include "tests/harness/registry.h"

#include <gtest/gtest.h>

namespace {

const char kKey[] = "Software\\Brisomel\\HarnessTest";

TEST(Registry, WritesAndReadsExactBytes) {
  harness::ScopedRegistryKey scope(HKEY_CURRENT_USER, kKey);
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kKey));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kKey, "host", REG_SZ, harness::SzBytes("localhost")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kKey, "port", REG_DWORD, harness::DwordBytes(8155)));

  harness::RegValue host = harness::ReadValue(HKEY_CURRENT_USER, kKey, "host");
  EXPECT_TRUE(host.exists);
  EXPECT_EQ(host.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(host.bytes, (std::vector<unsigned char>{'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't', 0}));

  harness::RegValue port = harness::ReadValue(HKEY_CURRENT_USER, kKey, "port");
  EXPECT_EQ(port.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(port.bytes, (std::vector<unsigned char>{0xDB, 0x1F, 0, 0}));

  EXPECT_FALSE(harness::ReadValue(HKEY_CURRENT_USER, kKey, "missing").exists);
  EXPECT_FALSE(harness::ReadValue(HKEY_CURRENT_USER, "Software\\Brisomel\\NoSuchKey", "x").exists);
}

TEST(Registry, DefaultValueAndEmptyValue) {
  harness::ScopedRegistryKey scope(HKEY_CURRENT_USER, kKey);
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kKey, nullptr, REG_SZ, harness::SzBytes("dflt")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kKey, "empty", REG_BINARY, {}));
  EXPECT_EQ(harness::ReadValue(HKEY_CURRENT_USER, kKey, nullptr).bytes, harness::SzBytes("dflt"));
  harness::RegValue empty = harness::ReadValue(HKEY_CURRENT_USER, kKey, "empty");
  EXPECT_TRUE(empty.exists);
  EXPECT_EQ(empty.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_TRUE(empty.bytes.empty());
}

TEST(Registry, ScopedKeyRemovesTheWholeTreeOnBothEnds) {
  const std::string sub = std::string(kKey) + "\\Deeper\\Deepest";
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, sub, "left", REG_SZ, harness::SzBytes("over")));
  {
    harness::ScopedRegistryKey scope(HKEY_CURRENT_USER, kKey);
    EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kKey));
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, sub, "v", REG_DWORD, harness::DwordBytes(1)));
    EXPECT_EQ(harness::SubkeyNames(HKEY_CURRENT_USER, kKey), std::vector<std::string>{"Deeper"});
    EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, sub), std::vector<std::string>{"v"});
  }
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kKey));
  EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, "Software\\Brisomel"));
}

TEST(Registry, ByteHelpers) {
  EXPECT_EQ(harness::SzBytes(""), std::vector<unsigned char>{0});
  EXPECT_EQ(harness::DwordBytes(0x12345678), (std::vector<unsigned char>{0x78, 0x56, 0x34, 0x12}));
}

TEST(Registry, DeleteTreeRefusesTheRoot) {
  EXPECT_FALSE(harness::DeleteTree(HKEY_CURRENT_USER, ""));
  EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, "Software"));
}

}  // namespace
