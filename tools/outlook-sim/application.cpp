#include "tools/outlook-sim/application.h"

#include "tools/outlook-sim/event_ids.h"
#include "tools/outlook-sim/sim_log.h"
#include "tools/outlook-sim/variant_text.h"

namespace sim {

Application::Application(std::function<void()> onSinksChanged)
    : DispatchObject(ObjectKind::Application, "Application"),
      events_(win::ComPtr<EventConnectionPoint>::Attach(
          new EventConnectionPoint(this, std::move(onSinksChanged)))),
      reminders_(win::ComPtr<sim::Reminders>::Attach(new sim::Reminders)) {
  version_.value = u"16.0.0.1";
}

void* Application::QueryOther(REFIID riid) {
  if (IsEqualIID(riid, IID_IConnectionPointContainer)) return static_cast<IConnectionPointContainer*>(this);
  return nullptr;
}

STDMETHODIMP Application::EnumConnectionPoints(IEnumConnectionPoints** e) {
  LogLine("Application EnumConnectionPoints -> E_NOTIMPL");
  if (e) *e = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP Application::FindConnectionPoint(REFIID riid, IConnectionPoint** cp) {
  if (!cp) return E_POINTER;
  *cp = nullptr;
  if (!IsEqualIID(riid, kIidApplicationEvents)) {
    LogLine("Application FindConnectionPoint -> CONNECT_E_NOCONNECTION");
    return CONNECT_E_NOCONNECTION;
  }
  *cp = events_.get();
  events_->AddRef();
  return S_OK;
}

HRESULT Application::CreateItem(const DISPPARAMS& params, VARIANT* result, UINT* argErr, std::string* argText) {
  if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
  *argText = " (" + VariantText(params.rgvarg[0]) + ")";
  VARIANT type;
  VariantInit(&type);
  // Only appointments (olAppointmentItem = 1) are simulated.
  if (FAILED(VariantChangeType(&type, &params.rgvarg[0], 0, VT_I4)) || type.lVal != 1 || !createItem_) {
    *argErr = 0;
    return DISP_E_TYPEMISMATCH;
  }
  DispatchObject* item = createItem_();
  result->vt = VT_DISPATCH;
  result->pdispVal = item;
  item->AddRef();
  return S_OK;
}

HRESULT Application::Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result, UINT* argErr,
                            std::string* argText) {
  if (member.member == Member::CreateItem) return CreateItem(params, result, argErr, argText);
  if (member.member == Member::Reminders) {
    // Outlook 2000 (version 9) has no Reminders collection.
    if (version_.value.rfind(u"9.", 0) == 0) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_DISPATCH;
    result->pdispVal = reminders_.get();
    reminders_->AddRef();
    ++remindersHandedOut_;
    return S_OK;
  }
  if (member.member != Member::Version) return DISP_E_MEMBERNOTFOUND;
  result->vt = VT_BSTR;
  result->bstrVal = MakeBstr(version_);
  return version_.null || result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

}  // namespace sim
