#include "agent/framework/ui/template_server.h"

#include <objbase.h>

#include <string>

#include "agent/framework/ole/ole_text.h"
#include "agent/framework/ui/cmd_target.h"
#include "agent/framework/ui/document.h"
#include "agent/framework/ui/win_app.h"
#include "common/win/handles.h"

namespace {

COleTemplateServer* runningServer = nullptr;
LONG lockCount = 0;
BOOL userControl = TRUE;

std::string ClsidText(const CLSID& clsid) {
  wchar_t wide[64] = {};
  const int length = ::StringFromGUID2(clsid, wide, 64);
  return fw::WideToAnsi(wide, length > 0 ? static_cast<size_t>(length - 1) : 0);
}

// Sets the default value of root\subkey to a text.
bool WriteText(HKEY root, const std::string& subkey, const std::string& value) {
  win::RegKey key;
  if (key.Create(root, subkey.c_str(), KEY_WRITE) != ERROR_SUCCESS) return false;
  return ::RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

// The default value of root\subkey, or nothing when it cannot be read.
std::string ReadText(HKEY root, const std::string& subkey) {
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  if (::RegGetValueA(root, subkey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return std::string();
  return value;
}

}  // namespace

// The class object handed to COM: creates objects through its factory.
class COleTemplateServer::ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(COleTemplateServer* owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = ::InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!owner_) return E_UNEXPECTED;  // the factory was revoked
    try {
      IUnknown* object = owner_->CreateDocument();
      if (!object) return E_OUTOFMEMORY;
      const HRESULT hr = object->QueryInterface(iid, ppv);
      object->Release();
      return hr;
    } catch (...) {
      return fw::FailureOfComCall();  // no exception of ours may reach COM
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? AfxOleLockApp() : AfxOleUnlockApp();
    return S_OK;
  }
  void Disconnect() { owner_ = nullptr; }

 private:
  ~ClassFactory() = default;
  LONG refs_ = 1;
  COleTemplateServer* owner_;
};

COleTemplateServer::COleTemplateServer() { runningServer = this; }

COleTemplateServer::~COleTemplateServer() {
  Revoke();
  if (runningServer == this) runningServer = nullptr;
}

BOOL COleTemplateServer::Register() {
  if (register_) return TRUE;
  if (clsid_ == CLSID{}) return FALSE;  // not connected
  factory_ = new ClassFactory(this);
  const HRESULT hr = ::CoRegisterClassObject(clsid_, static_cast<IClassFactory*>(factory_), CLSCTX_LOCAL_SERVER,
                                             multiInstance_ ? REGCLS_SINGLEUSE : REGCLS_MULTIPLEUSE, &register_);
  if (FAILED(hr)) {
    register_ = 0;
    Revoke();
    return FALSE;
  }
  return TRUE;
}

void COleTemplateServer::Revoke() {
  if (register_) ::CoRevokeClassObject(register_);
  register_ = 0;
  if (factory_) {
    factory_->Disconnect();
    factory_->Release();
    factory_ = nullptr;
  }
}

BOOL COleTemplateServer::RegisterAll() { return !runningServer || runningServer->clsid_ == CLSID{} || runningServer->Register(); }

void COleTemplateServer::RevokeAll() {
  if (runningServer) runningServer->Revoke();
}

void COleTemplateServer::ConnectTemplate(REFCLSID clsid, CDocTemplate* pDocTemplate, BOOL bMultiInstance) {
  clsid_ = clsid;
  template_ = pDocTemplate;
  multiInstance_ = bMultiInstance;
}

IUnknown* COleTemplateServer::CreateDocument() {
  if (!template_) return nullptr;
  // The client's document: in a frame that is not shown.
  CDocument* doc = template_->OpenDocumentFile(nullptr, FALSE);
  if (!doc) return nullptr;
  doc->SetModifiedFlag();
  if (!doc->IsAutomationEnabled()) {
    doc->OnCloseDocument();
    return nullptr;
  }
  // The framework's reference becomes the caller's: when the client lets go, the document closes.
  IDispatch* dispatch = doc->GetIDispatch(TRUE);
  doc->ReleaseFrameworkReference();
  return dispatch;
}

BOOL COleTemplateServer::UpdateRegistry() {
  if (!template_ || clsid_ == CLSID{}) return FALSE;
  const std::string progId = template_->GetDocString(CDocTemplate::regFileTypeId);
  std::string description = template_->GetDocString(CDocTemplate::regFileTypeName);
  if (progId.empty()) return FALSE;
  if (description.empty()) description = progId;

  char path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return FALSE;
  std::string server = path;
  // A path with blanks must stay one argument when COM starts the server.
  if (server.find(' ') != std::string::npos) server = "\"" + server + "\"";

  const std::string clsid = ClsidText(clsid_);
  auto writeAll = [&](HKEY root, const std::string& prefix) {
    return WriteText(root, prefix + progId, description) && WriteText(root, prefix + progId + "\\CLSID", clsid) &&
           WriteText(root, prefix + "CLSID\\" + clsid, description) &&
           WriteText(root, prefix + "CLSID\\" + clsid + "\\ProgID", progId) &&
           WriteText(root, prefix + "CLSID\\" + clsid + "\\LocalServer32", server);
  };
  // A registration that reads as this one would write it (an installation's, with the server
  // quoted or not) stays as it is: a user without the rights for the machine's classes would
  // otherwise add a copy of their own, which outlives the installation.
  const std::string registered = ReadText(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\LocalServer32");
  if (ReadText(HKEY_CLASSES_ROOT, progId) == description && ReadText(HKEY_CLASSES_ROOT, progId + "\\CLSID") == clsid &&
      ReadText(HKEY_CLASSES_ROOT, "CLSID\\" + clsid) == description &&
      ReadText(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\ProgID") == progId &&
      (registered == server || registered == "\"" + std::string(path) + "\"")) {
    return TRUE;
  }
  if (writeAll(HKEY_CLASSES_ROOT, "")) return TRUE;
  // Without the rights for the machine's classes, the user's own classes.
  return writeAll(HKEY_CURRENT_USER, "Software\\Classes\\") ? TRUE : FALSE;
}

void AfxOleLockApp() { ++lockCount; }

void AfxOleUnlockApp() {
  if (lockCount <= 0) return;
  if (--lockCount == 0 && !userControl) {
    // The last object an automation client used is gone: end the application it started.
    if (HWND main = fw::GetMainWindowHandle()) ::PostMessageA(main, WM_CLOSE, 0, 0);
  }
}

LONG AfxOleGetLockCount() { return lockCount; }
void AfxOleSetUserCtrl(BOOL bUserCtrl) { userControl = bUserCtrl; }
