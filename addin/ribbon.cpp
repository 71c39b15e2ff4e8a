#include "addin/ribbon.h"

#include <cstring>

#include "addin/addin.h"
#include "addin/automation.h"
#include "common/outlook_members.h"
#include "common/reminder_call_item.h"

namespace {

using automation::CallFailure;

using reminder_call::NumberKind;

constexpr const wchar_t* kReminderCallClass = reminder_call::kMessageClassW;
constexpr const wchar_t* kAppointmentClass = reminder_call::kAppointmentClassW;
constexpr const wchar_t* kNumberProperty = reminder_call::kNumberPropertyW;
// Our own property on a marked item: the message class it had before (a custom form's, say), which
// unmarking gives back. Not added to the folder's fields.
constexpr wchar_t kFormerClassProperty[] = L"BrisomelFormerClass";
constexpr wchar_t kMessageCaption[] = L"Brisomel Addin";

constexpr wchar_t kNumberTip[] = L"Leave it empty to be called at your own number, the one in Brisomel's Setup.";
constexpr wchar_t kNumberNotTextTip[] =
    L"This appointment's \"notifycall\" field is not a text field (a form made it a number, a date or"
    L" the like), so Brisomel calls your own number, the one in Brisomel's Setup. To have another"
    L" number called, make \"notifycall\" a Text field in the form.";
constexpr wchar_t kNotAnAppointment[] = L"Only appointments can be reminder calls.";
// What marking answers for an item that is no appointment (told as kNotAnAppointment).
constexpr HRESULT kNoAppointment = E_NOTIMPL;
constexpr wchar_t kNotTakenBack[] =
    L"Outlook did not take back what had already changed: close the appointment without saving it.";

constexpr wchar_t kAppointmentRibbon[] = L"Microsoft.Outlook.Appointment";
constexpr wchar_t kExplorerRibbon[] = L"Microsoft.Outlook.Explorer";
constexpr wchar_t kNamespace2010[] = L"http://schemas.microsoft.com/office/2009/07/customui";
constexpr wchar_t kNamespace2007[] = L"http://schemas.microsoft.com/office/2006/01/customui";

// Everything after the customUI element's namespace.
constexpr wchar_t kAppointmentXml[] =
    L"\" onLoad=\"OnRibbonLoad\">"
    L"<ribbon><tabs><tab idMso=\"TabAppointment\">"
    L"<group id=\"BrisomelReminderCallGroup\" label=\"Reminder call\">"
    L"<toggleButton id=\"BrisomelReminderCall\" label=\"Call me at the reminder\""
    L" getPressed=\"GetReminderCallPressed\" getEnabled=\"GetReminderCallEnabled\""
    L" onAction=\"OnReminderCallToggle\""
    L" screentip=\"Call me at the reminder\""
    L" supertip=\"When this appointment's reminder comes, Brisomel telephones you and reads out its"
    L" subject, location and notes.\"/>"
    L"<editBox id=\"BrisomelNumber\" label=\"Number to call\" sizeString=\"+00 (000) 000-0000\""
    L" getText=\"GetNumberToCall\" onChange=\"OnNumberToCallChange\" getEnabled=\"GetNumberToCallEnabled\""
    L" screentip=\"Number to call\" getSupertip=\"GetNumberToCallTip\"/>"
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
  kDispidGetToggleEnabled,
  kDispidGetNumberEnabled,
  kDispidGetNumberTip,
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
    {L"GetReminderCallEnabled", kDispidGetToggleEnabled},
    {L"GetNumberToCallEnabled", kDispidGetNumberEnabled},
    {L"GetNumberToCallTip", kDispidGetNumberTip},
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

// A message class read from the item is the reminder call's: by the agent's rule, on the whole
// BSTR (a NUL inside is part of it).
bool IsReminderCallValue(const VARIANT& value) {
  return value.vt == VT_BSTR && value.bstrVal &&
         reminder_call::IsReminderCallClass(value.bstrVal, ::SysStringLen(value.bstrVal));
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

// The user clicked and it did not work: said at once, with the reason (Outlook's, when it gave
// one) and, when part of the change stayed, what to do about it.
void Tell(const wchar_t* what, const wchar_t* reason, const wchar_t* advice) {
  wchar_t text[1024] = {};
  Append(text, 1024, what);
  const wchar_t* const parts[] = {reason, advice};
  for (const wchar_t* more : parts) {
    if (!more || !*more) continue;
    Append(text, 1024, L"\r\n\r\n");
    Append(text, 1024, more);
  }
  ::MessageBoxW(nullptr, text, kMessageCaption, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

// The appointment open in the control's window: Context is the inspector, CurrentItem its item.
HRESULT ItemOf(const VARIANT& control, win::ComPtr<IDispatch>* item, CallFailure* failure) {
  win::ComPtr<IDispatch> ribbonControl = automation::DispatchOf(control);
  if (!ribbonControl) return E_INVALIDARG;
  win::ComPtr<IDispatch> inspector;
  HRESULT hr = automation::GetObjectProperty(ribbonControl.get(), automation::kDispidControlContext,
                                             &inspector, failure);
  if (FAILED(hr)) return hr;
  if (!inspector) return E_UNEXPECTED;
  hr = automation::GetObjectProperty(inspector.get(), ol::kCurrentItem, item, failure);
  if (SUCCEEDED(hr) && !*item) hr = E_UNEXPECTED;
  return hr;
}

HRESULT IsReminderCall(IDispatch* item, bool* marked, CallFailure* failure) {
  win::Variant messageClass;
  const HRESULT hr = automation::Get(item, ol::kMessageClass, messageClass.put(), failure);
  if (FAILED(hr)) return hr;
  *marked = IsReminderCallValue(*messageClass.get());
  return S_OK;
}

// Only an appointment (its Class olAppointment) can be a reminder call.
HRESULT IsAppointment(IDispatch* item, bool* appointment, CallFailure* failure) {
  win::Variant olClass;
  const HRESULT hr = automation::Get(item, ol::kClass, olClass.put(), failure);
  if (FAILED(hr)) return hr;
  *appointment = SUCCEEDED(::VariantChangeType(olClass.get(), olClass.get(), 0, VT_I4)) &&
                 olClass.get()->lVal == reminder_call::kOlAppointment;
  return S_OK;
}

HRESULT UserPropertiesOf(IDispatch* item, win::ComPtr<IDispatch>* properties, CallFailure* failure) {
  const HRESULT hr = automation::GetObjectProperty(item, ol::kUserProperties, properties, failure);
  return SUCCEEDED(hr) && !*properties ? E_UNEXPECTED : hr;
}

HRESULT TextArgument(const wchar_t* text, VARIANT* argument) {
  argument->vt = VT_BSTR;
  argument->bstrVal = ::SysAllocString(text);
  return argument->bstrVal ? S_OK : E_OUTOFMEMORY;
}

// The item's user property called name; null when it has none.
HRESULT FindProperty(IDispatch* properties, const wchar_t* name, win::ComPtr<IDispatch>* found, CallFailure* failure) {
  win::Variant nameArgument;
  HRESULT hr = TextArgument(name, nameArgument.get());
  if (FAILED(hr)) return hr;
  win::Variant result;
  hr = automation::Call(properties, ol::kFind, DISPATCH_METHOD, nameArgument.get(), 1,
                        result.put(), failure);
  if (SUCCEEDED(hr)) *found = automation::DispatchOf(*result.get());
  return hr;
}

// A new text property called name. addToFolderFields false: a property of our own, which the
// folder's field list is not to show.
HRESULT AddTextProperty(IDispatch* properties, const wchar_t* name, bool addToFolderFields,
                        win::ComPtr<IDispatch>* added, CallFailure* failure) {
  win::Variant args[3];
  HRESULT hr = TextArgument(name, args[0].get());
  if (FAILED(hr)) return hr;
  args[1].get()->vt = VT_I4;
  args[1].get()->lVal = ol::kOlText;
  args[2].get()->vt = VT_BOOL;
  args[2].get()->boolVal = VARIANT_FALSE;
  VARIANT lent[3] = {*args[0].get(), *args[1].get(), *args[2].get()};
  win::Variant result;
  hr = automation::Call(properties, ol::kAdd, DISPATCH_METHOD, lent,
                        addToFolderFields ? 2 : 3, result.put(), failure);
  if (FAILED(hr)) return hr;
  *added = automation::DispatchOf(*result.get());
  return *added ? S_OK : E_UNEXPECTED;
}

HRESULT DeleteProperty(IDispatch* property, CallFailure* failure) {
  return automation::Call(property, ol::kDelete, DISPATCH_METHOD, nullptr, 0, nullptr, failure);
}

// The item's "notifycall" property (null when it has none) and what its value gives, by the rule
// the agent calls by.
HRESULT NumberOf(IDispatch* item, win::ComPtr<IDispatch>* property, NumberKind* kind, win::Variant* value,
                 CallFailure* failure) {
  win::ComPtr<IDispatch> properties;
  HRESULT hr = UserPropertiesOf(item, &properties, failure);
  if (SUCCEEDED(hr)) hr = FindProperty(properties.get(), kNumberProperty, property, failure);
  if (SUCCEEDED(hr) && *property) {
    hr = automation::Get(property->get(), ol::kValue, value->put(), failure);
  }
  if (FAILED(hr)) return hr;
  *kind = reminder_call::NumberKindOf(static_cast<bool>(*property), value->vt());
  return S_OK;
}

// The item's "notifycall" property, made (a text property) when it has none.
HRESULT NumberPropertyOf(IDispatch* item, win::ComPtr<IDispatch>* number, CallFailure* failure) {
  win::ComPtr<IDispatch> properties;
  HRESULT hr = UserPropertiesOf(item, &properties, failure);
  if (SUCCEEDED(hr)) hr = FindProperty(properties.get(), kNumberProperty, number, failure);
  if (FAILED(hr) || *number) return hr;
  return AddTextProperty(properties.get(), kNumberProperty, true, number, failure);
}

HRESULT PutBool(IDispatch* item, DISPID member, bool on, CallFailure* failure) {
  VARIANT value;
  value.vt = VT_BOOL;
  value.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
  return automation::Put(item, member, value, failure);
}

// A message class that unmarking may give back: an appointment's ("IPM.Appointment", or a custom
// form's "IPM.Appointment.<name>"), never the reminder call's own.
bool IsAppointmentClass(const wchar_t* text) {
  if (!text || reminder_call::IsReminderCallClass(text, static_cast<size_t>(::lstrlenW(text)))) return false;
  const int length = ::lstrlenW(kAppointmentClass);
  if (::lstrlenW(text) < length ||
      ::CompareStringOrdinal(text, length, kAppointmentClass, length, TRUE) != CSTR_EQUAL) {
    return false;
  }
  return text[length] == 0 || (text[length] == L'.' && text[length + 1] != 0);
}

// Makes the item a reminder call, whole or not at all: it keeps the class it had (as our own
// property), gets the property for the number (a number it had is kept) and its reminder on (at
// the minutes the user chose); the class changes last. When a step fails, the steps done are
// taken back; *restored tells whether that worked.
HRESULT MarkAsReminderCall(IDispatch* item, CallFailure* failure, bool* restored) {
  *restored = true;
  bool appointment = false;
  HRESULT hr = IsAppointment(item, &appointment, failure);
  if (FAILED(hr)) return hr;
  if (!appointment) return kNoAppointment;
  win::Variant messageClass;
  win::Variant reminderSet;
  win::ComPtr<IDispatch> properties;
  win::ComPtr<IDispatch> number;
  win::ComPtr<IDispatch> former;
  hr = automation::Get(item, ol::kMessageClass, messageClass.put(), failure);
  if (SUCCEEDED(hr)) hr = automation::Get(item, ol::kReminderSet, reminderSet.put(), failure);
  if (SUCCEEDED(hr)) hr = UserPropertiesOf(item, &properties, failure);
  if (SUCCEEDED(hr)) hr = FindProperty(properties.get(), kNumberProperty, &number, failure);
  if (SUCCEEDED(hr)) hr = FindProperty(properties.get(), kFormerClassProperty, &former, failure);
  if (FAILED(hr)) return hr;  // nothing changed yet

  const bool keepClass = !IsReminderCallValue(*messageClass.get());
  const bool reminderWasSet = reminderSet.vt() == VT_BOOL && reminderSet.get()->boolVal != VARIANT_FALSE;
  // What this marking changed, in order, for taking it back.
  win::ComPtr<IDispatch> addedFormer;
  win::Variant formerValue;
  bool formerPut = false;
  win::ComPtr<IDispatch> addedNumber;
  bool reminderPut = false;

  if (keepClass) {
    if (former) {
      hr = automation::Get(former.get(), ol::kValue, formerValue.put(), failure);
    } else {
      hr = AddTextProperty(properties.get(), kFormerClassProperty, false, &addedFormer, failure);
      former = addedFormer;
    }
    if (SUCCEEDED(hr)) {
      hr = automation::Put(former.get(), ol::kValue, *messageClass.get(), failure);
      formerPut = SUCCEEDED(hr) && !addedFormer;
    }
  }
  if (SUCCEEDED(hr) && !number) hr = AddTextProperty(properties.get(), kNumberProperty, true, &addedNumber, failure);
  if (SUCCEEDED(hr) && !reminderWasSet) {
    hr = PutBool(item, ol::kReminderSet, true, failure);
    reminderPut = SUCCEEDED(hr);
  }
  if (SUCCEEDED(hr)) hr = automation::PutText(item, ol::kMessageClass, kReminderCallClass, failure);
  if (SUCCEEDED(hr)) return hr;

  // Taken back in reverse order; Outlook's reason for the first failure is what the user reads.
  CallFailure ignored;
  if (reminderPut && FAILED(PutBool(item, ol::kReminderSet, false, &ignored))) *restored = false;
  if (addedNumber && FAILED(DeleteProperty(addedNumber.get(), &ignored))) *restored = false;
  if (addedFormer && FAILED(DeleteProperty(addedFormer.get(), &ignored))) *restored = false;
  if (formerPut && FAILED(automation::Put(former.get(), ol::kValue, *formerValue.get(), &ignored))) {
    *restored = false;
  }
  return hr;
}

// Makes a reminder call a plain appointment again, whole or not at all: the class it had before
// it was marked (or "IPM.Appointment"), and our own property gone. The number and the reminder
// stay, for the next time.
HRESULT UnmarkReminderCall(IDispatch* item, CallFailure* failure, bool* restored) {
  *restored = true;
  win::ComPtr<IDispatch> properties;
  win::ComPtr<IDispatch> former;
  win::Variant formerValue;
  HRESULT hr = UserPropertiesOf(item, &properties, failure);
  if (SUCCEEDED(hr)) hr = FindProperty(properties.get(), kFormerClassProperty, &former, failure);
  if (SUCCEEDED(hr) && former) hr = automation::Get(former.get(), ol::kValue, formerValue.put(), failure);
  if (FAILED(hr)) return hr;
  const wchar_t* kept = TextOf(*formerValue.get());
  hr = automation::PutText(item, ol::kMessageClass, IsAppointmentClass(kept) ? kept : kAppointmentClass,
                           failure);
  if (FAILED(hr) || !former) return hr;
  hr = DeleteProperty(former.get(), failure);
  if (SUCCEEDED(hr)) return hr;
  CallFailure ignored;
  if (FAILED(automation::PutText(item, ol::kMessageClass, kReminderCallClass, &ignored))) {
    *restored = false;
  }
  return hr;
}

// Major version of Outlook, 0 when it does not say.
int MajorVersion(IDispatch* application) {
  win::Variant version;
  if (!application || FAILED(automation::Get(application, ol::kVersion, version.put(), nullptr))) return 0;
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
  return owner_->QueryInterface(riid, ppv);
}

ULONG RibbonServer::AddRef() { return owner_->AddRef(); }
ULONG RibbonServer::Release() { return owner_->Release(); }

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
  if (member < kDispidGetCustomUI || member > kDispidGetNumberTip) return DISP_E_MEMBERNOTFOUND;
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
    case kDispidGetToggleEnabled: hr = GetToggleEnabled(argument(0), out); break;
    case kDispidGetNumberEnabled: hr = GetNumberEnabled(argument(0), out); break;
    case kDispidGetNumberTip: hr = GetNumberTip(argument(0), out); break;
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
  ribbonUi_ = automation::DispatchOf(ribbon);
  return ribbonUi_ ? S_OK : E_INVALIDARG;
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

HRESULT RibbonServer::GetToggleEnabled(const VARIANT& control, VARIANT* result) {
  win::ComPtr<IDispatch> item;
  bool appointment = false;
  HRESULT hr = ItemOf(control, &item, nullptr);
  if (SUCCEEDED(hr)) hr = IsAppointment(item.get(), &appointment, nullptr);
  if (FAILED(hr)) return hr;
  result->vt = VT_BOOL;
  result->boolVal = appointment ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// The item changes as by the user's own edit and is not saved here: the user saves it (or
// closes the window without saving and so takes the change back), as with every other field.
HRESULT RibbonServer::OnToggle(const VARIANT& control, const VARIANT& pressed) {
  const bool on = TrueOf(pressed);
  CallFailure failure;
  bool restored = true;
  win::ComPtr<IDispatch> item;
  HRESULT hr = ItemOf(control, &item, &failure);
  if (SUCCEEDED(hr)) {
    hr = on ? MarkAsReminderCall(item.get(), &failure, &restored) : UnmarkReminderCall(item.get(), &failure, &restored);
  }
  item.reset();
  InvalidateItemControls();
  if (FAILED(hr)) {
    Tell(on ? L"Cannot make this appointment a reminder call." : L"Cannot make this appointment a plain one again.",
         hr == kNoAppointment ? kNotAnAppointment : failure.description, restored ? nullptr : kNotTakenBack);
  }
  return hr;
}

// The number the agent will call: the text of a text "notifycall"; nothing for none, or for one of
// another type (the agent calls the user's own number then, and the tip says why).
HRESULT RibbonServer::GetNumber(const VARIANT& control, VARIANT* result) {
  win::ComPtr<IDispatch> item;
  win::ComPtr<IDispatch> property;
  win::Variant value;
  NumberKind kind = NumberKind::kNone;
  HRESULT hr = ItemOf(control, &item, nullptr);
  if (SUCCEEDED(hr)) hr = NumberOf(item.get(), &property, &kind, &value, nullptr);
  if (FAILED(hr)) return hr;
  const wchar_t* text = kind == NumberKind::kText ? TextOf(*value.get()) : L"";
  result->vt = VT_BSTR;
  result->bstrVal = ::SysAllocString(text ? text : L"");
  return result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

// The number can be typed while the item is marked, unless its field is not text (a typed number
// would still not be called).
HRESULT RibbonServer::GetNumberEnabled(const VARIANT& control, VARIANT* result) {
  win::ComPtr<IDispatch> item;
  win::ComPtr<IDispatch> property;
  win::Variant value;
  NumberKind kind = NumberKind::kNone;
  bool marked = false;
  HRESULT hr = ItemOf(control, &item, nullptr);
  if (SUCCEEDED(hr)) hr = IsReminderCall(item.get(), &marked, nullptr);
  if (SUCCEEDED(hr)) hr = NumberOf(item.get(), &property, &kind, &value, nullptr);
  if (FAILED(hr)) return hr;
  result->vt = VT_BOOL;
  result->boolVal = marked && kind != NumberKind::kNotText ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT RibbonServer::GetNumberTip(const VARIANT& control, VARIANT* result) {
  win::ComPtr<IDispatch> item;
  win::ComPtr<IDispatch> property;
  win::Variant value;
  NumberKind kind = NumberKind::kNone;
  HRESULT hr = ItemOf(control, &item, nullptr);
  if (SUCCEEDED(hr)) hr = NumberOf(item.get(), &property, &kind, &value, nullptr);
  if (FAILED(hr)) return hr;
  result->vt = VT_BSTR;
  result->bstrVal = ::SysAllocString(kind == NumberKind::kNotText ? kNumberNotTextTip : kNumberTip);
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

  CallFailure failure;
  win::ComPtr<IDispatch> item;
  win::ComPtr<IDispatch> number;
  HRESULT hr = ItemOf(control, &item, &failure);
  if (SUCCEEDED(hr)) hr = NumberPropertyOf(item.get(), &number, &failure);
  if (SUCCEEDED(hr)) hr = automation::Put(number.get(), ol::kValue, *value.get(), &failure);
  number.reset();
  item.reset();
  Invalidate(kNumberBoxId);
  if (FAILED(hr)) Tell(L"Cannot keep the number to call.", failure.description, nullptr);
  return hr;
}

// The new appointment is shown only once it is marked whole; otherwise it is dropped unsaved.
HRESULT RibbonServer::OnNewReminderCall() {
  CallFailure failure;
  bool restored = true;
  HRESULT hr = m_pApplication ? S_OK : E_UNEXPECTED;
  VARIANT type;
  type.vt = VT_I4;
  type.lVal = ol::kOlAppointmentItem;
  win::Variant created;
  if (SUCCEEDED(hr)) {
    hr = automation::Call(m_pApplication.get(), ol::kCreateItem, DISPATCH_METHOD, &type, 1,
                          created.put(), &failure);
  }
  win::ComPtr<IDispatch> item = automation::DispatchOf(*created.get());
  if (SUCCEEDED(hr) && !item) hr = E_UNEXPECTED;
  if (SUCCEEDED(hr)) hr = MarkAsReminderCall(item.get(), &failure, &restored);
  if (SUCCEEDED(hr)) {
    hr = automation::Call(item.get(), ol::kDisplay, DISPATCH_METHOD, nullptr, 0, nullptr, &failure);
  }
  if (FAILED(hr)) {
    Tell(L"Cannot make a new reminder call appointment.",
         hr == kNoAppointment ? kNotAnAppointment : failure.description, nullptr);
  }
  return hr;
}

void RibbonServer::InvalidateItemControls() {
  Invalidate(kReminderCallToggleId);
  Invalidate(kNumberBoxId);
}

void RibbonServer::Invalidate(const wchar_t* controlId) {
  if (!ribbonUi_) return;
  VARIANT id;
  id.vt = VT_BSTR;
  id.bstrVal = ::SysAllocString(controlId);
  if (!id.bstrVal) return;
  automation::Call(ribbonUi_.get(), automation::kDispidInvalidateControl, DISPATCH_METHOD, &id, 1, nullptr, nullptr);
  ::SysFreeString(id.bstrVal);
}
