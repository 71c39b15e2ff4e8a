#include "tools/outlook-sim/reminders.h"

#include "tools/outlook-sim/script/sim_time.h"
#include "tools/outlook-sim/variant_text.h"

namespace sim {

Reminder::Reminder(Item* item)
    : DispatchObject(ObjectKind::Reminder, "Reminder#" + item->Name()), item_(win::ComPtr<Item>::Retain(item)) {}

void Reminder::MakeDue(int64_t nowSeconds) {
  dueSeconds_ = nowSeconds;
  visible_ = true;
}

HRESULT Reminder::Answer(const MemberInfo& member, const DISPPARAMS&, VARIANT* result, UINT*, std::string*) {
  switch (member.member) {
    case Member::IsVisible:
      result->vt = VT_BOOL;
      result->boolVal = visible_ ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case Member::NextReminderDate:
      result->vt = VT_DATE;
      result->date = SecondsToOleDate(dueSeconds_);
      return S_OK;
    case Member::ReminderItem:
      result->vt = VT_DISPATCH;
      result->pdispVal = item_.get();
      item_->AddRef();
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

Reminders::Reminders() : DispatchObject(ObjectKind::Reminders, "Reminders") {}

void Reminders::MakeDue(Item* item, int64_t nowSeconds) {
  for (const auto& reminder : reminders_) {
    if (reminder->Of() == item) {
      reminder->MakeDue(nowSeconds);
      return;
    }
  }
  reminders_.push_back(win::ComPtr<Reminder>::Attach(new Reminder(item)));
  reminders_.back()->MakeDue(nowSeconds);
}

HRESULT Reminders::Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result, UINT* argErr,
                          std::string* argText) {
  if (member.member == Member::Count) {
    result->vt = VT_I4;
    result->lVal = static_cast<LONG>(reminders_.size());
    return S_OK;
  }
  if (member.member != Member::ReminderAt) return DISP_E_MEMBERNOTFOUND;
  if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
  *argText = " (" + VariantText(params.rgvarg[0]) + ")";
  VARIANT index;
  VariantInit(&index);
  if (FAILED(VariantChangeType(&index, &params.rgvarg[0], 0, VT_I4))) {
    *argErr = 0;
    return DISP_E_TYPEMISMATCH;
  }
  // 1-based, as Outlook's collections are.
  if (index.lVal < 1 || static_cast<size_t>(index.lVal) > reminders_.size()) return DISP_E_BADINDEX;
  Reminder* reminder = reminders_[static_cast<size_t>(index.lVal) - 1].get();
  result->vt = VT_DISPATCH;
  result->pdispVal = reminder;
  reminder->AddRef();
  return S_OK;
}

}  // namespace sim
