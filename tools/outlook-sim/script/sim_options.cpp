#include "tools/outlook-sim/script/sim_options.h"

#include <cstddef>

#include "tools/outlook-sim/script/members.h"

namespace sim {
namespace {

bool IsSwitch(const std::string& arg, const char* name) {
  return arg.size() > 1 && (arg[0] == '/' || arg[0] == '-') && EqualsNoCase(arg.substr(1), name);
}

}  // namespace

std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions* out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* dest) -> bool {
      if (i + 1 >= args.size()) return false;
      *dest = args[++i];
      return true;
    };
    if (IsSwitch(a, "regserver")) {
      if (i != 0) return "/regserver must come first";
      out->mode = SimOptions::Mode::Register;
      SimOptions check;
      size_t first = 1;
      if (args.size() > 1 && IsSwitch(args[1], "force")) {
        out->force = true;
        first = 2;
      }
      std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(first), args.end());
      const std::string error = ParseSimOptions(rest, &check);
      if (!error.empty()) return error;
      if (check.mode != SimOptions::Mode::Serve || check.embedding) {
        return "the options after /regserver must be serving options";
      }
      out->serverArgs = std::move(rest);
      return {};
    } else if (IsSwitch(a, "unregserver")) {
      if (args.size() != 1) return "/unregserver takes no other options";
      out->mode = SimOptions::Mode::Unregister;
    } else if (IsSwitch(a, "script")) {
      if (!value(&out->scriptFile)) return "/script needs a file";
    } else if (IsSwitch(a, "run")) {
      if (!value(&out->inlineScript)) return "/run needs commands";
    } else if (IsSwitch(a, "log")) {
      if (!value(&out->logFile)) return "/log needs a file";
    } else if (IsSwitch(a, "ribbonxml")) {
      if (!value(&out->ribbonXmlFolder)) return "/ribbonxml needs a folder";
    } else if (IsSwitch(a, "linger")) {
      std::string v;
      if (!value(&v) || v.empty() || v.size() > 5 ||
          v.find_first_not_of("0123456789") != std::string::npos) {
        return "/linger needs a number of seconds";
      }
      out->lingerSeconds = std::stoi(v);
    } else if (IsSwitch(a, "noaddins")) {
      out->noAddins = true;
    } else if (IsSwitch(a, "embedding") || IsSwitch(a, "automation")) {
      out->embedding = true;
    } else {
      return "unknown option '" + a + "'";
    }
  }
  return {};
}

std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

}  // namespace sim
