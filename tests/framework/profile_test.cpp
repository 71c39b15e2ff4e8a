// The profile under HKCU\Software\<key>\<title>: the recent-file list is read at start, shown in
// the File menu, opens its files, and nothing is written back during the run.
#include <fstream>

#include "tests/framework/test_app.h"
#include "tests/harness/paths.h"
#include "tests/harness/registry.h"

namespace {

const char kKey[] = "BrisomelFwTest";
const char kListKey[] = "Software\\BrisomelFwTest\\Brisomel\\Recent File List";

class ProfileTest : public FrameworkTest {
 protected:
  void SetUp() override {
    harness::DeleteTree(HKEY_CURRENT_USER, std::string("Software\\") + kKey);
    FrameworkTest::SetUp();
  }
  void TearDown() override {
    FrameworkTest::TearDown();
    harness::DeleteTree(HKEY_CURRENT_USER, std::string("Software\\") + kKey);
  }
  static void Store(const char* name, const std::string& path) {
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kListKey, name, REG_SZ, harness::SzBytes(path)));
  }
  // The File menu's items as the user sees them after opening it.
  std::vector<std::string> FileMenu() {
    HMENU file = ::GetSubMenu(::GetMenu(frame->m_hWnd), 0);
    frame->SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(file), 0);
    std::vector<std::string> items;
    for (int i = 0; i < ::GetMenuItemCount(file); ++i) {
      char text[256] = {};
      ::GetMenuStringA(file, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
      items.push_back(text);
    }
    return items;
  }
};

TEST_F(ProfileTest, EmptyListLeavesTheGrayedPlaceholderAndCreatesNoKey) {
  app.SetRegistryKey(kKey);
  app.LoadStdProfileSettings(4);
  EXPECT_EQ(FileMenu(), (std::vector<std::string>{"&New\tCtrl+N", "&Open...", "", "Recent File", "", "E&xit"}));
  EXPECT_TRUE(MenuState(ID_FILE_MRU_FILE1) & MF_GRAYED);
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, std::string("Software\\") + kKey));
}

TEST_F(ProfileTest, StoredFilesAreListedAndOpenAndTheListIsNotWrittenBack) {
  harness::TempDir dir;
  const std::string a = dir.File("a.cad");
  const std::string b = dir.File("b&c.cad");
  std::ofstream(a) << "";
  std::ofstream(b) << "";
  Store("File1", a);
  Store("File2", b);
  Store("File3", "Z:\\gone\\missing.cad");
  app.SetRegistryKey(kKey);
  app.LoadStdProfileSettings(4);
  ASSERT_NE(app.m_pRecentFileList, nullptr);
  EXPECT_EQ(app.m_pRecentFileList->GetSize(), 4);

  const auto items = FileMenu();
  ASSERT_EQ(items.size(), 8u);
  EXPECT_EQ(items[3].substr(0, 3), "&1 ");
  EXPECT_EQ(items[4].substr(0, 3), "&2 ");
  EXPECT_NE(items[4].find("b&&c.cad"), std::string::npos) << items[4];  // '&' shown, not a mnemonic
  EXPECT_EQ(items[5].substr(0, 3), "&3 ");
  EXPECT_FALSE(MenuState(ID_FILE_MRU_FILE1 + 1) & MF_GRAYED);

  Command(ID_FILE_MRU_FILE1 + 1);
  ASSERT_EQ(Template()->GetDocuments().size(), 1u);
  EXPECT_EQ(Template()->GetDocuments()[0]->GetTitle(), "b&c.cad");
  Command(ID_FILE_MRU_FILE1);  // moves a.cad to the front, in memory only

  const std::vector<std::string> stored = harness::ValueNames(HKEY_CURRENT_USER, kListKey);
  EXPECT_EQ(stored, (std::vector<std::string>{"File1", "File2", "File3"}));
  EXPECT_EQ(harness::ReadValue(HKEY_CURRENT_USER, kListKey, "File1").bytes, harness::SzBytes(a));
  EXPECT_EQ(harness::ReadValue(HKEY_CURRENT_USER, kListKey, "File2").bytes, harness::SzBytes(b));
}

// Entries are text values as stored: an environment string stays unexpanded, a text without its
// terminating NUL is whole, and a value of another type is no entry.
TEST_F(ProfileTest, EntriesAreTheTextValuesAsStored) {
  const std::string expandable = "%TEMP%\\later.cad";
  const std::string unterminated = "C:\\docs\\plain.cad";
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kListKey, "File1", REG_EXPAND_SZ, harness::SzBytes(expandable)));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kListKey, "File2", REG_SZ,
                                  std::vector<unsigned char>(unterminated.begin(), unterminated.end())));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kListKey, "File3", REG_DWORD, harness::DwordBytes(7)));
  app.SetRegistryKey(kKey);
  app.LoadStdProfileSettings(4);
  ASSERT_NE(app.m_pRecentFileList, nullptr);
  const CRecentFileList& list = *app.m_pRecentFileList;
  EXPECT_EQ(list[0], expandable);
  EXPECT_EQ(list[1], unterminated);
  EXPECT_EQ(list[2], "");
}

}  // namespace
