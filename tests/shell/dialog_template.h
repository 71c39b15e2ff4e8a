#pragma once
// Reads a DIALOG (not DIALOGEX) template resource as the dialog manager sees it.
#include <windows.h>

#include <string>
#include <vector>

namespace shelltest {

struct DialogItem {
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;                // -1 for IDC_STATIC
  WORD classAtom = 0;        // 0x80 button, 0x81 edit, 0x82 static (0 when named)
  std::string title;
};

struct DialogTemplate {
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string caption;
  WORD pointSize = 0;
  std::string font;
  std::vector<DialogItem> items;
};

// False when `module` has no such dialog or it cannot be read.
bool ReadDialogTemplate(HMODULE module, int id, DialogTemplate* out);

}  // namespace shelltest
