#include "tools/outlook-sim/variant_text.h"

#include <cstdio>

#include "tools/outlook-sim/script/log_text.h"

namespace sim {
namespace {

std::string TypeName(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_NULL: return "VT_NULL";
    case VT_I2: return "VT_I2";
    case VT_I4: return "VT_I4";
    case VT_R4: return "VT_R4";
    case VT_R8: return "VT_R8";
    case VT_CY: return "VT_CY";
    case VT_DATE: return "VT_DATE";
    case VT_BSTR: return "VT_BSTR";
    case VT_DISPATCH: return "VT_DISPATCH";
    case VT_ERROR: return "VT_ERROR";
    case VT_BOOL: return "VT_BOOL";
    case VT_VARIANT: return "VT_VARIANT";
    case VT_UNKNOWN: return "VT_UNKNOWN";
    case VT_I1: return "VT_I1";
    case VT_UI1: return "VT_UI1";
    case VT_UI2: return "VT_UI2";
    case VT_UI4: return "VT_UI4";
    case VT_INT: return "VT_INT";
    case VT_UINT: return "VT_UINT";
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "vt=0x%04X", vt);
      return buf;
    }
  }
}

}  // namespace

std::string VariantText(const VARIANT& v) {
  if (v.vt == (VT_BYREF | VT_VARIANT)) {
    return v.pvarVal ? "byref " + VariantText(*v.pvarVal) : "byref null";
  }
  if (v.vt & VT_BYREF) {
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantCopyInd(&copy, const_cast<VARIANT*>(&v)))) return "byref " + TypeName(v.vt & ~VT_BYREF);
    std::string text = "byref " + VariantText(copy);
    VariantClear(&copy);
    return text;
  }
  if (v.vt & (VT_ARRAY | VT_VECTOR)) return TypeName(v.vt & VT_TYPEMASK) + " array";
  char buf[64];
  switch (v.vt) {
    case VT_BSTR:
      return v.bstrVal ? QuoteForLog(BstrText(v.bstrVal)) : "VT_BSTR null";
    case VT_I2: return "VT_I2 " + std::to_string(v.iVal);
    case VT_I4: return "VT_I4 " + std::to_string(v.lVal);
    case VT_INT: return "VT_INT " + std::to_string(v.intVal);
    case VT_UI1: return "VT_UI1 " + std::to_string(v.bVal);
    case VT_UI2: return "VT_UI2 " + std::to_string(v.uiVal);
    case VT_UI4: return "VT_UI4 " + std::to_string(v.ulVal);
    case VT_BOOL: return std::string("VT_BOOL ") + (v.boolVal ? "true" : "false");
    case VT_ERROR: return "VT_ERROR " + Hex32(static_cast<uint32_t>(v.scode));
    case VT_R8:
      std::snprintf(buf, sizeof buf, "VT_R8 %.17g", v.dblVal);
      return buf;
    case VT_DATE: {
      SYSTEMTIME st;
      if (!VariantTimeToSystemTime(v.date, &st)) return "VT_DATE ?";
      std::snprintf(buf, sizeof buf, "VT_DATE %04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth,
                    st.wDay, st.wHour, st.wMinute, st.wSecond);
      return buf;
    }
    case VT_DISPATCH: return v.pdispVal ? "VT_DISPATCH" : "VT_DISPATCH null";
    case VT_UNKNOWN: return v.punkVal ? "VT_UNKNOWN" : "VT_UNKNOWN null";
    default: return TypeName(v.vt);
  }
}

BSTR MakeBstr(const Text& text) {
  if (text.null) return nullptr;
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.value.data()),
                           static_cast<UINT>(text.value.size()));
}

std::u16string BstrText(BSTR b) {
  if (!b) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

void MakePropVariant(const PropValue& value, int64_t nowSeconds, VARIANT* out) {
  VariantInit(out);
  switch (value.type) {
    case PropType::Text:
      out->vt = VT_BSTR;
      out->bstrVal = MakeBstr(value.text);
      break;
    case PropType::I2:
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(value.integer);
      break;
    case PropType::I4:
      out->vt = VT_I4;
      out->lVal = value.integer;
      break;
    case PropType::R8:
      out->vt = VT_R8;
      out->dblVal = value.real;
      break;
    case PropType::Date:
      out->vt = VT_DATE;
      out->date = SecondsToOleDate(Resolve(value.date, nowSeconds));
      break;
    case PropType::Bool:
      out->vt = VT_BOOL;
      out->boolVal = value.boolean ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case PropType::Empty:
      out->vt = VT_EMPTY;
      break;
    case PropType::Null:
      out->vt = VT_NULL;
      break;
  }
}

}  // namespace sim
