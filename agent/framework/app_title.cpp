#include "agent/framework/app_title.h"

#include <windows.h>

namespace fw {
namespace {

constexpr UINT kAppTitleStringId = 57344;  // AFX_IDS_APP_TITLE

std::string DefaultTitle() {
  char text[256] = {};
  if (LoadStringA(GetModuleHandleA(nullptr), kAppTitleStringId, text, sizeof text) > 0) return text;
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string name = path;
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::string& Title() {
  static std::string title = DefaultTitle();
  return title;
}

}  // namespace

const std::string& AppTitle() { return Title(); }
void SetAppTitle(const std::string& title) { Title() = title; }

}  // namespace fw
