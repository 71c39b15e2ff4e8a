#include "agent/framework/message_box.h"

#include "agent/framework/app_title.h"
#include "agent/framework/main_window.h"

int AfxMessageBox(const std::string& text, UINT type, UINT /*helpId*/) {
  HWND owner = fw::GetMainWindowHandle();
  // While a modal dialog of the main window is up, the box belongs to that dialog.
  if (owner && IsWindow(owner)) owner = GetLastActivePopup(owner);
  // A hidden or disabled owner would leave the box without a usable parent (hidden mode).
  if (owner && (!IsWindow(owner) || !IsWindowVisible(owner) || !IsWindowEnabled(owner))) owner = nullptr;
  // Like the system's own prompts: an icon that matches the buttons when none is given.
  if ((type & MB_ICONMASK) == 0) {
    switch (type & MB_TYPEMASK) {
      case MB_OK:
      case MB_OKCANCEL:
        type |= MB_ICONEXCLAMATION;
        break;
      case MB_YESNO:
      case MB_YESNOCANCEL:
        type |= MB_ICONQUESTION;
        break;
      default:
        break;
    }
  }
  return MessageBoxA(owner, text.c_str(), fw::AppTitle().c_str(), type);
}

int AfxMessageBox(UINT stringId, UINT type, UINT helpId) {
  char text[1024] = {};
  LoadStringA(GetModuleHandleA(nullptr), stringId, text, sizeof text);
  return AfxMessageBox(std::string(text), type, helpId);
}
