#pragma once
// Connecting an event sink to a connection point of an event source.
#include <windows.h>
#include <ole2.h>

// Finds the source's connection point for iid (IConnectionPointContainer::FindConnectionPoint)
// and advises the sink on it, storing the cookie in *cookie. With refCount FALSE the reference
// the connection point took on the sink is given back at once, so the connection does not keep
// the sink alive. TRUE only when the container, the connection point and the advice all succeed.
BOOL AfxConnectionAdvise(LPUNKNOWN source, REFIID iid, LPUNKNOWN sink, BOOL refCount, DWORD* cookie);

// Undoes AfxConnectionAdvise for the same source, iid, sink and refCount. With refCount FALSE
// the sink gets back the reference the connection point is about to release.
BOOL AfxConnectionUnadvise(LPUNKNOWN source, REFIID iid, LPUNKNOWN sink, BOOL refCount, DWORD cookie);
