#include "agent/framework/ui/cmd_target.h"

#include <cstdio>
#include <exception>
#include <new>

namespace fw {

const CommandEntry* CommandMap::Find(UINT id, bool update) const {
  for (const CommandMap* map = this; map; map = map->base_) {
    for (const CommandEntry& entry : map->entries_) {
      if (id < entry.first || id > entry.last) continue;
      if (update ? static_cast<bool>(entry.update) : static_cast<bool>(entry.command)) return &entry;
    }
  }
  return nullptr;
}

namespace {
UINT g_currentCommand = 0;
}  // namespace

UINT CurrentCommandId() { return g_currentCommand; }

}  // namespace fw

CCmdTarget::CCmdTarget() = default;

const fw::CommandMap* CCmdTarget::GetCommandMap() const {
  static const fw::CommandMap map(nullptr, {});
  return &map;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
  const fw::CommandMap* map = GetCommandMap();
  if (nCode == CN_UPDATE_COMMAND_UI) {
    const fw::CommandEntry* entry = map->Find(nID, true);
    if (!entry || !pExtra) return FALSE;
    auto* ui = static_cast<CCmdUI*>(pExtra);
    ui->m_bContinueRouting = FALSE;
    entry->update(*this, *ui);
    return !ui->m_bContinueRouting;
  }
  if (nCode != CN_COMMAND) return FALSE;
  const fw::CommandEntry* entry = map->Find(nID, false);
  if (!entry) return FALSE;
  if (pHandlerInfo) {
    pHandlerInfo->pTarget = this;
    return TRUE;
  }
  // Restored on the way out, also when the handler throws.
  struct CurrentCommand {
    UINT saved = fw::g_currentCommand;
    ~CurrentCommand() { fw::g_currentCommand = saved; }
  } current;
  fw::g_currentCommand = nID;
  entry->command(*this, nID);
  return TRUE;
}

namespace fw {

void ReportUnhandledException(const char* where) noexcept {
  // No allocation here: the exception may be std::bad_alloc.
  char text[512] = {};
  const char* what = "not a std::exception";
  try {
    throw;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  // The system C runtime's formatter (see recent_file_list.cpp); one byte kept for the NUL.
  ::_snprintf(text, sizeof text - 1, "Brisomel: a C++ exception stopped in %s: %s\n", where, what);
  ::OutputDebugStringA(text);
}

HRESULT FailureOfComCall() noexcept {
  ReportUnhandledException("a COM method");
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace fw

// The COM side of CCmdTarget: one reference count per object and an IDispatch whose identity is
// the object's, forwarding to the object's dispatch-map virtuals. No C++ exception of ours may
// reach the COM caller: the methods that run our code answer it as a failed call.

class CCmdTarget::Dispatch final : public IDispatch {
 public:
  explicit Dispatch(CCmdTarget* owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    return owner_->ExternalQueryInterface(iid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->ExternalAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override {
    try {
      return owner_->ExternalRelease();  // the last one closes a document: our code runs
    } catch (...) {
      fw::ReportUnhandledException("IDispatch::Release");
      return 0;
    }
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    try {
      return owner_->DispGetIDsOfNames(names, count, lcid, ids);
    } catch (...) {
      return fw::FailureOfComCall();
    }
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    try {
      return owner_->DispInvoke(id, lcid, flags, params, result, excepInfo, argErr);
    } catch (...) {
      return fw::FailureOfComCall();
    }
  }

 private:
  CCmdTarget* owner_;
};

CCmdTarget::~CCmdTarget() { delete dispatch_; }

void CCmdTarget::EnableAutomation() { automation_ = TRUE; }

IDispatch* CCmdTarget::GetIDispatch(BOOL bAddRef) {
  if (!automation_) return nullptr;
  if (!dispatch_) dispatch_ = new Dispatch(this);
  if (bAddRef) InternalAddRef();
  return dispatch_;
}

ULONG CCmdTarget::InternalAddRef() { return static_cast<ULONG>(++refs_); }

ULONG CCmdTarget::InternalRelease() {
  if (refs_ <= 0) return 0;  // already released: never run OnFinalRelease twice
  const LONG left = --refs_;
  if (left == 0) OnFinalRelease();
  return static_cast<ULONG>(left);
}

HRESULT CCmdTarget::ExternalQueryInterface(REFIID iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IDispatch* dispatch = GetIDispatch(FALSE);
  if (!dispatch) return E_NOINTERFACE;
  void* found = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    found = dispatch;
  } else {
    found = GetInterfaceHook(iid);
  }
  if (!found) return E_NOINTERFACE;
  InternalAddRef();
  *ppv = found;
  return S_OK;
}

void CCmdTarget::OnFinalRelease() { delete this; }

void* CCmdTarget::GetInterfaceHook(REFIID) { return nullptr; }

HRESULT CCmdTarget::DispGetIDsOfNames(LPOLESTR*, UINT count, LCID, DISPID* ids) {
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT CCmdTarget::DispInvoke(DISPID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}

void CCmdUI::Enable(BOOL bOn) {
  m_bEnableChanged = TRUE;
  if (!m_pMenu || m_pSubMenu) return;
  ::EnableMenuItem(m_pMenu, m_nIndex, MF_BYPOSITION | (bOn ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
}

void CCmdUI::SetCheck(int nCheck) {
  if (!m_pMenu || m_pSubMenu) return;
  ::CheckMenuItem(m_pMenu, m_nIndex, MF_BYPOSITION | (nCheck ? MF_CHECKED : MF_UNCHECKED));
}

void CCmdUI::SetText(const char* text) {
  if (!m_pMenu || m_pSubMenu || !text) return;
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = const_cast<char*>(text);
  ::SetMenuItemInfoA(m_pMenu, m_nIndex, TRUE, &info);
}

BOOL CCmdUI::DoUpdate(CCmdTarget* target, BOOL bDisableIfNoHndler) {
  if (!target || m_nID == 0) return TRUE;
  m_bEnableChanged = FALSE;
  if (target->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this, nullptr)) return TRUE;
  // No update handler: the item follows the existence of a command handler.
  if (!m_bEnableChanged) {
    AFX_CMDHANDLERINFO info;
    const BOOL handled = target->OnCmdMsg(m_nID, CN_COMMAND, this, &info);
    if (handled || bDisableIfNoHndler) Enable(handled);
  }
  return FALSE;
}
