#include "agent/shell/shell_text.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/wide_text.h"

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

bool ParseDecimal(const char* text, uint64_t max, uint64_t& value) {
  if (!text || !*text) return false;
  uint64_t result = 0;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(*c - '0');
    if (result > (max - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
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
    } else if (std::strcmp(param, "outlook") == 0) {
      m_nPendingOption = kOutlook;
      outlookArgs = 0;
      outlookPid = 0;
      outlookCreated = 0;
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
    case kOutlook: {
      // The id, then the creation time; what does not read as a number spoils the pair.
      uint64_t value = 0;
      const int index = outlookArgs++;
      if (index == 0 && ParseDecimal(param, UINT32_MAX, value)) {
        outlookPid = static_cast<uint32_t>(value);
      } else if (index == 1 && outlookPid != 0 && ParseDecimal(param, UINT64_MAX, value)) {
        outlookCreated = value;
      } else {
        outlookPid = 0;
        outlookCreated = 0;
      }
      return false;
    }
    default:
      return true;
  }
}

std::string ComposeSettingsText(const SettingsSnapshot& settings) {
  static const char kByPolicy[] = " (set by your administrator)";
  std::string text = "Talmery Gateway:\r\n    Host: ";
  text += settings.host;
  if (settings.hostByPolicy) text += kByPolicy;
  text += "\r\n    Port: ";
  text += std::to_string(settings.port);
  if (settings.portByPolicy) text += kByPolicy;
  text += "\r\nMyself:\r\n    First Name: ";
  text += settings.firstName;
  text += "\r\n    Last Name: ";
  text += settings.lastName;
  text += "\r\n    My number: ";
  text += settings.myNumber;
  text += "\r\n\r\n\tUse Menu File->Setup... to change the above settings.";
  return text;
}

namespace {

template <typename String>
String Ascii(const char* text) {
  return String(text, text + std::char_traits<char>::length(text));
}

}  // namespace

template <typename String>
String AddinPathBeside(const String& programPath) {
  using Char = typename String::value_type;
  typename String::size_type cut = programPath.rfind(Char('/'));
  if (cut == String::npos) cut = programPath.rfind(Char('\\'));
  String folder = cut == String::npos ? programPath : programPath.substr(0, cut + 1);
  return folder + Ascii<String>("mervane.dll");
}

template <typename String>
String QuoteArgument(const String& path) {
  using Char = typename String::value_type;
  return Char('"') + path + Char('"');
}

template std::string AddinPathBeside(const std::string&);
template WideText AddinPathBeside(const WideText&);
template std::string QuoteArgument(const std::string&);
template WideText QuoteArgument(const WideText&);
