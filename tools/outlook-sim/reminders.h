#pragma once
// Application.Reminders as Outlook 2002 and later serve it: the collection of the reminders that
// have come due (Count, Item(Index), 1-based in the order they came due), each with IsVisible,
// Item (the appointment) and NextReminderDate. The script's `due` adds to it.
#include <cstdint>
#include <vector>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/dispatch_object.h"
#include "tools/outlook-sim/item.h"

namespace sim {

class Reminder : public DispatchObject {
 public:
  explicit Reminder(Item* item);
  Item* Of() const { return item_.get(); }
  // Due now and shown in Outlook's reminder window.
  void MakeDue(int64_t nowSeconds);

 protected:
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result, UINT* argErr,
                 std::string* argText) override;

 private:
  win::ComPtr<Item> item_;
  int64_t dueSeconds_ = 0;
  bool visible_ = false;
};

class Reminders : public DispatchObject {
 public:
  Reminders();
  // The item's reminder comes due now (a reminder already listed is due again).
  void MakeDue(Item* item, int64_t nowSeconds);
  const std::vector<win::ComPtr<Reminder>>& All() const { return reminders_; }

 protected:
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result, UINT* argErr,
                 std::string* argText) override;

 private:
  std::vector<win::ComPtr<Reminder>> reminders_;
};

}  // namespace sim
