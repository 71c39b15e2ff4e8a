#include "agent/framework/ole_connection.h"

#include <ocidl.h>

#include "common/win/com_ptr.h"

namespace {

win::ComPtr<IConnectionPoint> FindConnectionPoint(LPUNKNOWN source, REFIID iid) {
  win::ComPtr<IConnectionPointContainer> container;
  win::ComPtr<IConnectionPoint> point;
  if (!source || FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void()))) return point;
  if (FAILED(container->FindConnectionPoint(iid, point.put()))) point.reset();
  return point;
}

}  // namespace

BOOL AfxConnectionAdvise(LPUNKNOWN source, REFIID iid, LPUNKNOWN sink, BOOL refCount, DWORD* cookie) {
  if (!sink || !cookie) return FALSE;
  const win::ComPtr<IConnectionPoint> point = FindConnectionPoint(source, iid);
  if (!point || FAILED(point->Advise(sink, cookie))) return FALSE;
  if (!refCount) sink->Release();
  return TRUE;
}

BOOL AfxConnectionUnadvise(LPUNKNOWN source, REFIID iid, LPUNKNOWN sink, BOOL refCount, DWORD cookie) {
  if (!sink) return FALSE;
  const win::ComPtr<IConnectionPoint> point = FindConnectionPoint(source, iid);
  if (!point) return FALSE;
  if (!refCount) sink->AddRef();
  if (SUCCEEDED(point->Unadvise(cookie))) return TRUE;
  // The connection point kept its reference: take back the one lent to it.
  if (!refCount) sink->Release();
  return FALSE;
}
