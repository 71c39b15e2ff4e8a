#include "agent/outlook/ol_sink.h"

#include "agent/framework/ole.h"

const IID IID_ApplicationEvents = {0x0006304E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {
constexpr DISPID kDispidReminder = 0xF004;
}  // namespace

COlSink theSink;

COlSink::COlSink() { EnableAutomation(); }

COlSink::~COlSink() = default;

COlSink* COlSink::CreateObject() { return new COlSink; }

void COlSink::OnFinalRelease() { AutomationTarget::OnFinalRelease(); }

const fw::DispatchMap* COlSink::GetDispatchMap() const {
  static const fw::DispatchEntry kEntries[] = {
      fw::DispatchFunction<&COlSink::OnReminder>("Reminder", kDispidReminder, VT_EMPTY, VTS_DISPATCH),
      fw::kEndOfDispatchMap,
  };
  static const fw::DispatchMap kMap{AutomationTarget::GetDispatchMap(), kEntries};
  return &kMap;
}

const fw::InterfaceMap* COlSink::GetInterfaceMap() const {
  static const fw::InterfaceEntry kEntries[] = {{&IID_ApplicationEvents}, fw::kEndOfInterfaceMap};
  static const fw::InterfaceMap kMap{AutomationTarget::GetInterfaceMap(), kEntries};
  return &kMap;
}

BOOL COlSink::Advise(LPUNKNOWN source) {
  m_pSource = win::ComPtr<IUnknown>::Retain(source);
  if (AfxConnectionAdvise(source, IID_ApplicationEvents, GetIDispatch(TRUE), FALSE, &m_dwCookie)) return TRUE;
  m_pSource.reset();  // not connected: nothing to undo, nothing of Outlook's to keep
  return FALSE;
}

void COlSink::Unadvise() {
  if (!m_pSource) return;
  AfxConnectionUnadvise(m_pSource.get(), IID_ApplicationEvents, GetIDispatch(FALSE), FALSE, m_dwCookie);
  m_pSource.reset();
}
