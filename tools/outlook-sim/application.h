#pragma once
// The Application object: Version, Reminders, and the ApplicationEvents connection point through
// IConnectionPointContainer.
#include <ocidl.h>
#include <olectl.h>

#include <functional>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/connection_point.h"
#include "tools/outlook-sim/dispatch_object.h"
#include "tools/outlook-sim/failure_set.h"
#include "tools/outlook-sim/reminders.h"

namespace sim {

class Application : public DispatchObject, public IConnectionPointContainer {
 public:
  explicit Application(std::function<void()> onSinksChanged);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return DispatchObject::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return DispatchObject::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return DispatchObject::Release(); }
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** e) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override;

  void SetVersion(const Text& version) { version_ = version; }
  // CreateItem(olAppointmentItem): a new appointment from the model (borrowed).
  void SetItemFactory(std::function<DispatchObject*()> factory) { createItem_ = std::move(factory); }
  FailureSet& Failures() { return failures_; }
  EventConnectionPoint* Events() const { return events_.get(); }
  sim::Reminders* ReminderList() const { return reminders_.get(); }
  // How often a client has read Application.Reminders.
  int RemindersHandedOut() const { return remindersHandedOut_; }

 protected:
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result, UINT* argErr,
                 std::string* argText) override;
  const Text* FailureOf(Member m) const override { return failures_.Find(m); }
  void* QueryOther(REFIID riid) override;

 private:
  HRESULT CreateItem(const DISPPARAMS& params, VARIANT* result, UINT* argErr, std::string* argText);

  Text version_;
  FailureSet failures_;
  std::function<DispatchObject*()> createItem_;
  win::ComPtr<EventConnectionPoint> events_;
  win::ComPtr<sim::Reminders> reminders_;
  int remindersHandedOut_ = 0;
};

}  // namespace sim
