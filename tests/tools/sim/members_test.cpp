// The members a client reads: exact VARIANT types and values, texts beyond ASCII, and the
// dispatch errors Outlook gives for wrong kinds, unknown DISPIDs and bad arguments.
#include <gtest/gtest.h>

#include "tests/tools/sim/sim_test_support.h"

namespace simtest {
namespace {

using simdriver::PumpUntil;
using simdriver::SimProcess;

HRESULT GetProp(IDispatch* item, const wchar_t* name, VARIANT* value) {
  VARIANT props, found;
  HRESULT hr = Get(item, 0xF816, &props);
  if (FAILED(hr)) return hr;
  hr = Find(props.pdispVal, name, &found);
  VariantClear(&props);
  if (FAILED(hr)) return hr;
  if (found.vt != VT_DISPATCH || !found.pdispVal) {
    *value = found;
    return S_FALSE;
  }
  hr = Get(found.pdispVal, DISPID_VALUE, value);
  VariantClear(&found);
  return hr;
}

double LocalNowAsDate() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  st.wMilliseconds = 0;
  double d = 0;
  SystemTimeToVariantTime(&st, &d);
  return d;
}

TEST(Members, UserPropertiesKeepTheirVariantTypes) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start(R"(
item 1 prop t text "555-0100"
item 1 prop n i4 -7
item 1 prop s i2 3
item 1 prop r r8 2.5
item 1 prop d date "2026-12-08 10:00:00"
item 1 prop b bool true
item 1 prop e empty
item 1 prop z null
item 1 prop nb text null
wait-advise 20s
fire 1
quit
)"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  struct Case {
    const wchar_t* name;
    HRESULT hr;
    VARTYPE vt;
    VARIANT value;
  };
  std::vector<Case> cases;
  TestSink sink([&](IDispatch* item) {
    for (const wchar_t* name : {L"t", L"N", L"s", L"r", L"d", L"b", L"e", L"z", L"nb", L"missing"}) {
      Case c{name, S_OK, VT_EMPTY, {}};
      c.hr = GetProp(item, name, &c.value);
      c.vt = c.value.vt;
      cases.push_back(c);
    }
    return S_OK;
  });
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Reminders() == 1; }, 20000));
  ASSERT_EQ(cases.size(), 10u);
  SYSTEMTIME st = {2026, 12, 0, 8, 10, 0, 0, 0};
  double date = 0;
  SystemTimeToVariantTime(&st, &date);
  EXPECT_EQ(cases[0].vt, VT_BSTR);
  EXPECT_EQ(BstrOf(cases[0].value), L"555-0100");
  EXPECT_EQ(cases[1].vt, VT_I4) << "names are found case-insensitively";
  EXPECT_EQ(cases[1].value.lVal, -7);
  EXPECT_EQ(cases[2].vt, VT_I2);
  EXPECT_EQ(cases[2].value.iVal, 3);
  EXPECT_EQ(cases[3].vt, VT_R8);
  EXPECT_EQ(cases[3].value.dblVal, 2.5);
  EXPECT_EQ(cases[4].vt, VT_DATE);
  EXPECT_DOUBLE_EQ(cases[4].value.date, date);
  EXPECT_EQ(cases[5].vt, VT_BOOL);
  EXPECT_EQ(cases[5].value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(cases[6].vt, VT_EMPTY);
  EXPECT_EQ(cases[7].vt, VT_NULL);
  EXPECT_EQ(cases[8].vt, VT_BSTR);
  EXPECT_EQ(cases[8].value.bstrVal, nullptr);
  // Not found: Outlook's Nothing, a VT_DISPATCH without an object, and no error.
  EXPECT_EQ(cases[9].hr, S_FALSE);
  EXPECT_EQ(cases[9].vt, VT_DISPATCH);
  EXPECT_EQ(cases[9].value.pdispVal, nullptr);
  for (Case& c : cases) VariantClear(&c.value);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  const std::vector<std::string> log = sim.Log();
  EXPECT_TRUE(HasLine(log, "UserProperties#1 Find method (\"missing\", VT_I2 1)"));
  EXPECT_TRUE(HasLine(log, "UserProperty#1.n Value get"));
}

TEST(Members, TextsStartAndDispatchErrors) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start(u8R"(
item 1 subject "" location null body "Grüße \u{1F600}" start -121s
item 2 body "0123456789"*500
wait-advise 20s
fire 1
fire 2
quit
)"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  VARIANT subject, location, body, start, longBody;
  double nowAtEvent = 0;
  struct Call {
    WORD flags;
    DISPID id;
    UINT args;
    HRESULT hr;
  };
  std::vector<Call> calls = {
      {DISPATCH_PROPERTYPUT, 0x37, 1, 0},  // Subject is read-only here
      {DISPATCH_METHOD, 0x37, 0, 0},       // a property is no method
      {DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0x37, 0, 0},
      {DISPATCH_PROPERTYGET, 0x1234, 0, 0},
      {DISPATCH_PROPERTYGET, 0x37, 1, 0},  // a property get takes no arguments
  };
  HRESULT idsHr = S_OK, unknownHr = S_OK, findNoArgs = S_OK;
  DISPID subjectId = 0;
  TestSink sink([&](IDispatch* item) {
    if (sink.Reminders() == 2) return Get(item, 0x9100, &longBody);
    Get(item, 0x37, &subject);
    Get(item, 0x8208, &location);
    Get(item, 0x9100, &body);
    Get(item, 0x820D, &start);
    nowAtEvent = LocalNowAsDate();
    for (Call& c : calls) {
      VARIANTARG arg;
      VariantInit(&arg);
      arg.vt = VT_I4;
      DISPID named = DISPID_PROPERTYPUT;
      DISPPARAMS params = {&arg, c.flags == DISPATCH_PROPERTYPUT ? &named : nullptr, c.args,
                           c.flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
      VARIANT r;
      VariantInit(&r);
      c.hr = item->Invoke(c.id, IID_NULL, LOCALE_USER_DEFAULT, c.flags, &params, &r, nullptr, nullptr);
      VariantClear(&r);
    }
    LPOLESTR name = const_cast<LPOLESTR>(L"subject");
    idsHr = item->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &subjectId);
    DISPID unknownId = 0;
    LPOLESTR nope = const_cast<LPOLESTR>(L"Nope");
    unknownHr = item->GetIDsOfNames(IID_NULL, &nope, 1, LOCALE_USER_DEFAULT, &unknownId);
    VARIANT props;
    if (SUCCEEDED(Get(item, 0xF816, &props))) {
      VARIANT r;
      findNoArgs = Get(props.pdispVal, 0x67, &r, DISPATCH_METHOD);
      VariantClear(&props);
    }
    return S_OK;
  });
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Reminders() == 2; }, 20000));

  EXPECT_EQ(subject.vt, VT_BSTR);
  EXPECT_NE(subject.bstrVal, nullptr) << "an empty text is an empty BSTR";
  EXPECT_EQ(SysStringLen(subject.bstrVal), 0u);
  EXPECT_EQ(location.vt, VT_BSTR);
  EXPECT_EQ(location.bstrVal, nullptr) << "null in the script is a null BSTR";
  EXPECT_EQ(BstrOf(body), std::wstring(L"Gr\u00FC\u00DFe \xD83D\xDE00"));
  EXPECT_EQ(start.vt, VT_DATE);
  // -121s: resolved when the reminder fired, in whole seconds (generous bounds: no timing goal).
  const double agoSeconds = (nowAtEvent - start.date) * 86400.0;
  EXPECT_GE(agoSeconds, 119.5);
  EXPECT_LE(agoSeconds, 135.0);
  EXPECT_EQ(SysStringLen(longBody.bstrVal), 5000u);
  EXPECT_EQ(BstrOf(longBody).substr(4990), L"0123456789");
  EXPECT_EQ(calls[0].hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(calls[1].hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(calls[2].hr, S_OK);
  EXPECT_EQ(calls[3].hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(calls[4].hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(idsHr, S_OK);
  EXPECT_EQ(subjectId, 0x37);
  EXPECT_EQ(unknownHr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(findNoArgs, DISP_E_BADPARAMCOUNT);
  for (VARIANT* v : {&subject, &location, &body, &start, &longBody}) VariantClear(v);

  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  const std::vector<std::string> log = sim.Log();
  for (const char* line : {"Item#1 Subject put -> DISP_E_MEMBERNOTFOUND", "Item#1 Subject method -> DISP_E_MEMBERNOTFOUND",
                           "Item#1 Subject method|get", "Item#1 dispid=0x00001234 get -> DISP_E_MEMBERNOTFOUND",
                           "Item#1 Subject get -> DISP_E_BADPARAMCOUNT", "Item#1 GetIDsOfNames subject",
                           "Item#1 GetIDsOfNames Nope -> DISP_E_UNKNOWNNAME",
                           "UserProperties#1 Find method -> DISP_E_BADPARAMCOUNT"}) {
    EXPECT_TRUE(HasLine(log, line)) << line;
  }
}

TEST(Members, ApplicationVersionCanFailAndRejectsOtherKinds) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Start("version \"9.0.0.2711\"\nwait-advise 20s\nfail Application Version \"Busy.\"\n"
                        "note go\nwait-unadvise 20s\nquit\n"));
  win::ComPtr<IDispatch> app;
  ASSERT_EQ(CreateOutlook(&app), S_OK);
  VARIANT v;
  ASSERT_EQ(Get(app.get(), 0x116, &v), S_OK);
  EXPECT_EQ(BstrOf(v), L"9.0.0.2711");
  VariantClear(&v);
  EXPECT_EQ(Get(app.get(), 0x116, &v, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
  TestSink sink(nullptr);
  DWORD cookie = 0;
  ASSERT_EQ(AdviseSink(app.get(), &sink, &cookie), S_OK);
  ASSERT_TRUE(sim.WaitForLine("Note go", 20000));
  EXCEPINFO excep = {};
  const HRESULT hr = Get(app.get(), 0x116, &v, DISPATCH_PROPERTYGET, &excep);
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  EXPECT_EQ(std::wstring(excep.bstrDescription ? excep.bstrDescription : L""), L"Busy.");
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  EXPECT_EQ(UnadviseSink(app.get(), cookie), S_OK);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  EXPECT_TRUE(HasLine(sim.Log(), "Application Version get -> DISP_E_EXCEPTION"));
  EXPECT_TRUE(HasLine(sim.Log(), "Application Version method -> DISP_E_MEMBERNOTFOUND"));
}

}  // namespace
}  // namespace simtest
