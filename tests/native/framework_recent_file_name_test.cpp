#include "agent/framework/ui/pure_text.h"

#include <gtest/gtest.h>

namespace {

TEST(AbbreviateFileNameTest, ShortensTheMiddleDirectories) {
  const struct {
    const char* path;
    size_t max;
    bool atLeastName;
    const char* shown;
  } cases[] = {
      {"C:\\short.cad", 30, true, "C:\\short.cad"},
      {"C:\\dir\\a\\b\\c\\file.cad", 30, true, "C:\\dir\\a\\b\\c\\file.cad"},
      {"C:\\Documents\\Projects\\Brisomel\\settings.cad", 30, true, "C:\\Documents\\...\\settings.cad"},
      {"C:\\Documents\\Projects\\Br\\settings.cad", 32, true, "C:\\Documents\\...\\Br\\settings.cad"},
      {"\\\\server\\share\\deep\\deeper\\file.cad", 30, true, "\\\\server\\share\\...\\file.cad"},
      {"C:\\Documents\\Projects\\averyveryverylongname.cad", 30, true, "averyveryverylongname.cad"},
      {"C:\\a\\b\\thisnameislongerthanthirtycharacters.cad", 30, true,
       "thisnameislongerthanthirtycharacters.cad"},
      {"C:\\a\\b\\thisnameislongerthanthirtycharacters.cad", 30, false, ""},
      {"relative\\folder\\with\\a\\long\\path\\name.cad", 30, true, "name.cad"},
      {"C:/fwd/slashes/are/also/separators/n.cad", 30, true, "C:/fwd\\.../separators/n.cad"},
  };
  for (const auto& c : cases) {
    const std::string shown = fw::AbbreviateFileName(c.path, c.max, c.atLeastName);
    EXPECT_EQ(shown, c.shown) << c.path;
    if (c.atLeastName || !shown.empty()) {
      EXPECT_TRUE(shown.size() <= c.max || shown.find('\\') == std::string::npos) << c.path;
    }
  }
}

TEST(RecentFileMenuTextTest, NumbersTheEntryAndDoublesAmpersands) {
  EXPECT_EQ(fw::RecentFileMenuText(1, "a.cad"), "&1 a.cad");
  EXPECT_EQ(fw::RecentFileMenuText(4, "R&D && more.cad"), "&4 R&&D &&&& more.cad");
  EXPECT_EQ(fw::RecentFileMenuText(10, "x"), "&0 x");
}

}  // namespace
