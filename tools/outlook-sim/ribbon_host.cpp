#include "tools/outlook-sim/ribbon_host.h"

#include <algorithm>

#include "common/win/handles.h"
#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/script/utf.h"
#include "tools/outlook-sim/sim_log.h"
#include "tools/outlook-sim/stopwatch.h"
#include "tools/outlook-sim/variant_text.h"

namespace sim {
namespace {

constexpr char kExplorerRibbon[] = "Microsoft.Outlook.Explorer";
constexpr char kAppointmentRibbon[] = "Microsoft.Outlook.Appointment";

std::wstring Wide(const std::string& utf8) {
  std::u16string u16;
  Utf8ToUtf16(utf8, &u16);
  return std::wstring(u16.begin(), u16.end());
}

std::string ResultText(HRESULT hr, const VARIANT& result) {
  if (FAILED(hr)) return "hr=" + Hex32(static_cast<uint32_t>(hr));
  return VariantText(result);
}

// The explorer (the main window) and an inspector (an item's window).
class WindowObject : public DispatchObject {
 public:
  WindowObject(ObjectKind kind, const std::string& logName, Item* item)
      : DispatchObject(kind, logName), item_(win::ComPtr<Item>::Retain(item)) {
    // The window's reference to its item is the simulator's own.
    if (item_) item_->SetOwnRefs(item_->OwnRefs() + 1);
  }
  void Drop() {
    if (!item_) return;
    item_->SetOwnRefs(item_->OwnRefs() - 1);
    item_.reset();
  }

 protected:
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS&, VARIANT* result, UINT*, std::string*) override {
    if (member.member != Member::CurrentItem || !item_) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_DISPATCH;
    result->pdispVal = item_.get();
    item_->AddRef();
    return S_OK;
  }

 private:
  win::ComPtr<Item> item_;
};

// IRibbonControl: Id, Context (the window), Tag (empty: the XML gives none).
class RibbonControl : public DispatchObject {
 public:
  RibbonControl(const std::string& id, DispatchObject* context)
      : DispatchObject(ObjectKind::RibbonControl, "RibbonControl#" + id),
        context_(win::ComPtr<DispatchObject>::Retain(context)) {
    Utf8ToUtf16(id, &id_.value);
    // The control's reference to its window is the simulator's own.
    if (context_) context_->SetOwnRefs(context_->OwnRefs() + 1);
  }
  void Drop() {
    if (!context_) return;
    context_->SetOwnRefs(context_->OwnRefs() - 1);
    context_.reset();
  }

 protected:
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS&, VARIANT* result, UINT*, std::string*) override {
    switch (member.member) {
      case Member::ControlId:
        result->vt = VT_BSTR;
        result->bstrVal = MakeBstr(id_);
        return S_OK;
      case Member::Tag:
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(L"");
        return S_OK;
      case Member::Context:
        if (!context_) return E_UNEXPECTED;
        result->vt = VT_DISPATCH;
        result->pdispVal = static_cast<IDispatch*>(context_.get());
        context_->AddRef();
        return S_OK;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  Text id_;
  win::ComPtr<DispatchObject> context_;
};

}  // namespace

// IRibbonUI: Invalidate and InvalidateControl note what Office is to ask again once the
// callback in progress has returned.
class RibbonUi : public DispatchObject {
 public:
  explicit RibbonUi(const std::string& ribbonId) : DispatchObject(ObjectKind::RibbonUI, "RibbonUI#" + ribbonId) {}
  std::vector<std::string> TakeInvalidated(bool* all) {
    *all = all_;
    all_ = false;
    std::vector<std::string> ids;
    ids.swap(invalidated_);
    return ids;
  }

 protected:
  HRESULT Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT*, UINT* argErr,
                 std::string* argText) override {
    if (member.member == Member::Invalidate) {
      if (params.cArgs != 0) return DISP_E_BADPARAMCOUNT;
      all_ = true;
      return S_OK;
    }
    if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    *argText = " (" + VariantText(params.rgvarg[0]) + ")";
    if (params.rgvarg[0].vt != VT_BSTR) {
      *argErr = 0;
      return DISP_E_TYPEMISMATCH;
    }
    invalidated_.push_back(Utf16ToUtf8(BstrText(params.rgvarg[0].bstrVal)));
    return S_OK;
  }

 private:
  std::vector<std::string> invalidated_;
  bool all_ = false;
};

RibbonHost::RibbonHost() {
  explorer_.object = win::ComPtr<DispatchObject>::Attach(new WindowObject(ObjectKind::Explorer, "Explorer", nullptr));
  explorer_.ribbonId = kExplorerRibbon;
  Item::SetDisplayHandler([this](Item* item) { toDisplay_.push_back(item); });
}

RibbonHost::~RibbonHost() {
  Item::SetDisplayHandler(nullptr);
  CloseAll();
}

void RibbonHost::AddinConnected(const std::string& progId, IUnknown* addin) {
  Addin a;
  a.progId = progId;
  const HRESULT hr = addin->QueryInterface(kIidRibbonExtensibility, a.ext.put_void());
  if (FAILED(hr) || !a.ext) return;  // an add-in without a ribbon
  LogLine("Ribbon " + progId + " IRibbonExtensibility");
  addins_.push_back(std::move(a));
  if (Load(addins_.back(), kExplorerRibbon)) Refresh(explorer_);
}

void RibbonHost::AddinGone(const std::string& progId) {
  for (auto it = addins_.begin(); it != addins_.end(); ++it) {
    if (!EqualsNoCase(it->progId, progId)) continue;
    for (auto& entry : it->ribbons) {
      if (entry.second.ui) retired_.push_back(win::ComPtr<DispatchObject>::Retain(entry.second.ui.get()));
    }
    addins_.erase(it);
    return;
  }
}

RibbonHost::Ribbon* RibbonHost::Load(Addin& addin, const std::string& ribbonId) {
  auto known = addin.ribbons.find(ribbonId);
  if (known != addin.ribbons.end()) return &known->second;
  Ribbon& ribbon = addin.ribbons[ribbonId];
  ribbon.ribbonId = ribbonId;
  BSTR id = SysAllocString(Wide(ribbonId).c_str());
  BSTR xml = nullptr;
  Stopwatch watch;
  const HRESULT hr = addin.ext->GetCustomUI(id, &xml);
  const double ms = watch.Ms();
  SysFreeString(id);
  const std::u16string text = BstrText(xml);
  const bool none = !xml || SysStringLen(xml) == 0;
  SysFreeString(xml);
  LogLine("Ribbon " + addin.progId + " GetCustomUI " + ribbonId + " hr=" + Hex32(static_cast<uint32_t>(hr)) +
          (none ? std::string(" none") : " chars=" + std::to_string(text.size())) + " ms=" + FormatMs(ms));
  if (FAILED(hr) || none) return nullptr;
  WriteXml(ribbonId, text);
  ribbon.layout = ParseRibbonXml(Utf16ToUtf8(text));
  if (!ribbon.layout.error.empty()) {
    LogLine("Ribbon " + addin.progId + " " + ribbonId + " -> bad XML: " + ribbon.layout.error);
    return nullptr;
  }
  if (!ribbon.layout.onLoad.empty()) {
    ribbon.ui = win::ComPtr<RibbonUi>::Attach(new RibbonUi(ribbonId));
    VARIANT arg;
    arg.vt = VT_DISPATCH;
    arg.pdispVal = ribbon.ui.get();
    VARIANT result;
    VariantInit(&result);
    const HRESULT loaded = CallByName(addin, ribbon.layout.onLoad, &arg, 1, &result);
    VariantClear(&result);
    LogLine("Ribbon " + addin.progId + " onLoad " + ribbonId + " " + ribbon.layout.onLoad + " hr=" +
            Hex32(static_cast<uint32_t>(loaded)));
  }
  return &ribbon;
}

HRESULT RibbonHost::CallByName(Addin& addin, const std::string& name, VARIANT* args, UINT count, VARIANT* result) {
  std::u16string wide;
  Utf8ToUtf16(name, &wide);
  LPOLESTR names[1] = {const_cast<LPOLESTR>(reinterpret_cast<const wchar_t*>(wide.c_str()))};
  DISPID dispid = DISPID_UNKNOWN;
  HRESULT hr = addin.ext->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
  if (FAILED(hr)) return hr;
  // The callback's arguments last first, as IDispatch takes them.
  std::vector<VARIANT> reversed(args, args + count);
  std::reverse(reversed.begin(), reversed.end());
  DISPPARAMS params = {count ? reversed.data() : nullptr, nullptr, count, 0};
  EXCEPINFO excep = {};
  UINT argErr = 0;
  hr = addin.ext->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &excep, &argErr);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return hr;
}

DispatchObject* RibbonHost::MakeControl(const std::string& id, DispatchObject* context) {
  auto* control = new RibbonControl(id, context);
  retired_.push_back(win::ComPtr<DispatchObject>::Attach(control));
  return control;
}

void RibbonHost::Refresh(Window& window, const std::string& onlyControl) {
  for (Addin& addin : addins_) {
    auto found = addin.ribbons.find(window.ribbonId);
    if (found == addin.ribbons.end() || !found->second.layout.error.empty()) continue;
    for (const RibbonControlSpec& control : found->second.layout.controls) {
      if (!onlyControl.empty() && control.id != onlyControl) continue;
      ControlState& state = window.controls[addin.progId + " " + control.id];
      for (const auto& attribute : control.attributes) {
        if (attribute.first.compare(0, 3, "get") != 0) continue;
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = MakeControl(control.id, window.object.get());
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr = CallByName(addin, attribute.second, &arg, 1, &result);
        LogLine("Ribbon " + addin.progId + " " + attribute.first + " " + control.id + " -> " + ResultText(hr, result));
        if (SUCCEEDED(hr) && result.vt == VT_BOOL) {
          if (attribute.first == "getPressed") state.pressed = result.boolVal != VARIANT_FALSE;
          if (attribute.first == "getEnabled") state.enabled = result.boolVal != VARIANT_FALSE;
        }
        VariantClear(&result);
      }
    }
  }
}

void RibbonHost::OpenInspector(Item* item) {
  Window window;
  window.object = win::ComPtr<DispatchObject>::Attach(
      new WindowObject(ObjectKind::Inspector, "Inspector#" + item->Name(), item));
  window.ribbonId = kAppointmentRibbon;
  LogLine("Inspector#" + item->Name() + " open");
  for (Addin& addin : addins_) Load(addin, kAppointmentRibbon);
  inspectors_.push_back(std::move(window));
  Refresh(inspectors_.back());
}

void RibbonHost::CloseInspector(const std::string& itemName) {
  for (auto it = inspectors_.end(); it != inspectors_.begin();) {
    --it;
    if (it->object->LogName() != "Inspector#" + itemName) continue;
    win::ComPtr<DispatchObject> object = it->object;
    inspectors_.erase(it);
    static_cast<WindowObject*>(object.get())->Drop();
    retired_.push_back(object);
    LogLine("Inspector#" + itemName + " close");
    return;
  }
  LogLine("Inspector#" + itemName + " close -> not open");
}

void RibbonHost::Click(const std::string& controlId) {
  if (inspectors_.empty()) {
    LogLine("Ribbon click " + controlId + " -> no inspector open");
    return;
  }
  Action(inspectors_.back(), controlId, nullptr);
}

void RibbonHost::Type(const std::string& controlId, const Text& text) {
  if (inspectors_.empty()) {
    LogLine("Ribbon type " + controlId + " -> no inspector open");
    return;
  }
  Action(inspectors_.back(), controlId, &text);
}

void RibbonHost::ExplorerClick(const std::string& controlId) { Action(explorer_, controlId, nullptr); }

void RibbonHost::Action(Window& window, const std::string& controlId, const Text* typed) {
  const std::string what = typed ? "type" : "click";
  for (Addin& addin : addins_) {
    auto found = addin.ribbons.find(window.ribbonId);
    if (found == addin.ribbons.end()) continue;
    const RibbonControlSpec* control = found->second.layout.Find(controlId);
    if (!control) continue;
    ControlState& state = window.controls[addin.progId + " " + controlId];
    if (!state.enabled) {
      LogLine("Ribbon " + what + " " + controlId + " -> disabled");
      return;
    }
    const std::string callback = control->Attribute(typed ? "onChange" : "onAction");
    if (callback.empty() || (typed != nullptr) != (control->element == "editBox")) {
      LogLine("Ribbon " + what + " " + controlId + " -> not a control to " + what);
      return;
    }
    VARIANT args[2];
    args[0].vt = VT_DISPATCH;
    args[0].pdispVal = MakeControl(controlId, window.object.get());
    UINT count = 1;
    std::string argText;
    if (typed) {
      args[1].vt = VT_BSTR;
      args[1].bstrVal = MakeBstr(*typed);
      argText = " (" + VariantText(args[1]) + ")";
      count = 2;
    } else if (control->element == "toggleButton") {
      // A toggle's onAction carries its new state.
      state.pressed = !state.pressed;
      args[1].vt = VT_BOOL;
      args[1].boolVal = state.pressed ? VARIANT_TRUE : VARIANT_FALSE;
      argText = std::string(" (") + (state.pressed ? "true" : "false") + ")";
      count = 2;
    }
    VARIANT result;
    VariantInit(&result);
    Stopwatch watch;
    const HRESULT hr = CallByName(addin, callback, args, count, &result);
    const double ms = watch.Ms();
    VariantClear(&result);
    if (typed) VariantClear(&args[1]);
    LogLine("Ribbon " + addin.progId + " " + (typed ? "onChange " : "onAction ") + controlId + argText + " hr=" +
            Hex32(static_cast<uint32_t>(hr)) + " ms=" + FormatMs(ms));
    AfterCallback();
    return;
  }
  LogLine("Ribbon " + what + " " + controlId + " -> no such control");
}

void RibbonHost::AfterCallback() {
  for (Addin& addin : addins_) {
    for (auto& entry : addin.ribbons) {
      if (!entry.second.ui) continue;
      bool all = false;
      const std::vector<std::string> ids = entry.second.ui->TakeInvalidated(&all);
      std::vector<Window*> windows;
      if (entry.first == kExplorerRibbon) windows.push_back(&explorer_);
      for (Window& w : inspectors_) {
        if (w.ribbonId == entry.first) windows.push_back(&w);
      }
      for (Window* w : windows) {
        if (all) {
          Refresh(*w);
          continue;
        }
        for (const std::string& id : ids) Refresh(*w, id);
      }
    }
  }
  std::vector<Item*> display = std::move(toDisplay_);
  toDisplay_.clear();
  for (Item* item : display) OpenInspector(item);
}

void RibbonHost::WriteXml(const std::string& ribbonId, const std::u16string& xml) {
  if (xmlFolder_.empty()) return;
  const std::string path = xmlFolder_ + "\\" + ribbonId + ".xml";
  win::FileHandle file(
      CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string utf8 = Utf16ToUtf8(xml);
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) ||
      written != utf8.size()) {
    LogLine("Error cannot write " + path);
  }
}

void RibbonHost::LogRefcounts() {
  auto log = [](DispatchObject& o) {
    LogLine("Refcount " + o.LogName() + " external=" + std::to_string(o.ExternalRefs()) +
            " total=" + std::to_string(o.RefCount()));
  };
  log(*explorer_.object.get());
  for (Window& w : inspectors_) log(*w.object.get());
  for (Addin& addin : addins_) {
    for (auto& entry : addin.ribbons) {
      if (entry.second.ui) log(*entry.second.ui.get());
    }
  }
  for (auto& o : retired_) log(*o.get());
}

void RibbonHost::CloseAll() {
  inspectors_.clear();
  addins_.clear();
  for (auto& o : retired_) {
    if (auto* control = dynamic_cast<RibbonControl*>(o.get())) control->Drop();
    if (auto* window = dynamic_cast<WindowObject*>(o.get())) window->Drop();
  }
  if (auto* window = dynamic_cast<WindowObject*>(explorer_.object.get())) window->Drop();
  retired_.clear();
  toDisplay_.clear();
}

}  // namespace sim
