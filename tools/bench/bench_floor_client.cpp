#include "tools/bench/bench_floor_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common/win/com_ptr.h"

namespace systemtest {
namespace {

constexpr UINT kPostRequest = WM_APP + 7;
constexpr DWORD kSocketTimeoutMs = 30000;

// Winsock for the client's lifetime; WSAStartup counts its callers.
class SocketLibrary {
 public:
  SocketLibrary() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~SocketLibrary() {
    if (started_) WSACleanup();
  }
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  bool Started() const { return started_; }

 private:
  bool started_ = false;
};

class Socket {
 public:
  Socket() : s_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return s_; }

 private:
  SOCKET s_;
};

// The Content-Length of the answer's head, or -1 when it has none.
long long ContentLength(const std::string& head) {
  std::string lower(head);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return -1;
  return std::strtoll(lower.c_str() + at + std::strlen("\r\ncontent-length:"), nullptr, 10);
}

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
  if (post_) postFailures_ += !BareWinsockPost(port_, body_);
}

LRESULT CALLBACK FloorClient::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<FloorClient*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == kPostRequest && self) {
    self->Post();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool BareWinsockPost(uint16_t port, const std::string& body) {
  const SocketLibrary library;
  if (!library.Started()) return false;
  const Socket connection;
  if (connection.get() == INVALID_SOCKET) return false;
  const DWORD timeout = kSocketTimeoutMs;
  setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;

  const std::string request = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\n"
                              "Content-Type: application/x-www-form-urlencoded; charset=windows-" +
                              std::to_string(GetACP()) + "\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\nUser-Agent: Brisomel\r\n\r\n" + body;
  for (size_t sent = 0; sent < request.size();) {
    const int n = send(connection.get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }

  // The head, then as much of the body as it announces (or up to the close); 64 KB at most.
  std::string answer;
  char buffer[4096];
  for (;;) {
    const size_t headEnd = answer.find("\r\n\r\n");
    if (headEnd != std::string::npos) {
      const long long length = ContentLength(answer.substr(0, headEnd + 2));
      if (length >= 0 && answer.size() - (headEnd + 4) >= static_cast<size_t>(length)) break;
    }
    if (answer.size() > 65536) return false;
    const int n = recv(connection.get(), buffer, sizeof buffer, 0);
    if (n < 0) return false;
    if (n == 0) break;
    answer.append(buffer, static_cast<size_t>(n));
  }
  const size_t headEnd = answer.find("\r\n\r\n");
  return answer.compare(0, 12, "HTTP/1.1 200") == 0 && headEnd != std::string::npos && answer.size() > headEnd + 4;
}

}  // namespace systemtest
