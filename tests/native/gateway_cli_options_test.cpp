#include "tools/gateway/cli_options.h"

#include <gtest/gtest.h>

namespace {

TEST(GatewayCliOptions, AcceptsEveryOption) {
  gateway::CliOptions o;
  std::string error;
  ASSERT_TRUE(gateway::ParseCliOptions({"--port", "0", "--speak-dir", "/tmp/w", "--max-requests", "3",
                                        "--status", "503", "--body", "ERROR: busy"},
                                       o, error))
      << error;
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.speakDir, "/tmp/w");
  EXPECT_EQ(o.maxRequests, 3);
  EXPECT_EQ(o.status, 503);
  EXPECT_EQ(o.body, "ERROR: busy");
  EXPECT_TRUE(o.fixedAnswer);
}

TEST(GatewayCliOptions, DefaultsServeForeverOnPort8155) {
  gateway::CliOptions o;
  std::string error;
  ASSERT_TRUE(gateway::ParseCliOptions({}, o, error));
  EXPECT_EQ(o.port, 8155);
  EXPECT_EQ(o.maxRequests, 0);
  EXPECT_FALSE(o.fixedAnswer);
  EXPECT_TRUE(o.speakDir.empty());
}

TEST(GatewayCliOptions, RefusesBadInputWithAReason) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--port"}, "--port needs a value"},
      {{"--port", "65536"}, "--port wants a number from 0 to 65535, not \"65536\""},
      {{"--port", "80a"}, "--port wants a number from 0 to 65535, not \"80a\""},
      {{"--max-requests", "0"}, "--max-requests wants a positive number, not \"0\""},
      {{"--status", "42"}, "--status wants an HTTP status from 100 to 999, not \"42\""},
      {{"--speak-dir", ""}, "--speak-dir wants a folder"},
      {{"--verbose"}, "unknown option \"--verbose\""},
  };
  for (const auto& c : cases) {
    gateway::CliOptions o;
    std::string error;
    EXPECT_FALSE(gateway::ParseCliOptions(c.first, o, error)) << c.second;
    EXPECT_EQ(error, c.second);
  }
}

}  // namespace
