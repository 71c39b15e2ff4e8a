#include "tools/gateway/form.h"

namespace gateway {

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string FormUrlDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ParseForm(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> fields;
  size_t pos = 0;
  while (pos <= body.size()) {
    size_t amp = body.find('&', pos);
    size_t end = amp == std::string::npos ? body.size() : amp;
    if (end > pos) {
      std::string piece = body.substr(pos, end - pos);
      size_t eq = piece.find('=');
      if (eq == std::string::npos)
        fields.emplace_back(FormUrlDecode(piece), "");
      else
        fields.emplace_back(FormUrlDecode(piece.substr(0, eq)), FormUrlDecode(piece.substr(eq + 1)));
    }
    if (amp == std::string::npos) break;
    pos = amp + 1;
  }
  return fields;
}

std::string FormField(const std::vector<std::pair<std::string, std::string>>& form,
                      const std::string& name) {
  for (const auto& f : form)
    if (f.first == name) return f.second;
  return "";
}

}  // namespace gateway
