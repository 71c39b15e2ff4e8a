#include "agent/framework/main_window.h"

namespace fw {
namespace {
HWND g_mainWindow = nullptr;
}  // namespace

HWND GetMainWindowHandle() { return g_mainWindow; }
void SetMainWindowHandle(HWND window) { g_mainWindow = window; }

}  // namespace fw
