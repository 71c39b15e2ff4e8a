// Settings of every wrong type and size, end to end: the hidden agent reads them for each
// reminder. Texts are REG_SZ or REG_EXPAND_SZ (expanded), the port a REG_DWORD or decimal text;
// a value of another type or size, or a missing settings key, is told and nothing is sent (never
// a default instead). Either way nothing is rewritten, and once the value is repaired the next
// reminder reaches the gateway.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/system/fault_run.h"

namespace systemtest {
namespace {

constexpr char kError[] = "Error making reminder call\r\n";
constexpr char kUnresolved[] = "The Talmery Gateway's host name could not be resolved.";
constexpr char kNoHostName[] = "The Talmery Gateway's host name is empty or not a valid name.";
constexpr char kNoNumber[] = "Cannot make reminder call. MyPhoneNumber not specified";
constexpr uint16_t kDefaultPort = 8155;

// What the user reads about a setting the call cannot use.
std::string WrongType(const char* name, const char* type) {
  return std::string(kError) + "The Brisomel setting \"" + name + "\" is stored as " + type + ", not as " +
         (std::string(name) == "port" ? "a REG_DWORD or a number in text" : "text") + ". Correct it in File > Setup.";
}

std::string TooLong(const char* name, int maxChars) {
  return std::string(kError) + "The Brisomel setting \"" + name + "\" is longer than " + std::to_string(maxChars) +
         " characters. Correct it in File > Setup.";
}

using Bytes = std::vector<unsigned char>;

Bytes Raw(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Dword(uint32_t value) { return harness::DwordBytes(value); }

// The stored value must be left exactly as the test wrote it: the getters never write.
void ExpectUntouched(const char* name, DWORD type, const Bytes& bytes) {
  const harness::RegValue value = harness::ReadValue(HKEY_CURRENT_USER, kSettingsKey, name);
  EXPECT_TRUE(value.exists) << name;
  EXPECT_EQ(value.type, type) << name;
  EXPECT_EQ(value.bytes, bytes) << name;
}

Fault Setting(const std::string& what, const char* name, DWORD type, const Bytes& bytes) {
  Fault fault;
  fault.name = std::string(name) + " " + what;
  fault.arrange = [name, type, bytes](SystemRig& rig) { rig.WriteSetting(name, type, bytes); };
  fault.repair = [name, type, bytes](SystemRig& rig) {
    ExpectUntouched(name, type, bytes);
    rig.WriteGoodSettings();
  };
  return fault;
}

Fault Shows(Fault fault, const std::string& box) {
  fault.boxes = {box};
  return fault;
}

// The reminder names no number: the user's own is read.
Fault OwnNumber(Fault fault) {
  fault.phone = "";
  return fault;
}

Fault Reaches(Fault fault) {
  fault.requests = 1;
  return fault;
}

// The request carries `phone` as the dialled number.
Fault Dials(Fault fault, const std::string& phone) {
  fault.phone = "";  // the reminder names no number: the own number is called
  fault = Reaches(fault);
  fault.check = [phone](const std::vector<gateway::RecordedRequest>& requests) {
    if (!requests.empty()) {
      EXPECT_EQ(PhoneOf(requests[0]), phone);
    }
  };
  return fault;
}

// The call text introduces the caller as `caller`.
Fault Introduces(Fault fault, const std::string& caller) {
  fault = Reaches(fault);
  fault.check = [caller](const std::vector<gateway::RecordedRequest>& requests) {
    if (!requests.empty()) {
      const std::string opening = "Hi, this is " + caller + " appointment reminder call program.\n";
      EXPECT_EQ(TextOf(requests[0]).substr(0, opening.size()), opening);
    }
  };
  return fault;
}

TEST(RegistryFaults, GatewayHostOfEveryWrongTypeAndSize) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  ASSERT_TRUE(SetEnvironmentVariableA("BRISOMEL_TEST_GATEWAY_HOST", "127.0.0.1"));  // the agent inherits it
  const std::string host1023(1023, 'h');
  const std::vector<Fault> faults = {
      Shows(Setting("as REG_DWORD", "host", REG_DWORD, Dword(0x0100007F)), WrongType("host", "REG_DWORD")),
      Shows(Setting("as REG_BINARY without NUL", "host", REG_BINARY, Raw("127.0.0.1")), WrongType("host", "REG_BINARY")),
      Shows(Setting("as REG_MULTI_SZ", "host", REG_MULTI_SZ, Raw(std::string("127.0.0.1\0other\0\0", 18))),
            WrongType("host", "REG_MULTI_SZ")),
      Reaches(Setting("as REG_EXPAND_SZ", "host", REG_EXPAND_SZ, harness::SzBytes("%BRISOMEL_TEST_GATEWAY_HOST%"))),
      Shows(Setting("as unexpanded REG_EXPAND_SZ", "host", REG_EXPAND_SZ, harness::SzBytes("%GATEWAYHOST%")),
            std::string(kError) + kUnresolved),
      // Longer than Setup takes: told, never "localhost" instead.
      Shows(Setting("of 1024 characters", "host", REG_SZ, harness::SzBytes(std::string(1024, 'h'))), TooLong("host", 1023)),
      Shows(Setting("of 10 KB", "host", REG_SZ, harness::SzBytes(std::string(10240, 'h'))), TooLong("host", 1023)),
      Shows(Setting("of 1023 characters", "host", REG_SZ, harness::SzBytes(host1023)), std::string(kError) + kUnresolved),
      // An empty host is used as it is (the default applies only to a missing value).
      Shows(Setting("empty", "host", REG_SZ, harness::SzBytes("")), std::string(kError) + kNoHostName),
      Shows(Setting("of no bytes", "host", REG_SZ, Bytes()), std::string(kError) + kNoHostName),
  };
  RunFaults(rig, faults);
}

TEST(RegistryFaults, GatewayPortOfEveryWrongTypeAndSize) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  const uint16_t port = rig.Gateway().Port();
  // Nothing may fall back to 8155: a gateway listens there for this test when it can.
  gateway::Server defaultPort;
  const bool haveDefault = defaultPort.Start(kDefaultPort);
  if (!haveDefault) std::printf("port 8155 is taken on this machine: that nothing reaches it is not checked\n");
  // A number that is no port is reported, not cut to 16 bits or taken as the HTTP default.
  const auto notAPort = [](const std::string& stored) {
    return std::string(kError) + "The Talmery Gateway port " + stored + " is not between 1 and 65535. Correct it in File > Setup.";
  };
  const std::string dwordOf = std::string(kError) + "The Brisomel setting \"port\" is a REG_DWORD of ";
  std::vector<Fault> faults = {
      Reaches(Setting("as REG_SZ", "port", REG_SZ, harness::SzBytes(std::to_string(port)))),
      Shows(Setting("as REG_SZ of letters", "port", REG_SZ, harness::SzBytes("http")),
            std::string(kError) + "The Brisomel setting \"port\" is not a whole number. Correct it in File > Setup."),
      Shows(Setting("as REG_SZ above 65535", "port", REG_SZ, harness::SzBytes("70000")), notAPort("70000")),
      Shows(Setting("above 65535", "port", REG_DWORD, Dword(0x10000u + port)), notAPort(std::to_string(0x10000u + port))),
      Shows(Setting("0", "port", REG_DWORD, Dword(0)), notAPort("0")),
      Shows(Setting("negative", "port", REG_DWORD, Dword(0xFFFFFFFBu)), notAPort("-5")),
      Shows(Setting("as 4-byte REG_BINARY", "port", REG_BINARY, Dword(port)), WrongType("port", "REG_BINARY")),
      Shows(Setting("of 3 bytes as REG_DWORD", "port", REG_DWORD, Bytes{Dword(port)[0], Dword(port)[1], 0}),
            dwordOf + "3 bytes, not 4. Correct it in File > Setup."),
      Shows(Setting("of no bytes", "port", REG_DWORD, Bytes()), dwordOf + "0 bytes, not 4. Correct it in File > Setup."),
      Shows(Setting("as REG_QWORD", "port", REG_QWORD, Bytes{Dword(port)[0], Dword(port)[1], 0, 0, 0, 0, 0, 0}),
            WrongType("port", "REG_QWORD")),
  };
  if (haveDefault) {
    for (Fault& fault : faults) fault.elsewhere = &defaultPort;  // and no request there
  }
  RunFaults(rig, faults);
}

TEST(RegistryFaults, OwnNumberOfEveryWrongTypeAndSize) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  const std::vector<Fault> faults = {
      Shows(OwnNumber(Setting("as REG_DWORD", "mynumber", REG_DWORD, Raw(std::string("555\0", 4)))),
            WrongType("mynumber", "REG_DWORD")),
      Shows(OwnNumber(Setting("as REG_BINARY without NUL", "mynumber", REG_BINARY, Raw("(555) 010-0300"))),
            WrongType("mynumber", "REG_BINARY")),
      Dials(Setting("of 259 digits", "mynumber", REG_SZ, harness::SzBytes(std::string(259, '7'))), std::string(259, '7')),
      Dials(Setting("international", "mynumber", REG_SZ, harness::SzBytes("+44 20 7946 0018")), "+442079460018"),
      Shows(OwnNumber(Setting("of 260 digits", "mynumber", REG_SZ, harness::SzBytes(std::string(260, '5')))),
            TooLong("mynumber", 259)),
      Shows(OwnNumber(Setting("empty", "mynumber", REG_SZ, harness::SzBytes(""))), kNoNumber),
      Shows(OwnNumber(Setting("as REG_MULTI_SZ with an empty first text", "mynumber", REG_MULTI_SZ,
                              Raw(std::string("\0" "5550100\0\0", 10)))),
            WrongType("mynumber", "REG_MULTI_SZ")),
  };
  RunFaults(rig, faults);
}

TEST(RegistryFaults, NamesOfEveryWrongTypeAndSize) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  char user[256] = {};
  ASSERT_GT(GetEnvironmentVariableA("USERNAME", user, sizeof user), 0u);  // the agent inherits it
  const std::vector<Fault> faults = {
      Shows(Setting("as REG_DWORD", "firstname", REG_DWORD, Raw(std::string("Bo\0\0", 4))),
            WrongType("firstname", "REG_DWORD")),
      Shows(Setting("as REG_BINARY without NUL", "firstname", REG_BINARY, Raw("Zo\xEB")), WrongType("firstname", "REG_BINARY")),
      Shows(Setting("of 260 characters", "firstname", REG_SZ, harness::SzBytes(std::string(260, 'a'))),
            TooLong("firstname", 259)),
      Introduces(Setting("of 259 characters", "firstname", REG_SZ, harness::SzBytes(std::string(259, 'a'))),
                 std::string(259, 'a') + " Lee's"),
      Introduces(Setting("as REG_EXPAND_SZ", "lastname", REG_EXPAND_SZ, harness::SzBytes("%USERNAME%")),
                 std::string("Ann ") + user + "'s"),
      Shows(Setting("of 260 characters", "lastname", REG_SZ, harness::SzBytes(std::string(260, 'b'))),
            TooLong("lastname", 259)),
      Introduces(Setting("of no bytes", "lastname", REG_SZ, Bytes()), "Ann 's"),
  };
  RunFaults(rig, faults);
}

// Deleted while Outlook runs (a profile clean-up, a script): the calls are not sent to
// localhost:8155 without a word.
TEST(RegistryFaults, TheSettingsKeyDeletedWhileOutlookRuns) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  Fault deleted;
  deleted.name = "settings key deleted";
  deleted.arrange = [](SystemRig&) { ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey), ERROR_SUCCESS); };
  deleted.repair = [](SystemRig& rig) {
    EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kSettingsKey)) << "the agent wrote settings of its own";
    rig.WriteGoodSettings();
  };
  deleted.boxes = {std::string(kError) +
                   "The Brisomel settings are missing from the registry. Start Brisomel from the Start menu and enter "
                   "them in File > Setup."};
  RunFaults(rig, {deleted});
}

}  // namespace
}  // namespace systemtest
