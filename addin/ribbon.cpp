#include "addin/ribbon.h"

#include <cstring>

#include "addin/addin.h"
#include "addin/automation.h"

namespace {

using automation::Failure;

constexpr wchar_t kReminderCallClass[] = L"IPM.Appointment.ReminderCall";
constexpr wchar_t kAppointmentClass[] = L"IPM.Appointment";
constexpr wchar_t kNumberProperty[] = L"notifycall";
constexpr wchar_t kMessageCaption[] = L"Brisomel Addin";

constexpr wchar_t kAppointmentRibbon[] = L"Microsoft.Outlook.Appointment";
constexpr wchar_t kExplorerRibbon[] = L"Microsoft.Outlook.Explorer";
constexpr wchar_t kNamespace2010[] = L"http://schemas.microsoft.com/office/2009/07/customui";
constexpr wchar_t kNamespace2007[] = L"http://schemas.microsoft.com/office/2006/01/customui";
constexpr DISPID kDispidVersion = 0x116;  // Application.Version

// Everything after the customUI element's namespace.
constexpr wchar_t kAppointmentXml[] =
    L"\" onLoad=\"OnRibbonLoad\">"
    L"<ribbon><tabs><tab idMso=\"TabAppointment\">"
    L"<group id=\"BrisomelReminderCallGroup\" label=\"Reminder call\">"
    L"<toggleButton id=\"BrisomelReminderCall\" label=\"Call me at the reminder\""
    L" getPressed=\"GetReminderCallPressed\" onAction=\"OnReminderCallToggle\""
    L" screentip=\"Call me at the reminder\""
    L" supertip=\"When this appointment's reminder comes, Brisomel telephones you and reads out its"
    L" subject, location and notes.\"/>"
    L"<editBox id=\"BrisomelNumber\" label=\"Number to call\" sizeString=\"+00 (000) 000-0000\""
    L" getText=\"GetNumberToCall\" onChange=\"OnNumberToCallChange\" getEnabled=\"GetReminderCallPressed\""
    L" screentip=\"Number to call\""
    L" supertip=\"Leave it empty to be called at your own number, the one in Brisomel's Setup.\"/>"
    L"</group></tab></tabs></ribbon></customUI>";

constexpr wchar_t kExplorerXml[] =
    L"\"><ribbon><tabs><tab idMso=\"TabCalendar\">"
    L"<group id=\"BrisomelNewReminderCallGroup\" label=\"Reminder call\">"
    L"<button id=\"BrisomelNewReminderCall\" label=\"New Reminder Call\" size=\"large\""
    L" imageMso=\"NewAppointment\" onAction=\"OnNewReminderCall\""
    L" screentip=\"New Reminder Call\""
    L" supertip=\"A new appointment whose reminder comes as a telephone call.\"/>"
    L"</group></tab></tabs></ribbon></customUI>";

// The callbacks' DISPIDs; 1 is GetCustomUI, as in Office's type library.
enum : DISPID {
  kDispidGetCustomUI = 1,
  kDispidOnLoad,
  kDispidGetPressed,
  kDispidOnToggle,
  kDispidGetNumber,
  kDispidOnNumberChange,
  kDispidOnNewReminderCall,
};

struct Callback {
  const wchar_t* name;
  DISPID id;
};
constexpr Callback kCallbacks[] = {
    {L"GetCustomUI", kDispidGetCustomUI},
    {L"OnRibbonLoad", kDispidOnLoad},
    {L"GetReminderCallPressed", kDispidGetPressed},
    {L"OnReminderCallToggle", kDispidOnToggle},
    {L"GetNumberToCall", kDispidGetNumber},
    {L"OnNumberToCallChange", kDispidOnNumberChange},
    {L"OnNewReminderCall", kDispidOnNewReminderCall},
};

bool SameText(const wchar_t* a, const wchar_t* b) {
  return a && b && ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// A BSTR argument or result as text; null when the VARIANT holds none.
const wchar_t* TextOf(const VARIANT& value) {
  if (value.vt == VT_BSTR) return value.bstrVal ? value.bstrVal : L"";
  if (value.vt == (VT_BSTR | VT_BYREF) && value.pbstrVal) return *value.pbstrVal ? *value.pbstrVal : L"";
  return nullptr;
}

bool TrueOf(const VARIANT& value) {
  if (value.vt == VT_BOOL) return value.boolVal != VARIANT_FALSE;
  if (value.vt == (VT_BOOL | VT_BYREF)) return value.pboolVal && *value.pboolVal != VARIANT_FALSE;
  return false;
}

// Appends `text` to the buffer as far as it fits; the buffer stays terminated.
void Append(wchar_t* buffer, size_t size, const wchar_t* text) {
  size_t at = 0;
  while (at + 1 < size && buffer[at]) ++at;
  for (; text && *text && at + 1 < size; ++text) buffer[at++] = *text;
  buffer[at] = 0;
}

// The user clicked and it did not work: said at once, with Outlook's reason when it gave one.
void Tell(const wchar_t* what, const Failure& failure) {
  wchar_t text[640] = {};
  Append(text, 640, what);
  if (failure.description && *failure.description) {
    Append(text, 640, L"\r\n\r\n");
    Append(text, 640, failure.description);
  }
  ::MessageBoxW(nullptr, text, kMessageCaption, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

// The appointment open in the control's window: Context is the inspector, CurrentItem its item.
HRESULT ItemOf(const VARIANT& control, win::ComPtr<IDispatch>* item, Failure* failure) {
  win::ComPtr<IDispatch> ribbonControl = automation::DispatchOf(control);
  if (!ribbonControl) return E_INVALIDARG;
  win::ComPtr<IDispatch> inspector;
  HRESULT hr = automation::GetObjectProperty(ribbonControl.get(), automation::kDispidControlContext,
                                             &inspector, failure);
  if (FAILED(hr)) return hr;
  if (!inspector) return E_UNEXPECTED;
  hr = automation::GetObjectProperty(inspector.get(), automation::kDispidCurrentItem, item, failure);
  if (SUCCEEDED(hr) && !*item) hr = E_UNEXPECTED;
  return hr;
}

HRESULT IsReminderCall(IDispatch* item, bool* marked, Failure* failure) {
  win::Variant messageClass;
  const HRESULT hr = automation::Get(item, automation::kDispidMessageClass, messageClass.put(), failure);
  if (FAILED(hr)) return hr;
  *marked = SameText(TextOf(*messageClass.get()), kReminderCallClass);
  return S_OK;
}

HRESULT UserPropertiesOf(IDispatch* item, win::ComPtr<IDispatch>* properties, Failure* failure) {
  const HRESULT hr = automation::GetObjectProperty(item, automation::kDispidUserProperties, properties, failure);
  return SUCCEEDED(hr) && !*properties ? E_UNEXPECTED : hr;
}

// The item's "notifycall" property; null when it has none.
HRESULT FindNumber(IDispatch* properties, win::ComPtr<IDispatch>* number, Failure* failure) {
  win::Variant name;
  name.get()->vt = VT_BSTR;
  name.get()->bstrVal = ::SysAllocString(kNumberProperty);
  if (!name.get()->bstrVal) return E_OUTOFMEMORY;
  win::Variant found;
  const HRESULT hr = automation::Call(properties, automation::kDispidUserPropertiesFind,
                                      DISPATCH_METHOD, name.get(), 1, found.put(), failure);
  if (FAILED(hr)) return hr;
  *number = automation::DispatchOf(*found.get());
  return S_OK;
}

// The item's "notifycall" property, made (a text property) when it has none.
HRESULT NumberOf(IDispatch* item, win::ComPtr<IDispatch>* number, Failure* failure) {
  win::ComPtr<IDispatch> properties;
  HRESULT hr = UserPropertiesOf(item, &properties, failure);
  if (SUCCEEDED(hr)) hr = FindNumber(properties.get(), number, failure);
  if (FAILED(hr) || *number) return hr;
  VARIANT args[2];
  args[0].vt = VT_BSTR;
  args[0].bstrVal = ::SysAllocString(kNumberProperty);
  args[1].vt = VT_I4;
  args[1].lVal = automation::kOlText;
  if (!args[0].bstrVal) return E_OUTOFMEMORY;
  win::Variant added;
  hr = automation::Call(properties.get(), automation::kDispidUserPropertiesAdd, DISPATCH_METHOD, args, 2,
                        added.put(), failure);
  ::SysFreeString(args[0].bstrVal);
  if (FAILED(hr)) return hr;
  *number = automation::DispatchOf(*added.get());
  return *number ? S_OK : E_UNEXPECTED;
}

// Makes the item a reminder call: its class, its reminder on (at the minutes the user chose)
// and the property for the number. A number it had is kept.
HRESULT MarkAsReminderCall(IDispatch* item, Failure* failure) {
  HRESULT hr = automation::PutText(item, automation::kDispidMessageClass, kReminderCallClass, failure);
  if (FAILED(hr)) return hr;
  VARIANT on;
  on.vt = VT_BOOL;
  on.boolVal = VARIANT_TRUE;
  hr = automation::Put(item, automation::kDispidReminderSet, on, failure);
  if (FAILED(hr)) return hr;
  win::ComPtr<IDispatch> number;
  return NumberOf(item, &number, failure);
}

// Major version of Outlook, 0 when it does not say.
int MajorVersion(IDispatch* application) {
  win::Variant version;
  if (!application || FAILED(automation::Get(application, kDispidVersion, version.put(), nullptr))) return 0;
  const wchar_t* text = TextOf(*version.get());
  int major = 0;
  for (; text && *text >= L'0' && *text <= L'9' && major < 1000; ++text) major = major * 10 + (*text - L'0');
  return major;
}

BSTR ComposeXml(const wchar_t* ns, const wchar_t* rest) {
  constexpr wchar_t kHead[] = L"<customUI xmlns=\"";
  const size_t head = sizeof kHead / sizeof(wchar_t) - 1;
  const size_t nsLength = static_cast<size_t>(::lstrlenW(ns));
  const size_t restLength = static_cast<size_t>(::lstrlenW(rest));
  BSTR xml = ::SysAllocStringLen(nullptr, static_cast<UINT>(head + nsLength + restLength));
  if (!xml) return nullptr;
  std::memcpy(xml, kHead, head * sizeof(wchar_t));
  std::memcpy(xml + head, ns, nsLength * sizeof(wchar_t));
  std::memcpy(xml + head + nsLength, rest, (restLength + 1) * sizeof(wchar_t));
  return xml;
}

}  // namespace

HRESULT RibbonServer::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (SameGuid(riid, kIidIRibbonExtensibility) || SameGuid(riid, kIidIDispatch)) {
    *ppv = static_cast<IRibbonExtensibility*>(this);
    AddRef();
    return S_OK;
  }
  return m_owner->QueryInterface(riid, ppv);
}

ULONG RibbonServer::AddRef() { return m_owner->AddRef(); }
ULONG RibbonServer::Release() { return m_owner->Release(); }

HRESULT RibbonServer::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT RibbonServer::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT RibbonServer::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    // Only the first name is a member: the callbacks take no named arguments.
    for (const Callback& callback : kCallbacks) {
      if (i == 0 && SameText(names[0], callback.name)) ids[i] = callback.id;
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT RibbonServer::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO*, UINT*) {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const DISPPARAMS& p = params ? *params : none;
  if (p.cArgs > 0 && !p.rgvarg) return E_INVALIDARG;
  if (p.cNamedArgs > 0) return DISP_E_NONAMEDARGS;
  // The arguments arrive last first: rgvarg[cArgs - 1] is the control.
  auto argument = [&](UINT index) -> const VARIANT& { return p.rgvarg[p.cArgs - 1 - index]; };
  VARIANT ignored;
  VARIANT* out = result ? result : &ignored;
  ::VariantInit(out);
  UINT expected = 1;
  switch (member) {
    case kDispidOnToggle:
    case kDispidOnNumberChange: expected = 2; break;
    default: break;
  }
  if (member < kDispidGetCustomUI || member > kDispidOnNewReminderCall) return DISP_E_MEMBERNOTFOUND;
  if (p.cArgs != expected) return DISP_E_BADPARAMCOUNT;
  HRESULT hr = E_FAIL;
  switch (member) {
    case kDispidGetCustomUI: {
      const wchar_t* id = TextOf(argument(0));
      if (!id) return DISP_E_TYPEMISMATCH;
      BSTR xml = nullptr;
      hr = GetCustomUI(const_cast<BSTR>(id), &xml);
      if (SUCCEEDED(hr)) {
        out->vt = VT_BSTR;
        out->bstrVal = xml;
      }
      break;
    }
    case kDispidOnLoad: hr = OnLoad(argument(0)); break;
    case kDispidGetPressed: hr = GetPressed(argument(0), out); break;
    case kDispidOnToggle: hr = OnToggle(argument(0), argument(1)); break;
    case kDispidGetNumber: hr = GetNumber(argument(0), out); break;
    case kDispidOnNumberChange: hr = OnNumberChange(argument(0), argument(1)); break;
    case kDispidOnNewReminderCall: hr = OnNewReminderCall(); break;
    default: break;
  }
  if (out == &ignored) ::VariantClear(&ignored);
  return hr;
}

HRESULT RibbonServer::GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) {
  if (!RibbonXml) return E_POINTER;
  *RibbonXml = nullptr;
  const wchar_t* rest = SameText(RibbonID, kAppointmentRibbon) ? kAppointmentXml
                        : SameText(RibbonID, kExplorerRibbon)  ? kExplorerXml
                                                               : nullptr;
  if (!rest) return S_OK;  // nothing for the other windows
  const int major = MajorVersion(m_pApplication.get());
  *RibbonXml = ComposeXml(major == 12 ? kNamespace2007 : kNamespace2010, rest);
  return *RibbonXml ? S_OK : E_OUTOFMEMORY;
}

HRESULT RibbonServer::OnLoad(const VARIANT& ribbon) {
  m_pRibbonUI = automation::DispatchOf(ribbon);
  return m_pRibbonUI ? S_OK : E_INVALIDARG;
}

HRESULT RibbonServer::GetPressed(const VARIANT& control, VARIANT* result) {
  win::ComPtr<IDispatch> item;
  bool marked = false;
  HRESULT hr = ItemOf(control, &item, nullptr);
  if (SUCCEEDED(hr)) hr = IsReminderCall(item.get(), &marked, nullptr);
  if (FAILED(hr)) return hr;
  result->vt = VT_BOOL;
  result->boolVal = marked ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// The item changes as by the user's own edit and is not saved here: the user saves it (or
// closes the window without saving and so takes the change back), as with every other field.
HRESULT RibbonServer::OnToggle(const VARIANT& control, const VARIANT& pressed) {
  const bool on = TrueOf(pressed);
  Failure failure;
  win::ComPtr<IDispatch> item;
  HRESULT hr = ItemOf(control, &item, &failure);
  if (SUCCEEDED(hr)) {
    hr = on ? MarkAsReminderCall(item.get(), &failure)
            : automation::PutText(item.get(), automation::kDispidMessageClass, kAppointmentClass, &failure);
  }
  item.reset();
  InvalidateItemControls();
  if (FAILED(hr)) {
    Tell(on ? L"Cannot make this appointment a reminder call." : L"Cannot make this appointment a plain one again.",
         failure);
  }
  return hr;
}

HRESULT RibbonServer::GetNumber(const VARIANT& control, VARIANT* result) {
  win::ComPtr<IDispatch> item;
  win::ComPtr<IDispatch> properties;
  win::ComPtr<IDispatch> number;
  HRESULT hr = ItemOf(control, &item, nullptr);
  if (SUCCEEDED(hr)) hr = UserPropertiesOf(item.get(), &properties, nullptr);
  if (SUCCEEDED(hr)) hr = FindNumber(properties.get(), &number, nullptr);
  if (FAILED(hr)) return hr;
  win::Variant value;
  if (number) {
    hr = automation::Get(number.get(), automation::kDispidValue, value.put(), nullptr);
    if (FAILED(hr)) return hr;
  }
  // A number stored as something other than text is shown as text; nothing shows as empty.
  if (value.vt() != VT_BSTR && FAILED(::VariantChangeType(value.get(), value.get(), 0, VT_BSTR))) {
    value.put();
  }
  result->vt = VT_BSTR;
  result->bstrVal = ::SysAllocString(value.vt() == VT_BSTR && value.get()->bstrVal ? value.get()->bstrVal : L"");
  return result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT RibbonServer::OnNumberChange(const VARIANT& control, const VARIANT& text) {
  const wchar_t* typed = TextOf(text);
  if (!typed) return DISP_E_TYPEMISMATCH;
  // Blanks around a pasted number are no part of it.
  while (*typed == L' ' || *typed == L'\t') ++typed;
  size_t length = static_cast<size_t>(::lstrlenW(typed));
  while (length > 0 && (typed[length - 1] == L' ' || typed[length - 1] == L'\t')) --length;
  win::Variant value;
  value.get()->vt = VT_BSTR;
  value.get()->bstrVal = ::SysAllocStringLen(typed, static_cast<UINT>(length));
  if (!value.get()->bstrVal) return E_OUTOFMEMORY;

  Failure failure;
  win::ComPtr<IDispatch> item;
  win::ComPtr<IDispatch> number;
  HRESULT hr = ItemOf(control, &item, &failure);
  if (SUCCEEDED(hr)) hr = NumberOf(item.get(), &number, &failure);
  if (SUCCEEDED(hr)) hr = automation::Put(number.get(), automation::kDispidValue, *value.get(), &failure);
  number.reset();
  item.reset();
  Invalidate(kNumberBoxId);
  if (FAILED(hr)) Tell(L"Cannot keep the number to call.", failure);
  return hr;
}

HRESULT RibbonServer::OnNewReminderCall() {
  Failure failure;
  HRESULT hr = m_pApplication ? S_OK : E_UNEXPECTED;
  VARIANT type;
  type.vt = VT_I4;
  type.lVal = automation::kOlAppointmentItem;
  win::Variant created;
  if (SUCCEEDED(hr)) {
    hr = automation::Call(m_pApplication.get(), automation::kDispidCreateItem, DISPATCH_METHOD, &type, 1,
                          created.put(), &failure);
  }
  win::ComPtr<IDispatch> item = automation::DispatchOf(*created.get());
  if (SUCCEEDED(hr) && !item) hr = E_UNEXPECTED;
  if (SUCCEEDED(hr)) hr = MarkAsReminderCall(item.get(), &failure);
  if (SUCCEEDED(hr)) {
    hr = automation::Call(item.get(), automation::kDispidDisplay, DISPATCH_METHOD, nullptr, 0, nullptr, &failure);
  }
  if (FAILED(hr)) Tell(L"Cannot make a new reminder call appointment.", failure);
  return hr;
}

void RibbonServer::InvalidateItemControls() {
  Invalidate(kReminderCallToggleId);
  Invalidate(kNumberBoxId);
}

void RibbonServer::Invalidate(const wchar_t* controlId) {
  if (!m_pRibbonUI) return;
  VARIANT id;
  id.vt = VT_BSTR;
  id.bstrVal = ::SysAllocString(controlId);
  if (!id.bstrVal) return;
  automation::Call(m_pRibbonUI.get(), automation::kDispidInvalidateControl, DISPATCH_METHOD, &id, 1, nullptr, nullptr);
  ::SysFreeString(id.bstrVal);
}
