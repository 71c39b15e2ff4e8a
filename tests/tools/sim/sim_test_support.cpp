#include "tests/tools/sim/sim_test_support.h"

#include <olectl.h>

#include <gtest/gtest.h>

namespace simtest {

const IID kIidApplicationEvents = {0x0006304E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::wstring SimExe() { return simdriver::ExeDirectory() + L"" OUTLOOK_SIM_RELATIVE_PATH; }
std::wstring TestAddinDll() { return simdriver::ExeDirectory() + L"sim_test_addin.dll"; }

STDMETHODIMP TestSink::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      (answerEventIid_ && IsEqualIID(riid, kIidApplicationEvents))) {
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

STDMETHODIMP TestSink::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO*, UINT*) {
  calls_.push_back(id);
  if (result) VariantInit(result);
  if (id != kReminder || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (!params || params->cArgs != 1 || params->rgvarg[0].vt != VT_DISPATCH) return DISP_E_BADPARAMCOUNT;
  ++reminders_;
  return handler_ ? handler_(params->rgvarg[0].pdispVal) : S_OK;
}

HRESULT CreateOutlook(win::ComPtr<IDispatch>* app) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(L"Outlook.Application", &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, app->put_void());
}

HRESULT AdviseSink(IDispatch* app, IUnknown* sink, DWORD* cookie) {
  win::ComPtr<IConnectionPointContainer> container;
  HRESULT hr = app->QueryInterface(IID_IConnectionPointContainer, container.put_void());
  if (FAILED(hr)) return hr;
  win::ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(kIidApplicationEvents, point.put());
  if (FAILED(hr)) return hr;
  return point->Advise(sink, cookie);
}

HRESULT UnadviseSink(IDispatch* app, DWORD cookie) {
  win::ComPtr<IConnectionPointContainer> container;
  HRESULT hr = app->QueryInterface(IID_IConnectionPointContainer, container.put_void());
  if (FAILED(hr)) return hr;
  win::ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(kIidApplicationEvents, point.put());
  if (FAILED(hr)) return hr;
  return point->Unadvise(cookie);
}

HRESULT Get(IDispatch* object, DISPID id, VARIANT* result, WORD flags, EXCEPINFO* excep) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VariantInit(result);
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result, excep, nullptr);
}

HRESULT Find(IDispatch* properties, const wchar_t* name, VARIANT* result) {
  VARIANTARG args[2];
  VariantInit(&args[0]);
  args[0].vt = VT_I2;  // Custom, last argument first
  args[0].iVal = 1;
  VariantInit(&args[1]);
  args[1].vt = VT_BSTR;
  args[1].bstrVal = SysAllocString(name);
  DISPPARAMS params = {args, nullptr, 2, 0};
  VariantInit(result);
  const HRESULT hr = properties->Invoke(0x67, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
  VariantClear(&args[1]);
  return hr;
}

std::wstring BstrOf(const VARIANT& v) {
  return v.vt == VT_BSTR && v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring();
}

std::vector<std::string> Between(const std::vector<std::string>& log, const std::string& from, const std::string& to) {
  std::vector<std::string> out;
  bool inside = false;
  for (const std::string& line : log) {
    if (!inside) {
      inside = line.rfind(from, 0) == 0;
      continue;
    }
    if (line.rfind(to, 0) == 0) return out;
    out.push_back(line);
  }
  return out;
}

bool HasLine(const std::vector<std::string>& log, const std::string& line) {
  for (const std::string& l : log) {
    if (l == line) return true;
  }
  return false;
}

bool HasPrefix(const std::vector<std::string>& log, const std::string& prefix) {
  return !WithPrefix(log, prefix).empty();
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : log) {
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  }
  return out;
}

namespace {

// Every test process registers the simulator once and removes it again at the end.
class Registration : public ::testing::Environment {
 public:
  void SetUp() override {
    simdriver::SimProcess sim(SimExe());
    ASSERT_TRUE(sim.Register()) << "outlook-sim.exe /regserver failed";
  }
  void TearDown() override { simdriver::SimProcess(SimExe()).Unregister(); }
};

::testing::Environment* const registration = ::testing::AddGlobalTestEnvironment(new Registration);

}  // namespace

}  // namespace simtest
