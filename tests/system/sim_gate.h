#pragma once
// Lets a simulator script that waits in "wait-advise <timeout> <n>" go on when the test is ready:
// the test advises one more (do-nothing) sink on the running simulator's ApplicationEvents, which
// raises the simulator's sink count. Scripts thus pause at a point of the test's choosing
// instead of sleeping for a guessed time.
#include <windows.h>
#include <ocidl.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "common/win/com_ptr.h"

namespace systemtest {

// A sink that answers every event with S_OK at once and notes when each Reminder call came
// (NowMs(), the performance counter shared by every process).
class QuietSink : public IDispatch {
 public:
  QuietSink() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override;
  const std::vector<double>& EventTimes() const { return times_; }

 private:
  virtual ~QuietSink() = default;
  long refs_ = 1;
  std::vector<double> times_;
};

class SimGate {
 public:
  SimGate() = default;
  ~SimGate() { Close(); }
  SimGate(const SimGate&) = delete;
  SimGate& operator=(const SimGate&) = delete;

  // Attaches to the running "Outlook.Application" (once) and advises one more sink; the caller
  // must pump messages afterwards so the simulator's events to that sink are served. The sink
  // (owned by the gate until Close) is returned through `sink` when asked for.
  bool Open(QuietSink** sink = nullptr);
  // The same with a sink of the caller's (the gate takes a reference until Close).
  bool AdviseSink(IDispatch* sink);
  // Unadvises every sink this gate advised and lets go of the simulator.
  void Close();
  // Drops the simulator's objects without calling it (after it died).
  void Abandon();
  std::string LastError() const { return error_; }

 private:
  win::ComPtr<IConnectionPoint> point_;
  bool Attach();
  struct Advised {
    DWORD cookie;
    IDispatch* sink;
  };
  Advised advised_[64] = {};
  int count_ = 0;
  std::string error_;
};

}  // namespace systemtest
