#include "tools/gateway/form.h"

#include <utility>

#include "common/url_form.h"

namespace gateway {

std::string FormUrlDecode(const std::string& text) {
  return urlform::DecodeComponent(text).text;  // a stray '%' stays: the stand-in takes what it gets
}

std::vector<std::pair<std::string, std::string>> ParseForm(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (urlform::Field& field : urlform::SplitForm(body))
    fields.emplace_back(std::move(field.name), std::move(field.value));
  return fields;
}

std::string FormField(const std::vector<std::pair<std::string, std::string>>& form,
                      const std::string& name) {
  for (const auto& f : form)
    if (f.first == name) return f.second;
  return "";
}

unsigned FormCodePage(const std::string& contentType) {
  std::string lower;
  for (char c : contentType) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  const size_t at = lower.find("charset=");
  if (at == std::string::npos) return 0;
  std::string value = lower.substr(at + 8);
  if (!value.empty() && value[0] == '"') value.erase(0, 1);
  if (value.compare(0, 5, "utf-8") == 0) return 65001;
  if (value.compare(0, 8, "windows-") != 0) return 0;
  unsigned n = 0;
  for (size_t i = 8; i < value.size() && i < 14 && value[i] >= '0' && value[i] <= '9'; ++i)
    n = n * 10 + static_cast<unsigned>(value[i] - '0');
  return n;
}

}  // namespace gateway
