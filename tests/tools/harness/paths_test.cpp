#include "tests/harness/paths.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/win/handles.h"

namespace {

TEST(Paths, WinePathMapsTheUnixRootToDriveZ) {
  const std::pair<const char*, const char*> cases[] = {
      {"/tmp/a b/c.txt", "Z:\\tmp\\a b\\c.txt"},
      {"/", "Z:\\"},
      {"/work/main/build", "Z:\\work\\main\\build"},
      {"relative/file.txt", "relative\\file.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(harness::WinePath(c.first), c.second) << c.first;
}

TEST(Paths, ThisExeDirHoldsThisExe) {
  std::string dir = harness::ThisExeDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '\\');
  EXPECT_NE(GetFileAttributesA((dir + "\\harness_tests.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

bool Exists(const std::string& p) { return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(Paths, TempDirIsFreshAndRemovedWithItsContents) {
  std::string kept;
  {
    harness::TempDir a, b;
    ASSERT_FALSE(a.Path().empty());
    EXPECT_NE(a.Path(), b.Path());
    kept = a.Path();
    ASSERT_TRUE(CreateDirectoryA(a.File("sub").c_str(), nullptr));
    {
      win::FileHandle f(CreateFileA((a.File("sub") + "\\ro.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr));
      ASSERT_TRUE(f);
    }
    EXPECT_TRUE(Exists(a.File("sub") + "\\ro.txt"));
  }
  EXPECT_FALSE(Exists(kept));
}

}  // namespace
