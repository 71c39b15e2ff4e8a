// The dispatch driver and the Outlook accessors on it: what reaches IDispatch::Invoke, how
// results are converted and who owns what.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "agent/framework/dispatch_driver.h"
#include "agent/outlook/ol_application.h"
#include "agent/outlook/ol_appointment_item.h"
#include "agent/outlook/ol_user_properties.h"
#include "agent/outlook/ol_user_property.h"
#include "tests/outlook/fake_com.h"

namespace {

using outlook_test::FakeDispatch;

VARIANT MakeI4(long value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT MakeDate(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DATE;
  v.date = value;
  return v;
}

struct TextAccessor {
  const char* name;
  DISPID dispid;
  std::function<std::string(COlAppointmentItem&)> read;
};

TEST(OutlookAccessors, EachTextPropertyIsOnePropertyGetOnItsDispid) {
  const TextAccessor accessors[] = {
      {"Body", 0x9100, [](COlAppointmentItem& i) { return i.GetBody(); }},
      {"EntryID", 0xF01E, [](COlAppointmentItem& i) { return i.GetEntryID(); }},
      {"MessageClass", 0x1A, [](COlAppointmentItem& i) { return i.GetMessageClass(); }},
      {"Subject", 0x37, [](COlAppointmentItem& i) { return i.GetSubject(); }},
      {"Location", 0x8208, [](COlAppointmentItem& i) { return i.GetLocation(); }},
  };
  for (const TextAccessor& accessor : accessors) {
    SCOPED_TRACE(accessor.name);
    FakeDispatch fake;
    fake.ReturnBstr(L"Dentist", 7);
    COlAppointmentItem item(&fake, FALSE);
    EXPECT_EQ(accessor.read(item), "Dentist");
    ASSERT_EQ(fake.Calls().size(), 1u);
    EXPECT_EQ(fake.Calls()[0].dispid, accessor.dispid);
    EXPECT_EQ(fake.Calls()[0].flags, DISPATCH_PROPERTYGET);
    EXPECT_TRUE(fake.Calls()[0].argTypes.empty());
    EXPECT_TRUE(fake.Calls()[0].wantedResult);
  }
}

TEST(OutlookAccessors, VersionStartAndMinutes) {
  FakeDispatch application;
  application.ReturnBstr(L"9.0.0.2711", 10);
  COlApplication app(&application, FALSE);
  EXPECT_EQ(app.GetVersion(), "9.0.0.2711");
  EXPECT_EQ(application.Calls().at(0).dispid, 0x116);
  EXPECT_EQ(application.Calls().at(0).flags, DISPATCH_PROPERTYGET);

  FakeDispatch fake;
  COlAppointmentItem item(&fake, FALSE);
  fake.ReturnVariant(MakeDate(47000.75));
  EXPECT_DOUBLE_EQ(item.GetStart(), 47000.75);
  fake.ReturnVariant(MakeI4(-15));
  EXPECT_EQ(item.GetReminderMinutesBeforeStart(), -15);
  ASSERT_EQ(fake.Calls().size(), 2u);
  EXPECT_EQ(fake.Calls()[0].dispid, 0x820D);
  EXPECT_EQ(fake.Calls()[1].dispid, 0x8501);
}

TEST(OutlookAccessors, FindPassesTheNameAsBstrThenTheCustomVariant) {
  FakeDispatch properties;
  VARIANT nothing;
  VariantInit(&nothing);
  nothing.vt = VT_DISPATCH;
  nothing.pdispVal = nullptr;
  properties.ReturnVariant(nothing);
  COlUserProperties collection(&properties, FALSE);
  VARIANT custom;
  VariantInit(&custom);
  custom.vt = VT_I2;
  custom.iVal = 1;

  EXPECT_EQ(collection.Find("notifycall", custom), nullptr);
  ASSERT_EQ(properties.Calls().size(), 1u);
  const auto& call = properties.Calls()[0];
  EXPECT_EQ(call.dispid, 0x67);
  EXPECT_EQ(call.flags, DISPATCH_METHOD);
  EXPECT_EQ(call.namedArgs, 0u);
  // Automation order: last parameter first.
  ASSERT_EQ(call.argTypes, (std::vector<VARTYPE>{VT_I2, VT_BSTR}));
  EXPECT_EQ(call.argIntegers[0], 1);
  EXPECT_EQ(call.argTexts[1], L"notifycall");
  EXPECT_EQ(custom.vt, VT_I2);  // the caller's VARIANT is passed by value, left as it was
}

TEST(OutlookAccessors, InterfaceResultsBelongToTheCaller) {
  FakeDispatch item;
  FakeDispatch collection;
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_DISPATCH;
  value.pdispVal = &collection;
  item.ReturnVariant(value);  // the fake keeps one reference of its own
  const ULONG before = collection.Refs();
  {
    COlAppointmentItem appointment(&item, FALSE);
    COlUserProperties properties(appointment.GetUserProperties(), TRUE);
    EXPECT_EQ(properties.m_lpDispatch, &collection);
    EXPECT_EQ(collection.Refs(), before + 1);
  }
  EXPECT_EQ(collection.Refs(), before);
  EXPECT_EQ(item.Refs(), 1u);  // a borrowed item is never released
}

TEST(OutlookAccessors, GetValueReturnsThePropertysOwnType) {
  FakeDispatch property;
  property.ReturnVariant(MakeI4(5550100));
  COlUserProperty wrapper(&property, FALSE);
  VARIANT number = wrapper.GetValue();
  EXPECT_EQ(number.vt, VT_I4);
  EXPECT_EQ(number.lVal, 5550100);
  EXPECT_EQ(property.Calls().at(0).dispid, DISPID_VALUE);
  EXPECT_EQ(property.Calls().at(0).flags, DISPATCH_PROPERTYGET);

  property.ReturnBstr(L"555-0100", 8);
  VARIANT text = wrapper.GetValue();
  ASSERT_EQ(text.vt, VT_BSTR);
  EXPECT_EQ(std::wstring(text.bstrVal), L"555-0100");
  VariantClear(&text);
}

TEST(DispatchDriver, TextResults) {
  struct Row {
    const char* name;
    const wchar_t* text;  // null: a null BSTR
    UINT length;
    std::string expected;
  };
  const std::wstring longText(5000, L'x');
  const Row rows[] = {
      {"null BSTR", nullptr, 0, ""},
      {"empty", L"", 0, ""},
      {"embedded zero kept", L"ab\0cd", 5, std::string("ab\0cd", 5)},
      {"long", longText.c_str(), 5000, std::string(5000, 'x')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeDispatch fake;
    fake.ReturnBstr(row.text, row.length);
    COlAppointmentItem item(&fake, FALSE);
    EXPECT_EQ(item.GetSubject(), row.expected);
  }
}

TEST(DispatchDriver, NonAsciiTextArrivesInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  FakeDispatch fake;
  fake.ReturnBstr(L"Caf\u00e9 \u20ac \u4e2d", 8);
  COlAppointmentItem item(&fake, FALSE);
  EXPECT_EQ(item.GetSubject(), "Caf\xe9 \x80 ?");  // a character the code page lacks becomes '?'
}

TEST(DispatchDriver, ResultsAreCoercedToTheRequestedType) {
  FakeDispatch fake;
  COlAppointmentItem item(&fake, FALSE);
  fake.ReturnVariant(MakeI4(42));
  EXPECT_EQ(item.GetSubject(), "42");
  fake.ReturnBstr(L"17", 2);
  EXPECT_EQ(item.GetReminderMinutesBeforeStart(), 17);

  VARIANT empty;
  VariantInit(&empty);
  fake.ReturnVariant(empty);
  EXPECT_EQ(item.GetSubject(), "");

  const struct {
    const char* name;
    std::function<void()> call;
  } failing[] = {
      {"text as number", [&] { fake.ReturnBstr(L"abc", 3); item.GetReminderMinutesBeforeStart(); }},
      {"null as text", [&] { VARIANT n; VariantInit(&n); n.vt = VT_NULL; fake.ReturnVariant(n); item.GetSubject(); }},
      {"number as object", [&] { fake.ReturnVariant(MakeI4(1)); item.GetUserProperties(); }},
  };
  for (const auto& row : failing) {
    SCOPED_TRACE(row.name);
    try {
      row.call();
      ADD_FAILURE() << "no exception";
    } catch (const COleDispatchException&) {
      ADD_FAILURE() << "not an Automation exception";
    } catch (const COleException& e) {
      EXPECT_TRUE(FAILED(e.m_sc));
    }
  }
}

TEST(DispatchDriver, FailuresRaiseOleExceptions) {
  FakeDispatch fake;
  COlAppointmentItem item(&fake, FALSE);

  fake.RaiseException(L"The item was deleted.", E_FAIL);
  try {
    item.GetBody();
    ADD_FAILURE() << "no exception";
  } catch (const COleDispatchException& e) {
    EXPECT_EQ(e.m_strDescription, "The item was deleted.");
    EXPECT_EQ(e.m_strSource, "Fake");
    EXPECT_EQ(e.m_sc, E_FAIL);
  }

  fake.FailWith(RPC_E_DISCONNECTED);
  try {
    item.GetBody();
    ADD_FAILURE() << "no exception";
  } catch (const COleDispatchException&) {
    ADD_FAILURE() << "not an Automation exception";
  } catch (const COleException& e) {
    EXPECT_EQ(e.m_sc, RPC_E_DISCONNECTED);
  }

  COlAppointmentItem empty;
  try {
    empty.GetBody();
    ADD_FAILURE() << "no exception";
  } catch (const COleException& e) {
    EXPECT_EQ(e.m_sc, E_POINTER);
  }
}

TEST(DispatchDriver, OwnershipOfTheHeldPointer) {
  FakeDispatch fake;
  fake.AddRef();  // the reference handed to an owning driver
  {
    COleDispatchDriver owner(&fake, TRUE);
    EXPECT_EQ(fake.Refs(), 2u);
  }
  EXPECT_EQ(fake.Refs(), 1u);
  {
    COleDispatchDriver borrower(&fake, FALSE);
  }
  EXPECT_EQ(fake.Refs(), 1u);

  fake.AddRef();
  COleDispatchDriver driver;
  driver.AttachDispatch(&fake, TRUE);
  EXPECT_EQ(driver.DetachDispatch(), &fake);
  EXPECT_EQ(driver.m_lpDispatch, nullptr);
  EXPECT_EQ(fake.Refs(), 2u);  // detached: the reference went to the caller
  fake.Release();

  fake.AddRef();
  driver.AttachDispatch(&fake, TRUE);
  driver.ReleaseDispatch();
  driver.ReleaseDispatch();  // once only
  EXPECT_EQ(fake.Refs(), 1u);
}

TEST(DispatchDriver, CreateDispatchOfAnUnknownProgIdFails) {
  COleDispatchDriver driver;
  COleException error;
  EXPECT_FALSE(driver.CreateDispatch("Brisomel.NoSuchClass.Test", &error));
  EXPECT_TRUE(FAILED(error.m_sc));
  EXPECT_EQ(driver.m_lpDispatch, nullptr);
}

}  // namespace
