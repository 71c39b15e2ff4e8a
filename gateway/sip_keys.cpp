#include "gateway/sip_keys.h"

#include <algorithm>
#include <cctype>

namespace talmery {

char InfoKey(const std::string& contentType, const std::string& body) {
  std::string type;
  for (char c : contentType.substr(0, contentType.find(';')))
    if (c != ' ') type += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto key = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' ? c : '\0'; };
  if (type == "application/dtmf") {
    const size_t at = body.find_first_not_of(" \t\r\n");
    return at == std::string::npos || body.find_first_not_of(" \t\r\n", at + 1) != std::string::npos ? '\0' : key(body[at]);
  }
  if (type != "application/dtmf-relay") return '\0';
  for (size_t line = 0; line < body.size();) {
    const size_t end = std::min(body.find('\n', line), body.size());
    std::string text = body.substr(line, end - line);
    line = end + 1;
    const size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    std::string name;
    for (char c : text.substr(0, eq))
      if (c != ' ' && c != '\t') name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name != "signal") continue;
    const size_t at = text.find_first_not_of(" \t", eq + 1);
    const size_t after = at == std::string::npos ? at : text.find_first_not_of(" \t\r", at + 1);
    return at == std::string::npos || after != std::string::npos ? '\0' : key(text[at]);
  }
  return '\0';
}

}  // namespace talmery
