#pragma once
// Command line of talmery-gateway:
//   talmery-gateway [--port N] [--speak-dir DIR] [--max-requests N] [--status S] [--body TEXT]
#include <cstdint>
#include <string>
#include <vector>

namespace gateway {

struct CliOptions {
  uint16_t port = 8155;
  std::string speakDir;    // empty: do not speak
  long maxRequests = 0;    // 0: serve until terminated
  int status = 200;        // with a fixed body: answer every call request with this status...
  std::string body;        // ...and this body instead of "[<id>]"
  bool fixedAnswer = false;
  bool help = false;
};

// Parses argv[1..]; on failure returns false and sets error to a one-line reason.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

const char* CliUsage();

}  // namespace gateway
