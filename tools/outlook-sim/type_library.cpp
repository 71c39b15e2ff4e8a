#include "tools/outlook-sim/type_library.h"

#include <windows.h>
#include <oleauto.h>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/event_ids.h"
#include "tools/outlook-sim/script/log_text.h"

namespace sim {
namespace {

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

// stdole2's IDispatch, the base every dispinterface names.
HRESULT LoadIDispatchTypeInfo(win::ComPtr<ITypeInfo>* out) {
  static const GUID kLibidStdOle = {0x00020430, 0x0000, 0x0000,
                                    {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  win::ComPtr<ITypeLib> stdole;
  HRESULT hr = LoadRegTypeLib(kLibidStdOle, 2, 0, 0, stdole.put());
  if (FAILED(hr)) hr = LoadTypeLib(L"stdole2.tlb", stdole.put());
  if (FAILED(hr)) return hr;
  return stdole->GetTypeInfoOfGuid(IID_IDispatch, out->put());
}

std::string Failed(const char* step, HRESULT hr) {
  return std::string(step) + " failed: " + HresultName(static_cast<uint32_t>(hr));
}

}  // namespace

std::string CreateAndRegisterTypeLibrary(const std::wstring& path) {
  win::ComPtr<ICreateTypeLib2> lib;
  HRESULT hr = CreateTypeLib2(kSysKind, path.c_str(), lib.put());
  if (FAILED(hr)) return Failed("CreateTypeLib2", hr);
  lib->SetGuid(kLibidSimulator);
  lib->SetVersion(1, 0);
  lib->SetLcid(0);
  lib->SetName(const_cast<LPOLESTR>(L"OutlookSim"));
  lib->SetDocString(const_cast<LPOLESTR>(L"Outlook simulator events"));

  win::ComPtr<ICreateTypeInfo> events;
  hr = lib->CreateTypeInfo(const_cast<LPOLESTR>(L"ApplicationEvents"), TKIND_DISPATCH, events.put());
  if (FAILED(hr)) return Failed("CreateTypeInfo", hr);
  events->SetGuid(kIidApplicationEvents);
  events->SetTypeFlags(TYPEFLAG_FHIDDEN);

  win::ComPtr<ITypeInfo> dispatchInfo;
  hr = LoadIDispatchTypeInfo(&dispatchInfo);
  if (FAILED(hr)) return Failed("loading stdole2's IDispatch", hr);
  HREFTYPE base = 0;
  hr = events->AddRefTypeInfo(dispatchInfo.get(), &base);
  if (SUCCEEDED(hr)) hr = events->AddImplType(0, base);
  if (FAILED(hr)) return Failed("AddImplType", hr);

  // Reminder([in] IDispatch* Item), DISPID 0xF004.
  ELEMDESC param = {};
  param.tdesc.vt = VT_DISPATCH;
  param.paramdesc.wParamFlags = PARAMFLAG_FIN;
  FUNCDESC func = {};
  func.memid = kDispidReminder;
  func.funckind = FUNC_DISPATCH;
  func.invkind = INVOKE_FUNC;
  func.callconv = CC_STDCALL;
  func.cParams = 1;
  func.lprgelemdescParam = &param;
  func.elemdescFunc.tdesc.vt = VT_VOID;
  hr = events->AddFuncDesc(0, &func);
  if (FAILED(hr)) return Failed("AddFuncDesc", hr);
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Reminder"), const_cast<LPOLESTR>(L"Item")};
  hr = events->SetFuncAndParamNames(0, names, 2);
  if (SUCCEEDED(hr)) hr = events->LayOut();
  if (FAILED(hr)) return Failed("LayOut", hr);
  hr = lib->SaveAllChanges();
  if (FAILED(hr)) return Failed("SaveAllChanges", hr);
  lib.reset();
  events.reset();

  win::ComPtr<ITypeLib> loaded;
  hr = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, loaded.put());
  if (FAILED(hr)) return Failed("LoadTypeLibEx(REGKIND_REGISTER)", hr);
  return {};
}

void UnregisterTypeLibrary() { UnRegisterTypeLib(kLibidSimulator, 1, 0, 0, kSysKind); }

}  // namespace sim
