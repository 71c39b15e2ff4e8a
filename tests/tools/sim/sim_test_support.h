#pragma once
// Shared pieces of the simulator tests: paths, the apartment, a connectable event sink, and
// late-bound reads.
#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <string>
#include <vector>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/driver/sim_driver.h"

namespace simtest {

constexpr DISPID kReminder = 0xF004;
// ApplicationEvents {0006304E-0000-0000-C000-000000000046}
extern const IID kIidApplicationEvents;

std::wstring SimExe();
std::wstring TestAddinDll();

// The test thread as a single-threaded apartment, like the agent's.
class Apartment {
 public:
  Apartment() : hr_(OleInitialize(nullptr)) {}
  ~Apartment() {
    if (SUCCEEDED(hr_)) OleUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

 private:
  HRESULT hr_;
};

// An event sink: answers the event interface (unless told not to) with its IDispatch and hands
// each Reminder's item to a handler, whose result becomes the event call's result. Any other
// DISPID is answered with DISP_E_MEMBERNOTFOUND.
class TestSink final : public IDispatch {
 public:
  using Handler = std::function<HRESULT(IDispatch* item)>;
  explicit TestSink(Handler handler, bool answerEventIid = true)
      : handler_(std::move(handler)), answerEventIid_(answerEventIid) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs_); }  // lives on the stack
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override;

  int Reminders() const { return reminders_; }
  const std::vector<DISPID>& Calls() const { return calls_; }
  LONG Refs() const { return refs_; }

 private:
  Handler handler_;
  bool answerEventIid_;
  LONG refs_ = 0;
  int reminders_ = 0;
  std::vector<DISPID> calls_;
};

// Creates "Outlook.Application" through its ProgID, as the agent does.
HRESULT CreateOutlook(win::ComPtr<IDispatch>* app);
// Advises the sink on the Application's ApplicationEvents connection point.
HRESULT AdviseSink(IDispatch* app, IUnknown* sink, DWORD* cookie);
HRESULT UnadviseSink(IDispatch* app, DWORD cookie);

// IDispatch::Invoke of a member without arguments.
HRESULT Get(IDispatch* object, DISPID id, VARIANT* result, WORD flags = DISPATCH_PROPERTYGET,
            EXCEPINFO* excep = nullptr);
// UserProperties.Find(name, VT_I2 1)
HRESULT Find(IDispatch* properties, const wchar_t* name, VARIANT* result);
std::wstring BstrOf(const VARIANT& v);

// The log lines between the first line starting with `from` and the next one starting with
// `to` (both excluded).
std::vector<std::string> Between(const std::vector<std::string>& log, const std::string& from, const std::string& to);
bool HasLine(const std::vector<std::string>& log, const std::string& line);
bool HasPrefix(const std::vector<std::string>& log, const std::string& prefix);
// The log lines starting with prefix.
std::vector<std::string> WithPrefix(const std::vector<std::string>& log, const std::string& prefix);

}  // namespace simtest
