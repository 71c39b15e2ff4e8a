#include "tests/gateway/support/sip_text.h"

#include <strings.h>

namespace gwtest {
namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<std::string> SipHeaders(const std::string& message, const std::string& name) {
  std::vector<std::string> values;
  const size_t headEnd = message.find("\r\n\r\n");
  const std::string head = message.substr(0, headEnd);
  // Past the start line, one field per line.
  for (size_t at = head.find("\r\n"); at != std::string::npos;) {
    const size_t begin = at + 2;
    const size_t end = head.find("\r\n", begin);
    const std::string line = head.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    const size_t colon = line.find(':');
    if (colon != std::string::npos && strcasecmp(Trimmed(line.substr(0, colon)).c_str(), name.c_str()) == 0) {
      values.push_back(Trimmed(line.substr(colon + 1)));
    }
    at = end;
  }
  return values;
}

std::string SipHeader(const std::string& message, const std::string& name) {
  const std::vector<std::string> values = SipHeaders(message, name);
  return values.empty() ? std::string() : values.front();
}

std::string SipParam(const std::string& value, const std::string& name) {
  const std::string key = name + "=";
  for (size_t at = value.find(key); at != std::string::npos; at = value.find(key, at + 1)) {
    // Only at a parameter's start: "name=" must not match the end of "username=".
    if (at > 0 && std::string(" \t,;").find(value[at - 1]) == std::string::npos) continue;
    const size_t start = at + key.size();
    if (start < value.size() && value[start] == '"') {
      const size_t close = value.find('"', start + 1);
      return close == std::string::npos ? std::string() : value.substr(start + 1, close - start - 1);
    }
    return value.substr(start, value.find_first_of(" \t,;>", start) - start);
  }
  return std::string();
}

std::string SipRequestUser(const std::string& message) {
  const std::string requestLine = message.substr(0, message.find("\r\n"));
  const size_t scheme = requestLine.find(" sip:");
  if (scheme == std::string::npos) return std::string();
  const size_t user = scheme + 5, at = requestLine.find('@', user);
  if (at == std::string::npos || requestLine.find(' ', user) < at) return std::string();
  return requestLine.substr(user, at - user);
}

}  // namespace gwtest
