#include "agent/framework/dispatch_arguments.h"

#include <algorithm>

#include "agent/framework/dispatch_param_types.h"
#include "agent/framework/ole_exception.h"
#include "agent/framework/ole_text.h"

namespace fw {
namespace {

// Reads the next variadic argument as described by its type byte. Integer and float arguments
// arrive promoted (int, double).
void ReadArgument(BYTE type, va_list& args, VARIANTARG* out) {
  switch (type) {
    case VT_I2:
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(va_arg(args, int));
      return;
    case VT_I4:
      out->vt = VT_I4;
      out->lVal = va_arg(args, long);
      return;
    case VT_R4:
      out->vt = VT_R4;
      out->fltVal = static_cast<FLOAT>(va_arg(args, double));
      return;
    case VT_R8:
      out->vt = VT_R8;
      out->dblVal = va_arg(args, double);
      return;
    case VT_DATE:
      out->vt = VT_DATE;
      out->date = va_arg(args, DATE);
      return;
    case VT_BSTR:
    case kVtAnsiText: {
      BSTR text = nullptr;
      if (type == VT_BSTR) {
        const wchar_t* wide = va_arg(args, const wchar_t*);
        text = SysAllocString(wide ? wide : L"");
      } else {
        text = AnsiToBstr(va_arg(args, const char*));
      }
      if (!text) ThrowOleException(E_OUTOFMEMORY);
      out->vt = VT_BSTR;
      out->bstrVal = text;
      return;
    }
    case VT_DISPATCH:
      out->vt = VT_DISPATCH;
      out->pdispVal = va_arg(args, IDispatch*);
      if (out->pdispVal) out->pdispVal->AddRef();
      return;
    case VT_UNKNOWN:
      out->vt = VT_UNKNOWN;
      out->punkVal = va_arg(args, IUnknown*);
      if (out->punkVal) out->punkVal->AddRef();
      return;
    case VT_ERROR:
      out->vt = VT_ERROR;
      out->scode = va_arg(args, SCODE);
      return;
    case VT_BOOL:
      out->vt = VT_BOOL;
      out->boolVal = va_arg(args, BOOL) ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case VT_UI1:
      out->vt = VT_UI1;
      out->bVal = static_cast<BYTE>(va_arg(args, int));
      return;
    case VT_VARIANT: {
      const VARIANT* value = va_arg(args, const VARIANT*);
      if (!value) ThrowOleException(E_INVALIDARG);
      const HRESULT hr = VariantCopy(out, const_cast<VARIANT*>(value));
      if (FAILED(hr)) ThrowOleException(hr);
      return;
    }
    default:
      ThrowOleException(E_INVALIDARG);
  }
}

}  // namespace

DispatchArguments::DispatchArguments(const BYTE* paramTypes, va_list args) {
  va_list cursor;
  va_copy(cursor, args);
  try {
    for (const BYTE* type = paramTypes; type && *type; ++type) {
      reversed_.emplace_back();
      VariantInit(&reversed_.back());
      ReadArgument(*type, cursor, &reversed_.back());
    }
  } catch (...) {
    va_end(cursor);
    for (VARIANTARG& value : reversed_) VariantClear(&value);
    throw;
  }
  va_end(cursor);
  std::reverse(reversed_.begin(), reversed_.end());
}

DispatchArguments::~DispatchArguments() {
  for (VARIANTARG& value : reversed_) VariantClear(&value);
}

DISPPARAMS DispatchArguments::Params() {
  DISPPARAMS params{};
  params.rgvarg = reversed_.empty() ? nullptr : reversed_.data();
  params.cArgs = static_cast<UINT>(reversed_.size());
  return params;
}

}  // namespace fw
