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

// A call is not sent to localhost:8155 for want of settings: reading for a call says so.
TEST_F(SettingsStoreTest, WithoutKeyGettersGiveDefaultsReadsFailAndNothingIsCreated) {
  EXPECT_EQ(GetHost(), "localhost");
  EXPECT_EQ(GetPort(), 8155);
  EXPECT_EQ(GetMyNumber(), "");
  EXPECT_EQ(GetFirstName(), "");
  EXPECT_EQ(GetLastName(), "");
  std::string text;
  uint16_t port = 0;
  for (const Outcome& read : {ReadHost(&text), ReadPort(&port), ReadMyNumber(&text), ReadFirstName(&text),
                              ReadLastName(&text)}) {
    EXPECT_EQ(read.Message(), kSettingsMissingText);
  }
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

const std::string kCorrectIt = " Correct it in File > Setup.";

// Each text as Setup takes it reads back; a longer one, or one of another type, is told (the
// getters for showing the settings give the default).
TEST_F(SettingsStoreTest, TextSettingsOfEveryTypeAndSize) {
  ASSERT_TRUE(SetEnvironmentVariableA("BRISOMEL_TEST_GATEWAY", "gw.corp"));
  const struct {
    const char* name;
    Outcome (*read)(std::string*);
    std::string (*get)();
    size_t maxChars;
    std::string fallback;
  } settings[] = {
      {"host", ReadHost, GetHost, 1023, "localhost"},
      {"mynumber", ReadMyNumber, GetMyNumber, 259, ""},
      {"firstname", ReadFirstName, GetFirstName, 259, ""},
      {"lastname", ReadLastName, GetLastName, 259, ""},
  };
  for (const auto& setting : settings) {
    const std::string told = std::string("The Brisomel setting \"") + setting.name + "\"";
    const std::string tooLong = told + " is longer than " + std::to_string(setting.maxChars) + " characters." + kCorrectIt;
    const struct {
      const char* what;
      DWORD type;
      Bytes bytes;
      std::string value;  // what the read gives, or
      std::string error;  // what it tells
    } cases[] = {
        {"REG_SZ", REG_SZ, harness::SzBytes("555 0100"), "555 0100", ""},
        {"without its NUL", REG_SZ, Text("555"), "555", ""},
        {"text after a NUL", REG_SZ, Bytes{'1', '2', 0, '3', '4', 0}, "12", ""},
        {"of no bytes", REG_SZ, Bytes{}, "", ""},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, harness::SzBytes("%BRISOMEL_TEST_GATEWAY%:1"), "gw.corp:1", ""},
        {"REG_EXPAND_SZ of an unknown variable", REG_EXPAND_SZ, harness::SzBytes("%BRISOMEL_NO_SUCH%"),
         "%BRISOMEL_NO_SUCH%", ""},
        {"as long as Setup takes", REG_SZ, harness::SzBytes(std::string(setting.maxChars, '7')),
         std::string(setting.maxChars, '7'), ""},
        {"one longer", REG_SZ, harness::SzBytes(std::string(setting.maxChars + 1, '7')), "", tooLong},
        {"of 10 KB", REG_SZ, harness::SzBytes(std::string(10240, '7')), "", tooLong},
        {"REG_BINARY", REG_BINARY, Text("5550100"), "", told + " is stored as REG_BINARY, not as text." + kCorrectIt},
        {"REG_DWORD", REG_DWORD, Bytes{'4', '2', 0, 0}, "", told + " is stored as REG_DWORD, not as text." + kCorrectIt},
        {"REG_MULTI_SZ", REG_MULTI_SZ, Text(std::string("1\0" "2\0\0", 5)), "",
         told + " is stored as REG_MULTI_SZ, not as text." + kCorrectIt},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(setting.name) + " " + c.what);
      Store(setting.name, c.type, c.bytes);
      std::string value = "unread";
      const Outcome read = setting.read(&value);
      EXPECT_EQ(read.Message(), c.error);
      EXPECT_EQ(value, c.value);
      EXPECT_EQ(setting.get(), c.error.empty() ? c.value : setting.fallback);
    }
  }
}

// Outside the ANSI code page a name is still the name: it is spoken from UTF-8.
TEST_F(SettingsStoreTest, NamesReadAsUtf8WhateverTheCodePageLacks) {
  const std::wstring name = L"\u0141ukasz \u674e";
  win::RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, settings_key::kPathW, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.get(), L"firstname", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                           static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  std::string read;
  EXPECT_TRUE(ReadFirstName(&read).Ok());
  EXPECT_EQ(read, "\xC5\x81ukasz \xE6\x9D\x8E");
}

// The port as Setup stores it (a REG_DWORD) or as an administrator may write it (decimal text);
// anything else is told, never replaced by the default port.
TEST_F(SettingsStoreTest, PortOfEveryTypeAndSize) {
  ASSERT_TRUE(SetEnvironmentVariableA("BRISOMEL_TEST_PORT", "8200"));
  const std::string told = "The Brisomel setting \"port\"";
  const std::string notANumber = told + " is not a whole number." + kCorrectIt;
  const auto range = [](const std::string& port) {
    return "The Talmery Gateway port " + port + " is not between 1 and 65535. Correct it in File > Setup.";
  };
  const struct {
    DWORD type;
    Bytes bytes;
    int32_t shown;      // GetPort, for the view and Setup
    uint16_t port;      // ReadPort, or
    std::string error;  // what it tells
  } cases[] = {
      {REG_DWORD, Bytes{0x50, 0, 0, 0}, 80, 80, ""},
      {REG_DWORD, Bytes{0xFF, 0xFF, 0, 0}, 65535, 65535, ""},
      {REG_DWORD, Bytes{0, 0, 0, 0}, 0, 0, range("0")},
      {REG_DWORD, Bytes{0x00, 0x00, 0x01, 0x00}, 65536, 0, range("65536")},
      {REG_DWORD, Bytes{0xFB, 0xFF, 0xFF, 0xFF}, -5, 0, range("-5")},
      {REG_DWORD, Bytes{0x50, 0x00, 0x00}, 8155, 0, told + " is a REG_DWORD of 3 bytes, not 4." + kCorrectIt},
      {REG_DWORD, Bytes{}, 8155, 0, told + " is a REG_DWORD of 0 bytes, not 4." + kCorrectIt},
      {REG_SZ, harness::SzBytes("8080"), 8080, 8080, ""},
      {REG_SZ, harness::SzBytes(" 08080\t"), 8080, 8080, ""},
      {REG_EXPAND_SZ, harness::SzBytes("%BRISOMEL_TEST_PORT%"), 8200, 8200, ""},
      {REG_SZ, harness::SzBytes("70000"), 70000, 0, range("70000")},
      {REG_SZ, harness::SzBytes("80a"), 8155, 0, notANumber},
      {REG_SZ, harness::SzBytes("-80"), 8155, 0, notANumber},
      {REG_SZ, harness::SzBytes(""), 8155, 0, notANumber},
      {REG_QWORD, Bytes{0x50, 0, 0, 0, 0, 0, 0, 0}, 8155, 0,
       told + " is stored as REG_QWORD, not as a REG_DWORD or a number in text." + kCorrectIt},
      {REG_BINARY, Bytes{0x50, 0, 0, 0}, 8155, 0,
       told + " is stored as REG_BINARY, not as a REG_DWORD or a number in text." + kCorrectIt},
  };
  for (const auto& c : cases) {
    Store("port", c.type, c.bytes);
    uint16_t port = 0;
    const Outcome read = ReadPort(&port);
    EXPECT_EQ(read.Message(), c.error) << c.type << " of " << c.bytes.size();
    EXPECT_EQ(port, c.port) << c.type << " of " << c.bytes.size();
    EXPECT_EQ(GetPort(), c.shown) << c.type << " of " << c.bytes.size();
  }
}

// Group policy's host and port: the machine's wins over the user's policy, which wins over the
// user's own value, value by value; a policy value that cannot be used is told with its key and
// never replaced by the user's value or a default. The names and number have no policy.
class PolicyTest : public SettingsKeyFixture {
 protected:
  static void Policy(HKEY root, const char* name, DWORD type, const Bytes& bytes) {
    ASSERT_TRUE(harness::WriteValue(root, settings_key::kPolicyPath, name, type, bytes));
  }
  harness::ScopedRegistryKey machinePolicy_{HKEY_LOCAL_MACHINE, "Software\\Policies\\Brisomel"};
  harness::ScopedRegistryKey userPolicy_{HKEY_CURRENT_USER, "Software\\Policies\\Brisomel"};
};

TEST_F(PolicyTest, TheMachinesPolicyWinsOverTheUsersWhichWinsOverTheUsersOwnValue) {
  Store("host", REG_SZ, harness::SzBytes("own.example"));
  Store("port", REG_DWORD, harness::DwordBytes(1111));
  Store("firstname", REG_SZ, harness::SzBytes("Ann"));
  Policy(HKEY_CURRENT_USER, "firstname", REG_SZ, harness::SzBytes("Policy"));
  const struct {
    const char* what;
    const char* machineHost;
    DWORD userPort;  // 0: none
    const char* host;
    uint16_t port;
  } cases[] = {
      {"no policy", nullptr, 0, "own.example", 1111},
      {"the user's policy port", nullptr, 2222, "own.example", 2222},
      {"and the machine's host", "gw.corp", 2222, "gw.corp", 2222},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.machineHost) Policy(HKEY_LOCAL_MACHINE, "host", REG_SZ, harness::SzBytes(c.machineHost));
    if (c.userPort) Policy(HKEY_CURRENT_USER, "port", REG_DWORD, harness::DwordBytes(c.userPort));
    if (c.machineHost) Policy(HKEY_CURRENT_USER, "host", REG_SZ, harness::SzBytes("user.policy"));
    std::string host;
    uint16_t port = 0;
    EXPECT_TRUE(ReadHost(&host).Ok());
    EXPECT_TRUE(ReadPort(&port).Ok());
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(port, c.port);
    EXPECT_EQ(GetHost(), c.host);
    EXPECT_EQ(GetPort(), c.port);
    const GatewayPolicy policy = ReadGatewayPolicy();
    EXPECT_EQ(policy.host, c.machineHost != nullptr);
    EXPECT_EQ(policy.port, c.userPort != 0);
    EXPECT_FALSE(policy.locked);
    std::string name;
    EXPECT_TRUE(ReadFirstName(&name).Ok());
    EXPECT_EQ(name, "Ann");
  }
}

// A reminder left only on a mailbox is told unless a REG_DWORD 0 says not: the policy's value
// first, then the user's own; a value of any other kind tells, so that nothing unreadable keeps a
// missed reminder from the user.
TEST_F(PolicyTest, OnlyADwordZeroSilencesTheVoicemailNotice) {
  EXPECT_TRUE(TellsVoicemail()) << "missing";
  const struct {
    const char* what;
    HKEY policy;  // null: the user's own value only
    DWORD type;
    Bytes bytes;
    bool tells;
  } cases[] = {
      {"the user's 0", nullptr, REG_DWORD, harness::DwordBytes(0), false},
      {"the user's 1", nullptr, REG_DWORD, harness::DwordBytes(1), true},
      {"the user's text 0", nullptr, REG_SZ, harness::SzBytes("0"), true},
      {"a 2-byte 0", nullptr, REG_DWORD, Bytes{0, 0}, true},
      {"the user's policy 1 over the user's 0", HKEY_CURRENT_USER, REG_DWORD, harness::DwordBytes(1), true},
      {"the machine's policy 0 over the user's policy 1", HKEY_LOCAL_MACHINE, REG_DWORD, harness::DwordBytes(0), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.policy) {
      Store(settings_key::kVoicemailNotice, REG_DWORD, harness::DwordBytes(0));
      Policy(c.policy, settings_key::kVoicemailNotice, c.type, c.bytes);
    } else {
      Store(settings_key::kVoicemailNotice, c.type, c.bytes);
    }
    EXPECT_EQ(TellsVoicemail(), c.tells);
  }
}

TEST_F(PolicyTest, AValueThatCannotBeUsedIsToldWithItsKeyAndWins) {
  Store("host", REG_SZ, harness::SzBytes("own.example"));
  Store("port", REG_DWORD, harness::DwordBytes(1111));
  const std::string machine = " (HKEY_LOCAL_MACHINE\\Software\\Policies\\Brisomel\\tarnwick\\1.0)";
  const std::string user = " (HKEY_CURRENT_USER\\Software\\Policies\\Brisomel\\tarnwick\\1.0)";
  const std::string ask = " Ask your administrator to correct it.";
  const struct {
    HKEY root;
    const char* name;
    DWORD type;
    Bytes bytes;
    std::string error;
  } cases[] = {
      {HKEY_LOCAL_MACHINE, "host", REG_DWORD, harness::DwordBytes(7),
       "The Brisomel policy setting \"host\"" + machine + " is stored as REG_DWORD, not as text." + ask},
      {HKEY_CURRENT_USER, "host", REG_SZ, harness::SzBytes(std::string(1024, 'h')),
       "The Brisomel policy setting \"host\"" + user + " is longer than 1023 characters." + ask},
      {HKEY_LOCAL_MACHINE, "port", REG_SZ, harness::SzBytes("80a"),
       "The Brisomel policy setting \"port\"" + machine + " is not a whole number." + ask},
      {HKEY_CURRENT_USER, "port", REG_DWORD, harness::DwordBytes(70000),
       "The Brisomel policy setting \"port\"" + user + " is 70000, not a port between 1 and 65535." + ask},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    harness::DeleteTree(HKEY_LOCAL_MACHINE, settings_key::kPolicyPath);
    harness::DeleteTree(HKEY_CURRENT_USER, settings_key::kPolicyPath);
    Policy(c.root, c.name, c.type, c.bytes);
    std::string host;
    uint16_t port = 0;
    const Outcome read = std::string(c.name) == "host" ? ReadHost(&host) : ReadPort(&port);
    EXPECT_EQ(read.Message(), c.error);
  }
}

TEST_F(PolicyTest, TheLockIsAReg_DwordAndAnythingElseLocksAndIsTold) {
  const std::string told =
      "The Brisomel policy setting \"lockgateway\" (HKEY_LOCAL_MACHINE\\Software\\Policies\\Brisomel\\tarnwick\\1.0) "
      "is stored as ";
  const std::string ask = ", not as a REG_DWORD of 4 bytes. Ask your administrator to correct it.";
  const struct {
    DWORD type;
    Bytes bytes;
    bool locked;
    std::string problem;
  } cases[] = {
      {REG_DWORD, harness::DwordBytes(1), true, ""},
      {REG_DWORD, harness::DwordBytes(0), false, ""},
      {REG_SZ, harness::SzBytes("1"), true, told + "REG_SZ" + ask},
      {REG_DWORD, Bytes{1, 0}, true, told + "a REG_DWORD of 2 bytes" + ask},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    Policy(HKEY_LOCAL_MACHINE, "lockgateway", c.type, c.bytes);
    const GatewayPolicy policy = ReadGatewayPolicy();
    EXPECT_EQ(policy.locked, c.locked);
    EXPECT_EQ(policy.problem, c.problem);
    EXPECT_FALSE(policy.host);
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
