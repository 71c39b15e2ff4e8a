#pragma once
// The connection point of ApplicationEvents. Advise queries the sink for the event interface, as
// Outlook does, and keeps that pointer until Unadvise.
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <vector>

#include "common/win/com_ptr.h"

namespace sim {

class EventConnectionPoint final : public IConnectionPoint {
 public:
  struct Sink {
    DWORD cookie;
    win::ComPtr<IDispatch> dispatch;
  };

  // container is not owned: the Application outlives its connection point's use.
  EventConnectionPoint(IConnectionPointContainer* container, std::function<void()> onChange);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** e) override;

  size_t SinkCount() const { return sinks_.size(); }
  // A copy: an event call may Unadvise while the sinks are walked.
  std::vector<Sink> Sinks() const { return sinks_; }
  // From now on every Advise is turned away with CONNECT_E_ADVISELIMIT, as by a host that takes
  // no more sinks.
  void RefuseAdvise() { refuseAdvise_ = true; }
  // Shutdown: lets go of every sink without logging an Unadvise.
  void DropAll() { sinks_.clear(); }

 private:
  ~EventConnectionPoint() = default;

  LONG refs_ = 1;
  IConnectionPointContainer* container_;
  std::function<void()> onChange_;
  std::vector<Sink> sinks_;
  DWORD nextCookie_ = 1;
  bool refuseAdvise_ = false;
};

}  // namespace sim
