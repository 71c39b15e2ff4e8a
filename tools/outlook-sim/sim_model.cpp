#include "tools/outlook-sim/sim_model.h"

#include "tools/outlook-sim/clock.h"
#include "tools/outlook-sim/event_ids.h"
#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/script/utf.h"
#include "tools/outlook-sim/sim_log.h"
#include "tools/outlook-sim/stopwatch.h"
#include "tools/outlook-sim/variant_text.h"

namespace sim {
namespace {

void LogRefcount(DispatchObject& o) {
  const LONG external = o.ExternalRefs();
  LogLine("Refcount " + o.LogName() + " external=" + std::to_string(external) + " total=" + std::to_string(o.RefCount()));
}

template <typename F>
void ForEachObject(Application& app, const std::vector<win::ComPtr<Item>>& items, F f) {
  f(app);
  f(*app.ReminderList());
  for (const auto& reminder : app.ReminderList()->All()) f(*reminder.get());
  for (const auto& item : items) {
    f(*item.get());
    f(*item->Properties());
    for (const auto& p : item->Properties()->Properties()) f(*p.get());
  }
}

std::string DispidText(DISPID id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(id));
  return buf;
}

}  // namespace

SimModel::SimModel(std::function<void()> onSinksChanged)
    : app_(win::ComPtr<Application>::Attach(new Application(std::move(onSinksChanged)))) {
  app_->SetItemFactory([this] { return CreateItem(); });
}

Item* SimModel::CreateItem() {
  std::string name;
  do {
    name = std::string(kCreatedItemPrefix) + std::to_string(++created_);
  } while (FindItem(name));  // a script may have used the name itself
  Item* item = ItemFor(name);
  item->Refresh(LocalNowSeconds());
  return item;
}

Item* SimModel::FindItem(const std::string& name) const {
  for (const auto& item : items_) {
    if (item->Name() == name) return item.get();
  }
  return nullptr;
}

Item* SimModel::ItemFor(const std::string& name) {
  if (Item* existing = FindItem(name)) return existing;
  items_.push_back(win::ComPtr<Item>::Attach(new Item(name)));
  return items_.back().get();
}

void SimModel::Fire(DISPID dispid, Item* item) {
  item->Refresh(LocalNowSeconds());
  const std::vector<EventConnectionPoint::Sink> sinks = app_->Events()->Sinks();
  LogLine("Fire " + DispidText(dispid) + " " + item->LogName() + " sinks=" + std::to_string(sinks.size()) +
          " start=" + FormatSeconds(item->StartSeconds()));
  for (const auto& sink : sinks) {
    // The item is lent for the call: the simulator keeps its own reference throughout.
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = item;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep = {};
    UINT argErr = 0;
    Stopwatch watch;
    const HRESULT hr = sink.dispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                             &params, &result, &excep, &argErr);
    const double ms = watch.Ms();
    std::string line = "Event " + DispidText(dispid) + " " + item->LogName() + " cookie=" +
                       std::to_string(sink.cookie) + " hr=" + Hex32(static_cast<uint32_t>(hr)) +
                       " ms=" + FormatMs(ms);
    if (hr == DISP_E_EXCEPTION) line += " description=" + QuoteForLog(BstrText(excep.bstrDescription));
    LogLine(line);
    VariantClear(&result);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
  }
}

void SimModel::FireQuit() {
  const std::vector<EventConnectionPoint::Sink> sinks = app_->Events()->Sinks();
  LogLine("Fire " + DispidText(kDispidQuit) + " sinks=" + std::to_string(sinks.size()));
  for (const auto& sink : sinks) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep = {};
    UINT argErr = 0;
    Stopwatch watch;
    const HRESULT hr = sink.dispatch->Invoke(kDispidQuit, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                             &result, &excep, &argErr);
    LogLine("Event " + DispidText(kDispidQuit) + " cookie=" + std::to_string(sink.cookie) +
            " hr=" + Hex32(static_cast<uint32_t>(hr)) + " ms=" + FormatMs(watch.Ms()));
    VariantClear(&result);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
  }
}

void SimModel::LogRefcounts() const {
  ForEachObject(*app_.get(), items_, [](DispatchObject& o) { LogRefcount(o); });
}

LONG SimModel::ExternalRefs() const {
  LONG external = static_cast<LONG>(app_->Events()->SinkCount());
  ForEachObject(*app_.get(), items_, [&](DispatchObject& o) { external += o.ExternalRefs(); });
  return external;
}

void SimModel::DisconnectAll() {
  app_->Events()->DropAll();
  CoDisconnectObject(static_cast<IDispatch*>(app_.get()), 0);
  CoDisconnectObject(app_->Events(), 0);
  CoDisconnectObject(app_->ReminderList(), 0);
  for (const auto& reminder : app_->ReminderList()->All()) CoDisconnectObject(reminder.get(), 0);
  for (const auto& item : items_) {
    for (const auto& p : item->Properties()->Properties()) CoDisconnectObject(p.get(), 0);
    CoDisconnectObject(item->Properties(), 0);
    CoDisconnectObject(item.get(), 0);
  }
}

}  // namespace sim
