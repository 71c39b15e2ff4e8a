#pragma once
// The simulator's command line, already split into arguments (UTF-8).
#include <string>
#include <vector>

namespace sim {

struct SimOptions {
  enum class Mode { Serve, Register, Unregister } mode = Mode::Serve;
  std::string scriptFile;
  std::string inlineScript;
  std::string logFile;
  std::string ribbonXmlFolder;  // where each ribbon XML received is written, when given
  int lingerSeconds = 30;
  bool noAddins = false;
  bool embedding = false;
  // Register: "/regserver /force" overwrites a registration that belongs to another program.
  bool force = false;
  // Register: the arguments after /regserver, to be put on the LocalServer32 command line.
  std::vector<std::string> serverArgs;
};

// args excludes the program name. Returns an error text, empty on success.
std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions* out);

// One argument quoted for a Windows command line (CommandLineToArgvW rules).
std::string QuoteArgument(const std::string& arg);

}  // namespace sim
