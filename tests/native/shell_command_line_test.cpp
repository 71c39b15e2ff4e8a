// cadelo's command-line options: which arguments set which field, and which reach the framework.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/shell/shell_text.h"

namespace {

struct Parsed {
  CadeloCommandLineOptions options;
  std::vector<std::string> handedOn;  // plain arguments left to the framework's own parsing
};

// Splits flags from plain arguments the way the framework does: one leading '/' or '-' removed.
Parsed Parse(const std::vector<std::string>& args) {
  Parsed parsed;
  for (const std::string& arg : args) {
    const bool isFlag = !arg.empty() && (arg[0] == '/' || arg[0] == '-');
    const std::string param = isFlag ? arg.substr(1) : arg;
    if (parsed.options.TakeArgument(param.c_str(), isFlag)) parsed.handedOn.push_back(param);
  }
  return parsed;
}

struct ModeCase {
  std::vector<std::string> args;
  int32_t showCmd;
  std::vector<std::string> handedOn;
};

class CommandLineMode : public testing::TestWithParam<ModeCase> {};

TEST_P(CommandLineMode, SelectsShowCommandAndDocumentArguments) {
  const ModeCase& c = GetParam();
  Parsed parsed = Parse(c.args);
  EXPECT_EQ(parsed.options.m_nShowCmd, c.showCmd);
  EXPECT_EQ(parsed.handedOn, c.handedOn);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, CommandLineMode,
    testing::Values(ModeCase{{}, 5, {}},
                    ModeCase{{"/hidewindow", "yes"}, 0, {}},
                    ModeCase{{"-hidewindow", "yes"}, 0, {}},
                    ModeCase{{"/hidewindow", "YES"}, 5, {}},
                    ModeCase{{"/hidewindow", "no"}, 5, {}},
                    ModeCase{{"/hidewindow"}, 5, {}},
                    ModeCase{{"/hidewindow", "maybe", "yes"}, 0, {}},
                    ModeCase{{"/hidewindow", "yes", "no"}, 0, {}},
                    ModeCase{{"/hidewindow", "yes "}, 5, {}},
                    // Not recognised: HideWindow differs in case, --hidewindow keeps one '-'.
                    ModeCase{{"/HideWindow", "yes"}, 5, {"yes"}},
                    ModeCase{{"--hidewindow", "yes"}, 5, {"yes"}},
                    // An unknown flag ends the pending option.
                    ModeCase{{"/hidewindow", "/other", "yes"}, 5, {"yes"}},
                    ModeCase{{"/hidewindow", "yes", "/logfile", "x", "/x", "doc"}, 0, {"doc"}},
                    ModeCase{{"doc1", "doc2"}, 5, {"doc1", "doc2"}},
                    // The framework's own switches are not handed on either.
                    ModeCase{{"/Embedding"}, 5, {}},
                    ModeCase{{"-Automation", "yes"}, 5, {"yes"}}));

TEST(CommandLineOptions, DefaultsBeforeAnyArgument) {
  CadeloCommandLineOptions options;
  EXPECT_EQ(options.m_strAppHost, "localhost");
  EXPECT_EQ(options.m_nAppPort, 8155);
  EXPECT_EQ(options.m_nShowCmd, 5);
  EXPECT_EQ(options.m_strLogFile, "");
  EXPECT_EQ(options.m_nPendingOption, -1);
}

TEST(CommandLineOptions, FlagsChoosePendingOption) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"apphost", 1}, {"appport", 2}, {"hidewindow", 3}, {"logfile", 4}, {"outlook", 5},
      {"AppHost", -1}, {"apphost ", -1}, {"", -1}, {"-hidewindow", -1}};
  for (const auto& [flag, pending] : cases) {
    CadeloCommandLineOptions options;
    options.m_nPendingOption = 2;
    EXPECT_FALSE(options.TakeArgument(flag.c_str(), true)) << flag;
    EXPECT_EQ(options.m_nPendingOption, pending) << flag;
  }
}

TEST(CommandLineOptions, TextOptionsKeepTheLastValue) {
  Parsed parsed = Parse({"/apphost", "a", "b", "-logfile", "out.txt", "other.txt"});
  EXPECT_EQ(parsed.options.m_strAppHost, "b");
  EXPECT_EQ(parsed.options.m_strLogFile, "other.txt");
  EXPECT_EQ(parsed.options.m_nPendingOption, 4);
  EXPECT_TRUE(parsed.handedOn.empty());
}

TEST(CommandLineOptions, AppPortTakesTheLeadingInteger) {
  const std::vector<std::pair<std::vector<std::string>, int32_t>> cases = {
      {{"/appport", "12ab"}, 12},       {{"/appport", "x"}, 8155},
      {{"/appport", ""}, 8155},         {{"/appport", " -7"}, -7},
      {{"/appport", "+9"}, 9},          {{"/appport", "-"}, 8155},
      {{"/appport", "\t42 1"}, 42},     {{"/appport", "80", "x"}, 80},
      {{"/appport", "80", "90"}, 90},   {{"/appport", "0x10"}, 0},
      {{"/appport", "99999999999"}, 2147483647},
      {{"/appport", " -99999999999"}, -2147483647 - 1},
      // "-5" is a flag of its own: it ends the pending option.
      {{"/appport", "-5"}, 8155},       {{"/appport", "-5", "6"}, 8155}};
  for (const auto& [args, port] : cases) {
    Parsed parsed = Parse(args);
    EXPECT_EQ(parsed.options.m_nAppPort, port) << args.back();
    EXPECT_EQ(parsed.options.m_nShowCmd, 5);
  }
}

// The add-in names Outlook's process after the hidden mode: its id and creation time, both
// whole decimal numbers of their size; anything else names no process.
TEST(CommandLineOptions, OutlookTakesTheProcessIdAndItsCreationTime) {
  struct Case {
    std::vector<std::string> args;
    uint32_t pid;
    uint64_t created;
  };
  const std::vector<Case> cases = {
      {{"/hidewindow", "yes", "/outlook", "1234", "133780000000000000"}, 1234, 133780000000000000ull},
      {{"/outlook", "4294967295", "18446744073709551615"}, 4294967295u, 18446744073709551615ull},
      {{"/outlook", "1234"}, 1234, 0},
      {{"/outlook", "4294967296", "5"}, 0, 0},
      {{"/outlook", "12", "18446744073709551616"}, 0, 0},
      {{"/outlook", "12x", "5"}, 0, 0},
      {{"/outlook", "12", "5", "6"}, 0, 0},
      {{"/outlook", "", "5"}, 0, 0},
      {{"/outlook", "+12", "5"}, 0, 0},
      {{"/outlook", "12", "5", "/outlook"}, 0, 0},
      {{"/outlook", "12", "5", "/logfile", "x"}, 12, 5},
  };
  for (const Case& c : cases) {
    Parsed parsed = Parse(c.args);
    EXPECT_EQ(parsed.options.outlookPid, c.pid) << c.args[1];
    EXPECT_EQ(parsed.options.outlookCreated, c.created) << c.args[1];
    EXPECT_TRUE(parsed.handedOn.empty());
  }
  EXPECT_EQ(Parse(cases[0].args).options.m_nShowCmd, 0) << "the hidden mode stays first and in force";
}

}  // namespace
