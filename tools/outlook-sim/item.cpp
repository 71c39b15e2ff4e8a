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

std::function<void(Item*)>& DisplayHandler() {
  static std::function<void(Item*)> handler;
  return handler;
}

}  // namespace

void Item::SetDisplayHandler(std::function<void(Item*)> handler) { DisplayHandler() = std::move(handler); }

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
    case Field::Kind: olClass_ = f.minutes; break;
    case Field::ReminderSet: reminderSet_ = f.minutes != 0; break;
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
    case Member::ReminderSet:
      result->vt = VT_BOOL;
      result->boolVal = reminderSet_ ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case Member::Class:
      result->vt = VT_I4;
      result->lVal = olClass_;
      break;
    case Member::Save:
      break;  // the item is kept as it is; the log shows the call
    case Member::Display:
      if (DisplayHandler()) DisplayHandler()(this);
      break;
    default: return DISP_E_MEMBERNOTFOUND;
  }
  return S_OK;
}

std::string Item::StateText() const {
  VARIANT messageClass;
  VariantInit(&messageClass);
  SetBstr(messageClass_, &messageClass);
  std::string text = "class=" + VariantText(messageClass) + " reminderset=" + (reminderSet_ ? "true" : "false") +
                     " props=[";
  VariantClear(&messageClass);
  bool first = true;
  for (const auto& property : props_->Properties()) {
    text += (first ? "" : ", ") + property->Name() + "=" + VariantText(property->StoredValue());
    first = false;
  }
  return text + "]";
}

HRESULT Item::Put(const MemberInfo& member, const VARIANT& value) {
  VARIANT converted;
  VariantInit(&converted);
  HRESULT hr = S_OK;
  switch (member.member) {
    case Member::MessageClass:
      hr = VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BSTR);
      if (SUCCEEDED(hr)) {
        messageClass_.null = false;
        messageClass_.value = BstrText(converted.bstrVal);
      }
      break;
    case Member::ReminderSet:
      hr = VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BOOL);
      if (SUCCEEDED(hr)) reminderSet_ = converted.boolVal != VARIANT_FALSE;
      break;
    default: hr = DISP_E_MEMBERNOTFOUND;
  }
  VariantClear(&converted);
  return FAILED(hr) && hr != DISP_E_MEMBERNOTFOUND ? DISP_E_TYPEMISMATCH : hr;
}

}  // namespace sim
