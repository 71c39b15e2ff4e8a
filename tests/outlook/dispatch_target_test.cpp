// Automation objects driven by dispatch maps, called through the dispatch driver
// exactly as another process would call them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agent/framework/ole/automation.h"
#include "agent/framework/ole/ole_text.h"
#include "agent/framework/ole/dispatch_target.h"
#include "agent/framework/shared.h"
#include "common/win/variant.h"

#include <ocidl.h>

namespace {

// {8E0D2C4A-61B7-4F0E-9A3C-2B5D7E9F1A03}
const IID IID_TestEvents = {0x8E0D2C4A, 0x61B7, 0x4F0E, {0x9A, 0x3C, 0x2B, 0x5D, 0x7E, 0x9F, 0x1A, 0x03}};

constexpr DISPID kSubtract = 1, kGreet = 2, kMismatched = 3, kKeep = 5;

class CTestTarget : public fw::AutomationTarget {
 public:
  explicit CTestTarget(bool* destroyed = nullptr) : destroyed_(destroyed) { EnableAutomation(); }
  ~CTestTarget() override {
    if (destroyed_) *destroyed_ = true;
  }

  long Subtract(long a, long b) { return a - b; }
  std::string Greet(std::string name) { return "Hello, " + name; }
  void Keep(LPDISPATCH item) {
    kept = item;
    keptRefsDuringCall = item ? (item->AddRef(), item->Release()) : 0;
  }

  LPDISPATCH kept = nullptr;
  ULONG keptRefsDuringCall = 0;

 protected:
  const fw::DispatchMap* GetDispatchMap() const override {
    static const fw::DispatchEntry kEntries[] = {
        fw::DispatchFunction<&CTestTarget::Subtract>("Subtract", kSubtract, VT_I4, VTS_I4 VTS_I4),
        fw::DispatchFunction<&CTestTarget::Greet>("Greet", kGreet, VT_BSTR, VTS_BSTR),
        // Declared as taking a number, while the member takes an object.
        fw::DispatchFunction<&CTestTarget::Keep>("Mismatched", kMismatched, VT_EMPTY, VTS_I4),
        fw::DispatchFunction<&CTestTarget::Keep>("Keep", kKeep, VT_EMPTY, VTS_DISPATCH),
        fw::kEndOfDispatchMap,
    };
    static const fw::DispatchMap kMap{AutomationTarget::GetDispatchMap(), kEntries};
    return &kMap;
  }
  void* GetInterfaceHook(REFIID iid) override {
    return IsEqualIID(iid, IID_TestEvents) ? GetIDispatch(FALSE) : AutomationTarget::GetInterfaceHook(iid);
  }

 private:
  bool* destroyed_;
};

// Calls Invoke directly, for what the driver never sends.
HRESULT RawInvoke(IDispatch* target, DISPID dispid, WORD flags, std::vector<VARIANTARG> reversedArgs,
                  UINT namedCount = 0, EXCEPINFO* excepInfo = nullptr, UINT* argError = nullptr) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversedArgs.empty() ? nullptr : reversedArgs.data(), namedCount ? &named : nullptr,
                    static_cast<UINT>(reversedArgs.size()), namedCount};
  win::Variant result;
  return target->Invoke(dispid, IID_NULL, 0, flags, &params, result.get(), excepInfo, argError);
}

VARIANTARG I4(long value) {
  VARIANTARG v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

TEST(AutomationTarget, MembersAreCalledWithTheirArgumentsInOrder) {
  CTestTarget target;
  const fw::Dispatch client = fw::Dispatch::Borrow(target.GetIDispatch(FALSE));
  win::Variant difference;
  ASSERT_TRUE(client.Call(kSubtract, &difference, fw::ArgLong(10), fw::ArgLong(3)).Ok());
  EXPECT_EQ(difference.get()->lVal, 7);

  // Arguments are coerced to the member's parameter types.
  ASSERT_TRUE(client.Call(kSubtract, &difference, fw::ArgText("100"), fw::ArgShort(1)).Ok());
  EXPECT_EQ(difference.get()->lVal, 99);

  win::Variant greeting;
  ASSERT_TRUE(client.Call(kGreet, &greeting, fw::ArgText("Ann")).Ok());
  ASSERT_EQ(greeting.vt(), VT_BSTR);
  EXPECT_EQ(std::wstring(greeting.get()->bstrVal), L"Hello, Ann");
}

TEST(AutomationTarget, CallErrors) {
  CTestTarget target;
  IDispatch* dispatch = target.GetIDispatch(FALSE);
  struct Row {
    const char* name;
    DISPID dispid;
    WORD flags;
    std::vector<VARIANTARG> args;
    UINT named;
    HRESULT expected;
    UINT argError;  // index into rgvarg (last parameter first) of the argument that failed
  };
  VARIANTARG text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"abc");
  const Row rows[] = {
      {"unknown DISPID", 0xF005, DISPATCH_METHOD, {}, 0, DISP_E_MEMBERNOTFOUND, 99},
      {"property put", kSubtract, DISPATCH_PROPERTYPUT, {I4(1), I4(2), I4(3)}, 1, DISP_E_MEMBERNOTFOUND, 99},
      {"too few arguments", kSubtract, DISPATCH_METHOD, {I4(1)}, 0, DISP_E_BADPARAMCOUNT, 99},
      {"too many arguments", kGreet, DISPATCH_METHOD, {I4(1), I4(2)}, 0, DISP_E_BADPARAMCOUNT, 99},
      {"named arguments", kSubtract, DISPATCH_METHOD, {I4(1), I4(2)}, 1, DISP_E_NONAMEDARGS, 99},
      {"argument that does not convert", kSubtract, DISPATCH_METHOD, {I4(1), text}, 0, DISP_E_TYPEMISMATCH, 1},
      {"number for an object", kKeep, DISPATCH_METHOD, {I4(1)}, 0, DISP_E_TYPEMISMATCH, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    UINT argError = 99;
    EXPECT_EQ(RawInvoke(dispatch, row.dispid, row.flags, row.args, row.named, nullptr, &argError), row.expected);
    EXPECT_EQ(argError, row.argError);
  }
  VariantClear(&text);
  EXPECT_EQ(target.RefCount(), 1u);
}

TEST(AutomationTarget, AMemberThatCannotTakeItsArgumentsFailsAsAnAutomationException) {
  CTestTarget target;
  IDispatch* dispatch = target.GetIDispatch(FALSE);

  // An [out] parameter: what it holds on entry is garbage to the callee, never to be freed.
  EXCEPINFO info;
  std::memset(&info, 0xCD, sizeof info);
  EXPECT_EQ(RawInvoke(dispatch, kMismatched, DISPATCH_METHOD, {I4(7)}, 0, &info), DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(info.wCode, 0);
  EXPECT_EQ(info.bstrHelpFile, nullptr);
  EXPECT_EQ(info.pfnDeferredFillIn, nullptr);
  EXPECT_EQ(fw::BstrToAnsi(info.bstrSource), fw::AppTitle());
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  EXPECT_EQ(target.kept, nullptr);  // the member never ran

  EXPECT_EQ(RawInvoke(dispatch, kMismatched, DISPATCH_METHOD, {I4(7)}, 0, nullptr), DISP_E_EXCEPTION);

  // Through the client, the caller gets the member's code back.
  const fw::CallStatus raised = fw::Dispatch::Borrow(dispatch).Call(kMismatched, nullptr, fw::ArgLong(7));
  EXPECT_EQ(raised.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(target.RefCount(), 1u);
}

TEST(AutomationTarget, ObjectArgumentsAreLentForTheCall) {
  CTestTarget target;
  CTestTarget item;
  {
    win::Variant object;
    object.get()->vt = VT_DISPATCH;
    object.get()->pdispVal = item.GetIDispatch(TRUE);  // the argument's own reference
    ASSERT_TRUE(fw::Dispatch::Borrow(target.GetIDispatch(FALSE)).Call(kKeep, nullptr, std::move(object)).Ok());
  }
  EXPECT_EQ(target.kept, item.GetIDispatch(FALSE));
  EXPECT_EQ(item.RefCount(), 1u);  // nothing kept, nothing released
}

TEST(AutomationTarget, NamesAreFoundWithoutRegardToCase) {
  CTestTarget target;
  IDispatch* dispatch = target.GetIDispatch(FALSE);
  wchar_t greet[] = L"gREET";
  wchar_t unknown[] = L"Reminder";
  LPOLESTR names[] = {greet};
  DISPID dispid = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid), S_OK);
  EXPECT_EQ(dispid, kGreet);
  names[0] = unknown;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(dispid, DISPID_UNKNOWN);
}

TEST(AutomationTarget, TheInterfaceHookAnswersWithTheIDispatch) {
  CTestTarget target;
  IDispatch* dispatch = target.GetIDispatch(FALSE);
  const IID* answered[] = {&IID_IUnknown, &IID_IDispatch, &IID_TestEvents};
  for (const IID* iid : answered) {
    void* object = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(*iid, &object), S_OK);
    EXPECT_EQ(object, dispatch);
    static_cast<IUnknown*>(object)->Release();
  }
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(dispatch->QueryInterface(IID_IConnectionPointContainer, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(target.RefCount(), 1u);
}

class CPlainTarget : public fw::AutomationTarget {};

TEST(AutomationTarget, WithoutEnableAutomationThereIsNoIDispatch) {
  CPlainTarget target;
  EXPECT_EQ(target.GetIDispatch(TRUE), nullptr);
  void* object = nullptr;
  EXPECT_EQ(target.ExternalQueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(target.RefCount(), 1u);
}

TEST(AutomationTarget, TheFinalReleaseDeletesAHeapObject) {
  bool destroyed = false;
  auto* target = new CTestTarget(&destroyed);
  IDispatch* dispatch = target->GetIDispatch(TRUE);
  EXPECT_EQ(target->RefCount(), 2u);
  EXPECT_EQ(dispatch->Release(), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(dispatch->Release(), 0u);
  EXPECT_TRUE(destroyed);
}

}  // namespace
