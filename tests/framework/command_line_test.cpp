// ParseCommandLine's split into ParseParam calls and the base record's rules.
#include "tests/framework/test_app.h"

namespace {

struct Call {
  std::string param;
  BOOL flag;
  BOOL last;
  bool operator==(const Call& o) const { return param == o.param && flag == o.flag && last == o.last; }
};

class RecordingInfo : public CCommandLineInfo {
 public:
  std::vector<Call> calls;
  void ParseParam(const char* param, BOOL flag, BOOL last) override {
    calls.push_back({param, flag, last});
    CCommandLineInfo::ParseParam(param, flag, last);
  }
};

TEST(CommandLineTest, FlagsLoseOneLeadingCharacterAndTheLastArgumentIsMarked) {
  RecordingInfo info;
  CWinApp::ParseArguments(info, {"/hidewindow", "yes", "--x", "-", "plain"});
  EXPECT_EQ(info.calls, (std::vector<Call>{{"hidewindow", TRUE, FALSE},
                                           {"yes", FALSE, FALSE},
                                           {"-x", TRUE, FALSE},
                                           {"", TRUE, FALSE},
                                           {"plain", FALSE, TRUE}}));
  EXPECT_EQ(info.m_strFileName, "yes");  // the first plain argument
  EXPECT_EQ(info.m_nShellCommand, CCommandLineInfo::FileOpen);
}

TEST(CommandLineTest, ShellCommandDependsOnAFileNameAtTheEnd) {
  const struct {
    std::vector<std::string> args;
    int command;
    const char* fileName;
  } cases[] = {
      {{}, CCommandLineInfo::FileNew, ""},
      {{"doc.cad"}, CCommandLineInfo::FileOpen, "doc.cad"},
      {{"doc.cad", "/flag"}, CCommandLineInfo::FileOpen, "doc.cad"},
      {{"doc.cad", "other.cad"}, CCommandLineInfo::FileOpen, "doc.cad"},
      {{"/Embedding"}, CCommandLineInfo::FileNew, ""},
  };
  for (const auto& c : cases) {
    CCommandLineInfo info;
    CWinApp::ParseArguments(info, c.args);
    EXPECT_EQ(info.m_nShellCommand, c.command) << testing::PrintToString(c.args);
    EXPECT_EQ(info.m_strFileName, c.fileName) << testing::PrintToString(c.args);
  }
}

TEST(CommandLineTest, ParseCommandLineUsesTheRuntimesArgumentVector) {
  RecordingInfo info;
  CWinApp::ParseArguments(info, {});
  EXPECT_TRUE(info.calls.empty());
  RecordingInfo fromProcess;
  TestApp app;
  app.ParseCommandLine(fromProcess);
  ASSERT_EQ(fromProcess.calls.size(), static_cast<size_t>(__argc - 1));
  for (int i = 1; i < __argc; ++i) {
    const std::string arg = __argv[i];
    const bool flag = arg[0] == '-' || arg[0] == '/';
    EXPECT_EQ(fromProcess.calls[static_cast<size_t>(i - 1)].param, flag ? arg.substr(1) : arg);
  }
}

}  // namespace
