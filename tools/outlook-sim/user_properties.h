#pragma once
// An item's UserProperties collection (Find) and its UserProperty objects (Value).
#include <memory>
#include <string>
#include <vector>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/dispatch_object.h"
#include "tools/outlook-sim/failure_set.h"

namespace sim {

class UserProperties;

class UserProperty : public DispatchObject {
 public:
  UserProperty(const std::string& itemName, const std::string& name,
               std::shared_ptr<const FailureSet> failures);
  const std::string& Name() const { return name_; }
  const std::u16string& Name16() const { return name16_; }
  void SetValue(const PropValue& value, int64_t nowSeconds);
  const VARIANT& StoredValue() const { return value_; }
  // Re-resolves a relative date value.
  void Refresh(int64_t nowSeconds);
  // The collection the property belongs to (Delete removes it from there); null once removed.
  void SetOwner(UserProperties* owner) { owner_ = owner; }

 protected:
  ~UserProperty() override;
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result, UINT* argErr,
                 std::string* argText) override;
  HRESULT Put(const MemberInfo& member, const VARIANT& value) override;
  const Text* FailureOf(Member m) const override { return failures_->Find(m); }
  const Text* PutFailureOf(Member m) const override { return failures_->FindPut(m); }

 private:
  std::string name_;
  std::u16string name16_;
  PropValue spec_;
  VARIANT value_;
  std::shared_ptr<const FailureSet> failures_;
  UserProperties* owner_ = nullptr;
};

class UserProperties : public DispatchObject {
 public:
  UserProperties(const std::string& itemName, std::shared_ptr<const FailureSet> failures);
  ~UserProperties() override { Clear(); }
  void Set(const std::string& name, const PropValue& value, int64_t nowSeconds);
  void Remove(const std::string& name);
  void Refresh(int64_t nowSeconds);
  const std::vector<win::ComPtr<UserProperty>>& Properties() const { return props_; }
  // Drops the collection's references to its properties (shutdown).
  void Clear();
  // UserProperty.Delete: the property leaves the collection.
  void Drop(UserProperty* property);

 protected:
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result, UINT* argErr,
                 std::string* argText) override;
  const Text* FailureOf(Member m) const override { return failures_->Find(m); }

 private:
  HRESULT Find(const DISPPARAMS& params, VARIANT* result, UINT* argErr, std::string* argText);
  // Add(Name, Type, [AddToFolderFields], [DisplayFormat]): only olText (1) is simulated.
  HRESULT Add(const DISPPARAMS& params, VARIANT* result, UINT* argErr, std::string* argText);
  UserProperty* FindByName(const std::u16string& name) const;

  std::string itemName_;
  std::vector<win::ComPtr<UserProperty>> props_;
  std::shared_ptr<const FailureSet> failures_;
};

}  // namespace sim
