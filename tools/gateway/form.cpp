#include "tools/gateway/form.h"

#include <utility>

#include "common/url_form.h"

namespace gateway {

std::string FormUrlDecode(const std::string& text) {
  std::string out;
  urlform::DecodeComponent(text, out);  // a stray '%' stays: the stand-in takes what it gets
  return out;
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

}  // namespace gateway
