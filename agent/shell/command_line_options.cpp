#include "agent/shell/command_line_options.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

bool ScanLeadingInt(const char* text, int32_t& value) {
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 10);
  if (end == text) return false;
  constexpr long long kMin = std::numeric_limits<int32_t>::min();
  constexpr long long kMax = std::numeric_limits<int32_t>::max();
  value = static_cast<int32_t>(parsed < kMin ? kMin : parsed > kMax ? kMax : parsed);
  return true;
}

bool CadeloCommandLineOptions::TakeArgument(const char* param, bool isFlag) {
  if (isFlag) {
    if (std::strcmp(param, "apphost") == 0) {
      m_nPendingOption = kAppHost;
    } else if (std::strcmp(param, "appport") == 0) {
      m_nPendingOption = kAppPort;
    } else if (std::strcmp(param, "hidewindow") == 0) {
      m_nPendingOption = kHideWindow;
    } else if (std::strcmp(param, "logfile") == 0) {
      m_nPendingOption = kLogFile;
    } else {
      m_nPendingOption = kNone;
    }
    return false;
  }
  // A pending option keeps every later plain argument until the next flag.
  switch (m_nPendingOption) {
    case kAppHost:
      m_strAppHost = param;
      return false;
    case kAppPort:
      ScanLeadingInt(param, m_nAppPort);
      return false;
    case kHideWindow:
      if (std::strcmp(param, "yes") == 0) m_nShowCmd = kShowCmdHide;
      return false;
    case kLogFile:
      m_strLogFile = param;
      return false;
    default:
      return true;
  }
}
