// The server's exports and its class factory, called in process as a host calls them.
#include <gtest/gtest.h>
#include <ocidl.h>

#include "tests/addin/mervane_dll.h"

namespace addin_test {
namespace {

// {00000000-0000-0000-0000-000000000001}: no interface anybody implements.
const IID kIidNobodyKnows = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
void* const kCanary = reinterpret_cast<void*>(static_cast<uintptr_t>(0xC0FFEE00));

// Reference count of an object, read through an AddRef/Release pair.
ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(dll_.DllGetClassObject, nullptr);
    // Every test begins and ends with no add-in object and no lock.
    ASSERT_EQ(dll_.DllCanUnloadNow(), S_OK);
  }
  void TearDown() override { EXPECT_EQ(dll_.DllCanUnloadNow(), S_OK); }

  win::ComPtr<IClassFactory> Factory() {
    win::ComPtr<IClassFactory> factory;
    EXPECT_EQ(dll_.DllGetClassObject(kAddinClassId, IID_IClassFactory, factory.put_void()), S_OK);
    return factory;
  }

  const MervaneExports& dll_ = Mervane();
};

TEST_F(EntryPoints, ExportsCarryOrdinalsTwoToFive) {
  const struct {
    WORD ordinal;
    void* byName;
  } exports[] = {
      {2, reinterpret_cast<void*>(dll_.DllGetClassObject)},
      {3, reinterpret_cast<void*>(dll_.DllCanUnloadNow)},
      {4, reinterpret_cast<void*>(dll_.DllRegisterServer)},
      {5, reinterpret_cast<void*>(dll_.DllUnregisterServer)},
  };
  for (const auto& e : exports) {
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dll_.module, MAKEINTRESOURCEA(e.ordinal))),
              e.byName)
        << e.ordinal;
  }
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dll_.module, MAKEINTRESOURCEA(1))), nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dll_.module, "DllMain")), nullptr);
}

TEST_F(EntryPoints, GetClassObjectWithoutOutPointerFails) {
  EXPECT_EQ(dll_.DllGetClassObject(kAddinClassId, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(EntryPoints, GetClassObjectAnswersOnlyTheAddinClass) {
  CLSID other = kAddinClassId;
  for (size_t byte = 0; byte < sizeof(CLSID); byte += 5) {  // one byte off, at several places
    other = kAddinClassId;
    reinterpret_cast<unsigned char*>(&other)[byte] ^= 0x01;
    void* out = kCanary;
    EXPECT_EQ(dll_.DllGetClassObject(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE)
        << "byte " << byte;
    EXPECT_EQ(out, nullptr);
  }
  void* out = kCanary;
  EXPECT_EQ(dll_.DllGetClassObject(IID_IUnknown, IID_IUnknown, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(EntryPoints, GetClassObjectHandsOutAFactoryHoldingOneReference) {
  for (const IID* iid : {&IID_IUnknown, &IID_IClassFactory}) {
    void* out = kCanary;
    ASSERT_EQ(dll_.DllGetClassObject(kAddinClassId, *iid, &out), S_OK);
    ASSERT_NE(out, nullptr);
    auto* factory = static_cast<IClassFactory*>(out);
    EXPECT_EQ(RefCount(factory), 1u);
    EXPECT_EQ(factory->Release(), 0u);
  }
}

TEST_F(EntryPoints, GetClassObjectRefusesOtherInterfaces) {
  for (const IID* iid : {&IID_IDispatch, &IID_IClassFactory2, &kIidNobodyKnows,
                         &kIidIDTExtensibility2}) {
    void* out = kCanary;
    EXPECT_EQ(dll_.DllGetClassObject(kAddinClassId, *iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
}

TEST_F(EntryPoints, EveryCallMakesANewFactory) {
  win::ComPtr<IClassFactory> first = Factory(), second = Factory();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(RefCount(first.get()), 1u);
}

TEST_F(EntryPoints, FactoryAnswersIUnknownAndIClassFactoryWithItself) {
  win::ComPtr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  for (const IID* iid : {&IID_IUnknown, &IID_IClassFactory}) {
    void* out = kCanary;
    ASSERT_EQ(factory->QueryInterface(*iid, &out), S_OK);
    EXPECT_EQ(out, factory.get());
    EXPECT_EQ(RefCount(factory.get()), 2u);
    static_cast<IUnknown*>(out)->Release();
  }
  for (const IID* iid : {&IID_IDispatch, &kIidNobodyKnows}) {
    void* out = kCanary;
    EXPECT_EQ(factory->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(RefCount(factory.get()), 1u);
}

TEST_F(EntryPoints, FactoriesDoNotKeepTheServerLoaded) {
  win::ComPtr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  EXPECT_EQ(dll_.DllCanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, LocksKeepTheServerLoadedUntilReleased) {
  win::ComPtr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(dll_.DllCanUnloadNow(), S_FALSE);
  factory.reset();  // the lock belongs to the server, not to the factory
  EXPECT_EQ(dll_.DllCanUnloadNow(), S_FALSE);
  factory = Factory();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(dll_.DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(dll_.DllCanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, AnAddinObjectKeepsTheServerLoadedUntilItsLastRelease) {
  win::ComPtr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  win::ComPtr<IUnknown> first, second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, first.put_void()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, second.put_void()), S_OK);
  EXPECT_NE(first.get(), second.get());
  factory.reset();
  EXPECT_EQ(dll_.DllCanUnloadNow(), S_FALSE);
  first->AddRef();
  EXPECT_EQ(first->Release(), 1u);
  first.reset();
  EXPECT_EQ(dll_.DllCanUnloadNow(), S_FALSE);
  second.reset();
  EXPECT_EQ(dll_.DllCanUnloadNow(), S_OK);
}

TEST_F(EntryPoints, CreateInstanceGivesTheCallerTheOnlyReference) {
  win::ComPtr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  for (const IID* iid : {&kIidIDTExtensibility2, &IID_IDispatch, &IID_IUnknown}) {
    void* out = kCanary;
    ASSERT_EQ(factory->CreateInstance(nullptr, *iid, &out), S_OK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 0u);
  }
}

TEST_F(EntryPoints, CreateInstanceRefusals) {
  win::ComPtr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  struct OuterObject : IUnknown {  // any controlling unknown: it must never be called
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override {
      ADD_FAILURE() << "outer object called";
      return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
      ADD_FAILURE() << "outer object called";
      return 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
      ADD_FAILURE() << "outer object called";
      return 1;
    }
  } outer;
  const struct {
    IUnknown* outer;
    const IID* iid;
    HRESULT expected;
  } cases[] = {
      {&outer, &IID_IUnknown, CLASS_E_NOAGGREGATION},
      {&outer, &kIidIDTExtensibility2, CLASS_E_NOAGGREGATION},
      {nullptr, &IID_IClassFactory, E_NOINTERFACE},
      {nullptr, &kIidNobodyKnows, E_NOINTERFACE},
  };
  for (const auto& c : cases) {
    void* out = kCanary;
    EXPECT_EQ(factory->CreateInstance(c.outer, *c.iid, &out), c.expected);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(dll_.DllCanUnloadNow(), S_OK) << "no object may survive a refusal";
  }
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, nullptr), E_POINTER);
}

}  // namespace
}  // namespace addin_test
