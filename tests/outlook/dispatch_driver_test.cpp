// The dispatch driver and the Outlook accessors on it: what reaches IDispatch::Invoke, how
// results are converted and who owns what.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "agent/framework/dispatch_driver.h"
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

// DISPIDs, kinds, argument order and call order of the accessors are checked against the
// simulator's log (reminder_sim_test.cpp); here: conversion and ownership.
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
