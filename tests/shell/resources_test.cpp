// The resources built into cadelo.exe, read back as Windows reads them: the dialogs' controls with
// their kinds, styles, rectangles and tab order; the program's strings; the version block.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "tests/harness/paths.h"
#include "tests/shell/dialog_template.h"

namespace shelltest {
namespace {

constexpr WORD kButton = 0x80, kEdit = 0x81, kStatic = 0x82;
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

class CadeloResources : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(harness::WinePath(CADELO_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  std::string String(UINT id) const {
    char buffer[1024];
    const int n = LoadStringA(module_, id, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  }
  HMODULE module_ = nullptr;
};

struct Expected {
  int id;
  WORD kind;
  DWORD kindStyle;  // BS_*, ES_*/WS_BORDER or SS_* bits that must be set
  const char* title;
  short x, y, cx, cy;
};

void ExpectItems(const DialogTemplate& t, const std::vector<Expected>& expected) {
  ASSERT_EQ(t.items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const DialogItem& item = t.items[i];
    const Expected& e = expected[i];
    SCOPED_TRACE("control " + std::to_string(i) + " \"" + e.title + "\" id " + std::to_string(e.id));
    EXPECT_EQ(item.id, e.id);
    EXPECT_EQ(item.classAtom, e.kind);
    EXPECT_EQ(item.title, e.title);
    EXPECT_EQ(item.style & e.kindStyle, e.kindStyle);
    if (e.kind == kButton) {
      EXPECT_EQ(item.style & BS_TYPEMASK, e.kindStyle & BS_TYPEMASK);
    }
    EXPECT_TRUE(item.style & WS_VISIBLE);
    EXPECT_EQ(item.x, e.x);
    EXPECT_EQ(item.y, e.y);
    EXPECT_EQ(item.cx, e.cx);
    EXPECT_EQ(item.cy, e.cy);
  }
}

TEST_F(CadeloResources, SetupDialogHasItsControlsInTabOrder) {
  DialogTemplate t;
  ASSERT_TRUE(ReadDialogTemplate(module_, 130, &t));
  EXPECT_EQ(t.style, kDialogStyle);
  EXPECT_EQ(t.caption, "Setup");
  EXPECT_EQ(t.cx, 177);
  EXPECT_EQ(t.cy, 167);
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.font, "MS Sans Serif");
  constexpr DWORD kEditStyle = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  ExpectItems(t, {
                     {IDOK, kButton, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK", 57, 146, 50, 14},
                     {IDCANCEL, kButton, BS_PUSHBUTTON | WS_TABSTOP, "Cancel", 120, 146, 50, 14},
                     {-1, kButton, BS_GROUPBOX, "Talmery Gateway", 7, 7, 163, 60},
                     {-1, kStatic, SS_LEFT, "Host", 17, 26, 26, 12},
                     {-1, kStatic, SS_LEFT, "Port", 18, 46, 28, 12},
                     {1000, kEdit, kEditStyle, "", 53, 25, 99, 12},
                     {1001, kEdit, kEditStyle, "", 53, 45, 34, 12},
                     {-1, kStatic, SS_LEFT, "default is 8155", 96, 46, 58, 13},
                     {-1, kStatic, SS_LEFT, "My Number:", 17, 117, 40, 12},
                     {1002, kEdit, kEditStyle, "", 66, 117, 87, 12},
                     {-1, kStatic, SS_LEFT, "First Name", 17, 87, 42, 11},
                     {-1, kButton, BS_GROUPBOX, "Myself", 7, 73, 163, 67},
                     {1003, kEdit, kEditStyle, "", 66, 84, 87, 12},
                     {-1, kStatic, SS_LEFT, "Last Name", 17, 102, 42, 11},
                     {1004, kEdit, kEditStyle, "", 66, 102, 87, 12},
                 });
  for (const DialogItem& item : t.items) {
    if (item.classAtom == kEdit) {
      EXPECT_FALSE(item.style & ES_NUMBER) << item.id;  // any text goes in
    }
  }
}

TEST_F(CadeloResources, AboutBoxShowsIconVersionAndOk) {
  DialogTemplate t;
  ASSERT_TRUE(ReadDialogTemplate(module_, 100, &t));
  EXPECT_EQ(t.style, kDialogStyle);
  EXPECT_EQ(t.caption, "About cadelo");
  EXPECT_EQ(t.cx, 235);
  EXPECT_EQ(t.cy, 55);
  EXPECT_EQ(t.font, "MS Sans Serif");
  ExpectItems(t, {
                     {-1, kStatic, SS_ICON, "#128", 11, 17, 20, 20},
                     {-1, kStatic, SS_NOPREFIX, "cadelo Version 1.0", 40, 10, 119, 8},
                     {IDOK, kButton, BS_DEFPUSHBUTTON, "OK", 178, 7, 50, 14},
                 });
}

TEST_F(CadeloResources, ProgramStrings) {
  EXPECT_EQ(String(100), "OLE initialization failed.  Make sure that the OLE libraries are the correct version.");
  EXPECT_EQ(String(104), "Windows sockets initialization failed.");
  EXPECT_EQ(String(128), "Brisomel");
  EXPECT_EQ(String(129), "\nCadel\nCadel\n\n\nCadelo.Document\nCadel Document");
  EXPECT_EQ(String(32771), "Setup\nsetup");
  EXPECT_EQ(String(57344), "Brisomel");
  EXPECT_EQ(String(57345), "Ready");
  for (UINT id = 57616; id <= 57631; ++id) EXPECT_EQ(String(id), "Open this document") << id;
  const std::vector<std::pair<UINT, const char*>> indicators = {
      {59136, "EXT"}, {59137, "CAP"}, {59138, "NUM"}, {59139, "SCRL"}, {59140, "OVR"}, {59141, "REC"}};
  for (const auto& [id, text] : indicators) EXPECT_EQ(String(id), text);
  // Every framework prompt the program carries: a status text, and for commands a tooltip.
  for (UINT id : {57600u, 57601u, 57602u, 57603u, 57604u, 57605u, 57606u, 57607u, 57608u, 57609u, 57632u,
                  57633u, 57634u, 57635u, 57636u, 57637u, 57638u, 57639u, 57640u, 57641u, 57642u, 57643u,
                  57644u, 57648u, 57649u, 57650u, 57651u, 57652u, 57653u, 57664u, 57665u, 57680u, 57681u,
                  59392u, 59393u, 61445u}) {
    const std::string prompt = String(id);
    const size_t lf = prompt.find('\n');
    EXPECT_TRUE(lf != std::string::npos && lf > 0 && lf + 1 < prompt.size()) << id << ": " << prompt;
  }
  for (UINT id : {61184u, 61185u, 61186u, 61187u, 61188u, 61189u, 61190u, 61202u, 61203u, 61215u}) {
    EXPECT_FALSE(String(id).empty()) << id;
  }
}

// A menu as lines: "File>&New\tCtrl+N=57600", separators as "File>-".
std::vector<std::string> MenuLines(HMENU menu, const std::string& path = "") {
  std::vector<std::string> lines;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    char text[256] = {};
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text;
    GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
    if (info.fType & MFT_SEPARATOR) {
      lines.push_back(path + "-");
    } else if (info.hSubMenu) {
      std::string name = text;
      name.erase(std::remove(name.begin(), name.end(), '&'), name.end());
      for (const std::string& line : MenuLines(info.hSubMenu, path + name + ">")) lines.push_back(line);
    } else {
      lines.push_back(path + text + "=" + std::to_string(info.wID));
    }
  }
  return lines;
}

TEST_F(CadeloResources, MenusOfTheFrameAndOfTheDocument) {
  HMENU frame = LoadMenuA(module_, MAKEINTRESOURCEA(128));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(MenuLines(frame), (std::vector<std::string>{
                                  "File>&New\tCtrl+N=57600", "File>&Open...\tCtrl+O=57601", "File>-", "File>Set&up=32771",
                                  "File>-", "File>P&rint Setup...=57606", "File>-", "File>Recent File=57616", "File>-",
                                  "File>E&xit=57665", "View>&Toolbar=59392", "View>&Status Bar=59393",
                                  "Help>&About cadelo...=57664"}));
  DestroyMenu(frame);

  HMENU document = LoadMenuA(module_, MAKEINTRESOURCEA(129));
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(MenuLines(document),
            (std::vector<std::string>{
                "File>&New\tCtrl+N=57600", "File>&Open...\tCtrl+O=57601", "File>&Close=57602", "File>&Save\tCtrl+S=57603",
                "File>Save &As...=57604", "File>-", "File>Set&up...=32771", "File>-", "File>&Print...\tCtrl+P=57607",
                "File>Print Pre&view=57609", "File>P&rint Setup...=57606", "File>-", "File>Recent File=57616", "File>-",
                "File>E&xit=57665", "Edit>&Undo\tCtrl+Z=57643", "Edit>-", "Edit>Cu&t\tCtrl+X=57635",
                "Edit>&Copy\tCtrl+C=57634", "Edit>&Paste\tCtrl+V=57637", "View>&Toolbar=59392",
                "View>&Status Bar=59393", "Window>&New Window=57648", "Window>&Cascade=57650", "Window>&Tile=57651",
                "Window>&Arrange Icons=57649", "Help>&About cadelo...=57664"}));
  DestroyMenu(document);
}

TEST_F(CadeloResources, AcceleratorsAreVirtualKeys) {
  HACCEL table = LoadAcceleratorsA(module_, MAKEINTRESOURCEA(128));
  ASSERT_NE(table, nullptr);
  ACCEL entries[32];
  const int n = CopyAcceleratorTableA(table, entries, 32);
  std::vector<std::tuple<int, int, int>> got;
  for (int i = 0; i < n; ++i) got.emplace_back(entries[i].fVirt & ~FNOINVERT, entries[i].key, entries[i].cmd);
  const int kCtrl = FVIRTKEY | FCONTROL, kShift = FVIRTKEY | FSHIFT, kAlt = FVIRTKEY | FALT;
  EXPECT_EQ(got, (std::vector<std::tuple<int, int, int>>{
                     {kCtrl, 'N', 57600}, {kCtrl, 'O', 57601}, {kCtrl, 'S', 57603}, {kCtrl, 'P', 57607},
                     {kCtrl, 'Z', 57643}, {kCtrl, 'X', 57635}, {kCtrl, 'C', 57634}, {kCtrl, 'V', 57637},
                     {kAlt, VK_BACK, 57643}, {kShift, VK_DELETE, 57635}, {kCtrl, VK_INSERT, 57634},
                     {kShift, VK_INSERT, 57637}, {FVIRTKEY, VK_F6, 57680}, {kShift, VK_F6, 57681}}));
  DestroyAcceleratorTable(table);
}

TEST_F(CadeloResources, ToolbarLayoutAndBitmap) {
  HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(241));
  ASSERT_NE(found, nullptr);
  const auto* words = static_cast<const WORD*>(LockResource(LoadResource(module_, found)));
  ASSERT_EQ(SizeofResource(module_, found), 15u * sizeof(WORD));
  EXPECT_EQ(std::vector<WORD>(words, words + 15),
            (std::vector<WORD>{1, 16, 15, 11, 57600, 57601, 57603, 0, 57635, 57634, 57637, 0, 57607, 0, 57664}));
  // Eight images of 16 by 15 in 16 colours, side by side.
  HRSRC bitmap = FindResourceA(module_, MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
  ASSERT_NE(bitmap, nullptr);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module_, bitmap)));
  EXPECT_EQ(header->biWidth, 8 * 16);
  EXPECT_EQ(header->biHeight, 15);
  EXPECT_EQ(header->biBitCount, 4);
}

std::string VersionString(const std::vector<char>& block, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return "?";
  return std::string(value);
}

TEST_F(CadeloResources, VersionBlock) {
  const std::string exe = harness::WinePath(CADELO_EXE);
  const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(VersionString(block, "FileVersion"), "1, 0, 0, 1");
  EXPECT_EQ(VersionString(block, "ProductVersion"), "1, 0, 0, 1");
  EXPECT_EQ(VersionString(block, "FileDescription"), "cadelo MFC Application");
  EXPECT_EQ(VersionString(block, "InternalName"), "cadelo");
  EXPECT_EQ(VersionString(block, "OriginalFilename"), "cadelo.EXE");
  EXPECT_EQ(VersionString(block, "ProductName"), "cadelo Application");
}

}  // namespace
}  // namespace shelltest
