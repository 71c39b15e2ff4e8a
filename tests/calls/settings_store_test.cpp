// The settings store on the real registry, value by value: type, size and bytes.
#include "agent/calls/settings_store.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <memory>

#include <string>
#include <vector>

#include "common/settings_key.h"
#include "tests/calls/settings_key_fixture.h"
#include "tests/harness/registry.h"
#include "tests/harness/patience.h"

namespace {

using Bytes = std::vector<unsigned char>;

harness::RegValue Stored(const char* name) {
  return harness::ReadValue(HKEY_CURRENT_USER, settings_key::kPath, name);
}

void Store(const char* name, DWORD type, const Bytes& bytes) {
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, settings_key::kPath, name, type, bytes));
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

using SettingsStoreTest = SettingsKeyFixture;

TEST_F(SettingsStoreTest, WithoutKeyGettersGiveDefaultsAndCreateNothing) {
  EXPECT_EQ(GetHost(), "localhost");
  EXPECT_EQ(GetPort(), 8155);
  EXPECT_EQ(GetMyNumber(), "");
  EXPECT_EQ(GetFirstName(), "");
  EXPECT_EQ(GetLastName(), "");
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, "Software\\Brisomel"));
}

TEST_F(SettingsStoreTest, GettersWithKeyButNoValuesGiveDefaults) {
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, settings_key::kPath, "path", REG_SZ,
                                  harness::SzBytes("C:\\cadelo.exe")));
  EXPECT_EQ(GetHost(), "localhost");
  EXPECT_EQ(GetPort(), 8155);
  EXPECT_EQ(GetMyNumber(), "");
  EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, settings_key::kPath),
            std::vector<std::string>{"path"});
}

TEST_F(SettingsStoreTest, FirstSetterCreatesKeyAndWritesOnlyItsValue) {
  EXPECT_TRUE(SetFirstName("Ann").Ok());
  EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, settings_key::kPath),
            std::vector<std::string>{"firstname"});
  EXPECT_EQ(GetLastName(), "");
  EXPECT_EQ(GetHost(), "localhost");
}

TEST_F(SettingsStoreTest, SettersStoreTypeSizeAndBytes) {
  struct Case {
    const char* name;
    Outcome (*set)();
    DWORD type;
    Bytes bytes;
  };
  const Case cases[] = {
      {"host", [] { return SetHost("gw.example.org"); }, REG_SZ,
       harness::SzBytes("gw.example.org")},
      {"host", [] { return SetHost(""); }, REG_SZ, Bytes{0}},
      {"port", [] { return SetPort(8155); }, REG_DWORD, Bytes{0xDB, 0x1F, 0x00, 0x00}},
      {"port", [] { return SetPort(-2); }, REG_DWORD, Bytes{0xFE, 0xFF, 0xFF, 0xFF}},
      {"port", [] { return SetPort(65536 + 80); }, REG_DWORD, Bytes{0x50, 0x00, 0x01, 0x00}},
      {"mynumber", [] { return SetMyNumber("(555) 010-0200"); }, REG_SZ,
       harness::SzBytes("(555) 010-0200")},
      {"firstname", [] { return SetFirstName("Ann"); }, REG_SZ, Bytes{'A', 'n', 'n', 0}},
      {"lastname",
       [] {
         return SetLastName(
             "L\xE9"
             "e");
       },
       REG_SZ, Bytes{'L', 0xE9, 'e', 0}},
      {"lastname", [] { return SetLastName(""); }, REG_SZ, Bytes{0}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(c.set().Ok()) << c.name;
    const harness::RegValue v = Stored(c.name);
    EXPECT_TRUE(v.exists) << c.name;
    EXPECT_EQ(v.type, c.type) << c.name;
    EXPECT_EQ(v.bytes, c.bytes) << c.name;
  }
}

TEST_F(SettingsStoreTest, GettersReturnWhatSettersStored) {
  ASSERT_TRUE(SetHost("10.0.0.7").Ok());
  ASSERT_TRUE(SetPort(70000).Ok());
  ASSERT_TRUE(SetMyNumber("+1 555 0100").Ok());
  ASSERT_TRUE(SetFirstName("Ann").Ok());
  ASSERT_TRUE(SetLastName("Lee").Ok());
  EXPECT_EQ(GetHost(), "10.0.0.7");
  EXPECT_EQ(GetPort(), 70000);
  EXPECT_EQ(GetMyNumber(), "+1 555 0100");
  EXPECT_EQ(GetFirstName(), "Ann");
  EXPECT_EQ(GetLastName(), "Lee");
  ASSERT_TRUE(SetPort(-1).Ok());
  EXPECT_EQ(GetPort(), -1);
}

TEST_F(SettingsStoreTest, StoredEmptyHostStaysEmpty) {
  ASSERT_TRUE(SetHost("").Ok());
  EXPECT_EQ(GetHost(), "");
}

// Capacity counts the NUL: a text one shorter than the capacity fits, anything longer reads as
// the default.
TEST_F(SettingsStoreTest, TextsLongerThanTheirCapacityReadAsDefault) {
  struct Case {
    const char* name;
    Outcome (*set)(const std::string&);
    std::string (*get)();
    size_t capacity;
    std::string fallback;
  };
  const Case cases[] = {
      {"host", SetHost, GetHost, 1024, "localhost"},
      {"mynumber", SetMyNumber, GetMyNumber, 260, ""},
      {"firstname", SetFirstName, GetFirstName, 260, ""},
      {"lastname", SetLastName, GetLastName, 260, ""},
  };
  for (const Case& c : cases) {
    const std::string fits(c.capacity - 1, '7');
    ASSERT_TRUE(c.set(fits).Ok());
    EXPECT_EQ(c.get(), fits) << c.name;
    ASSERT_TRUE(c.set(std::string(c.capacity, '7')).Ok());
    EXPECT_EQ(c.get(), c.fallback) << c.name << " of " << c.capacity;
    ASSERT_TRUE(c.set(std::string(5000, '7')).Ok());
    EXPECT_EQ(c.get(), c.fallback) << c.name << " of 5000";
  }
}

TEST_F(SettingsStoreTest, TextGettersIgnoreTheStoredTypeAndStopAtTheFirstNul) {
  const struct {
    DWORD type;
    Bytes bytes;
    std::string text;
  } cases[] = {
      {REG_EXPAND_SZ, harness::SzBytes("555 0100"), "555 0100"},
      {REG_BINARY, Text("5550100"), "5550100"},  // no NUL stored
      {REG_SZ, Text("555"), "555"},              // no NUL stored
      {REG_BINARY, Bytes{'1', '2', 0, '3', '4', 0}, "12"},
      {REG_DWORD, Bytes{'4', '2', 0, 0}, "42"},
      {REG_SZ, Bytes{}, ""},
  };
  for (const auto& c : cases) {
    Store("mynumber", c.type, c.bytes);
    EXPECT_EQ(GetMyNumber(), c.text) << c.type;
  }
}

TEST_F(SettingsStoreTest, PortIsTheFourStoredBytesWhateverTheirType) {
  const struct {
    DWORD type;
    Bytes bytes;
    int32_t port;
  } cases[] = {
      {REG_DWORD, Bytes{0x50, 0, 0, 0}, 80},
      {REG_DWORD, Bytes{0, 0, 0, 0}, 0},
      {REG_BINARY, Bytes{0x01, 0x02, 0x03, 0x04}, 0x04030201},
      {REG_SZ, harness::SzBytes("abc"), 0x00636261},
      {REG_SZ, harness::SzBytes("8080"), 8155},             // five bytes: too long
      {REG_QWORD, Bytes{0x50, 0, 0, 0, 0, 0, 0, 0}, 8155},  // too long
      {REG_BINARY, Bytes{0x50, 0x00}, 8155},                // too short to be a port
      {REG_BINARY, Bytes{}, 8155},
  };
  for (const auto& c : cases) {
    Store("port", c.type, c.bytes);
    EXPECT_EQ(GetPort(), c.port) << c.type << " of " << c.bytes.size();
  }
}

// A volatile parent key cannot hold the (non-volatile) settings key: RegCreateKeyEx fails.
class UncreatableSettingsKeyTest : public SettingsKeyFixture {
 protected:
  void SetUp() override {
    win::RegKey parent;
    DWORD disposition = 0;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brisomel\\tarnwick", 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, parent.put(), &disposition),
        ERROR_SUCCESS);
    char description[1024] = {};
    ASSERT_NE(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_CHILD_MUST_BE_VOLATILE, 0x0400, description, sizeof description,
                             nullptr),
              0u);
    m_expectedText = std::string("Cannot create key in registry.") + description;
  }

  std::string m_expectedText;
};

TEST_F(UncreatableSettingsKeyTest, CreateSettingsKeySaysWhyItFailed) {
  win::RegKey key;
  const Outcome created = CreateSettingsKey(&key);
  EXPECT_FALSE(created.Ok());
  EXPECT_FALSE(key);
  EXPECT_EQ(created.Message(), m_expectedText);
}

TEST_F(UncreatableSettingsKeyTest, EachSetterReportsOnItsOwn) {
  for (const Outcome& set : {SetHost("h"), SetPort(1), SetMyNumber("1"), SetFirstName("A"), SetLastName("L")}) {
    EXPECT_FALSE(set.Ok());
    EXPECT_EQ(set.Message(), m_expectedText);
  }
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, settings_key::kPath));
  EXPECT_EQ(GetHost(), "localhost");
}

// A key that IT deployed read-only: its values are what the user gets, not the defaults, and a
// setter says with the system's reason that it cannot write.
TEST_F(SettingsStoreTest, AReadOnlyKeyIsReadAndASetterSaysWhyItCannotWrite) {
  Store("host", REG_SZ, harness::SzBytes("gw.corp"));
  Store("port", REG_DWORD, harness::DwordBytes(9000));
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1, &raw, nullptr));
  std::unique_ptr<void, decltype(&LocalFree)> readOnly(raw, &LocalFree);
  win::RegKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, settings_key::kPath, 0, WRITE_DAC, key.put()), ERROR_SUCCESS);
  ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, readOnly.get()), ERROR_SUCCESS);

  EXPECT_EQ(GetHost(), "gw.corp");
  EXPECT_EQ(GetPort(), 9000);
  const Outcome refused = SetHost("other");
  EXPECT_FALSE(refused.Ok());
  char reason[1024] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED, 0x0400,
                 reason, sizeof reason, nullptr);
  EXPECT_EQ(refused.Message(), std::string("Cannot save setting in registry.") + reason);

  PSECURITY_DESCRIPTOR open = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr));
  std::unique_ptr<void, decltype(&LocalFree)> fullAccess(open, &LocalFree);
  ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, fullAccess.get()), ERROR_SUCCESS);
  EXPECT_EQ(GetHost(), "gw.corp") << "a refused write changed the value";
}

}  // namespace
