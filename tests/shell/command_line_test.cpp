// The real program's command line: which arguments select the hidden mode, which name a document
// to open, and how each run ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/framework/ui/afx_ids.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/harness/registry.h"
#include "tests/shell/installed_cadelo.h"
#include "tests/shell/windows_under_test.h"

namespace shelltest {
namespace {

constexpr int kStartMs = 15000;

enum class Outcome {
  Visible,        // settings written, main frame shown with the settings document
  Hidden,         // Outlook is looked for (and, in this prefix, not found): the program ends
  DocumentFails,  // visible start, then the named document cannot be opened: the program ends
};

struct ModeCase {
  const char* arguments;
  Outcome outcome;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << '"' << c.arguments << '"'; }

bool PathWritten() { return harness::ReadValue(HKEY_CURRENT_USER, kSettingsKey, "path").exists; }

class CommandLineMode : public testing::TestWithParam<ModeCase> {
 protected:
  CleanRegistry registry_;
  InstalledCadelo install_;
};

TEST_P(CommandLineMode, SelectsModeAndDocument) {
  ASSERT_TRUE(install_.Ready());
  harness::MessageBoxWatcher boxes("Brisomel");
  harness::Process program = install_.Start(GetParam().arguments);
  ASSERT_TRUE(program.Started());

  switch (GetParam().outcome) {
    case Outcome::Visible: {
      const HWND frame = WaitForMainFrame(program.Pid(), kStartMs);
      ASSERT_NE(frame, nullptr);
      EXPECT_EQ(WindowText(frame), "Brisomel - Cadel1");
      EXPECT_TRUE(PathWritten());
      ASSERT_TRUE(WaitForAddinRegistrations(1, kStartMs));
      ASSERT_TRUE(ExitThroughMenu(program.Handle(), frame, kStartMs));
      EXPECT_EQ(boxes.Count(), 0u);
      break;
    }
    case Outcome::Hidden: {
      ASSERT_TRUE(boxes.WaitForCount(1, kStartMs));
      EXPECT_EQ(boxes.Seen()[0].text, "Cannot find Microsoft Outlook");
      EXPECT_EQ(boxes.Seen()[0].pid, program.Pid());
      ASSERT_TRUE(program.WaitForExit(kStartMs));
      // The visible start's registration did not run.
      EXPECT_FALSE(PathWritten());
      EXPECT_EQ(AddinRegistrationCount(), 0u);
      break;
    }
    case Outcome::DocumentFails: {
      ASSERT_TRUE(boxes.WaitForCount(1, kStartMs));
      EXPECT_NE(boxes.Seen()[0].text.find("yes"), std::string::npos) << boxes.Seen()[0].text;
      ASSERT_TRUE(program.WaitForExit(kStartMs));
      EXPECT_EQ(boxes.Count(), 1u);
      EXPECT_TRUE(PathWritten());  // the visible start's registration ran first
      ASSERT_TRUE(WaitForAddinRegistrations(1, kStartMs));
      break;
    }
  }
  EXPECT_EQ(program.ExitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, CommandLineMode,
    testing::Values(ModeCase{"", Outcome::Visible},
                    ModeCase{"/hidewindow yes", Outcome::Hidden},
                    ModeCase{"-hidewindow yes", Outcome::Hidden},
                    ModeCase{"/hidewindow YES", Outcome::Visible},
                    ModeCase{"/hidewindow no", Outcome::Visible},
                    ModeCase{"/hidewindow", Outcome::Visible},
                    ModeCase{"/hidewindow maybe yes", Outcome::Hidden},
                    ModeCase{"/hidewindow yes no", Outcome::Hidden},
                    ModeCase{"/HideWindow yes", Outcome::DocumentFails},
                    ModeCase{"--hidewindow yes", Outcome::DocumentFails},
                    ModeCase{"/appport 12ab /apphost a b", Outcome::Visible},
                    ModeCase{"/Embedding", Outcome::Visible}));

class CommandLine : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(install_.Ready()); }

  // Creates an empty file in the program's current directory.
  void CreateFileNamed(const std::string& name) {
    win::FileHandle file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
  }

  CleanRegistry registry_;
  InstalledCadelo install_;
};

TEST_F(CommandLine, DocumentNamedYesThatExistsIsOpenedAndTheProgramRunsVisibly) {
  CreateFileNamed("yes");
  harness::MessageBoxWatcher boxes("Brisomel");
  harness::Process program = install_.Start("--hidewindow yes");
  const HWND frame = WaitForMainFrame(program.Pid(), kStartMs);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(WindowText(frame), "Brisomel - yes");
  ASSERT_TRUE(WaitForAddinRegistrations(1, kStartMs));
  ASSERT_TRUE(ExitThroughMenu(program.Handle(), frame, kStartMs));
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(CommandLine, LogFileIsNeitherCreatedNorWritten) {
  harness::Process program = install_.Start("/logfile out.txt");
  const HWND frame = WaitForMainFrame(program.Pid(), kStartMs);
  ASSERT_NE(frame, nullptr);
  ASSERT_TRUE(WaitForAddinRegistrations(1, kStartMs));
  ASSERT_TRUE(ExitThroughMenu(program.Handle(), frame, kStartMs));
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(GetFileAttributesA((install_.Folder() + "\\out.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(CommandLine, RecentFileListInTheProfileIsLeftAsItWas) {
  const std::vector<unsigned char> earlier = harness::SzBytes("C:\\Earlier\\old.cad");
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kRecentFileListKey, "File1", REG_SZ, earlier));
  CreateFileNamed("new.cad");

  harness::Process program = install_.Start("new.cad");
  const HWND frame = WaitForMainFrame(program.Pid(), kStartMs);
  ASSERT_NE(frame, nullptr);
  // The opened document joins the recent-file list while the program runs ...
  EXPECT_EQ(WindowText(frame), "Brisomel - new.cad");
  ASSERT_TRUE(WaitForAddinRegistrations(1, kStartMs));
  ASSERT_TRUE(ExitThroughMenu(program.Handle(), frame, kStartMs));
  EXPECT_EQ(program.ExitCode(), 0u);

  // ... but is never written back.
  EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, kRecentFileListKey), std::vector<std::string>{"File1"});
  const harness::RegValue file1 = harness::ReadValue(HKEY_CURRENT_USER, kRecentFileListKey, "File1");
  EXPECT_EQ(file1.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(file1.bytes, earlier);
}

}  // namespace
}  // namespace shelltest
