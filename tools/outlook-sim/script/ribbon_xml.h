#pragma once
// What the simulator needs from an add-in's ribbon XML: the customUI's onLoad callback and, for
// every control with an id, its element name and attributes (the callbacks among them). Not a
// validating parser: it reads elements, attributes (either quote, the five named entities and
// numeric character references), comments and the XML declaration, and reports what it cannot
// read.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

struct RibbonControlSpec {
  std::string element;  // "toggleButton", "editBox", "button", ...
  std::string id;
  std::vector<std::pair<std::string, std::string>> attributes;  // in document order
  // The value of an attribute, empty when it has none.
  std::string Attribute(std::string_view name) const;
};

struct RibbonSpec {
  std::string onLoad;
  std::vector<RibbonControlSpec> controls;  // in document order
  std::string error;                        // empty when the XML was read
  const RibbonControlSpec* Find(std::string_view id) const;
};

RibbonSpec ParseRibbonXml(std::string_view utf8);

}  // namespace sim
