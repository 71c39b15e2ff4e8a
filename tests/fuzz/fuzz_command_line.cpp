// The agent's command line against a plain model of its rules: the main frame is hidden exactly
// when a "hidewindow" flag is followed, before the next flag, by a plain "yes"; only the first
// free plain argument is offered as the document, and only one with no option pending; Outlook's
// process is named by an "outlook" flag followed by its decimal id and then its decimal creation
// time; anything else after the flag (a bad number, a third argument) names none.
#include "agent/shell/shell_text.h"
#include "tests/fuzz/fuzz_input.h"

#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = SplitFuzzInput(data, size, 8);
  CadeloCommandLineOptions options;
  bool hidePending = false;
  bool hidden = false;
  bool anyOptionPending = false;
  bool outlookPending = false;
  std::vector<std::string> outlookArgs;
  bool outlookSeen = false;
  for (const std::string& raw : args) {
    const std::string arg = raw.c_str();  // argv entries end at their first NUL
    const bool isFlag = !arg.empty() && (arg[0] == '/' || arg[0] == '-');
    const std::string param = isFlag ? arg.substr(1) : arg;
    const bool free = options.TakeArgument(param.c_str(), isFlag);
    if (isFlag) {
      hidePending = param == "hidewindow";
      outlookPending = param == "outlook";
      if (outlookPending) {
        outlookSeen = true;
        outlookArgs.clear();
      }
      anyOptionPending = param == "apphost" || param == "appport" || param == "hidewindow" ||
                         param == "logfile" || outlookPending;
      FUZZ_CHECK(!free);
    } else {
      FUZZ_CHECK(free == !anyOptionPending);
      if (hidePending && param == "yes") hidden = true;
      if (outlookPending) outlookArgs.push_back(param);
    }
  }
  const auto decimal = [](const std::string& text, unsigned long long max, unsigned long long& out) {
    if (text.empty()) return false;
    unsigned long long value = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return false;
      const unsigned long long digit = static_cast<unsigned long long>(c - '0');
      if (value > (max - digit) / 10) return false;
      value = value * 10 + digit;
    }
    out = value;
    return true;
  };
  unsigned long long pid = 0;
  unsigned long long created = 0;
  const size_t n = outlookSeen ? outlookArgs.size() : 0;
  bool good = n >= 1 && n <= 2 && decimal(outlookArgs[0], 0xFFFFFFFFull, pid);
  if (good && n == 2) good = pid != 0 && decimal(outlookArgs[1], ~0ull, created);
  FUZZ_CHECK(options.outlookPid == (good ? pid : 0));
  FUZZ_CHECK(options.outlookCreated == (good && n == 2 ? created : 0));
  FUZZ_CHECK(options.m_nShowCmd == (hidden ? kShowCmdHide : kShowCmdShow));
  return 0;
}
