// A reminder call made from Outlook itself: the real add-in inside the Outlook simulator shows its
// ribbon, the user marks an appointment (or makes a new one from the calendar), and the real agent,
// started by the add-in, calls when the reminder comes. The simulator writes each ribbon XML it
// receives to RIBBON_XML_DIR, which a later test validates against Office's schema.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/harness/message_box_watcher.h"
#include "tests/harness/paths.h"
#include "tests/system/system_paths.h"
#include "tests/system/system_rig.h"

namespace systemtest {
namespace {

constexpr char kAddin[] = "Ribbon Brisomel.Addin ";
constexpr char kMarkedClass[] = "MessageClass put (\"IPM.Appointment.ReminderCall\")";

std::vector<std::string> LinesFrom(LogFollower& log, long from) {
  std::vector<std::string> lines;
  for (size_t i = from < 0 ? 0 : static_cast<size_t>(from); i < log.Lines().size(); ++i) {
    lines.push_back(log.Lines()[i].text);
  }
  return lines;
}

// The lines `expected` appear in this order (other lines between them).
void ExpectInOrder(LogFollower& log, const std::vector<std::string>& expected) {
  long at = 0;
  for (const std::string& line : expected) {
    const long found = log.Find(line, static_cast<size_t>(at));
    ASSERT_GE(found, 0) << "missing after line " << at << ": " << line;
    at = found + 1;
  }
}

class Ribbon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Ok());
    ASSERT_TRUE(rig_.RegisterAddin());
    rig_.WriteSetting("path", REG_SZ, harness::SzBytes(CadeloExe()));
    rig_.AdoptAgentsOf(CadeloExe());
  }

  // Outlook with the add-in; the script runs once the agent the add-in started is connected.
  void StartOutlook(const std::string& script, const std::string& xmlFolder = std::string()) {
    std::wstring args;
    if (!xmlFolder.empty()) {
      CreateDirectoryA(harness::WinePath(RIBBON_XML_DIR).c_str(), nullptr);
      CreateDirectoryA(xmlFolder.c_str(), nullptr);
      for (const char* ribbon : {"Microsoft.Outlook.Appointment", "Microsoft.Outlook.Explorer"}) {
        DeleteFileA((xmlFolder + "\\" + ribbon + ".xml").c_str());  // no file of an earlier run passes
      }
      args = L"/ribbonxml \"" + std::wstring(xmlFolder.begin(), xmlFolder.end()) + L"\"";
    }
    // The agent's start-up look is over before the add-in is clicked (see the simulator's
    // wait-reminders-released).
    ASSERT_TRUE(
        rig_.StartOutlook("wait-advise 60s 1\nwait-reminders-released 30s\n" + script + "note done\n", true, args));
    ASSERT_TRUE(rig_.WaitForNextAdvise()) << "the add-in started no agent";
    ASSERT_GE(rig_.OutlookLog().WaitFor("Note done", 30000), 0);
  }

  LogFollower& Log() { return rig_.OutlookLog(); }

  SystemRig rig_;
};

TEST_F(Ribbon, ToggledOnWithANumberTheReminderCallsThatNumber) {
  StartOutlook(
      "item 1 start +15m minutes 15 subject \"Dentist\" entryid \"1\"\n"
      "open-inspector 1\nclick BrisomelReminderCall\ntype BrisomelNumber \" 555-0142 \"\nclose-inspector 1\n"
      "fire 1\n",
      harness::WinePath(RIBBON_XML_DIR));
  ASSERT_TRUE(rig_.WaitForRequests(1, 20000));
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), std::vector<std::string>{"5550142"});
  ExpectInOrder(Log(), {
      "Inspector#1 open",
      std::string(kAddin) + "getPressed BrisomelReminderCall -> VT_BOOL false",
      std::string(kAddin) + "getEnabled BrisomelNumber -> VT_BOOL false",
      "UserProperties#1 Find method (\"notifycall\")",
      "UserProperties#1 Add method (\"BrisomelFormerClass\", VT_I4 1, VT_BOOL false)",
      "UserProperty#1.BrisomelFormerClass Value put (\"IPM.Appointment\")",
      "UserProperties#1 Add method (\"notifycall\", VT_I4 1)",
      std::string("Item#1 ") + kMarkedClass,
      "RibbonUI#Microsoft.Outlook.Appointment InvalidateControl method (\"BrisomelReminderCall\")",
      "RibbonUI#Microsoft.Outlook.Appointment InvalidateControl method (\"BrisomelNumber\")",
      std::string(kAddin) + "onAction BrisomelReminderCall (true) hr=0x00000000",
      std::string(kAddin) + "getPressed BrisomelReminderCall -> VT_BOOL true",
      std::string(kAddin) + "getEnabled BrisomelNumber -> VT_BOOL true",
      "UserProperty#1.notifycall Value put (\"555-0142\")",
      std::string(kAddin) + "onChange BrisomelNumber (\" 555-0142 \") hr=0x00000000",
      std::string(kAddin) + "getText BrisomelNumber -> \"555-0142\"",
      "Inspector#1 close",
      "Fire 0xF004 Item#1",
  });
  // The change is the user's own edit: the user saves it, as any other change in the window. The
  // reminder was on already.
  EXPECT_EQ(Log().Find("Item#1 Save"), -1);
  EXPECT_EQ(Log().Find("Item#1 ReminderSet put"), -1);
}

TEST_F(Ribbon, ToggledOffTheReminderMakesNoCallAndTheNumberIsKept) {
  StartOutlook(ReminderItem("1", "off", "555-0150") + ReminderItem("next", "next", "555-0151") +
               "open-inspector 1\nclick BrisomelReminderCall\nclose-inspector 1\n"
               "open-inspector 1\nclose-inspector 1\nfire 1\nfire next\n");
  ASSERT_TRUE(rig_.WaitForRequests(1, 20000));
  // Reminders are handled one after the other: had the first called, its request came first.
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), std::vector<std::string>{"5550151"});
  const long reopened = Log().Find("Inspector#1 open", static_cast<size_t>(Log().Find("Inspector#1 close")));
  ExpectInOrder(Log(), {
      std::string(kAddin) + "getPressed BrisomelReminderCall -> VT_BOOL true",
      "Item#1 MessageClass put (\"IPM.Appointment\")",
      std::string(kAddin) + "onAction BrisomelReminderCall (false) hr=0x00000000",
      std::string(kAddin) + "getPressed BrisomelReminderCall -> VT_BOOL false",
      "Inspector#1 open",
      std::string(kAddin) + "getText BrisomelNumber -> \"555-0150\"",
      std::string(kAddin) + "getEnabled BrisomelNumber -> VT_BOOL false",
  });
  ASSERT_GE(reopened, 0);
  for (const std::string& line : LinesFrom(Log(), 0)) {
    EXPECT_EQ(line.find("notifycall Value put"), std::string::npos) << line;
  }
}

TEST_F(Ribbon, NewReminderCallCreatesAMarkedAppointmentAndShowsIt) {
  StartOutlook("explorer-click BrisomelNewReminderCall\nclose-inspector new1\nfire new1\n");
  ASSERT_TRUE(rig_.WaitForRequests(1, 20000));
  // No number yet: the user's own number is called.
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), std::vector<std::string>{"5550199"});
  ExpectInOrder(Log(), {
      "Ribbon Brisomel.Addin GetCustomUI Microsoft.Outlook.Explorer hr=0x00000000 chars=",
      "Application CreateItem method (VT_I4 1)",
      "UserProperties#new1 Add method (\"notifycall\", VT_I4 1)",
      std::string("Item#new1 ") + kMarkedClass,
      "Item#new1 Display method",
      std::string(kAddin) + "onAction BrisomelNewReminderCall hr=0x00000000",
      "Inspector#new1 open",
      std::string(kAddin) + "getPressed BrisomelReminderCall -> VT_BOOL true",
      std::string(kAddin) + "getText BrisomelNumber -> \"\"",
  });
  EXPECT_EQ(Log().Find("Item#new1 Save"), -1) << "the user saves the new appointment";
}

// The number box shows exactly the number the agent will call: the text of a text "notifycall";
// nothing for a field of another type (a form's Number or Date field), which the agent passes
// over for the user's own number, and the box's tip says so and the box takes no typing.
TEST_F(Ribbon, TheNumberBoxShowsExactlyTheNumberTheAgentCalls) {
  const struct {
    const char* item;
    const char* property;  // script text after "prop notifycall"; none when empty
    const char* shown;
    bool typable;
    const char* phone;
  } rows[] = {
      {"text", "text \"555-0142\"", "\"555-0142\"", true, "5550142"},
      {"number", "i4 5550143", "\"\"", false, "5550199"},
      {"real", "r8 5550144", "\"\"", false, "5550199"},
      {"date", "date +1d", "\"\"", false, "5550199"},
      {"none", "", "\"\"", true, "5550199"},
  };
  std::string script, fires;
  std::vector<std::string> expected;
  for (const auto& row : rows) {
    script += ReminderItem(row.item, row.item, "");
    if (*row.property) script += std::string("item ") + row.item + " prop notifycall " + row.property + "\n";
    script += std::string("open-inspector ") + row.item + "\nclose-inspector " + row.item + "\n";
    fires += std::string("fire ") + row.item + "\n";
    expected.push_back(std::string("Inspector#") + row.item + " open");
    expected.push_back(std::string(kAddin) + "getText BrisomelNumber -> " + row.shown);
    expected.push_back(std::string(kAddin) + "getEnabled BrisomelNumber -> VT_BOOL " +
                       (row.typable ? "true" : "false"));
    expected.push_back(std::string(kAddin) + "getSupertip BrisomelNumber -> " +
                       (row.typable ? "\"Leave it empty" : "\"This appointment's \\\"notifycall\\\" field is not"));
  }
  StartOutlook(script + fires);
  ExpectInOrder(Log(), expected);
  ASSERT_TRUE(rig_.WaitForRequests(5, 20000));
  std::vector<std::string> phones;
  for (const auto& row : rows) phones.push_back(row.phone);
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), phones);
}

// A marking that cannot be made whole leaves the item as it was: a step Outlook refuses is told
// with Outlook's reason, the steps already made are taken back, and the reminder is not called.
// Only when Outlook refuses to take a step back is the user told to close without saving. An item
// that is no appointment cannot be marked at all.
TEST_F(Ribbon, AMarkingThatCannotBeMadeWholeLeavesTheItemAsItWas) {
  const struct {
    const char* item;
    const char* setup;  // script lines
    const char* box;    // the add-in's message; none when empty
    bool asItWas;
  } rows[] = {
      {"addfails", "fail addfails Add \"The form is locked.\"\n",
       "Cannot make this appointment a reminder call.\r\n\r\nThe form is locked.", true},
      {"reminderfails",
       "item reminderfails reminderset false\nfail reminderfails ReminderSet put \"The item is busy.\"\n",
       "Cannot make this appointment a reminder call.\r\n\r\nThe item is busy.", true},
      {"classfails", "item classfails reminderset false\nfail classfails MessageClass put \"The item is busy.\"\n",
       "Cannot make this appointment a reminder call.\r\n\r\nThe item is busy.", true},
      {"nothingback", "fail nothingback MessageClass put \"The item is busy.\"\nfail nothingback Delete\n",
       "Cannot make this appointment a reminder call.\r\n\r\nThe item is busy.\r\n\r\nOutlook did not take back "
       "what had already changed: close the appointment without saving it.",
       false},
      {"mail", "item mail kind mail\n", "", true},
  };
  harness::MessageBoxWatcher boxes(kAddinCaption);
  std::string script, fires;
  for (const auto& row : rows) {
    const std::string item = row.item;
    script += "item " + item + " start +15m subject \"" + item + "\" entryid \"" + item + "\"\n" + row.setup +
              "state " + item + "\nopen-inspector " + item + "\nclick BrisomelReminderCall\nclose-inspector " + item +
              "\nstate " + item + "\n";
    fires += "fire " + item + "\n";
  }
  StartOutlook(ReminderItem("next", "next", "555-0160") + "fire next\n" + script + fires);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.item);
    const std::string state = std::string("State Item#") + row.item + " ";
    const long before = Log().Find(state);
    const long after = Log().Find(state, static_cast<size_t>(before + 1));
    ASSERT_GE(before, 0);
    ASSERT_GE(after, 0);
    EXPECT_EQ(Log().Lines()[static_cast<size_t>(before)].text == Log().Lines()[static_cast<size_t>(after)].text,
              row.asItWas)
        << Log().Lines()[static_cast<size_t>(after)].text;
  }
  EXPECT_GE(Log().Find("State Item#nothingback class=\"IPM.Appointment\" reminderset=true props=[BrisomelFormerClass="),
            0);
  EXPECT_GE(Log().Find("Ribbon click BrisomelReminderCall -> disabled"), 0) << "a mail item was offered the toggle";
  ASSERT_EQ(boxes.Count(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(boxes.Seen()[i].text, rows[i].box);
  ASSERT_TRUE(rig_.WaitForRequests(1, 20000));
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), std::vector<std::string>{"5550160"})
      << "a half-marked item was called";
}

// Toggled on and off, an appointment gets back the class it had: a custom form's stays its own.
// The number's property stays for the next time; the add-in's own property goes.
TEST_F(Ribbon, ToggledOffAnAppointmentGetsBackTheClassItHad) {
  const struct {
    const char* item;
    const char* messageClass;
  } rows[] = {{"visit", "IPM.Appointment.Visit"}, {"plain", "IPM.Appointment"}};
  std::string script;
  for (const auto& row : rows) {
    const std::string item = row.item;
    script += "item " + item + " class \"" + row.messageClass + "\"\nopen-inspector " + item +
              "\nclick BrisomelReminderCall\nstate " + item + "\nclick BrisomelReminderCall\nclose-inspector " +
              item + "\nstate " + item + "\n";
  }
  StartOutlook(script);
  for (const auto& row : rows) {
    const std::string state = std::string("State Item#") + row.item + " ";
    ExpectInOrder(Log(), {
        state + "class=\"IPM.Appointment.ReminderCall\" reminderset=true props=[BrisomelFormerClass=\"" +
            row.messageClass + "\", notifycall=\"\"]",
        state + "class=\"" + row.messageClass + "\" reminderset=true props=[notifycall=\"\"]",
    });
  }
}

// Outlook 2007 reads only the 2006 customUI namespace: its XML goes to a folder of its own.
TEST_F(Ribbon, NoReferenceIsLeftWhenTheInspectorCloses) {
  StartOutlook(
      "version \"12.0.0.6691\"\nitem 1\nopen-inspector 1\nclick BrisomelReminderCall\n"
      "type BrisomelNumber \"555-0142\"\nclose-inspector 1\nrefcounts\n",
      harness::WinePath(RIBBON_XML_DIR "/2007"));
  size_t counted = 0;
  for (const std::string& line : LinesFrom(Log(), Log().Find("Inspector#1 close"))) {
    if (line.rfind("Refcount ", 0) != 0 || line.rfind("Refcount Application ", 0) == 0) continue;
    ++counted;
    // The add-in keeps its IRibbonUI until it is disconnected; nothing else.
    const bool ribbonUi = line.rfind("Refcount RibbonUI#", 0) == 0;
    EXPECT_NE(line.find(ribbonUi ? " external=1 " : " external=0 "), std::string::npos) << line;
  }
  // Explorer, RibbonUI, Inspector#1, the item, its properties and the controls handed out.
  EXPECT_GE(counted, 8u);
  EXPECT_GE(Log().Find("Refcount Inspector#1 external=0"), 0);
  EXPECT_GE(Log().Find("Refcount UserProperty#1.notifycall external=0"), 0);
}

}  // namespace
}  // namespace systemtest
