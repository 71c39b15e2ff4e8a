#pragma once
// The one in-process Outlook double of the unit tests (the end-to-end tests run the simulator,
// tools/outlook-sim): COM objects with exact reference counts. An IDispatch that answers every
// call with a prepared result and records what it was given; the Application as the add-in
// holds it, which fails the test on any use; and an event source with one connection point whose
// every step can be made to fail.
#include <gtest/gtest.h>
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "common/win/variant.h"

namespace outlook_double {

// Counts its references; never deletes itself (tests own it on the stack).
class RefCounted {
 public:
  ULONG Refs() const { return refs_; }

 protected:
  ULONG refs_ = 1;
};

struct RecordedInvoke {
  DISPID dispid = 0;
  WORD flags = 0;
  LCID lcid = 0;
  std::vector<VARTYPE> argTypes;  // in Automation's order (last parameter first)
  std::vector<std::wstring> argTexts;  // VT_BSTR arguments as text, "" for others
  std::vector<long> argIntegers;       // VT_I2 / VT_I4 arguments, 0 for others
  UINT namedArgs = 0;
  bool wantedResult = false;
};

class FakeDispatch : public IDispatch, public RefCounted {
 public:
  FakeDispatch() { VariantInit(&result_); }
  ~FakeDispatch() { VariantClear(&result_); }

  // What the next calls answer.
  void ReturnVariant(const VARIANT& value) {
    VariantClear(&result_);
    VariantCopy(&result_, const_cast<VARIANT*>(&value));
  }
  void ReturnBstr(const wchar_t* text, UINT length) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text ? SysAllocStringLen(text, length) : nullptr;
    ReturnVariant(v);
    VariantClear(&v);
  }
  void FailWith(HRESULT hr) { failure_ = hr; }
  void RaiseException(const wchar_t* description, SCODE scode) {
    failure_ = DISP_E_EXCEPTION;
    description_ = description;
    scode_ = scode;
  }

  const std::vector<RecordedInvoke>& Calls() const { return calls_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT*) override {
    RecordedInvoke call;
    call.dispid = dispid;
    call.flags = flags;
    call.lcid = lcid;
    call.namedArgs = params ? params->cNamedArgs : 0;
    call.wantedResult = result != nullptr;
    for (UINT i = 0; params && i < params->cArgs; ++i) {
      const VARIANTARG& arg = params->rgvarg[i];
      call.argTypes.push_back(arg.vt);
      call.argTexts.push_back(arg.vt == VT_BSTR && arg.bstrVal ? std::wstring(arg.bstrVal, SysStringLen(arg.bstrVal))
                                                               : std::wstring());
      call.argIntegers.push_back(arg.vt == VT_I2 ? arg.iVal : arg.vt == VT_I4 ? arg.lVal : 0);
    }
    calls_.push_back(call);
    if (failure_ == DISP_E_EXCEPTION && excepInfo) {
      *excepInfo = EXCEPINFO{};
      excepInfo->bstrSource = SysAllocString(L"Fake");
      excepInfo->bstrDescription = SysAllocString(description_.c_str());
      excepInfo->scode = scode_;
    }
    if (FAILED(failure_)) return failure_;
    if (result) VariantCopy(result, &result_);
    return S_OK;
  }

 private:
  VARIANT result_;
  HRESULT failure_ = S_OK;
  std::wstring description_;
  SCODE scode_ = S_OK;
  std::vector<RecordedInvoke> calls_;
};

// Outlook's Application as the add-in gets it in OnConnection: held (one reference of the host's
// own to begin with), never used. Any call but AddRef and Release fails the running test.
class HeldApplication final : public IDispatch, public RefCounted {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    ADD_FAILURE() << "the add-in called QueryInterface on the Application";
    if (object) *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Unexpected("GetTypeInfoCount"); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Unexpected("GetTypeInfo"); }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return Unexpected("GetIDsOfNames");
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return Unexpected("Invoke");
  }

 private:
  static HRESULT Unexpected(const char* member) {
    ADD_FAILURE() << "the add-in called " << member << " on the Application";
    return E_NOTIMPL;
  }
};

// An event source: IConnectionPointContainer with one IConnectionPoint for eventIid.
class FakeEventSource : public IConnectionPointContainer, public IConnectionPoint, public RefCounted {
 public:
  explicit FakeEventSource(const IID& eventIid) : eventIid_(eventIid) {}
  ~FakeEventSource() {
    if (sink_) sink_->Release();
  }

  bool offerContainer = true;
  bool offerPoint = true;
  HRESULT adviseResult = S_OK;
  HRESULT unadviseResult = S_OK;

  IUnknown* Sink() const { return sink_; }
  IUnknown* AsUnknown() { return static_cast<IConnectionPointContainer*>(this); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || (offerContainer && IsEqualIID(iid, IID_IConnectionPointContainer))) {
      *object = static_cast<IConnectionPointContainer*>(this);
    } else if (IsEqualIID(iid, IID_IConnectionPoint)) {
      *object = static_cast<IConnectionPoint*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    *point = nullptr;
    if (!offerPoint || !IsEqualIID(iid, eventIid_)) return CONNECT_E_NOCONNECTION;
    *point = this;
    AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    *iid = eventIid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override {
    *container = this;
    AddRef();
    return S_OK;
  }
  // Takes the sink's event interface as a real connection point does.
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (FAILED(adviseResult)) return adviseResult;
    if (sink_) return CONNECT_E_ADVISELIMIT;
    IUnknown* events = nullptr;
    if (FAILED(sink->QueryInterface(eventIid_, reinterpret_cast<void**>(&events)))) return CONNECT_E_CANNOTCONNECT;
    sink_ = events;
    *cookie = 7;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    if (FAILED(unadviseResult)) return unadviseResult;
    if (!sink_ || cookie != 7) return CONNECT_E_NOCONNECTION;
    sink_->Release();
    sink_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

 private:
  IID eventIid_;
  IUnknown* sink_ = nullptr;
};

}  // namespace outlook_double
