// The add-in object's COM surface: identity, reference counts, the refused IDispatch members and
// the hold on the host's Application object.
#include <gtest/gtest.h>
#include <ocidl.h>

#include <cstring>
#include <string>

#include "tests/support/outlook_double.h"
#include "tests/addin/mervane_dll.h"

namespace addin_test {
namespace {

const IID kIidNobodyKnows = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

class AddinObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Mervane().DllCanUnloadNow(), S_OK);
    addin_ = CreateAddin();
    ASSERT_TRUE(addin_);
  }
  void TearDown() override {
    addin_.reset();
    EXPECT_EQ(Mervane().DllCanUnloadNow(), S_OK);
  }

  win::ComPtr<IDTExtensibility2> addin_;
};

TEST_F(AddinObject, OneInterfacePointerServesItsThreeInterfaces) {
  EXPECT_EQ(RefCount(addin_.get()), 1u);
  ULONG expected = 1;
  for (const IID* iid : {&kIidIDTExtensibility2, &IID_IUnknown, &IID_IDispatch}) {
    void* out = nullptr;
    ASSERT_EQ(addin_->QueryInterface(*iid, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(addin_.get()));
    EXPECT_EQ(RefCount(addin_.get()), ++expected);
  }
  for (ULONG i = 1; i < expected; ++i) addin_->Release();
  EXPECT_EQ(RefCount(addin_.get()), 1u);
}

TEST_F(AddinObject, OtherInterfacesAreRefused) {
  for (const IID* iid : {&IID_IClassFactory, &kIidNobodyKnows, &IID_IConnectionPointContainer}) {
    void* out = reinterpret_cast<void*>(static_cast<uintptr_t>(0xC0FFEE00));
    EXPECT_EQ(addin_->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(addin_->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(RefCount(addin_.get()), 1u);
}

TEST_F(AddinObject, DispatchMembersFailAndWriteNothing) {
  // Every out parameter starts as a canary that must survive the call.
  UINT count = 0xCAFE;
  EXPECT_EQ(addin_->GetTypeInfoCount(&count), E_FAIL);
  EXPECT_EQ(count, 0xCAFEu);

  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(static_cast<uintptr_t>(0xC0FFEE00));
  EXPECT_EQ(addin_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), E_FAIL);
  EXPECT_EQ(info, reinterpret_cast<ITypeInfo*>(static_cast<uintptr_t>(0xC0FFEE00)));

  wchar_t name[] = L"OnConnection";
  LPOLESTR names[] = {name};
  DISPID id = 0x5A5A;
  EXPECT_EQ(addin_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), E_FAIL);
  EXPECT_EQ(id, 0x5A5A);

  DISPPARAMS params{};
  VARIANT result;
  std::memset(&result, 0xA5, sizeof result);
  EXCEPINFO exception;
  std::memset(&exception, 0xA5, sizeof exception);
  UINT argumentError = 0xCAFE;
  EXPECT_EQ(addin_->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                           &exception, &argumentError),
            E_FAIL);
  VARIANT untouchedResult;
  std::memset(&untouchedResult, 0xA5, sizeof untouchedResult);
  EXCEPINFO untouchedException;
  std::memset(&untouchedException, 0xA5, sizeof untouchedException);
  EXPECT_EQ(std::memcmp(&result, &untouchedResult, sizeof result), 0);
  EXPECT_EQ(std::memcmp(&exception, &untouchedException, sizeof exception), 0);
  EXPECT_EQ(argumentError, 0xCAFEu);
}

// Office calls the ribbon's callbacks by name on the object it got for IRibbonExtensibility: an
// object of its own, whose IDispatch knows the callbacks, while the add-in object's still knows
// nothing. Both are one COM object to the host: one IUnknown, one reference count.
TEST_F(AddinObject, TheRibbonIsAnObjectOfItsOwnWithTheAddinsIdentity) {
  win::ComPtr<IRibbonExtensibility> ribbon;
  ASSERT_EQ(addin_->QueryInterface(kIidIRibbonExtensibility, ribbon.put_void()), S_OK);
  EXPECT_NE(static_cast<void*>(ribbon.get()), static_cast<void*>(addin_.get()));
  EXPECT_EQ(RefCount(addin_.get()), 2u);
  win::ComPtr<IUnknown> fromRibbon, fromAddin;
  ASSERT_EQ(ribbon->QueryInterface(IID_IUnknown, fromRibbon.put_void()), S_OK);
  ASSERT_EQ(addin_->QueryInterface(IID_IUnknown, fromAddin.put_void()), S_OK);
  EXPECT_EQ(fromRibbon.get(), fromAddin.get());
  win::ComPtr<IDispatch> ribbonDispatch;
  ASSERT_EQ(ribbon->QueryInterface(IID_IDispatch, ribbonDispatch.put_void()), S_OK);
  EXPECT_EQ(static_cast<void*>(ribbonDispatch.get()), static_cast<void*>(ribbon.get()));

  wchar_t name[] = L"getreminderCALLpressed";
  LPOLESTR names[] = {name};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(ribbon->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_NE(id, DISPID_UNKNOWN);
  wchar_t unknown[] = L"OnConnection";
  names[0] = unknown;
  EXPECT_EQ(ribbon->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  names[0] = name;
  EXPECT_EQ(addin_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), E_FAIL);

  // Other windows get no XML; without an Outlook version the 2010 namespace is used.
  BSTR xml = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0xC0FFEE00));
  BSTR mail = SysAllocString(L"Microsoft.Outlook.Mail.Read");
  EXPECT_EQ(ribbon->GetCustomUI(mail, &xml), S_OK);
  EXPECT_EQ(xml, nullptr);
  SysFreeString(mail);
  BSTR appointment = SysAllocString(L"Microsoft.Outlook.Appointment");
  ASSERT_EQ(ribbon->GetCustomUI(appointment, &xml), S_OK);
  SysFreeString(appointment);
  ASSERT_NE(xml, nullptr);
  EXPECT_EQ(std::wstring(xml).rfind(L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\"", 0), 0u);
  SysFreeString(xml);
}

TEST_F(AddinObject, HoldsTheApplicationFromConnectionToDisconnection) {
  for (int removeMode : {0, 1}) {
    outlook_double::HeldApplication application;
    ASSERT_EQ(addin_->OnConnection(&application, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(application.Refs(), 2u) << "one reference of its own";
    EXPECT_EQ(addin_->OnAddInsUpdate(nullptr), S_OK);
    EXPECT_EQ(addin_->OnBeginShutdown(nullptr), S_OK);
    EXPECT_EQ(application.Refs(), 2u);
    EXPECT_EQ(addin_->OnDisconnection(removeMode, nullptr), S_OK);
    EXPECT_EQ(application.Refs(), 1u) << "remove mode " << removeMode;
    EXPECT_EQ(addin_->OnDisconnection(removeMode, nullptr), S_OK) << "a second one is harmless";
    EXPECT_EQ(application.Refs(), 1u);
  }
}

TEST_F(AddinObject, ConnectionWithoutApplicationIsRefused) {
  EXPECT_EQ(addin_->OnConnection(nullptr, 0, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
}

TEST_F(AddinObject, ReconnectingSwapsTheHeldApplication) {
  outlook_double::HeldApplication first, second;
  ASSERT_EQ(addin_->OnConnection(&first, 0, nullptr, nullptr), S_OK);
  ASSERT_EQ(addin_->OnConnection(&second, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(first.Refs(), 1u);
  EXPECT_EQ(second.Refs(), 2u);
  EXPECT_EQ(addin_->OnDisconnection(0, nullptr), S_OK);
  EXPECT_EQ(second.Refs(), 1u);
}

TEST_F(AddinObject, LastReleaseWithoutDisconnectionLetsGoOfTheApplication) {
  outlook_double::HeldApplication application;
  ASSERT_EQ(addin_->OnConnection(&application, 0, nullptr, nullptr), S_OK);
  addin_.reset();
  EXPECT_EQ(application.Refs(), 1u);
}

// The host calls through the vtable, not through our declaration of it: slots 7 to 11 hold the
// IDTExtensibility2 methods, each __stdcall with the object as first argument.
TEST_F(AddinObject, HostReachesTheMethodsThroughVtableSlots) {
  using OnConnectionFn = HRESULT(STDMETHODCALLTYPE*)(void*, IDispatch*, int, IDispatch*,
                                                     SAFEARRAY**);
  using OnDisconnectionFn = HRESULT(STDMETHODCALLTYPE*)(void*, int, SAFEARRAY**);
  using CustomOnlyFn = HRESULT(STDMETHODCALLTYPE*)(void*, SAFEARRAY**);
  using GetTypeInfoCountFn = HRESULT(STDMETHODCALLTYPE*)(void*, UINT*);
  void* object = addin_.get();
  void** vtable = *static_cast<void***>(object);

  UINT count = 7;
  EXPECT_EQ(reinterpret_cast<GetTypeInfoCountFn>(vtable[3])(object, &count), E_FAIL);
  EXPECT_EQ(reinterpret_cast<OnConnectionFn>(vtable[7])(object, nullptr, 0, nullptr, nullptr),
            E_POINTER);
  outlook_double::HeldApplication application;
  EXPECT_EQ(reinterpret_cast<OnConnectionFn>(vtable[7])(object, &application, 0, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(application.Refs(), 2u);
  EXPECT_EQ(reinterpret_cast<CustomOnlyFn>(vtable[9])(object, nullptr), S_OK);
  EXPECT_EQ(reinterpret_cast<CustomOnlyFn>(vtable[11])(object, nullptr), S_OK);
  EXPECT_EQ(reinterpret_cast<OnDisconnectionFn>(vtable[8])(object, 1, nullptr), S_OK);
  EXPECT_EQ(application.Refs(), 1u);
}

}  // namespace
}  // namespace addin_test
