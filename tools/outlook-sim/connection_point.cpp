#include "tools/outlook-sim/connection_point.h"

#include "tools/outlook-sim/event_ids.h"
#include "tools/outlook-sim/serving_call.h"
#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/sim_log.h"

namespace sim {

EventConnectionPoint::EventConnectionPoint(IConnectionPointContainer* container,
                                           std::function<void()> onChange)
    : container_(container), onChange_(std::move(onChange)) {}

STDMETHODIMP EventConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
  *ppv = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) EventConnectionPoint::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) EventConnectionPoint::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = kIidApplicationEvents;
  return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** c) {
  if (!c) return E_POINTER;
  *c = container_;
  container_->AddRef();
  return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie) *cookie = 0;
  if (!sink || !cookie) {
    LogLine("Advise -> E_POINTER");
    return E_POINTER;
  }
  if (refuseAdvise_) {
    LogLine("Advise -> CONNECT_E_ADVISELIMIT (refused)");
    return CONNECT_E_ADVISELIMIT;
  }
  const ServingCall serving;
  win::ComPtr<IDispatch> events;
  const HRESULT hr = sink->QueryInterface(kIidApplicationEvents, events.put_void());
  if (FAILED(hr) || !events) {
    LogLine("Advise -> CONNECT_E_CANNOTCONNECT (QueryInterface " + Hex32(static_cast<uint32_t>(hr)) + ")");
    return CONNECT_E_CANNOTCONNECT;
  }
  *cookie = nextCookie_++;
  sinks_.push_back({*cookie, std::move(events)});
  LogLine("Advise cookie=" + std::to_string(*cookie));
  if (onChange_) onChange_();
  return S_OK;
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie) {
  const ServingCall serving;
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->cookie != cookie) continue;
    win::ComPtr<IDispatch> released = std::move(it->dispatch);
    sinks_.erase(it);
    LogLine("Unadvise cookie=" + std::to_string(cookie));
    released.reset();
    if (onChange_) onChange_();
    return S_OK;
  }
  LogLine("Unadvise cookie=" + std::to_string(cookie) + " -> CONNECT_E_NOCONNECTION");
  return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** e) {
  if (e) *e = nullptr;
  return E_NOTIMPL;
}

}  // namespace sim
