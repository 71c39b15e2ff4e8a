#pragma once
// A simulated Outlook item (appointment, mail, anything with a message class) as the Reminder
// event delivers it.
#include <functional>
#include <memory>
#include <string>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/dispatch_object.h"
#include "tools/outlook-sim/failure_set.h"
#include "tools/outlook-sim/user_properties.h"

namespace sim {

class Item : public DispatchObject {
 public:
  explicit Item(const std::string& name);
  const std::string& Name() const { return name_; }
  void Apply(const FieldSetting& field, int64_t nowSeconds);
  // Re-resolves relative times (Start, date properties) against now, as a reminder fires.
  void Refresh(int64_t nowSeconds);
  int64_t StartSeconds() const { return startSeconds_; }
  FailureSet& Failures() { return *failures_; }
  UserProperties* Properties() const { return props_.get(); }
  void ReleaseProperties() {
    if (props_) props_->Clear();
  }
  // For the `state` command: class="...", reminderset=true|false, props=[name=value, ...].
  std::string StateText() const;
  // What Display does: Outlook opens an inspector on the item (the ribbon host does it).
  static void SetDisplayHandler(std::function<void(Item*)> handler);

 protected:
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result, UINT* argErr,
                 std::string* argText) override;
  HRESULT Put(const MemberInfo& member, const VARIANT& value) override;
  const Text* FailureOf(Member m) const override { return failures_->Find(m); }
  const Text* PutFailureOf(Member m) const override { return failures_->FindPut(m); }

 private:
  std::string name_;
  Text messageClass_, entryId_, subject_, body_, location_;
  TimeSpec start_;
  int64_t startSeconds_ = 0;
  int32_t minutes_ = 15;
  bool reminderSet_ = true;  // Outlook's default for a new appointment
  int32_t olClass_ = 26;     // olAppointment
  std::shared_ptr<FailureSet> failures_;
  win::ComPtr<UserProperties> props_;
};

}  // namespace sim
