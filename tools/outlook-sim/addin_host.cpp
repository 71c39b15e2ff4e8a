#include "tools/outlook-sim/addin_host.h"

#include "common/win/handles.h"
#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/script/utf.h"
#include "tools/outlook-sim/sim_log.h"
#include "tools/outlook-sim/stopwatch.h"

namespace sim {
namespace {

constexpr wchar_t kAddinsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";

// The COMAddIn object Outlook hands to OnConnection; the simulator answers none of its members.
class AddinInstance : public DispatchObject {
 public:
  explicit AddinInstance(const std::string& progId) : DispatchObject(ObjectKind::AddIn, "AddIn#" + progId) {}

 protected:
  HRESULT Answer(const MemberInfo&, const DISPPARAMS&, VARIANT*, UINT*, std::string*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

// The custom argument: an empty array of VARIANTs, as Office passes.
class CustomArray {
 public:
  CustomArray() : array_(SafeArrayCreateVector(VT_VARIANT, 0, 0)) {}
  ~CustomArray() {
    if (array_) SafeArrayDestroy(array_);
  }
  CustomArray(const CustomArray&) = delete;
  CustomArray& operator=(const CustomArray&) = delete;
  SAFEARRAY** get() { return &array_; }

 private:
  SAFEARRAY* array_;
};

std::string Narrow(const std::wstring& w) { return Utf16ToUtf8(std::u16string(w.begin(), w.end())); }

}  // namespace

template <typename Call>
HRESULT AddinHost::Timed(const std::string& progId, const std::string& what, Call call) {
  const LONG before = app_->RefCount();
  CustomArray custom;
  Stopwatch watch;
  const HRESULT hr = call(custom.get());
  const double ms = watch.Ms();
  app_->SetOwnRefs(app_->OwnRefs() + app_->RefCount() - before);
  LogLine("Addin " + progId + " " + what + " hr=" + Hex32(static_cast<uint32_t>(hr)) + " ms=" + FormatMs(ms));
  return hr;
}

ULONG AddinHost::ReleaseAddin(Loaded& a) {
  if (ribbons_) ribbons_->AddinGone(a.progId);
  const LONG before = app_->RefCount();
  a.instance.reset();
  const ULONG left = a.addin.detach()->Release();
  app_->SetOwnRefs(app_->OwnRefs() + app_->RefCount() - before);
  LogLine("Addin " + a.progId + " Release refs=" + std::to_string(left));
  return left;
}

AddinHost::~AddinHost() { loaded_.clear(); }

void AddinHost::LoadAll(DispatchObject* application) {
  app_ = application;
  // The user's add-ins, then the machine's (in the simulator's own registry view, as Outlook of
  // its bitness reads them) that the user's list does not name: an add-in the user has is the
  // user's, LoadBehavior and all.
  std::vector<std::wstring> toLoad;
  std::vector<std::wstring> seen;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const std::string where = root == HKEY_CURRENT_USER ? "" : " (machine)";
    win::RegKey addins;
    if (addins.Open(root, kAddinsKey, KEY_READ) != ERROR_SUCCESS) continue;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD nameLen = 256;
      if (RegEnumKeyExW(addins.get(), i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      bool known = false;
      for (const std::wstring& other : seen) known = known || EqualsNoCase(Narrow(other), Narrow(name));
      if (known) continue;
      seen.push_back(name);
      DWORD behavior = 0;
      DWORD size = sizeof behavior;
      const LONG rc = RegGetValueW(addins.get(), name, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr,
                                   &behavior, &size);
      if (rc == ERROR_SUCCESS && behavior == 3) {
        toLoad.push_back(name);
      } else {
        LogLine("Addin " + Narrow(name) + " skipped LoadBehavior=" +
                (rc == ERROR_SUCCESS ? std::to_string(behavior) : std::string("missing")) + where);
      }
    }
  }
  for (const std::wstring& progId : toLoad) Load(progId, ext_cm_Startup);
  for (Loaded& a : loaded_) {
    Timed(a.progId, "OnStartupComplete", [&](SAFEARRAY** custom) { return a.addin->OnStartupComplete(custom); });
  }
}

void AddinHost::ConnectAfterStartup(const std::string& progId) {
  for (const Loaded& a : loaded_) {
    if (EqualsNoCase(a.progId, progId)) {
      LogLine("Addin " + progId + " connect -> already loaded");
      return;
    }
  }
  std::u16string wide;
  if (!Utf8ToUtf16(progId, &wide)) return;  // the script's words are valid UTF-8
  Load(std::wstring(wide.begin(), wide.end()), ext_cm_AfterStartup);
}

bool AddinHost::Load(const std::wstring& progIdW, ExtConnectMode mode) {
  const std::string progId = Narrow(progIdW);
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progIdW.c_str(), &clsid);
  if (FAILED(hr)) {
    LogLine("Addin " + progId + " load -> CLSIDFromProgID " + HresultName(static_cast<uint32_t>(hr)));
    return false;
  }
  win::ComPtr<IUnknown> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.put_void());
  if (FAILED(hr)) {
    LogLine("Addin " + progId + " load -> CoCreateInstance " + HresultName(static_cast<uint32_t>(hr)));
    return false;
  }
  Loaded a;
  a.progId = progId;
  hr = object.As(kIidIDTExtensibility2, &a.addin);
  object.reset();
  if (FAILED(hr) || !a.addin) {
    LogLine("Addin " + progId + " load -> QueryInterface(IDTExtensibility2) " + HresultName(static_cast<uint32_t>(hr)));
    return false;
  }
  a.instance = win::ComPtr<IDispatch>::Attach(new AddinInstance(progId));
  const std::string call = mode == ext_cm_Startup ? "OnConnection" : "OnConnection(" + std::to_string(static_cast<int>(mode)) + ")";
  hr = Timed(progId, call, [&](SAFEARRAY** custom) {
    return a.addin->OnConnection(app_, mode, a.instance.get(), custom);
  });
  if (FAILED(hr)) {
    // Outlook does not keep an add-in whose connection failed.
    ReleaseAddin(a);
    return false;
  }
  // Office asks a connected add-in for its ribbon (and the main window's XML) at once.
  if (ribbons_) ribbons_->AddinConnected(progId, a.addin.get());
  loaded_.push_back(std::move(a));
  return true;
}

void AddinHost::Disconnect(Loaded& a, ExtDisconnectMode mode) {
  Timed(a.progId, "OnDisconnection(" + std::to_string(static_cast<int>(mode)) + ")",
        [&](SAFEARRAY** custom) { return a.addin->OnDisconnection(mode, custom); });
  ReleaseAddin(a);
}

void AddinHost::Remove(const std::string& progId) {
  for (auto it = loaded_.begin(); it != loaded_.end(); ++it) {
    if (!EqualsNoCase(it->progId, progId)) continue;
    Loaded a = std::move(*it);
    loaded_.erase(it);
    Disconnect(a, ext_dm_UserClosed);
    return;
  }
  LogLine("Addin " + progId + " remove -> not loaded");
}

void AddinHost::ShutdownAll() {
  for (Loaded& a : loaded_) {
    Timed(a.progId, "OnBeginShutdown", [&](SAFEARRAY** custom) { return a.addin->OnBeginShutdown(custom); });
  }
  std::vector<Loaded> all = std::move(loaded_);
  loaded_.clear();
  for (Loaded& a : all) Disconnect(a, ext_dm_HostShutdown);
}

}  // namespace sim
