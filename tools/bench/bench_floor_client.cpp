#include "tools/bench/bench_floor_client.h"

#include <wininet.h>

#include "common/win/com_ptr.h"
#include "common/win/internet_handle.h"

namespace systemtest {
namespace {

constexpr UINT kPostRequest = WM_APP + 7;

// One property get or method call by DISPID; the result in *result (VT_EMPTY on failure).
HRESULT Call(IDispatch* object, DISPID id, VARIANT* result, VARIANT* args = nullptr, UINT argCount = 0) {
  DISPPARAMS params{args, nullptr, argCount, 0};
  VariantInit(result);
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result,
                        nullptr, nullptr);
}

HRESULT Get(IDispatch* object, DISPID id) {
  VARIANT result;
  const HRESULT hr = Call(object, id, &result);
  VariantClear(&result);
  return hr;
}

}  // namespace

class FloorClient::FloorSink : public IDispatch {
 public:
  explicit FloorSink(HWND window) : window_(window) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    static const IID kApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kApplicationEvents)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --refs_;
    if (!left) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (id != 0xF004 || !params || params->cArgs != 1 || params->rgvarg[0].vt != VT_DISPATCH) return S_OK;
    IDispatch* item = params->rgvarg[0].pdispVal;  // lent for the call
    Get(item, 0x1A);    // MessageClass
    Get(item, 0x820D);  // Start
    VARIANT properties;
    if (SUCCEEDED(Call(item, 0xF816, &properties)) && properties.vt == VT_DISPATCH && properties.pdispVal) {
      VARIANT args[2];
      args[1].vt = VT_BSTR;  // arguments go in reverse order
      args[1].bstrVal = SysAllocString(L"notifycall");
      args[0].vt = VT_I2;
      args[0].iVal = 1;
      VARIANT property;
      if (SUCCEEDED(Call(properties.pdispVal, 0x67, &property, args, 2)) && property.vt == VT_DISPATCH &&
          property.pdispVal) {
        Get(property.pdispVal, DISPID_VALUE);
      }
      VariantClear(&property);
      VariantClear(&args[1]);
    }
    VariantClear(&properties);
    Get(item, 0xF01E);  // EntryID
    Get(item, 0x37);    // Subject
    Get(item, 0x8208);  // Location
    Get(item, 0x9100);  // Body
    Get(item, 0x8501);  // ReminderMinutesBeforeStart
    PostMessageA(window_, kPostRequest, 0, 0);
    return S_OK;
  }

 private:
  virtual ~FloorSink() = default;
  HWND window_;
  long refs_ = 1;
};

FloorClient::FloorClient(uint16_t port, std::string body, bool post)
    : port_(port), body_(std::move(body)), post_(post) {
  static const ATOM kClass = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &FloorClient::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "BenchFloorClient";
    return RegisterClassA(&windowClass);
  }();
  window_ = CreateWindowExA(0, MAKEINTATOM(kClass), "floor", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  sink_ = new FloorSink(window_);
}

FloorClient::~FloorClient() {
  sink_->Release();
  DestroyWindow(window_);
}

IDispatch* FloorClient::Sink() const { return sink_; }

size_t FloorClient::Failures() const { return postFailures_; }

void FloorClient::Post() {
  if (post_) postFailures_ += !BareWinInetPost(port_, body_);
}

LRESULT CALLBACK FloorClient::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<FloorClient*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == kPostRequest && self) {
    self->Post();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool BareWinInetPost(uint16_t port, const std::string& body) {
  win::InternetHandle session(InternetOpenA("Brisomel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  win::InternetHandle connection(
      InternetConnectA(session.get(), "127.0.0.1", port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  win::InternetHandle request(HttpOpenRequestA(connection.get(), "POST", "/ocall/callreqHandler.jsp", nullptr, nullptr,
                                              nullptr, INTERNET_FLAG_EXISTING_CONNECT, 1));
  if (!request) return false;
  HttpAddRequestHeadersA(request.get(), "Content-Type: application/x-www-form-urlencoded\r\n", static_cast<DWORD>(-1),
                         HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  if (!HttpSendRequestA(request.get(), nullptr, 0, const_cast<char*>(body.data()), static_cast<DWORD>(body.size()))) {
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  char answer[1024];
  DWORD read = 0;
  return InternetReadFile(request.get(), answer, sizeof answer, &read) && status == 200 && read > 0;
}

}  // namespace systemtest
