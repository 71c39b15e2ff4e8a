#include "tools/outlook-sim/item.h"

#include "tools/outlook-sim/script/utf.h"
#include "tools/outlook-sim/variant_text.h"

namespace sim {
namespace {

Text Utf8Text(const std::string& s) {
  Text t;
  Utf8ToUtf16(s, &t.value);
  return t;
}

HRESULT SetBstr(const Text& text, VARIANT* result) {
  result->vt = VT_BSTR;
  result->bstrVal = MakeBstr(text);
  return text.null || result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

Item::Item(const std::string& name)
    : DispatchObject(ObjectKind::Item, "Item#" + name),
      name_(name),
      messageClass_(Utf8Text("IPM.Appointment")),
      entryId_(Utf8Text("EntryID-" + name)),
      failures_(std::make_shared<FailureSet>()),
      props_(win::ComPtr<UserProperties>::Attach(new UserProperties(name, failures_))) {
  start_.relative = true;
  start_.offsetSeconds = 15 * 60;
}

void Item::Apply(const FieldSetting& f, int64_t nowSeconds) {
  switch (f.field) {
    case Field::MessageClass: messageClass_ = f.text; break;
    case Field::EntryID: entryId_ = f.text; break;
    case Field::Subject: subject_ = f.text; break;
    case Field::Body: body_ = f.text; break;
    case Field::Location: location_ = f.text; break;
    case Field::Start: start_ = f.start; break;
    case Field::Minutes: minutes_ = f.minutes; break;
    case Field::Prop: props_->Set(f.propName, f.prop, nowSeconds); break;
    case Field::NoProp: props_->Remove(f.propName); break;
  }
  startSeconds_ = Resolve(start_, nowSeconds);
}

void Item::Refresh(int64_t nowSeconds) {
  startSeconds_ = Resolve(start_, nowSeconds);
  props_->Refresh(nowSeconds);
}

HRESULT Item::Answer(const MemberInfo& member, const DISPPARAMS&, VARIANT* result, UINT*,
                     std::string*) {
  switch (member.member) {
    case Member::MessageClass: return SetBstr(messageClass_, result);
    case Member::EntryID: return SetBstr(entryId_, result);
    case Member::Subject: return SetBstr(subject_, result);
    case Member::Body: return SetBstr(body_, result);
    case Member::Location: return SetBstr(location_, result);
    case Member::Start:
      result->vt = VT_DATE;
      result->date = SecondsToOleDate(startSeconds_);
      break;
    case Member::ReminderMinutesBeforeStart:
      result->vt = VT_I4;
      result->lVal = minutes_;
      break;
    case Member::UserProperties:
      result->vt = VT_DISPATCH;
      result->pdispVal = props_.get();
      props_->AddRef();
      break;
    default: return DISP_E_MEMBERNOTFOUND;
  }
  return S_OK;
}

}  // namespace sim
