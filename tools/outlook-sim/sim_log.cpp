#include "tools/outlook-sim/sim_log.h"

#include <windows.h>

#include "common/win/handles.h"

namespace sim {
namespace {

win::FileHandle& LogFile() {
  static win::FileHandle file;
  return file;
}

}  // namespace

bool OpenLog(const std::wstring& path) {
  win::FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LogFile() = std::move(file);
  return true;
}

void LogLine(const std::string& line) {
  win::FileHandle& file = LogFile();
  if (!file) return;
  const std::string data = line + "\n";
  DWORD written = 0;
  // FILE_APPEND_DATA without buffering: each line reaches the file before the next call.
  WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
}

}  // namespace sim
