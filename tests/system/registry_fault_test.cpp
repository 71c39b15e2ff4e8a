// Settings of every wrong type and size, end to end: the hidden agent reads them for each
// reminder. A value that cannot be read falls back to its default; one that can be read is
// used as text whatever its type. Either way the user learns of a failed call, nothing is
// rewritten, and once the value is repaired the next reminder reaches the gateway.
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

Fault Reaches(Fault fault) {
  fault.requests = 1;
  return fault;
}

Fault ReachesElsewhere(Fault fault, gateway::Server* server) {
  fault.elsewhere = server;
  fault.elsewhereRequests = 1;
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
  const std::string host1023(1023, 'h');
  const std::vector<Fault> faults = {
      // 7F 00 00 01: the text is the single byte 0x7F, a control character.
      Shows(Setting("as REG_DWORD", "host", REG_DWORD, Dword(0x0100007F)), std::string(kError) + kNoHostName),
      Reaches(Setting("as REG_BINARY without NUL", "host", REG_BINARY, Raw("127.0.0.1"))),
      Reaches(Setting("as REG_MULTI_SZ", "host", REG_MULTI_SZ, Raw(std::string("127.0.0.1\0other\0\0", 18)))),
      Shows(Setting("as unexpanded REG_EXPAND_SZ", "host", REG_EXPAND_SZ, harness::SzBytes("%GATEWAYHOST%")),
            std::string(kError) + kUnresolved),
      // Data larger than the 1024-byte buffer: the default "localhost", which is this machine.
      Reaches(Setting("of 1024 characters", "host", REG_SZ, harness::SzBytes(std::string(1024, 'h')))),
      Shows(Setting("of 1023 characters", "host", REG_SZ, harness::SzBytes(host1023)), std::string(kError) + kUnresolved),
      // An empty host is used as it is (the default applies only to unreadable values).
      Shows(Setting("empty", "host", REG_SZ, harness::SzBytes("")), std::string(kError) + kNoHostName),
      Shows(Setting("of no bytes", "host", REG_SZ, Bytes()), std::string(kError) + kNoHostName),
  };
  RunFaults(rig, faults);
}

TEST(RegistryFaults, GatewayPortOfEveryWrongTypeAndSize) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  const uint16_t port = rig.Gateway().Port();
  // Unreadable ports fall back to 8155: a gateway listens there for this test when it can.
  gateway::Server defaultPort;
  const bool haveDefault = defaultPort.Start(kDefaultPort);
  // A number that is no port is reported, not cut to 16 bits or taken as the HTTP default.
  const auto notAPort = [](uint32_t stored) {
    return std::string(kError) + "The Talmery Gateway port " + std::to_string(static_cast<int32_t>(stored)) +
           " is not between 1 and 65535. Correct it in File > Setup.";
  };
  std::vector<Fault> faults = {
      Reaches(Setting("as 4-byte REG_BINARY", "port", REG_BINARY, Dword(port))),
      Shows(Setting("above 65535", "port", REG_DWORD, Dword(0x10000u + port)), notAPort(0x10000u + port)),
      Shows(Setting("0", "port", REG_DWORD, Dword(0)), notAPort(0)),
      Shows(Setting("negative", "port", REG_DWORD, Dword(0xFFFFFFFBu)), notAPort(0xFFFFFFFBu)),
  };
  if (haveDefault) {
    for (Fault fault : {Setting("as REG_SZ", "port", REG_SZ, harness::SzBytes(std::to_string(port))),
                        Setting("of 3 bytes", "port", REG_BINARY, Bytes{Dword(port)[0], Dword(port)[1], 0}),
                        Setting("of 3 bytes as REG_DWORD", "port", REG_DWORD, Bytes{Dword(port)[0], Dword(port)[1], 0}),
                        Setting("of no bytes", "port", REG_DWORD, Bytes()),
                        Setting("as REG_QWORD", "port", REG_QWORD, Bytes{Dword(port)[0], Dword(port)[1], 0, 0, 0, 0, 0, 0})}) {
      faults.push_back(ReachesElsewhere(fault, &defaultPort));
    }
  } else {
    std::printf("port 8155 is taken on this machine: the fall-back cases are left out\n");
  }
  RunFaults(rig, faults);
}

TEST(RegistryFaults, OwnNumberOfEveryWrongTypeAndSize) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  Fault tooLong = Setting("of 260 digits", "mynumber", REG_SZ, harness::SzBytes(std::string(260, '5')));
  tooLong.phone = "";
  Fault empty = Setting("empty", "mynumber", REG_SZ, harness::SzBytes(""));
  empty.phone = "";
  Fault emptyFirst = Setting("as REG_MULTI_SZ with an empty first text", "mynumber", REG_MULTI_SZ,
                             Raw(std::string("\0" "5550100\0\0", 10)));
  emptyFirst.phone = "";
  const std::vector<Fault> faults = {
      Dials(Setting("as REG_DWORD", "mynumber", REG_DWORD, Raw(std::string("555\0", 4))), "555"),
      Dials(Setting("as REG_BINARY without NUL", "mynumber", REG_BINARY, Raw("(555) 010-0300")), "5550100300"),
      Dials(Setting("of 259 digits", "mynumber", REG_SZ, harness::SzBytes(std::string(259, '7'))), std::string(259, '7')),
      Shows(tooLong, kNoNumber),
      Shows(empty, kNoNumber),
      Shows(emptyFirst, kNoNumber),
  };
  RunFaults(rig, faults);
}

TEST(RegistryFaults, NamesOfEveryWrongTypeAndSize) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  const std::vector<Fault> faults = {
      Introduces(Setting("as REG_DWORD", "firstname", REG_DWORD, Raw(std::string("Bo\0\0", 4))), "Bo Lee's"),
      Introduces(Setting("as REG_BINARY without NUL", "firstname", REG_BINARY, Raw("Zo\xEB")), "Zo\xEB Lee's"),
      Introduces(Setting("of 260 characters", "firstname", REG_SZ, harness::SzBytes(std::string(260, 'a'))), " Lee's"),
      Introduces(Setting("of 259 characters", "firstname", REG_SZ, harness::SzBytes(std::string(259, 'a'))),
                 std::string(259, 'a') + " Lee's"),
      Introduces(Setting("as unexpanded REG_EXPAND_SZ", "lastname", REG_EXPAND_SZ, harness::SzBytes("%USERNAME%")),
                 "Ann %USERNAME%'s"),
      Introduces(Setting("of 260 characters", "lastname", REG_SZ, harness::SzBytes(std::string(260, 'b'))), "Ann 's"),
      Introduces(Setting("of no bytes", "lastname", REG_SZ, Bytes()), "Ann 's"),
  };
  RunFaults(rig, faults);
}

}  // namespace
}  // namespace systemtest
