#pragma once
// cadelo's own command-line options: apphost, appport, hidewindow and logfile, each introduced by
// '/' or '-' and taking the plain arguments that follow it. Only "hidewindow yes" has an effect
// (it hides the main frame and selects the hidden mode); the others are parsed and dropped.
#include <cstdint>
#include <string>

// Show commands of the main frame (the values of SW_SHOW and SW_HIDE).
constexpr int32_t kShowCmdShow = 5;
constexpr int32_t kShowCmdHide = 0;

struct CadeloCommandLineOptions {
  enum PendingOption : int32_t { kNone = -1, kAppHost = 1, kAppPort = 2, kHideWindow = 3, kLogFile = 4 };

  std::string m_strAppHost = "localhost";
  int32_t m_nAppPort = 8155;
  int32_t m_nShowCmd = kShowCmdShow;
  std::string m_strLogFile;
  int32_t m_nPendingOption = kNone;

  // Takes one argument (a flag arrives without its leading '/' or '-'). Comparisons are exact and
  // case-sensitive. A flag only chooses the option the following plain arguments belong to (an
  // unknown flag: none). Returns true when the argument is a plain one with no option pending,
  // which then belongs to the framework's own parsing (the document file name).
  bool TakeArgument(const char* param, bool isFlag);
};

// The leading decimal integer of `text` after optional white space and sign, as "%d" of sscanf
// reads it; false (value untouched) when there is none. Values beyond 32 bits are clamped.
bool ScanLeadingInt(const char* text, int32_t& value);
