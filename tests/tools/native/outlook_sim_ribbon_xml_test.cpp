// How the simulator reads an add-in's ribbon XML: the onLoad callback, the controls with an id and
// their attributes in order (entities decoded), and a clear error for what it cannot read.
#include <gtest/gtest.h>

#include "tools/outlook-sim/script/ribbon_xml.h"

namespace sim {
namespace {

TEST(OutlookSimRibbonXml, ReadsOnLoadAndEveryControlWithItsAttributes) {
  const RibbonSpec parsed = ParseRibbonXml(
      "<?xml version=\"1.0\"?><!-- a <comment> -->\n"
      "<customUI xmlns=\"x\" onLoad='Loaded'><ribbon><tabs><tab idMso=\"TabAppointment\">"
      "<group id=\"g\" label=\"A &amp; B &#x263A;\">"
      "<toggleButton id=\"t\" getPressed=\"P\" onAction = \"A\"/>"
      "<editBox id=\"e\" getText=\"T\" onChange=\"C\" getEnabled=\"P\"></editBox>"
      "</group></tab></tabs></ribbon></customUI>");
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.onLoad, "Loaded");
  ASSERT_EQ(parsed.controls.size(), 3u);  // the tab has an idMso only
  EXPECT_EQ(parsed.controls[0].element, "group");
  EXPECT_EQ(parsed.controls[0].Attribute("label"), "A & B \xE2\x98\xBA");
  const RibbonControlSpec* toggle = parsed.Find("t");
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(toggle->element, "toggleButton");
  EXPECT_EQ(toggle->attributes,
            (std::vector<std::pair<std::string, std::string>>{{"id", "t"}, {"getPressed", "P"}, {"onAction", "A"}}));
  EXPECT_EQ(parsed.Find("e")->Attribute("getEnabled"), "P");
  EXPECT_EQ(parsed.Find("missing"), nullptr);
}

TEST(OutlookSimRibbonXml, TellsWhatItCannotRead) {
  const struct {
    const char* xml;
    const char* error;
  } cases[] = {
      {"", "no customUI element at offset 0"},
      {"<ribbon/>", "the root element is not customUI at offset 9"},
      {"<customUI><a id=\"x\"></customUI>", "end tag 'customUI' closes no open element at offset 20"},
      {"<customUI><a id=x/></customUI>", "unquoted value of 'id' at offset 16"},
      {"<customUI><a id=\"x\" id=\"y\"/></customUI>", "attribute 'id' given twice at offset 26"},
      {"<customUI><a label=\"&nbsp;\"/></customUI>", "bad entity in 'label' at offset 20"},
      {"<customUI><a id=\"x\">", "unclosed element 'a' at offset 20"},
      {"<customUI/><customUI/>", "a second root element at offset 22"},
      {"<customUI><!-- open", "unterminated comment at offset 10"},
  };
  for (const auto& c : cases) {
    const RibbonSpec parsed = ParseRibbonXml(c.xml);
    EXPECT_EQ(parsed.error, c.error) << c.xml;
    EXPECT_TRUE(parsed.controls.empty()) << c.xml;
  }
}

}  // namespace
}  // namespace sim
