#include "agent/framework/window_icons.h"

namespace fw {

void SetWindowIcons(HWND window, HINSTANCE instance, UINT iconId) {
  // LR_SHARED: the system owns the images, nothing to destroy.
  auto load = [&](int width, int height) {
    return reinterpret_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                width, height, LR_SHARED));
  };
  if (HICON bigIcon = load(::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON)))
    ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
  if (HICON smallIcon = load(::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON)))
    ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
}

}  // namespace fw
