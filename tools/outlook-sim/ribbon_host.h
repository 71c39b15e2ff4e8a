#pragma once
// Hosts add-ins' ribbons as Office does. After an add-in's OnConnection the host asks it for
// IRibbonExtensibility and, with one, for the main window's XML (GetCustomUI
// "Microsoft.Outlook.Explorer"); the first inspector opened asks for
// "Microsoft.Outlook.Appointment" (once per ribbon id and add-in). After each XML: its onLoad with
// an IRibbonUI, then the get callbacks of its controls. Clicks and typing call onAction and
// onChange with an IRibbonControl whose Context is the window (the inspector, or the explorer);
// controls the add-in invalidated meanwhile are asked again, and items it displayed are opened.
// Every call is logged ("Ribbon ..." lines, README.md).
#include <windows.h>
#include <oaidl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/dispatch_object.h"
#include "tools/outlook-sim/item.h"
#include "tools/outlook-sim/script/ribbon_xml.h"

namespace sim {

// {000C0396-0000-0000-C000-000000000046}
inline constexpr IID kIidRibbonExtensibility = {
    0x000C0396, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IRibbonExtensibility : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;
};

class RibbonUi;
class Inspector;

class RibbonHost {
 public:
  RibbonHost();
  RibbonHost(const RibbonHost&) = delete;
  RibbonHost& operator=(const RibbonHost&) = delete;
  ~RibbonHost();

  void SetXmlFolder(const std::string& folder) { xmlFolder_ = folder; }
  void AddinConnected(const std::string& progId, IUnknown* addin);
  // Before the add-in is released: its ribbons go.
  void AddinGone(const std::string& progId);

  void OpenInspector(Item* item);
  void CloseInspector(const std::string& itemName);
  // The active (last opened) inspector's control; the explorer's.
  void Click(const std::string& controlId);
  void Type(const std::string& controlId, const Text& text);
  void ExplorerClick(const std::string& controlId);
  // Refcount lines for the windows and ribbon objects (closed ones too).
  void LogRefcounts();
  // Shutdown: every window closes, every ribbon goes.
  void CloseAll();

 private:
  struct Ribbon {
    std::string ribbonId;
    RibbonSpec layout;
    win::ComPtr<RibbonUi> ui;  // when the XML names an onLoad
  };
  struct Addin {
    std::string progId;
    win::ComPtr<IRibbonExtensibility> ext;
    std::map<std::string, Ribbon> ribbons;  // by ribbon id, each asked for once
  };
  struct ControlState {
    bool pressed = false;
    bool enabled = true;
  };
  struct Window {
    win::ComPtr<DispatchObject> object;  // the inspector or the explorer
    std::string ribbonId;
    std::map<std::string, ControlState> controls;  // by "<progid> <control id>"
  };

  Ribbon* Load(Addin& addin, const std::string& ribbonId);
  // The get callbacks of every control (or only of `controlId`) of the ribbon in the window.
  void Refresh(Window& window, const std::string& onlyControl = std::string());
  void Action(Window& window, const std::string& controlId, const Text* typed);
  // After a callback: invalidated controls are asked again, displayed items open.
  void AfterCallback();
  HRESULT CallByName(Addin& addin, const std::string& name, VARIANT* args, UINT count, VARIANT* result);
  DispatchObject* MakeControl(const std::string& id, DispatchObject* context);
  void WriteXml(const std::string& ribbonId, const std::u16string& xml);

  std::string xmlFolder_;
  std::vector<Addin> addins_;
  Window explorer_;
  std::vector<Window> inspectors_;  // open, the active one last
  std::vector<win::ComPtr<DispatchObject>> retired_;  // closed windows and controls handed out
  std::vector<Item*> toDisplay_;
};

}  // namespace sim
