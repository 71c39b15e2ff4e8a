#include "tools/outlook-sim/script/log_text.h"

#include <cstdio>

#include "tools/outlook-sim/script/utf.h"

namespace sim {

std::string Hex32(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
  return buf;
}

std::string HresultName(uint32_t hr) {
  struct Name {
    uint32_t hr;
    const char* name;
  };
  static const Name kNames[] = {
      {0x00000000, "S_OK"},
      {0x00000001, "S_FALSE"},
      {0x80004001, "E_NOTIMPL"},
      {0x80004002, "E_NOINTERFACE"},
      {0x80004003, "E_POINTER"},
      {0x80004005, "E_FAIL"},
      {0x8000FFFF, "E_UNEXPECTED"},
      {0x80070057, "E_INVALIDARG"},
      {0x8007000E, "E_OUTOFMEMORY"},
      {0x80020001, "DISP_E_UNKNOWNINTERFACE"},
      {0x80020003, "DISP_E_MEMBERNOTFOUND"},
      {0x80020004, "DISP_E_PARAMNOTFOUND"},
      {0x80020005, "DISP_E_TYPEMISMATCH"},
      {0x80020006, "DISP_E_UNKNOWNNAME"},
      {0x80020007, "DISP_E_NONAMEDARGS"},
      {0x80020009, "DISP_E_EXCEPTION"},
      {0x8002000E, "DISP_E_BADPARAMCOUNT"},
      {0x80040200, "CONNECT_E_NOCONNECTION"},
      {0x80040202, "CONNECT_E_CANNOTCONNECT"},
      {0x80040110, "CLASS_E_NOAGGREGATION"},
      {0x80040111, "CLASS_E_CLASSNOTAVAILABLE"},
      {0x80040154, "REGDB_E_CLASSNOTREG"},
      {0x800401F3, "CO_E_CLASSSTRING"},
      {0x80010001, "RPC_E_CALL_REJECTED"},
      {0x8001010A, "RPC_E_SERVERCALL_RETRYLATER"},
      {0x80010108, "RPC_E_DISCONNECTED"},
      {0x800706BA, "RPC_S_SERVER_UNAVAILABLE"},
      {0x800706BE, "RPC_S_CALL_FAILED"},
  };
  for (const Name& n : kNames) {
    if (n.hr == hr) return n.name;
  }
  return Hex32(hr);
}

std::string QuoteForLog(std::u16string_view text) {
  std::string out = "\"";
  std::u16string run;
  auto flush = [&] {
    out += Utf16ToUtf8(run);
    run.clear();
  };
  for (char16_t c : text) {
    const bool special = c == u'"' || c == u'\\' || c < 0x20 || c == 0x7F;
    if (!special) {
      run.push_back(c);
      continue;
    }
    flush();
    switch (c) {
      case u'"': out += "\\\""; break;
      case u'\\': out += "\\\\"; break;
      case u'\n': out += "\\n"; break;
      case u'\r': out += "\\r"; break;
      case u'\t': out += "\\t"; break;
      default: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "\\u{%X}", static_cast<unsigned>(c));
        out += buf;
      }
    }
  }
  flush();
  out += '"';
  return out;
}

std::string FormatMs(double ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", ms);
  return buf;
}

}  // namespace sim
