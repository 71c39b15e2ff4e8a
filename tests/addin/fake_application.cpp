#include "tests/addin/fake_application.h"

#include <gtest/gtest.h>

namespace addin_test {

HRESULT FakeApplication::QueryInterface(REFIID, void** ppv) {
  ADD_FAILURE() << "the add-in called QueryInterface on the Application";
  if (ppv) *ppv = nullptr;
  return E_NOINTERFACE;
}
HRESULT FakeApplication::GetTypeInfoCount(UINT*) {
  ADD_FAILURE() << "the add-in called GetTypeInfoCount on the Application";
  return E_NOTIMPL;
}
HRESULT FakeApplication::GetTypeInfo(UINT, LCID, ITypeInfo**) {
  ADD_FAILURE() << "the add-in called GetTypeInfo on the Application";
  return E_NOTIMPL;
}
HRESULT FakeApplication::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  ADD_FAILURE() << "the add-in called GetIDsOfNames on the Application";
  return E_NOTIMPL;
}
HRESULT FakeApplication::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                UINT*) {
  ADD_FAILURE() << "the add-in called Invoke on the Application";
  return E_NOTIMPL;
}

}  // namespace addin_test
