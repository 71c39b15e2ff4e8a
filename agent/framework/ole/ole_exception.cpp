#include "agent/framework/ole/ole_exception.h"

#include "agent/framework/ui/win_app.h"
#include "agent/framework/ole/ole_text.h"

namespace fw {

OleDispatchException::OleDispatchException(const std::string& description, WORD wCode, HRESULT scError)
    : OleException(scError ? scError : DISP_E_EXCEPTION), m_wCode(wCode), m_strDescription(description) {}

OleDispatchException OleDispatchException::FromExcepInfo(EXCEPINFO& info) {
  if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  OleDispatchException e(BstrToAnsi(info.bstrDescription), info.wCode, info.scode);
  e.m_strSource = BstrToAnsi(info.bstrSource);
  e.m_strHelpFile = BstrToAnsi(info.bstrHelpFile);
  e.m_dwHelpContext = info.dwHelpContext;
  ClearExcepInfo(&info);
  return e;
}

void ThrowOleException(HRESULT sc) { throw OleException(sc); }

namespace {

std::string SystemMessage(HRESULT sc) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(sc), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length && buffer ? std::string(buffer, length) : std::string();
  if (buffer) LocalFree(buffer);
  return text;
}

BSTR NewBstrOrNull(const std::string& text) { return text.empty() ? nullptr : AnsiToBstr(text.c_str()); }

}  // namespace

void FillExcepInfo(const OleException& error, EXCEPINFO* info) {
  if (!info) return;
  ClearExcepInfo(info);
  const auto* dispatchError = dynamic_cast<const OleDispatchException*>(&error);
  if (dispatchError) {
    info->wCode = dispatchError->m_wCode;
    info->bstrSource = NewBstrOrNull(dispatchError->m_strSource.empty() ? AppTitle() : dispatchError->m_strSource);
    info->bstrDescription = NewBstrOrNull(dispatchError->m_strDescription);
    info->bstrHelpFile = NewBstrOrNull(dispatchError->m_strHelpFile);
    info->dwHelpContext = dispatchError->m_dwHelpContext;
  } else {
    info->bstrSource = NewBstrOrNull(AppTitle());
    info->bstrDescription = NewBstrOrNull(SystemMessage(error.m_sc));
  }
  // EXCEPINFO carries either a wCode or an scode, never both.
  if (info->wCode == 0) info->scode = error.m_sc;
}

void ClearExcepInfo(EXCEPINFO* info) {
  if (!info) return;
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrHelpFile);
  *info = EXCEPINFO{};
}

}  // namespace fw
