// The resources built into cadelo.exe, read back as Windows reads them: the dialogs as the user
// meets them (controls, Tab, texts that fit, Enter and Esc); the program's strings, menus,
// accelerators, toolbar and version block.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "tests/harness/paths.h"

namespace shelltest {
namespace {

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

// A dialog of the program, created from its own template as the user gets it: the controls a
// dialog procedure sees, and the command that ended it.
class DialogUnderTest {
 public:
  DialogUnderTest(HMODULE module, int id) {
    window_ = CreateDialogParamA(module, MAKEINTRESOURCEA(id), nullptr, &DialogUnderTest::Proc,
                                 reinterpret_cast<LPARAM>(this));
  }
  ~DialogUnderTest() {
    if (window_) DestroyWindow(window_);
  }
  HWND Window() const { return window_; }
  int Ended() const { return ended_; }

  std::string Caption() const { return Text(window_); }
  static std::string Text(HWND control) {
    char text[256] = {};
    GetWindowTextA(control, text, sizeof text);
    return text;
  }
  static std::string Kind(HWND control) {
    char name[64] = {};
    GetClassNameA(control, name, sizeof name);
    return name;
  }
  // The control showing text (a label or a frame), or null.
  HWND Labelled(const std::string& text) const {
    for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (Text(child) == text) return child;
    }
    return nullptr;
  }
  // The ids of the controls that Tab reaches from the first tab stop until it comes round again.
  std::vector<int> TabCycle() const {
    std::vector<int> ids;
    HWND first = GetNextDlgTabItem(window_, nullptr, FALSE);
    for (HWND at = first; at && ids.size() < 32;) {
      ids.push_back(GetDlgCtrlID(at));
      at = GetNextDlgTabItem(window_, at, FALSE);
      if (at == first) break;
    }
    return ids;
  }
  // A key pressed in the focused control, taken as the dialog manager takes it.
  void Press(UINT key) {
    SetFocus(GetNextDlgTabItem(window_, nullptr, FALSE));
    MSG message{GetFocus(), WM_KEYDOWN, key, 0, 0, {0, 0}};
    IsDialogMessageA(window_, &message);
  }
  void Restart() { ended_ = 0; }

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      return TRUE;
    }
    auto* self = reinterpret_cast<DialogUnderTest*>(GetWindowLongPtrA(window, DWLP_USER));
    if (message == WM_COMMAND && self && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
      self->ended_ = LOWORD(wParam);
      return TRUE;
    }
    return FALSE;
  }

  HWND window_ = nullptr;
  int ended_ = 0;
};

// The text's extent in the control's own font: a label must show whole, on as many lines as
// its control has room for.
bool TextFits(HWND control) {
  const std::string text = DialogUnderTest::Text(control);
  if (text.empty() || (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return true;
  RECT room{};
  GetClientRect(control, &room);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  const bool button = DialogUnderTest::Kind(control) == "Button";
  RECT needed{0, 0, room.right - room.left, 0};
  DrawTextA(dc, text.c_str(), -1, &needed, DT_CALCRECT | (button ? DT_SINGLELINE : DT_WORDBREAK));
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return needed.right <= room.right && needed.bottom <= room.bottom;
}

// Setup and About as the user meets them: every control there, the edits and buttons reachable
// by Tab, each text whole within its control and the dialog, and Enter and Esc ending the
// dialog as OK and Cancel.
TEST_F(CadeloResources, DialogsShowEveryControlAndEndByKeyboard) {
  const struct {
    int id;
    const char* caption;
    std::vector<std::string> labels;  // labels and frames, each a control of its own
    std::vector<int> tabStops;        // edits first, as the user fills them in, then the buttons
    bool cancels;
  } dialogs[] = {
      {130, "Setup",
       {"Talmery Gateway", "Host", "Port", "default is 8155", "Myself", "First Name", "Last Name", "My Number:"},
       {1000, 1001, 1003, 1004, 1002, IDOK, IDCANCEL}, true},
      {100, "About cadelo", {"cadelo Version 1.0"}, {IDOK}, false},
  };
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.caption);
    DialogUnderTest dialog(module_, d.id);
    ASSERT_NE(dialog.Window(), nullptr);
    EXPECT_EQ(dialog.Caption(), d.caption);
    RECT client{};
    GetClientRect(dialog.Window(), &client);
    std::vector<HWND> shown;
    for (const std::string& label : d.labels) {
      const HWND control = dialog.Labelled(label);
      EXPECT_NE(control, nullptr) << label;
      if (control) shown.push_back(control);
    }
    for (int id : d.tabStops) {
      const HWND control = GetDlgItem(dialog.Window(), id);
      ASSERT_NE(control, nullptr) << id;
      EXPECT_EQ(dialog.Kind(control), id == IDOK || id == IDCANCEL ? "Button" : "Edit") << id;
      if (id >= 1000) {
        EXPECT_EQ(GetWindowLongA(control, GWL_STYLE) & ES_NUMBER, 0) << id << ": any text goes in";
      }
      shown.push_back(control);
    }
    for (HWND control : shown) {
      SCOPED_TRACE(dialog.Text(control) + " (" + std::to_string(GetDlgCtrlID(control)) + ")");
      EXPECT_TRUE(GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE);
      RECT at{};
      GetWindowRect(control, &at);
      MapWindowPoints(nullptr, dialog.Window(), reinterpret_cast<POINT*>(&at), 2);
      EXPECT_TRUE(at.left >= client.left && at.top >= client.top && at.right <= client.right && at.bottom <= client.bottom);
      EXPECT_TRUE(TextFits(control));
    }
    std::vector<int> cycle = dialog.TabCycle();
    std::vector<int> stops = d.tabStops;
    std::sort(cycle.begin(), cycle.end());
    std::sort(stops.begin(), stops.end());
    EXPECT_EQ(cycle, stops);
    // OK is the default button: Enter in any field is OK.
    EXPECT_EQ(SendMessageA(dialog.Window(), DM_GETDEFID, 0, 0), MAKELRESULT(IDOK, DC_HASDEFID));
    dialog.Press(VK_RETURN);
    EXPECT_EQ(dialog.Ended(), IDOK);
    if (d.cancels) {
      dialog.Restart();
      dialog.Press(VK_ESCAPE);
      EXPECT_EQ(dialog.Ended(), IDCANCEL);
    }
  }
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
