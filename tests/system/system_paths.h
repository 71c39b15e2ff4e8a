#pragma once
// Where the built programs under test lie, as Windows paths (drive Z: maps the build tree).
#include <string>

namespace systemtest {

std::string CadeloExe();
std::string MervaneDll();
std::string OutlookSimExe();
std::wstring OutlookSimExeW();

}  // namespace systemtest
