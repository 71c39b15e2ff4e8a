#include "tools/gateway/cli_options.h"

#include <cctype>

namespace gateway {

namespace {

bool ParseNumber(const std::string& text, long min, long max, long& out) {
  if (text.empty() || text.size() > 9) return false;
  long n = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    n = n * 10 + (c - '0');
  }
  if (n < min || n > max) return false;
  out = n;
  return true;
}

}  // namespace

const char* CliUsage() {
  return "usage: talmery-gateway [--port N] [--speak-dir DIR] [--max-requests N] "
         "[--status S] [--body TEXT]\n"
         "  --port N          TCP port on 127.0.0.1 (default 8155, 0 = any free port)\n"
         "  --speak-dir DIR   speak each call text into DIR/call-<id>.wav with espeak-ng\n"
         "  --max-requests N  exit after answering N call requests\n"
         "  --status S        answer call requests with HTTP status S (100-999)\n"
         "  --body TEXT       answer call requests with TEXT instead of \"[<id>]\"\n";
}

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      options.help = true;
      continue;
    }
    if (a != "--port" && a != "--speak-dir" && a != "--max-requests" && a != "--status" &&
        a != "--body") {
      error = "unknown option \"" + a + "\"";
      return false;
    }
    if (i + 1 >= args.size()) {
      error = a + " needs a value";
      return false;
    }
    const std::string& v = args[++i];
    long n = 0;
    if (a == "--port") {
      if (!ParseNumber(v, 0, 65535, n)) {
        error = "--port wants a number from 0 to 65535, not \"" + v + "\"";
        return false;
      }
      options.port = static_cast<uint16_t>(n);
    } else if (a == "--max-requests") {
      if (!ParseNumber(v, 1, 1000000000, n)) {
        error = "--max-requests wants a positive number, not \"" + v + "\"";
        return false;
      }
      options.maxRequests = n;
    } else if (a == "--status") {
      if (!ParseNumber(v, 100, 999, n)) {
        error = "--status wants an HTTP status from 100 to 999, not \"" + v + "\"";
        return false;
      }
      options.status = static_cast<int>(n);
      options.fixedAnswer = true;
    } else if (a == "--body") {
      options.body = v;
      options.fixedAnswer = true;
    } else {
      if (v.empty()) {
        error = "--speak-dir wants a folder";
        return false;
      }
      options.speakDir = v;
    }
  }
  return true;
}

}  // namespace gateway
