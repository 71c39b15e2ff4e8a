// A COM add-in for the simulator's tests: it logs every IDTExtensibility2 call it receives to
// the file named by OUTLOOK_SIM_TEST_ADDIN_LOG, reads the host's Application.Version on
// connection and holds the Application until disconnection, as a real add-in does.
// OUTLOOK_SIM_TEST_ADDIN_STARTUP_MS makes OnStartupComplete take that long;
// OUTLOOK_SIM_TEST_ADDIN_FAIL_CONNECT makes OnConnection fail with E_FAIL.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "tools/outlook-sim/idt_extensibility2.h"

namespace {

// {5E0C7A4B-91D2-4F63-8A1E-2B7C9D04E6F1}
const CLSID kClsidTestAddin = {0x5E0C7A4B, 0x91D2, 0x4F63, {0x8A, 0x1E, 0x2B, 0x7C, 0x9D, 0x04, 0xE6, 0xF1}};

LONG g_objects = 0;

std::string Env(const char* name) {
  char buf[1024];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

void Log(const std::string& line) {
  const std::string path = Env("OUTLOOK_SIM_TEST_ADDIN_LOG");
  if (path.empty()) return;
  HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  const std::string data = line + "\n";
  DWORD written = 0;
  WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(f);
}

std::string VersionOf(IDispatch* app) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT v;
  VariantInit(&v);
  const HRESULT hr = app->Invoke(0x116, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr);
  std::string text = "failed";
  if (SUCCEEDED(hr) && v.vt == VT_BSTR && v.bstrVal) {
    char buf[256];
    const int n = WideCharToMultiByte(CP_UTF8, 0, v.bstrVal, -1, buf, sizeof buf, nullptr, nullptr);
    text = n > 0 ? std::string(buf) : "?";
  }
  VariantClear(&v);
  return text;
}

std::string CustomText(SAFEARRAY** custom) {
  if (!custom || !*custom) return "null";
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(*custom, 1, &lower);
  SafeArrayGetUBound(*custom, 1, &upper);
  return std::to_string(upper - lower + 1);
}

class TestAddin final : public sim::IDTExtensibility2 {
 public:
  TestAddin() { InterlockedIncrement(&g_objects); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, sim::kIidIDTExtensibility2) || IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *ppv = static_cast<sim::IDTExtensibility2*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) {
      Log("Destroyed");
      delete this;
    }
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

  STDMETHODIMP OnConnection(IDispatch* application, sim::ExtConnectMode mode, IDispatch* instance,
                            SAFEARRAY** custom) override {
    Log("OnConnection mode=" + std::to_string(static_cast<int>(mode)) + " version=" +
        (application ? VersionOf(application) : std::string("null")) + " instance=" +
        (instance ? "yes" : "null") + " custom=" + CustomText(custom));
    if (!Env("OUTLOOK_SIM_TEST_ADDIN_FAIL_CONNECT").empty()) return E_FAIL;
    if (application) {
      app_ = application;
      app_->AddRef();
    }
    return S_OK;
  }
  STDMETHODIMP OnDisconnection(sim::ExtDisconnectMode mode, SAFEARRAY** custom) override {
    Log("OnDisconnection mode=" + std::to_string(static_cast<int>(mode)) + " custom=" + CustomText(custom));
    if (app_) {
      app_->Release();
      app_ = nullptr;
    }
    return S_OK;
  }
  STDMETHODIMP OnAddInsUpdate(SAFEARRAY**) override {
    Log("OnAddInsUpdate");
    return S_OK;
  }
  STDMETHODIMP OnStartupComplete(SAFEARRAY** custom) override {
    Log("OnStartupComplete custom=" + CustomText(custom));
    const std::string delay = Env("OUTLOOK_SIM_TEST_ADDIN_STARTUP_MS");
    if (!delay.empty()) Sleep(static_cast<DWORD>(std::stoul(delay)));
    return S_OK;
  }
  STDMETHODIMP OnBeginShutdown(SAFEARRAY** custom) override {
    Log("OnBeginShutdown custom=" + CustomText(custom));
    return S_OK;
  }

 private:
  ~TestAddin() { InterlockedDecrement(&g_objects); }

  LONG refs_ = 0;
  IDispatch* app_ = nullptr;
};

class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static object
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    TestAddin* addin = new TestAddin();
    addin->AddRef();
    const HRESULT hr = addin->QueryInterface(riid, ppv);
    addin->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(clsid, kClsidTestAddin)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
