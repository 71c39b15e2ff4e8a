#pragma once
// Every object the simulator serves: the Application and the scripted items, in definition order.
#include <functional>
#include <string>
#include <vector>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/application.h"
#include "tools/outlook-sim/item.h"

namespace sim {

class SimModel {
 public:
  explicit SimModel(std::function<void()> onSinksChanged);

  Application* App() const { return app_.get(); }
  Item* FindItem(const std::string& name) const;
  Item* ItemFor(const std::string& name);  // creates it when new
  // Application.CreateItem: a new appointment named new1, new2, ...
  Item* CreateItem();
  // Raises one event with the item on every advised sink; logs the Fire line and one Event line
  // per sink.
  void Fire(DISPID dispid, Item* item);
  // Raises Quit (no arguments) on every advised sink; logs the Fire line and one Event line per
  // sink.
  void FireQuit();
  // Logs a Refcount line for every object.
  void LogRefcounts() const;
  // References held by clients (outside the simulator) on any object, and the sinks advised.
  LONG ExternalRefs() const;
  // Shutdown: disconnects every object from its clients and drops the sinks.
  void DisconnectAll();

 private:
  win::ComPtr<Application> app_;
  std::vector<win::ComPtr<Item>> items_;
  int created_ = 0;
};

}  // namespace sim
