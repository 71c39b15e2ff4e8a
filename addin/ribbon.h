#pragma once
// The add-in's ribbon (Outlook 2007 and later): a "Reminder call" group on the appointment
// window's Appointment tab (a toggle "Call me at the reminder" and the number to call) and a
// "New Reminder Call" button on the calendar's Home tab.
//
// Office asks the add-in object for IRibbonExtensibility, calls GetCustomUI for each ribbon id,
// then calls the callbacks the XML names through the IDispatch of the object it was given: by
// name (GetIDsOfNames), then Invoke. That object is RibbonServer, an object of its own with its
// own IDispatch, so that the add-in object's IDispatch stays without members; it lives inside the
// add-in object and shares its reference count and identity (QueryInterface for anything else,
// IUnknown included, is answered by the add-in object).
//
// The ribbon works only through the Application Outlook handed to OnConnection and the
// controls' Context (the inspector, whose CurrentItem is the appointment). It keeps no item and
// no inspector beyond a callback; it keeps the IRibbonUI from onLoad until the add-in is
// disconnected.
#include <windows.h>
#include <oaidl.h>

#include "common/win/com_ptr.h"

// {000C0396-0000-0000-C000-000000000046}
inline constexpr IID kIidIRibbonExtensibility = {
    0x000C0396, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Office's IRibbonExtensibility: an IDispatch whose slot 7 is GetCustomUI (DISPID 1).
struct IRibbonExtensibility : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;
};

// The control ids Office reports back in IRibbonControl.Id and the add-in invalidates.
inline constexpr wchar_t kReminderCallToggleId[] = L"BrisomelReminderCall";
inline constexpr wchar_t kNumberBoxId[] = L"BrisomelNumber";
inline constexpr wchar_t kNewReminderCallId[] = L"BrisomelNewReminderCall";

class RibbonServer final : public IRibbonExtensibility {
 public:
  // `owner` is the add-in object this one lives in; `application` the Application it holds from
  // OnConnection to OnDisconnection (null outside), which the ribbon borrows.
  RibbonServer(IUnknown* owner, const win::ComPtr<IDispatch>& application)
      : owner_(owner), m_pApplication(application) {}
  RibbonServer(const RibbonServer&) = delete;
  RibbonServer& operator=(const RibbonServer&) = delete;

  // At OnDisconnection: lets go of the IRibbonUI.
  void Disconnect() { ribbonUi_.reset(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  // The callbacks by the names the ribbon XML gives them (case-insensitively).
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  // The XML for the appointment window and for the main window; none (a null BSTR) for other
  // ribbons. Outlook 2007 (version 12) knows only the 2006 customUI namespace.
  HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) override;

 private:
  HRESULT OnLoad(const VARIANT& ribbon);
  HRESULT GetPressed(const VARIANT& control, VARIANT* result);
  HRESULT GetToggleEnabled(const VARIANT& control, VARIANT* result);
  HRESULT OnToggle(const VARIANT& control, const VARIANT& pressed);
  HRESULT GetNumber(const VARIANT& control, VARIANT* result);
  HRESULT GetNumberEnabled(const VARIANT& control, VARIANT* result);
  HRESULT GetNumberTip(const VARIANT& control, VARIANT* result);
  HRESULT OnNumberChange(const VARIANT& control, const VARIANT& text);
  HRESULT OnNewReminderCall();
  // After the add-in changed the open item: Office asks the controls again.
  void InvalidateItemControls();
  void Invalidate(const wchar_t* controlId);

  IUnknown* owner_;
  const win::ComPtr<IDispatch>& m_pApplication;
  win::ComPtr<IDispatch> ribbonUi_;  // from onLoad
};
