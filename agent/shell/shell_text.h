#pragma once
// The shell's plain text work, free of Windows: its command line, the text of the settings view
// and where the add-in lies.
#include <cstdint>
#include <string>

#include "common/settings_key.h"

// cadelo's own command-line options: apphost, appport, hidewindow, logfile and outlook, each
// introduced by '/' or '-' and taking the plain arguments that follow it. "hidewindow yes" hides
// the main frame and selects the hidden mode; "outlook <pid> <created>" names the Outlook process
// that started the agent (its id and its creation time as a FILETIME count, both decimal), which
// the hidden agent ends with; the others are parsed and dropped.
//
// Show commands of the main frame (the values of SW_SHOW and SW_HIDE).
constexpr int32_t kShowCmdShow = 5;
constexpr int32_t kShowCmdHide = 0;

struct CadeloCommandLineOptions {
  enum PendingOption : int32_t {
    kNone = -1,
    kAppHost = 1,
    kAppPort = 2,
    kHideWindow = 3,
    kLogFile = 4,
    kOutlook = 5,
  };

  std::string m_strAppHost = settings_key::kDefaultHost;
  int32_t m_nAppPort = settings_key::kDefaultPort;
  int32_t m_nShowCmd = kShowCmdShow;
  std::string m_strLogFile;
  // Outlook's process: 0 and 0 when not given, or when either number is not a whole decimal
  // number (without sign) of its size.
  uint32_t outlookPid = 0;
  uint64_t outlookCreated = 0;
  int32_t m_nPendingOption = kNone;
  int32_t outlookArgs = 0;  // plain arguments taken by "outlook" so far

  // Takes one argument (a flag arrives without its leading '/' or '-'). Comparisons are exact and
  // case-sensitive. A flag only chooses the option the following plain arguments belong to (an
  // unknown flag: none). Returns true when the argument is a plain one with no option pending,
  // which then belongs to the framework's own parsing (the document file name).
  bool TakeArgument(const char* param, bool isFlag);
};

// The whole of text as a decimal number without sign, at most max; false when it is not one.
bool ParseDecimal(const char* text, uint64_t max, uint64_t& value);

// The leading decimal integer of `text` after optional white space and sign, as "%d" of sscanf
// reads it; false (value untouched) when there is none. Values beyond 32 bits are clamped.
bool ScanLeadingInt(const char* text, int32_t& value);

struct SettingsSnapshot {
  std::string host;
  int32_t port = 0;
  std::string myNumber;
  std::string firstName;
  std::string lastName;
  // Set by group policy: shown as the administrator's.
  bool hostByPolicy = false;
  bool portByPolicy = false;
};

// The text of the settings view: the gateway's host and port (each marked when group policy sets
// it), then the user's names and number, then a hint where to change them. Lines end in CR LF, the
// last one without.
std::string ComposeSettingsText(const SettingsSnapshot& settings);

// Where the add-in lies: beside the program, in the folder of the program's path. For narrow and
// wide paths alike (the program's path may hold characters outside the ANSI code page).
//
// The folder part of `programPath` (up to and including its last '/' or, when it has none, its
// last '\'; a '/' wins over any '\' after it) followed by "mervane.dll". A path without either
// separator keeps all of it.
template <typename String>
String AddinPathBeside(const String& programPath);

// `path` as one argument of a command line: in double quotes, so that folders with blanks
// ("C:\Program Files\...") reach the program as one argument.
template <typename String>
String QuoteArgument(const String& path);
