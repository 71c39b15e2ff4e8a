// stop-agents ends exactly the processes started from the file it is given (however the path is
// spelt) and waits for their end; other programs, and copies elsewhere, keep running.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>

#include "tests/harness/paths.h"
#include "tests/harness/process.h"
#include "tests/installer/installation.h"

namespace installer_test {
namespace {

constexpr int kTimeoutMs = 20000;

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// Three running stand-ins: "A\cadelo.exe", "B b\cadelo.exe" and "A\other.exe".
class RunningStandIns {
 public:
  RunningStandIns() {
    const std::string a = temp_.File("A");
    const std::string b = temp_.File("B b");
    ready_ = CreateDirectoryA(a.c_str(), nullptr) && CreateDirectoryA(b.c_str(), nullptr);
    for (const std::string& path : {a + "\\cadelo.exe", b + "\\cadelo.exe", a + "\\other.exe"}) {
      ready_ = ready_ && CopyFileA(BuiltIdleProgram().c_str(), path.c_str(), FALSE);
      processes_.push_back(harness::Process::Launch(path, "\"" + path + "\""));
      ready_ = ready_ && processes_.back().Started();
    }
  }
  bool Ready() const { return ready_; }
  std::string Folder() const { return temp_.Path(); }
  harness::Process& AgentA() { return processes_[0]; }
  harness::Process& AgentB() { return processes_[1]; }
  harness::Process& OtherA() { return processes_[2]; }

 private:
  harness::TempDir temp_;
  std::vector<harness::Process> processes_;
  bool ready_ = false;
};

int RunStopAgents(const std::string& arguments) {
  const std::string exe = BuiltStopAgents();
  harness::Process stopper = harness::Process::Launch(exe, "\"" + exe + "\"" + arguments);
  if (!stopper.Started() || !stopper.WaitForExit(kTimeoutMs)) return -1;
  return static_cast<int>(stopper.ExitCode());
}

struct Case {
  const char* name;
  std::string (*arguments)(const std::string& folder);
  int exitCode;
  bool endsAgentA;
};

const Case kCases[] = {
    {"ExactPath", [](const std::string& f) { return " \"" + f + "\\A\\cadelo.exe\""; }, 0, true},
    {"OtherLetterCase", [](const std::string& f) { return " \"" + Upper(f) + "\\a\\CADELO.EXE\""; }, 0, true},
    {"RoundaboutPath", [](const std::string& f) { return " \"" + f + "\\B b\\..\\A\\.\\cadelo.exe\""; }, 0, true},
    {"NoSuchProgram", [](const std::string& f) { return " \"" + f + "\\A\\missing.exe\""; }, 0, false},
    {"NoArgument", [](const std::string&) { return std::string(); }, 1, false},
    {"TwoArguments", [](const std::string& f) { return " \"" + f + "\\A\\cadelo.exe\" extra"; }, 1, false},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class StopAgents : public ::testing::TestWithParam<Case> {};

TEST_P(StopAgents, EndsOnlyTheProcessesOfThatFile) {
  RunningStandIns running;
  ASSERT_TRUE(running.Ready());

  EXPECT_EQ(RunStopAgents(GetParam().arguments(running.Folder())), GetParam().exitCode);

  if (GetParam().endsAgentA) {
    // Already ended when stop-agents returns: it waits.
    EXPECT_FALSE(running.AgentA().Running());
    EXPECT_EQ(running.AgentA().ExitCode(), 0u);
  } else {
    EXPECT_TRUE(running.AgentA().Running());
  }
  EXPECT_TRUE(running.AgentB().Running()) << "a copy in another folder";
  EXPECT_TRUE(running.OtherA().Running()) << "another program in the same folder";
}

INSTANTIATE_TEST_SUITE_P(Paths, StopAgents, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
}  // namespace installer_test
