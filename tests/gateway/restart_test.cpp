// kill -9 while one call is going on and two wait: after the restart each accepted call has
// been placed exactly once, and the one cut short is closed, not dialled again. A second
// gateway on the same settings is refused before it touches the first one's calls, and one with
// a voice that is not there does not start.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/gateway/test_support.h"
#include "tools/phone/loopback_phone.h"

namespace gwtest {
namespace {

TEST(Restart, AfterKill9EveryAcceptedCallIsPlacedOnce) {
  TempDir dir;
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  phone::LoopbackPhone phone(dir.path() + "/phone", {base, base + 2, base + 100},
                             {{"5551001", phone::Behaviour::Answer, 0},
                              {"5551002", phone::Behaviour::Answer, 0},
                              {"5551003", phone::Behaviour::Answer, 0}});
  std::string error;
  ASSERT_TRUE(phone.Start(error)) << error;
  const int port = base + 50;
  const std::string config = dir.path() + "/gateway.conf";
  WriteFile(config, "listen = 127.0.0.1:" + std::to_string(port) + "\ndatabase = " + dir.path() +
                        "/calls.db\nmax_calls = 1\nrepeat = 3\n[sip]\ndial = " + phone.DialTemplate() +
                        "\nsip_port = " + std::to_string(base + 10) +
                        "\nrtp_ports = " + std::to_string(base + 200) + "-" + std::to_string(base + 399) + "\n");

  {
    GatewayProcess first(config, dir.path() + "/first.log");
    ASSERT_TRUE(first.WaitUntilServing(20000)) << ReadFile(dir.path() + "/first.log");
    for (int i = 1; i <= 3; ++i)
      ASSERT_EQ(BodyOf(PostCall(port, CallBody("555100" + std::to_string(i), "Reminder number " + std::to_string(i) + "."))),
                "[" + std::to_string(i) + "]\r\n");
    ASSERT_EQ(WaitForState(port, 1, "answered", 30000)["state"], "answered");
    EXPECT_EQ(CallStatus(port, 2)["state"], "queued");
    first.Kill(SIGKILL);
    EXPECT_EQ(first.Wait(10000), 128 + SIGKILL);
  }
  GatewayProcess second(config, dir.path() + "/second.log");
  ASSERT_TRUE(second.WaitUntilServing(20000)) << ReadFile(dir.path() + "/second.log");
  for (long long id : {2, 3}) EXPECT_EQ(WaitForState(port, id, "done", 60000)["state"], "done") << id;
  const nlohmann::json cut = CallStatus(port, 1);
  EXPECT_EQ(cut["state"], "done");
  EXPECT_EQ(cut["reason"], "answered; the gateway stopped during the message");
  EXPECT_EQ(cut["history"][0]["outcome"], "interrupted");
  // Call 1 would have been dialled before 2 and 3: it was not.
  for (const char* number : {"5551001", "5551002", "5551003"}) EXPECT_EQ(phone.CallsTo(number), 1) << number;

  // A stop signal ends the program cleanly.
  second.Kill(SIGTERM);
  EXPECT_EQ(second.Wait(30000), 0);
  EXPECT_NE(ReadFile(dir.path() + "/second.log").find("event=stop"), std::string::npos);
}

TEST(SecondInstance, IsRefusedBeforeItTouchesTheFirstOnesCalls) {
  TempDir dir;
  const int base = phone::FreePortBlock(400, 1);
  ASSERT_NE(base, 0);
  // In the PBX's place, a socket that takes INVITEs and never answers: the call stays dialling.
  const int pbx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(base + 5));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(pbx, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const int port = base + 50;
  const std::string config = dir.path() + "/gateway.conf", database = dir.path() + "/calls.db";
  WriteFile(config, "listen = 127.0.0.1:" + std::to_string(port) + "\ndatabase = " + database +
                        "\nmax_calls = 1\nring_time = 60\nshow_text = yes\n[sip]\ndial = sip:{number}@127.0.0.1:" +
                        std::to_string(base + 5) + "\nsip_port = " + std::to_string(base + 10) +
                        "\nrtp_ports = " + std::to_string(base + 200) + "-" + std::to_string(base + 399) + "\n");
  GatewayProcess first(config, dir.path() + "/first.log");
  ASSERT_TRUE(first.WaitUntilServing(20000)) << ReadFile(dir.path() + "/first.log");
  ASSERT_EQ(BodyOf(PostCall(port, CallBody("5551001", "Reminder number 1."))), "[1]\r\n");
  ASSERT_EQ(WaitForState(port, 1, "dialling", 20000)["state"], "dialling");
  const std::string speech = dir.path() + "/speech/kept.wav";
  WriteFile(speech, "a message the first gateway is about to play");

  GatewayProcess second(config, dir.path() + "/second.log");
  EXPECT_EQ(second.Wait(20000), 1);
  EXPECT_NE(ReadFile(dir.path() + "/second.log")
                .find("talmery-gateway: the call store " + database + " is in use by another talmery-gateway (pid " +
                      std::to_string(first.Pid()) + "); one gateway per database\n"),
            std::string::npos)
      << ReadFile(dir.path() + "/second.log");
  const nlohmann::json call = CallStatus(port, 1);
  EXPECT_EQ(call["state"], "dialling") << call.dump();
  EXPECT_EQ(call["text"], "Reminder number 1.");
  EXPECT_EQ(ReadFile(speech), "a message the first gateway is about to play");
  EXPECT_EQ(BodyOf(PostCall(port, CallBody("5551002", "Reminder number 2."))), "[2]\r\n");
  close(pbx);
}

// The program itself checks the voice before it opens the store or takes a port: a voice that
// is not there stops it with the list of those that are.
TEST(SpeechVoice, AnUnknownOneStopsTheGatewaysStart) {
  TempDir dir;
  const std::string config = dir.path() + "/gateway.conf", database = dir.path() + "/calls.db";
  WriteFile(config, "listen = 127.0.0.1:1\ndatabase = " + database + "\nvoice = flite:zz\n[sip]\nuser = talmery\n");
  GatewayProcess gateway(config, dir.path() + "/gateway.log");
  EXPECT_EQ(gateway.Wait(20000), 2);
  const std::string log = ReadFile(dir.path() + "/gateway.log");
  EXPECT_EQ(log.rfind("talmery-gateway: voice: \"flite:zz\" is not a voice here; the voices are flite:awb, flite:kal, "
                      "flite:kal16, flite:rms, flite:slt, and espeak-ng:NAME (or NAME alone) for its languages: af, ",
                      0),
            0u)
      << log;
  EXPECT_EQ(log.back(), '\n');
  EXPECT_NE(access(database.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace gwtest
