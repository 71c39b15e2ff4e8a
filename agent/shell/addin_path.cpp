#include "agent/shell/addin_path.h"

std::string AddinPathBeside(const std::string& programPath) {
  std::string::size_type cut = programPath.rfind('/');
  if (cut == std::string::npos) cut = programPath.rfind('\\');
  std::string folder = cut == std::string::npos ? programPath : programPath.substr(0, cut + 1);
  return folder + "mervane.dll";
}

std::string QuoteArgument(const std::string& path) { return "\"" + path + "\""; }
