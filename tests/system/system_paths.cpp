#include "tests/system/system_paths.h"

#include "tests/harness/paths.h"

namespace systemtest {

std::string CadeloExe() { return harness::WinePath(CADELO_EXE); }
std::string MervaneDll() { return harness::WinePath(MERVANE_DLL); }
std::string OutlookSimExe() { return harness::WinePath(OUTLOOK_SIM_EXE); }
std::wstring OutlookSimExeW() {
  const std::string path = OutlookSimExe();  // ASCII: a build folder path
  return std::wstring(path.begin(), path.end());
}

}  // namespace systemtest
