// outlook-sim: an out-of-process COM server standing in for Outlook (see README.md).
#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/win/handles.h"
#include "tools/outlook-sim/addin_host.h"
#include "tools/outlook-sim/class_factory.h"
#include "tools/outlook-sim/event_ids.h"
#include "tools/outlook-sim/message_filter.h"
#include "tools/outlook-sim/registration.h"
#include "tools/outlook-sim/ribbon_host.h"
#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/script/script.h"
#include "tools/outlook-sim/script/sim_options.h"
#include "tools/outlook-sim/script/utf.h"
#include "tools/outlook-sim/script_runner.h"
#include "tools/outlook-sim/sim_log.h"
#include "tools/outlook-sim/sim_model.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitScriptError = 2;

std::wstring Wide(const std::string& utf8) {
  std::u16string u16;
  sim::Utf8ToUtf16(utf8, &u16);
  return std::wstring(u16.begin(), u16.end());
}

std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    args.push_back(sim::Utf16ToUtf8(std::u16string(a.begin(), a.end())));
  }
  LocalFree(argv);
  return args;
}

// To the log and, when the simulator was started from a console, to stderr.
void ReportError(const std::string& text) {
  sim::LogLine("Error " + text);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err && err != INVALID_HANDLE_VALUE) {
    const std::string line = "outlook-sim: " + text + "\n";
    DWORD written = 0;
    WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

bool ReadFileUtf8(const std::string& path, std::string* out) {
  win::FileHandle file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 64 * 1024 * 1024) return false;
  out->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return out->empty() ||
         (ReadFile(file.get(), &(*out)[0], static_cast<DWORD>(out->size()), &read, nullptr) && read == out->size());
}

int RunRegistration(const sim::SimOptions& options) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    ReportError("COM initialisation failed");
    return kExitFailure;
  }
  const std::string error = options.mode == sim::SimOptions::Mode::Register
                                ? sim::RegisterServer(options.serverArgs, options.force)
                                : sim::UnregisterServer();
  CoUninitialize();
  if (!error.empty()) {
    ReportError(error);
    return kExitFailure;
  }
  return 0;
}

// The class object and the running-object-table entry, withdrawn once at shutdown.
class ServerRegistration {
 public:
  HRESULT Register(sim::Application* app, IClassFactory* factory) {
    HRESULT hr = CoRegisterClassObject(sim::kClsidApplication, factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &classCookie_);
    if (FAILED(hr)) return hr;
    registered_ = true;
    // Outlook registers its Application so that GetActiveObject finds it.
    if (SUCCEEDED(RegisterActiveObject(static_cast<IDispatch*>(app), sim::kClsidApplication,
                                       ACTIVEOBJECT_WEAK, &rotCookie_))) {
      inRot_ = true;
    }
    return S_OK;
  }
  void Revoke() {
    if (inRot_) RevokeActiveObject(rotCookie_, nullptr);
    if (registered_) CoRevokeClassObject(classCookie_);
    inRot_ = registered_ = false;
  }
  ~ServerRegistration() { Revoke(); }

 private:
  DWORD classCookie_ = 0, rotCookie_ = 0;
  bool registered_ = false, inRot_ = false;
};

// COM answers a call to this apartment from one of its own threads, after the call has returned
// here: a simulator that ended straight after serving a client's last call (its Unadvise, which
// a script's quit follows) would now and then cut that answer off, and the client would get
// RPC_S_CALL_FAILED. So once the script is done, calls are still served (they find the objects
// disconnected) until none has come for a moment.
void ServeLastCalls() {
  constexpr DWORD kQuietMs = 300, kMostMs = 3000;
  const ULONGLONG until = GetTickCount64() + kMostMs;
  while (GetTickCount64() < until) {
    if (MsgWaitForMultipleObjectsEx(0, nullptr, kQuietMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_TIMEOUT) return;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

int Serve(const sim::SimOptions& options) {
  sim::LogLine("Start pid=" + std::to_string(GetCurrentProcessId()) +
               " mode=" + (options.embedding ? "embedding" : "user"));
  std::string text;
  if (!options.scriptFile.empty() && !ReadFileUtf8(options.scriptFile, &text)) {
    ReportError("cannot read script " + options.scriptFile);
    return kExitScriptError;
  }
  if (!options.inlineScript.empty()) text += "\n" + options.inlineScript;
  sim::ParseResult parsed = sim::ParseScript(text);
  if (!parsed.error.empty()) {
    ReportError("script " + parsed.error);
    return kExitScriptError;
  }

  if (FAILED(OleInitialize(nullptr))) {
    ReportError("OLE initialisation failed");
    return kExitFailure;
  }
  int exitCode = kExitFailure;
  {
    sim::MessageFilter filter;
    CoRegisterMessageFilter(&filter, nullptr);
    sim::ScriptRunner* runner = nullptr;
    sim::SimModel model([&runner] {
      if (runner) runner->Wake();
    });
    win::ComPtr<sim::ApplicationFactory> factory = win::ComPtr<sim::ApplicationFactory>::Attach(
        new sim::ApplicationFactory(model.App(), [&runner] {
          if (runner) runner->ClientConnected();
        }));
    ServerRegistration server;
    sim::RibbonHost ribbons;
    ribbons.SetXmlFolder(options.ribbonXmlFolder);
    sim::AddinHost addins;
    addins.SetRibbonHost(&ribbons);
    sim::ScriptRunner::Settings settings;
    settings.embedding = options.embedding;
    settings.lingerSeconds = options.lingerSeconds;
    settings.revokeServer = [&server] { server.Revoke(); };
    settings.serverLocks = [&factory] { return factory->Locks(); };
    settings.ribbons = &ribbons;
    sim::ScriptRunner script(std::move(parsed.commands), model, addins, filter, std::move(settings));
    runner = &script;
    const HRESULT hr = script.Create() ? server.Register(model.App(), factory.get()) : E_FAIL;
    if (FAILED(hr)) {
      ReportError("cannot register the class object: " + sim::HresultName(static_cast<uint32_t>(hr)));
    } else {
      // From here on, the references the simulator holds itself are the Application's baseline.
      model.App()->SetOwnRefs(model.App()->RefCount());
      sim::LogLine("Ready");
      addins.Attach(model.App());  // connect-addin works with /noaddins too
      if (!options.noAddins) addins.LoadAll(model.App());
      script.Start();
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // A thread message WM_CLOSE asks the simulator to end (tests, the demo).
        if (!msg.hwnd && msg.message == WM_CLOSE) {
          script.RequestQuit();
          continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      exitCode = script.ExitCode();
      ServeLastCalls();
    }
    server.Revoke();
    runner = nullptr;
    CoRegisterMessageFilter(nullptr, nullptr);
  }
  // Not uninitialised: a client's call that arrives while OLE is torn down (its last Release)
  // can hold that up for ever under Wine, and the process ends at once anyway.
  return exitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  sim::SimOptions options;
  const std::string error = sim::ParseSimOptions(Arguments(), &options);
  if (!error.empty()) {
    ReportError(error);
    return kExitFailure;
  }
  if (options.mode != sim::SimOptions::Mode::Serve) return RunRegistration(options);
  if (!options.logFile.empty() && !sim::OpenLog(Wide(options.logFile))) {
    ReportError("cannot open log " + options.logFile);
    return kExitFailure;
  }
  const int exitCode = Serve(options);
  // Everything is done and logged, the server revoked. Ended, not exited:
  // ExitProcess runs every DLL's detach while COM's and RPC's threads may still run, and under
  // Wine that now and then waits on the loader lock for longer than any test waits.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  return exitCode;
}
