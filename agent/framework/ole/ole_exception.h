#pragma once
// The framework's OLE exceptions. The Automation client side throws them for every failed call;
// the Automation server side catches them and reports them to its caller as DISP_E_EXCEPTION.
#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <string>

namespace fw {

// A failed COM or Automation call, identified by its status code.
class OleException : public std::exception {
 public:
  explicit OleException(HRESULT sc = S_OK) : m_sc(sc) {}
  const char* what() const noexcept override { return "OLE exception"; }

  HRESULT m_sc;
};

// An Automation exception raised by the called object (DISP_E_EXCEPTION): what it reported in
// its EXCEPINFO. m_sc is the object's own status code, or DISP_E_EXCEPTION when it gave none.
class OleDispatchException : public OleException {
 public:
  OleDispatchException(const std::string& description, WORD wCode = 0, HRESULT scError = 0);
  // Takes the fields of an EXCEPINFO filled by IDispatch::Invoke (deferred fill-in included).
  static OleDispatchException FromExcepInfo(EXCEPINFO& info);

  WORD m_wCode = 0;
  std::string m_strSource;
  std::string m_strDescription;
  std::string m_strHelpFile;
  DWORD m_dwHelpContext = 0;
};

[[noreturn]] void ThrowOleException(HRESULT sc);

// Describes a caught OLE exception in an EXCEPINFO for the caller of IDispatch::Invoke.
void FillExcepInfo(const OleException& error, EXCEPINFO* info);

// Frees the strings of an EXCEPINFO and zeroes it.
void ClearExcepInfo(EXCEPINFO* info);

}  // namespace fw

using COleException = fw::OleException;
using COleDispatchException = fw::OleDispatchException;
