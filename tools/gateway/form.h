#pragma once
// Decoding of application/x-www-form-urlencoded bodies as the gateway receives them.
#include <string>
#include <utility>
#include <vector>

namespace gateway {

// '+' becomes a blank and %xx (hex digits of either case) the byte xx; a '%' not followed by two
// hex digits is kept as it is.
std::string FormUrlDecode(const std::string& text);

// Splits on '&' then on the first '='; decodes names and values. Empty pieces ("a=1&&b=2") are
// skipped; a piece without '=' is a name with an empty value. Order and duplicates are kept.
std::vector<std::pair<std::string, std::string>> ParseForm(const std::string& body);

// The value of the first field called name, "" if absent.
std::string FormField(const std::vector<std::pair<std::string, std::string>>& form,
                      const std::string& name);

// The charset parameter of a Content-Type as the agent sends it ("...; charset=windows-1250"):
// the code page number, 65001 for utf-8, 0 when there is none or it names no Windows code page.
unsigned FormCodePage(const std::string& contentType);

}  // namespace gateway
