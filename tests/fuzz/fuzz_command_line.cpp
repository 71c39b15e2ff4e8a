// The agent's command line against a plain model of its rules: the main frame is hidden exactly
// when a "hidewindow" flag is followed, before the next flag, by a plain "yes"; only the first
// free plain argument is offered as the document, and only one with no option pending.
#include "agent/shell/shell_text.h"
#include "tests/fuzz/fuzz_input.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> args = SplitFuzzInput(data, size, 8);
  CadeloCommandLineOptions options;
  bool hidePending = false;
  bool hidden = false;
  bool anyOptionPending = false;
  for (const std::string& raw : args) {
    const std::string arg = raw.c_str();  // argv entries end at their first NUL
    const bool isFlag = !arg.empty() && (arg[0] == '/' || arg[0] == '-');
    const std::string param = isFlag ? arg.substr(1) : arg;
    const bool free = options.TakeArgument(param.c_str(), isFlag);
    if (isFlag) {
      hidePending = param == "hidewindow";
      anyOptionPending = param == "apphost" || param == "appport" || param == "hidewindow" ||
                         param == "logfile" || param == "outlook";
      FUZZ_CHECK(!free);
    } else {
      FUZZ_CHECK(free == !anyOptionPending);
      if (hidePending && param == "yes") hidden = true;
    }
  }
  FUZZ_CHECK(options.m_nShowCmd == (hidden ? kShowCmdHide : kShowCmdShow));
  return 0;
}
