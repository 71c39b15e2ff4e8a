#include "tests/system/sim_gate.h"

#include <cstdio>

#include "tests/system/log_follower.h"

namespace systemtest {
namespace {

// Outlook's ApplicationEvents dispinterface.
const IID kIidApplicationEvents = {0x0006304E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

HRESULT QuietSink::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kIidApplicationEvents)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG QuietSink::AddRef() { return static_cast<ULONG>(++refs_); }

ULONG QuietSink::Release() {
  const long left = --refs_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT QuietSink::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}
HRESULT QuietSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT QuietSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return DISP_E_UNKNOWNNAME; }
HRESULT QuietSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  if (id == 0xF004) times_.push_back(NowMs());
  return S_OK;
}

bool SimGate::Attach() {
  if (point_) return true;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(L"Outlook.Application", &clsid);
  if (FAILED(hr)) {
    error_ = "CLSIDFromProgID " + Hex(hr);
    return false;
  }
  win::ComPtr<IConnectionPointContainer> container;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IConnectionPointContainer, container.put_void());
  if (FAILED(hr)) {
    error_ = "CoCreateInstance " + Hex(hr);
    return false;
  }
  hr = container->FindConnectionPoint(kIidApplicationEvents, point_.put());
  if (FAILED(hr)) {
    error_ = "FindConnectionPoint " + Hex(hr);
    return false;
  }
  return true;
}

bool SimGate::Open(QuietSink** opened) {
  auto* sink = new QuietSink;
  const bool advised = AdviseSink(sink);
  if (advised && opened) *opened = sink;
  sink->Release();  // the gate keeps its own reference
  return advised;
}

bool SimGate::AdviseSink(IDispatch* sink) {
  if (count_ == static_cast<int>(sizeof advised_ / sizeof advised_[0])) {
    error_ = "too many gates";
    return false;
  }
  if (!Attach()) return false;
  DWORD cookie = 0;
  const HRESULT hr = point_->Advise(sink, &cookie);
  if (FAILED(hr)) {
    error_ = "Advise " + Hex(hr);
    return false;
  }
  sink->AddRef();
  advised_[count_++] = {cookie, sink};
  return true;
}

void SimGate::Close() {
  for (int i = 0; i < count_; ++i) {
    if (point_) point_->Unadvise(advised_[i].cookie);
    advised_[i].sink->Release();
  }
  count_ = 0;
  point_.reset();
}

void SimGate::Abandon() {
  // The proxy's release goes nowhere once the server is gone; COM answers it locally.
  for (int i = 0; i < count_; ++i) advised_[i].sink->Release();
  count_ = 0;
  point_.reset();
}

}  // namespace systemtest
