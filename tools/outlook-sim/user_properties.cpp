#include "tools/outlook-sim/user_properties.h"

#include "tools/outlook-sim/script/utf.h"
#include "tools/outlook-sim/variant_text.h"

namespace sim {

UserProperty::UserProperty(const std::string& itemName, const std::string& name,
                           std::shared_ptr<const FailureSet> failures)
    : DispatchObject(ObjectKind::UserProperty, "UserProperty#" + itemName + "." + name),
      name_(name),
      failures_(std::move(failures)) {
  Utf8ToUtf16(name, &name16_);
  VariantInit(&value_);
}

UserProperty::~UserProperty() { VariantClear(&value_); }

void UserProperty::SetValue(const PropValue& value, int64_t nowSeconds) {
  spec_ = value;
  VariantClear(&value_);
  MakePropVariant(spec_, nowSeconds, &value_);
}

void UserProperty::Refresh(int64_t nowSeconds) {
  if (spec_.type == PropType::Date && spec_.date.relative) SetValue(spec_, nowSeconds);
}

HRESULT UserProperty::Answer(const MemberInfo& member, const DISPPARAMS&, VARIANT* result, UINT*,
                             std::string*) {
  if (member.member == Member::Delete) {
    // Kept alive for the caller's reference; the collection no longer knows it. A scripted
    // failure changes nothing.
    if (owner_ && !failures_->Find(Member::Delete)) owner_->Drop(this);
    return S_OK;
  }
  // Value: the stored VARIANT as it is, no coercion. VariantCopy would turn a null BSTR into an
  // empty one.
  if (value_.vt == VT_BSTR && !value_.bstrVal) {
    result->vt = VT_BSTR;
    result->bstrVal = nullptr;
    return S_OK;
  }
  return VariantCopy(result, &value_);
}

HRESULT UserProperty::Put(const MemberInfo&, const VARIANT& value) {
  VARIANT copy;
  VariantInit(&copy);
  const HRESULT hr = VariantCopyInd(&copy, const_cast<VARIANT*>(&value));
  if (FAILED(hr)) return hr;
  VariantClear(&value_);
  value_ = copy;
  spec_ = PropValue();  // no longer a scripted (relative) value
  return S_OK;
}

UserProperties::UserProperties(const std::string& itemName,
                               std::shared_ptr<const FailureSet> failures)
    : DispatchObject(ObjectKind::UserProperties, "UserProperties#" + itemName),
      itemName_(itemName),
      failures_(std::move(failures)) {}

UserProperty* UserProperties::FindByName(const std::u16string& name) const {
  for (const auto& p : props_) {
    const std::u16string& n = p->Name16();
    if (CompareStringOrdinal(reinterpret_cast<LPCWCH>(n.data()), static_cast<int>(n.size()),
                             reinterpret_cast<LPCWCH>(name.data()), static_cast<int>(name.size()),
                             TRUE) == CSTR_EQUAL) {
      return p.get();
    }
  }
  return nullptr;
}

void UserProperties::Clear() {
  for (const auto& p : props_) p->SetOwner(nullptr);
  props_.clear();
}

void UserProperties::Drop(UserProperty* property) {
  for (auto it = props_.begin(); it != props_.end(); ++it) {
    if (it->get() == property) {
      property->SetOwner(nullptr);
      props_.erase(it);
      return;
    }
  }
}

void UserProperties::Set(const std::string& name, const PropValue& value, int64_t nowSeconds) {
  std::u16string name16;
  Utf8ToUtf16(name, &name16);
  UserProperty* existing = FindByName(name16);
  if (!existing) {
    props_.push_back(win::ComPtr<UserProperty>::Attach(new UserProperty(itemName_, name, failures_)));
    existing = props_.back().get();
    existing->SetOwner(this);
  }
  existing->SetValue(value, nowSeconds);
}

void UserProperties::Remove(const std::string& name) {
  std::u16string name16;
  Utf8ToUtf16(name, &name16);
  if (UserProperty* p = FindByName(name16)) Drop(p);
}

void UserProperties::Refresh(int64_t nowSeconds) {
  for (const auto& p : props_) p->Refresh(nowSeconds);
}

HRESULT UserProperties::Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result,
                               UINT* argErr, std::string* argText) {
  return member.member == Member::Add ? Add(params, result, argErr, argText) : Find(params, result, argErr, argText);
}

HRESULT UserProperties::Add(const DISPPARAMS& params, VARIANT* result, UINT* argErr, std::string* argText) {
  if (params.cArgs < 2 || params.cArgs > 4) return DISP_E_BADPARAMCOUNT;
  const VARIANT& nameArg = params.rgvarg[params.cArgs - 1];
  const VARIANT& typeArg = params.rgvarg[params.cArgs - 2];
  *argText = " (";
  for (UINT i = params.cArgs; i > 0; --i) *argText += (i == params.cArgs ? "" : ", ") + VariantText(params.rgvarg[i - 1]);
  *argText += ")";
  VARIANT name, type;
  VariantInit(&name);
  VariantInit(&type);
  if (FAILED(VariantChangeType(&name, const_cast<VARIANT*>(&nameArg), 0, VT_BSTR))) {
    *argErr = params.cArgs - 1;
    return DISP_E_TYPEMISMATCH;
  }
  const std::u16string name16 = BstrText(name.bstrVal);
  VariantClear(&name);
  if (FAILED(VariantChangeType(&type, const_cast<VARIANT*>(&typeArg), 0, VT_I4)) || type.lVal != 1) {
    *argErr = params.cArgs - 2;
    return DISP_E_TYPEMISMATCH;
  }
  UserProperty* existing = FindByName(name16);
  // A scripted failure adds nothing (Invoke reports it).
  if (!existing && failures_->Find(Member::Add)) return S_OK;
  if (!existing) {
    PropValue empty;
    empty.type = PropType::Text;
    Set(Utf16ToUtf8(name16), empty, 0);
    existing = FindByName(name16);
  }
  result->vt = VT_DISPATCH;
  result->pdispVal = existing;
  existing->AddRef();
  return S_OK;
}

HRESULT UserProperties::Find(const DISPPARAMS& params, VARIANT* result, UINT* argErr, std::string* argText) {
  // Find(Name, [Custom]): arguments arrive in reverse order.
  if (params.cArgs < 1 || params.cArgs > 2) return DISP_E_BADPARAMCOUNT;
  const UINT nameIndex = params.cArgs - 1;
  const VARIANT& nameArg = params.rgvarg[nameIndex];
  *argText = " (" + VariantText(nameArg);
  if (params.cArgs == 2) *argText += ", " + VariantText(params.rgvarg[0]);
  *argText += ")";
  VARIANT name;
  VariantInit(&name);
  if (FAILED(VariantChangeType(&name, const_cast<VARIANT*>(&nameArg), 0, VT_BSTR))) {
    *argErr = nameIndex;
    return DISP_E_TYPEMISMATCH;
  }
  UserProperty* found = FindByName(BstrText(name.bstrVal));
  VariantClear(&name);
  // Not found is Outlook's Nothing: a VT_DISPATCH holding a null pointer.
  result->vt = VT_DISPATCH;
  result->pdispVal = found;
  if (found) found->AddRef();
  return S_OK;
}

}  // namespace sim
