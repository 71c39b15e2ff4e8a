#pragma once
#include <windows.h>

namespace fw {

// Gives a window the large and the small image of an icon resource, each at its system size
// (the small one is the 16x16 image, not the 32x32 one scaled down).
void SetWindowIcons(HWND window, HINSTANCE instance, UINT iconId);

}  // namespace fw
