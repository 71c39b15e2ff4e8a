#include "tools/outlook-sim/class_factory.h"

#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/sim_log.h"

namespace sim {

ApplicationFactory::ApplicationFactory(IDispatch* application, std::function<void()> onCreate)
    : application_(application), onCreate_(std::move(onCreate)) {}

STDMETHODIMP ApplicationFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ApplicationFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) ApplicationFactory::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP ApplicationFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  HRESULT hr = outer ? CLASS_E_NOAGGREGATION : application_->QueryInterface(riid, ppv);
  LogLine(SUCCEEDED(hr) ? std::string("CreateInstance")
                        : "CreateInstance -> " + HresultName(static_cast<uint32_t>(hr)));
  if (SUCCEEDED(hr) && onCreate_) onCreate_();
  return hr;
}

STDMETHODIMP ApplicationFactory::LockServer(BOOL lock) {
  if (lock) {
    ++locks_;
  } else if (locks_ > 0) {
    --locks_;
  }
  return S_OK;
}

}  // namespace sim
