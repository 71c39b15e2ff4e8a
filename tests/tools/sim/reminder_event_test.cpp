// A client attached to the simulator through the ProgID receives Reminder events and reads the
// item from inside the event, as the agent does.
#include <olectl.h>

#include <gtest/gtest.h>

#include "tests/tools/sim/sim_test_support.h"

namespace simtest {
namespace {

using simdriver::PumpUntil;
using simdriver::SimProcess;

const char kReminderScript[] = R"(
version "16.0.0.1"
item 1 class "IPM.Appointment.ReminderCall" start "2026-12-08 10:15:00" minutes 15
item 1 subject "Dentist" location "Main Street 1" body "Bring the card" entryid "00000000ABCDEF"
item 1 prop notifycall text "555-0100"
wait-advise 20s
fire 1
refcounts
wait-unadvise 20s
quit
)";

// What the agent's handler reads, in its order; the test asserts each answer's type and value.
struct ItemRead {
  std::wstring messageClass, entryId, subject, location, body, phone;
  VARTYPE startType = VT_EMPTY, minutesType = VT_EMPTY, phoneType = VT_EMPTY;
  double start = 0;
  LONG minutes = 0;
  HRESULT firstFailure = S_OK;
};

HRESULT ReadLikeTheAgent(IDispatch* item, ItemRead* out) {
  VARIANT v;
  auto check = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(out->firstFailure)) out->firstFailure = hr;
    return SUCCEEDED(hr);
  };
  if (!check(Get(item, 0x1A, &v))) return S_OK;
  out->messageClass = BstrOf(v);
  VariantClear(&v);
  if (!check(Get(item, 0x820D, &v))) return S_OK;
  out->startType = v.vt;
  out->start = v.date;
  VARIANT props;
  if (!check(Get(item, 0xF816, &props)) || props.vt != VT_DISPATCH) return S_OK;
  VARIANT found;
  if (check(Find(props.pdispVal, L"notifycall", &found)) && found.vt == VT_DISPATCH && found.pdispVal) {
    if (check(Get(found.pdispVal, DISPID_VALUE, &v))) {
      out->phoneType = v.vt;
      out->phone = BstrOf(v);
      VariantClear(&v);
    }
  }
  VariantClear(&found);
  const struct {
    DISPID id;
    std::wstring* field;
  } texts[] = {{0xF01E, &out->entryId}, {0x37, &out->subject}, {0x8208, &out->location}, {0x9100, &out->body}};
  for (const auto& t : texts) {
    if (!check(Get(item, t.id, &v))) break;
    *t.field = BstrOf(v);
    VariantClear(&v);
  }
  if (check(Get(item, 0x8501, &v))) {
    out->minutesType = v.vt;
    out->minutes = v.lVal;
  }
  VariantClear(&props);
  return S_OK;
}

TEST(ReminderEvent, SinkReadsTheItemInsideTheEventInTheAgentsOrder) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start(kReminderScript));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  VARIANT version;
  ASSERT_EQ(Get(app.get(), 0x116, &version), S_OK);
  EXPECT_EQ(version.vt, VT_BSTR);
  EXPECT_EQ(BstrOf(version), L"16.0.0.1");
  VariantClear(&version);

  ItemRead read;
  TestSink sink([&](IDispatch* item) { return ReadLikeTheAgent(item, &read); });
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Reminders() == 1; }, 20000));
  EXPECT_EQ(read.firstFailure, S_OK);
  EXPECT_EQ(read.messageClass, L"IPM.Appointment.ReminderCall");
  EXPECT_EQ(read.startType, VT_DATE);
  SYSTEMTIME st = {2026, 12, 0, 8, 10, 15, 0, 0};
  double expectedStart = 0;
  SystemTimeToVariantTime(&st, &expectedStart);
  EXPECT_DOUBLE_EQ(read.start, expectedStart);
  EXPECT_EQ(read.phoneType, VT_BSTR);
  EXPECT_EQ(read.phone, L"555-0100");
  EXPECT_EQ(read.entryId, L"00000000ABCDEF");
  EXPECT_EQ(read.subject, L"Dentist");
  EXPECT_EQ(read.location, L"Main Street 1");
  EXPECT_EQ(read.body, L"Bring the card");
  EXPECT_EQ(read.minutesType, VT_I4);
  EXPECT_EQ(read.minutes, 15);

  ASSERT_TRUE(sim.WaitForLine("Refcount UserProperty#1.notifycall external=0 total=1", 20000));
  EXPECT_EQ(UnadviseSink(app.get(), cookie), S_OK);
  app.reset();
  DWORD exitCode = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(sink.Refs(), 0) << "the simulator must release the sink it queried on Unadvise";

  const std::vector<std::string> log = sim.Log();
  const std::vector<std::string> inEvent = Between(log, "Fire 0xF004 Item#1", "Event 0xF004 Item#1");
  const std::vector<std::string> expected = {
      "Item#1 MessageClass get",
      "Item#1 Start get",
      "Item#1 UserProperties get",
      "UserProperties#1 Find method (\"notifycall\", VT_I2 1)",
      "UserProperty#1.notifycall Value get",
      "Item#1 EntryID get",
      "Item#1 Subject get",
      "Item#1 Location get",
      "Item#1 Body get",
      "Item#1 ReminderMinutesBeforeStart get",
  };
  EXPECT_EQ(inEvent, expected);
  EXPECT_TRUE(HasLine(log, "Fire 0xF004 Item#1 sinks=1 start=2026-12-08 10:15:00"));
  EXPECT_TRUE(HasPrefix(log, "Event 0xF004 Item#1 cookie=1 hr=0x00000000 ms="));
  // The lent item and everything reached through it are back to the simulator's own reference.
  EXPECT_TRUE(HasLine(log, "Refcount Item#1 external=0 total=1"));
  EXPECT_TRUE(HasLine(log, "Refcount UserProperties#1 external=0 total=1"));
  const std::vector<std::string> order = WithPrefix(log, "");
  std::vector<std::string> milestones;
  for (const std::string& l : log) {
    for (const char* m : {"Ready", "CreateInstance", "Application Version get", "Advise cookie=1", "Fire ",
                          "Event ", "Unadvise cookie=1", "Quit", "Exit code=0"}) {
      if (l.rfind(m, 0) == 0) milestones.push_back(m);
    }
  }
  const std::vector<std::string> expectedMilestones = {
      "Ready", "CreateInstance", "Application Version get", "Advise cookie=1", "Fire ", "Event ",
      "Unadvise cookie=1", "Quit", "Exit code=0"};
  EXPECT_EQ(milestones, expectedMilestones);
}

TEST(ReminderEvent, AnItemKeptBeyondTheEventShowsAsAnExternalReference) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("item 1\nwait-advise 20s\nfire 1\nrefcounts\nnote kept\nwait-unadvise 20s\nrefcounts\nquit\n"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  win::ComPtr<IDispatch> kept;
  TestSink sink([&](IDispatch* item) {
    kept = win::ComPtr<IDispatch>::Retain(item);  // the fault the test must be able to see
    return S_OK;
  });
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(sim.WaitForLine("Note kept", 20000));
  // How many references COM's stub holds for one kept proxy is its own business; any is a leak.
  const std::vector<std::string> whileKept = WithPrefix(sim.Log(), "Refcount Item#1 ");
  ASSERT_EQ(whileKept.size(), 1u);
  EXPECT_NE(whileKept[0].rfind("Refcount Item#1 external=0 ", 0), 0u) << whileKept[0];
  kept.reset();
  EXPECT_EQ(UnadviseSink(app.get(), cookie), S_OK);
  app.reset();
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  const std::vector<std::string> after = Between(sim.Log(), "Unadvise cookie=1", "Quit");
  EXPECT_TRUE(HasLine(after, "Refcount Item#1 external=0 total=1"));
}

TEST(ReminderEvent, FailingMemberRaisesAnAutomationException) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("item 1 subject \"s\"\nfail 1 Subject \"The item was deleted.\"\n"
                        "wait-advise 20s\nfire 1\nunfail 1 Subject\nfire 1\nquit\n"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  std::vector<HRESULT> results;
  std::vector<std::wstring> sources, descriptions;
  TestSink sink([&](IDispatch* item) {
    VARIANT v;
    EXCEPINFO excep = {};
    const HRESULT hr = Get(item, 0x37, &v, DISPATCH_PROPERTYGET, &excep);
    results.push_back(hr);
    sources.push_back(excep.bstrSource ? excep.bstrSource : L"");
    descriptions.push_back(excep.bstrDescription ? excep.bstrDescription : L"");
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    VariantClear(&v);
    return hr;  // the handler ends with the failure, as the agent's does
  });
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Reminders() == 2; }, 20000));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0], DISP_E_EXCEPTION);
  EXPECT_EQ(sources[0], L"Outlook");
  EXPECT_EQ(descriptions[0], L"The item was deleted.");
  EXPECT_EQ(results[1], S_OK);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  const std::vector<std::string> log = sim.Log();
  EXPECT_TRUE(HasLine(log, "Item#1 Subject get -> DISP_E_EXCEPTION"));
  EXPECT_TRUE(HasLine(log, "Item#1 Subject get"));
  // The sink's failure is the event call's recorded result.
  EXPECT_TRUE(HasPrefix(log, "Event 0xF004 Item#1 cookie=1 hr=0x80020009 ms="));
  EXPECT_TRUE(HasPrefix(log, "Event 0xF004 Item#1 cookie=1 hr=0x00000000 ms="));
}

TEST(ReminderEvent, OtherDispidsGetTheSinksAnswerRecorded) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("item 1\nwait-advise 20s\nfire-dispid 0xF003 1\nfire-dispid 61445 1\nfire 1\nquit\n"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  TestSink sink(nullptr);
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  EXPECT_EQ(sink.Calls(), (std::vector<DISPID>{0xF003, 0xF005, 0xF004}));
  EXPECT_EQ(sink.Reminders(), 1);
  const std::vector<std::string> events = WithPrefix(sim.Log(), "Event ");
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].rfind("Event 0xF003 Item#1 cookie=1 hr=0x80020003 ms=", 0), 0u) << events[0];
  EXPECT_EQ(events[1].rfind("Event 0xF005 Item#1 cookie=1 hr=0x80020003 ms=", 0), 0u) << events[1];
  EXPECT_EQ(events[2].rfind("Event 0xF004 Item#1 cookie=1 hr=0x00000000 ms=", 0), 0u) << events[2];
}

TEST(ReminderEvent, BurstAndSeriesArriveInFiringOrder) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("item a entryid A\nitem b entryid B\nitem c entryid C\nwait-advise 20s\n"
                        "burst a 25\nfire b\nfire c\nfire a\nquit\n"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  std::wstring seen;
  TestSink sink([&](IDispatch* item) {
    VARIANT v;
    const HRESULT hr = Get(item, 0xF01E, &v);
    seen += BstrOf(v);
    VariantClear(&v);
    return hr;
  });
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(sim.WaitForExit(30000, nullptr));
  EXPECT_EQ(seen, std::wstring(25, L'A') + L"BCA");
  const std::vector<std::string> events = WithPrefix(sim.Log(), "Event 0xF004 ");
  ASSERT_EQ(events.size(), 28u);
  EXPECT_EQ(events[25].rfind("Event 0xF004 Item#b ", 0), 0u);
}

TEST(ReminderEvent, SinkWithoutTheEventInterfaceIsRefused) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("item 1\nwait-advise 500ms\nfire 1\nquit\n"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  TestSink sink(nullptr, /*answerEventIid=*/false);
  DWORD cookie = 77;
  EXPECT_EQ(AdviseSink(app.get(), &sink, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  DWORD exitCode = 0;
  ASSERT_TRUE(sim.WaitForExit(20000, &exitCode));
  EXPECT_EQ(exitCode, 3u);  // wait-advise timed out
  const std::vector<std::string> log = sim.Log();
  EXPECT_TRUE(HasLine(log, "Advise -> CONNECT_E_CANNOTCONNECT (QueryInterface 0x80004002)"));
  EXPECT_TRUE(HasLine(log, "Timeout wait-advise"));
  EXPECT_TRUE(HasPrefix(log, "Fire 0xF004 Item#1 sinks=0 start="));
  EXPECT_EQ(sink.Calls().size(), 0u);
}

}  // namespace
}  // namespace simtest
