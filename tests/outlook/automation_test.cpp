// The typed Automation client: what reaches IDispatch::Invoke, how results are converted, what a
// failure reports and who owns what.
#include "agent/framework/ole/automation.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/outlook_double.h"

namespace {

using outlook_double::FakeDispatch;

VARIANT MakeVariant(VARTYPE type, long value = 0) {
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  v.lVal = value;
  return v;
}

// DISPIDs, kinds, argument order and call order of Outlook's members are checked against the
// simulator's log (reminder_sim_test.cpp); here: conversion and ownership.
TEST(Automation, ObjectResultsHoldAReferenceOfTheirOwn) {
  FakeDispatch item;
  FakeDispatch collection;
  VARIANT value = MakeVariant(VT_DISPATCH);
  value.pdispVal = &collection;
  item.ReturnVariant(value);  // the fake keeps one reference of its own
  const ULONG before = collection.Refs();
  {
    const fw::Dispatch borrowed = fw::Dispatch::Borrow(&item);
    EXPECT_EQ(item.Refs(), 2u);
    fw::Dispatch properties;
    ASSERT_TRUE(borrowed.Get(0xF816, &properties).Ok());
    EXPECT_EQ(properties.get(), &collection);
    EXPECT_EQ(collection.Refs(), before + 1);
  }
  EXPECT_EQ(collection.Refs(), before);
  EXPECT_EQ(item.Refs(), 1u);
}

TEST(Automation, AVariantResultKeepsItsOwnType) {
  FakeDispatch property;
  property.ReturnVariant(MakeVariant(VT_I4, 5550100));
  const fw::Dispatch client = fw::Dispatch::Borrow(&property);
  win::Variant number;
  ASSERT_TRUE(client.Get(DISPID_VALUE, &number).Ok());
  EXPECT_EQ(number.vt(), VT_I4);
  EXPECT_EQ(number.get()->lVal, 5550100);
  EXPECT_EQ(property.Calls().at(0).dispid, DISPID_VALUE);
  EXPECT_EQ(property.Calls().at(0).flags, DISPATCH_PROPERTYGET);
  EXPECT_EQ(property.Calls().at(0).namedArgs, 0u);
}

TEST(Automation, TextResults) {
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
    std::string text = "old";
    ASSERT_TRUE(fw::Dispatch::Borrow(&fake).Get(0x37, &text).Ok());
    EXPECT_EQ(text, row.expected);
  }
}

TEST(Automation, NonAsciiTextArrivesInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  FakeDispatch fake;
  fake.ReturnBstr(L"Caf\u00e9 \u20ac \u4e2d", 8);
  std::string text;
  ASSERT_TRUE(fw::Dispatch::Borrow(&fake).Get(0x37, &text).Ok());
  EXPECT_EQ(text, "Caf\xe9 \x80 ?");  // a character the code page lacks becomes '?'
}

TEST(Automation, ResultsAreCoercedToTheAskedType) {
  FakeDispatch fake;
  const fw::Dispatch client = fw::Dispatch::Borrow(&fake);
  std::string text;
  long number = 0;
  fw::Dispatch object;
  fake.ReturnVariant(MakeVariant(VT_I4, 42));
  ASSERT_TRUE(client.Get(1, &text).Ok());
  EXPECT_EQ(text, "42");
  fake.ReturnBstr(L"17", 2);
  ASSERT_TRUE(client.Get(1, &number).Ok());
  EXPECT_EQ(number, 17);
  fake.ReturnVariant(MakeVariant(VT_EMPTY));
  ASSERT_TRUE(client.Get(1, &text).Ok());
  EXPECT_EQ(text, "");

  // What does not convert fails with the conversion's code and leaves the value alone.
  fake.ReturnBstr(L"abc", 3);
  EXPECT_EQ(client.Get(1, &number).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(number, 17);
  fake.ReturnVariant(MakeVariant(VT_NULL));
  EXPECT_FALSE(client.Get(1, &text).Ok());
  fake.ReturnVariant(MakeVariant(VT_I4, 1));
  EXPECT_FALSE(client.Get(1, &object).Ok());
  EXPECT_FALSE(object);
}

TEST(Automation, FailuresCarryTheCodeAndTheObjectsDescription) {
  FakeDispatch fake;
  const fw::Dispatch client = fw::Dispatch::Borrow(&fake);
  std::string text;

  fake.RaiseException(L"The item was deleted.", E_FAIL);
  fw::CallStatus status = client.Get(0x9100, &text);
  EXPECT_EQ(status.hr, E_FAIL);
  EXPECT_EQ(status.Reason(), "The item was deleted.");

  fake.RaiseException(L"", 0);  // an exception without code or words
  status = client.Get(0x9100, &text);
  EXPECT_EQ(status.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(status.Reason(), "error 0x80020009");

  fake.FailWith(RPC_E_DISCONNECTED);
  status = client.Get(0x9100, &text);
  EXPECT_EQ(status.hr, RPC_E_DISCONNECTED);
  EXPECT_EQ(status.Reason(), "error 0x80010108");

  EXPECT_EQ(fw::Dispatch().Get(0x9100, &text).hr, E_POINTER);
}

TEST(Automation, MethodArgumentsArriveLastFirstWithTheirTypes) {
  FakeDispatch fake;
  fake.ReturnVariant(MakeVariant(VT_EMPTY));
  win::Variant found;
  ASSERT_TRUE(fw::Dispatch::Borrow(&fake).Call(0x67, &found, fw::ArgText("notifycall"), fw::ArgShort(1)).Ok());
  const outlook_double::RecordedInvoke& call = fake.Calls().at(0);
  EXPECT_EQ(call.flags, DISPATCH_METHOD);
  EXPECT_EQ(call.argTypes, (std::vector<VARTYPE>{VT_I2, VT_BSTR}));
  EXPECT_EQ(call.argIntegers.at(0), 1);
  EXPECT_EQ(call.argTexts.at(1), L"notifycall");
  EXPECT_TRUE(call.wantedResult);
}

TEST(Automation, CreatingAnUnknownProgIdFails) {
  fw::Dispatch created;
  EXPECT_FALSE(fw::Dispatch::Create("Brisomel.NoSuchClass.Test", &created).Ok());
  EXPECT_FALSE(created);
}

}  // namespace
