#include "tools/outlook-sim/script/ribbon_xml.h"

#include "tools/outlook-sim/script/utf.h"

namespace sim {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
         c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// Replaces the entities of an attribute value; false when one is unknown or unterminated.
bool Unescape(std::string_view raw, std::string* out) {
  out->clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '&') {
      out->push_back(raw[i]);
      continue;
    }
    const size_t end = raw.find(';', i);
    if (end == std::string_view::npos) return false;
    const std::string_view name = raw.substr(i + 1, end - i - 1);
    if (name == "amp") out->push_back('&');
    else if (name == "lt") out->push_back('<');
    else if (name == "gt") out->push_back('>');
    else if (name == "quot") out->push_back('"');
    else if (name == "apos") out->push_back('\'');
    else if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x';
      const std::string digits(name.substr(hex ? 2 : 1));
      if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos ||
          digits.size() > 6) {
        return false;
      }
      const unsigned long code = std::stoul(digits, nullptr, hex ? 16 : 10);
      std::u16string unit;
      if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
      if (code >= 0x10000) {
        unit.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
        unit.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
      } else {
        unit.push_back(static_cast<char16_t>(code));
      }
      *out += Utf16ToUtf8(unit);
    } else {
      return false;
    }
    i = end;
  }
  return true;
}

}  // namespace

std::string RibbonControlSpec::Attribute(std::string_view name) const {
  for (const auto& a : attributes) {
    if (a.first == name) return a.second;
  }
  return {};
}

const RibbonControlSpec* RibbonSpec::Find(std::string_view id) const {
  for (const RibbonControlSpec& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

RibbonSpec ParseRibbonXml(std::string_view xml) {
  RibbonSpec layout;
  size_t i = 0;
  auto fail = [&](const std::string& what) {
    layout.error = what + " at offset " + std::to_string(i);
    layout.controls.clear();
    layout.onLoad.clear();
    return layout;
  };
  std::vector<std::string> openElements;  // the elements open around the current position
  bool sawRoot = false;
  while (i < xml.size()) {
    const size_t open = xml.find('<', i);
    if (open == std::string_view::npos) break;
    i = open;
    if (xml.compare(i, 4, "<!--") == 0) {
      const size_t end = xml.find("-->", i + 4);
      if (end == std::string_view::npos) return fail("unterminated comment");
      i = end + 3;
      continue;
    }
    if (xml.compare(i, 2, "<?") == 0) {
      const size_t end = xml.find("?>", i + 2);
      if (end == std::string_view::npos) return fail("unterminated declaration");
      i = end + 2;
      continue;
    }
    if (xml.compare(i, 2, "</") == 0) {
      const size_t end = xml.find('>', i);
      if (end == std::string_view::npos) return fail("unterminated end tag");
      std::string_view name = xml.substr(i + 2, end - i - 2);
      while (!name.empty() && IsSpace(name.back())) name.remove_suffix(1);
      if (openElements.empty() || openElements.back() != name) return fail("end tag '" + std::string(name) + "' closes no open element");
      openElements.pop_back();
      i = end + 1;
      continue;
    }
    ++i;  // past '<'
    const size_t nameStart = i;
    while (i < xml.size() && IsNameChar(xml[i])) ++i;
    if (i == nameStart) return fail("element without a name");
    RibbonControlSpec element;
    element.element = std::string(xml.substr(nameStart, i - nameStart));
    bool selfClosing = false;
    for (;;) {
      while (i < xml.size() && IsSpace(xml[i])) ++i;
      if (i >= xml.size()) return fail("unterminated start tag");
      if (xml[i] == '>') {
        ++i;
        break;
      }
      if (xml.compare(i, 2, "/>") == 0) {
        i += 2;
        selfClosing = true;
        break;
      }
      const size_t attrStart = i;
      while (i < xml.size() && IsNameChar(xml[i])) ++i;
      if (i == attrStart) return fail("bad attribute");
      std::string name(xml.substr(attrStart, i - attrStart));
      while (i < xml.size() && IsSpace(xml[i])) ++i;
      if (i >= xml.size() || xml[i] != '=') return fail("attribute '" + name + "' without a value");
      ++i;
      while (i < xml.size() && IsSpace(xml[i])) ++i;
      if (i >= xml.size() || (xml[i] != '"' && xml[i] != '\'')) return fail("unquoted value of '" + name + "'");
      const char quote = xml[i++];
      const size_t end = xml.find(quote, i);
      if (end == std::string_view::npos) return fail("unterminated value of '" + name + "'");
      std::string value;
      if (!Unescape(xml.substr(i, end - i), &value)) return fail("bad entity in '" + name + "'");
      i = end + 1;
      for (const auto& a : element.attributes) {
        if (a.first == name) return fail("attribute '" + name + "' given twice");
      }
      element.attributes.emplace_back(std::move(name), std::move(value));
    }
    if (openElements.empty()) {
      if (sawRoot) return fail("a second root element");
      sawRoot = true;
      if (element.element != "customUI") return fail("the root element is not customUI");
      layout.onLoad = element.Attribute("onLoad");
    }
    element.id = element.Attribute("id");
    if (!selfClosing) openElements.push_back(element.element);
    if (!element.id.empty()) layout.controls.push_back(std::move(element));
  }
  if (!sawRoot) return fail("no customUI element");
  if (!openElements.empty()) return fail("unclosed element '" + openElements.back() + "'");
  return layout;
}

}  // namespace sim
