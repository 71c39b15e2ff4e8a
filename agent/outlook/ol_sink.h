#pragma once
// The sink for Outlook's application events (ApplicationEvents). Outlook's connection point asks
// it for the event interface and gets its IDispatch, so each event arrives as IDispatch::Invoke
// with the event's DISPID; the dispatch map binds Reminder (0xF004) to OnReminder and answers
// every other DISPID with DISP_E_MEMBERNOTFOUND.
#include <windows.h>
#include <oleauto.h>

#include "common/win/com_ptr.h"
#include "agent/framework/dispatch_target.h"

// {0006304E-0000-0000-C000-000000000046}
extern const IID IID_ApplicationEvents;

class COlSink : public fw::AutomationTarget {
 public:
  COlSink();
  ~COlSink() override;

  // For dynamic creation; the program itself uses only theSink.
  static COlSink* CreateObject();

  // Connects to the ApplicationEvents connection point of source (Outlook's Application) and
  // keeps a reference to source until Unadvise. TRUE when the connection point accepted; when it
  // refused, the sink keeps nothing of source.
  BOOL Advise(LPUNKNOWN source);
  // Disconnects and releases the source. Does nothing when not advised.
  void Unadvise();

  // Reminder (DISPID 0xF004): item is Outlook's item whose reminder is due, lent for the call.
  void OnReminder(LPDISPATCH item);

  LPUNKNOWN Source() const { return m_pSource.get(); }
  DWORD Cookie() const { return m_dwCookie; }

 protected:
  void OnFinalRelease() override;
  const fw::DispatchMap* GetDispatchMap() const override;
  const fw::InterfaceMap* GetInterfaceMap() const override;

 private:
  win::ComPtr<IUnknown> m_pSource;
  DWORD m_dwCookie = 0;
};

// The program's one sink. Its reference count never reaches zero: Advise takes its IDispatch
// with a reference that is never given back, and the connection point's reference is returned
// at once, so nothing ever tries to delete the static object.
extern COlSink theSink;
