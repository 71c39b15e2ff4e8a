// The add-in's path beside the program: the program's folder (the last '/' wins, else the last
// '\') plus "mervane.dll", and its quoting for the command line of regsvr32.
#include "agent/shell/shell_text.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string program(reinterpret_cast<const char*>(data), size);
  const std::string addin = AddinPathBeside(program);
  const std::string tail = "mervane.dll";
  FUZZ_CHECK(addin.size() >= tail.size());
  FUZZ_CHECK(addin.compare(addin.size() - tail.size(), tail.size(), tail) == 0);
  const std::string folder = addin.substr(0, addin.size() - tail.size());
  size_t cut = program.rfind('/');
  if (cut == std::string::npos) cut = program.rfind('\\');
  FUZZ_CHECK(folder == (cut == std::string::npos ? program : program.substr(0, cut + 1)));
  const std::string quoted = QuoteArgument(addin);
  FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"');
  return 0;
}
