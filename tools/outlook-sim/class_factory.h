#pragma once
// The class object registered for Outlook's Application class: like Outlook, every client gets
// the one Application of the running instance.
#include <objbase.h>

#include <functional>

namespace sim {

class ApplicationFactory final : public IClassFactory {
 public:
  // onCreate runs after each successful CreateInstance (a client has connected).
  ApplicationFactory(IDispatch* application, std::function<void()> onCreate);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

  LONG Locks() const { return locks_; }

 private:
  ~ApplicationFactory() = default;

  LONG refs_ = 1;
  LONG locks_ = 0;
  IDispatch* application_;  // not owned: the model holds it for the process's life
  std::function<void()> onCreate_;
};

}  // namespace sim
