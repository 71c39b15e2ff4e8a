#include "tests/system/system_rig.h"

#include <cstdio>

#include "common/win/handles.h"
#include "tests/harness/leftovers.h"
#include "tests/system/agent_census.h"
#include "tests/system/system_paths.h"
#include "tools/gateway/form.h"

namespace systemtest {

uint16_t ClosedPort() {
  gateway::Server probe;
  if (!probe.Start()) return 1;
  const uint16_t port = probe.Port();
  probe.Stop();
  return port;
}
namespace {

// Everything the agent, its automation server registration and the add-in write.
const char* const kUserKeys[] = {
    "Software\\Brisomel",
    "Software\\Microsoft\\Office\\Outlook\\Addins\\Brisomel.Addin",
    "Software\\Classes\\Cadelo.Document",
    "Software\\Classes\\CLSID\\{B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}",
    "Software\\Classes\\Brisomel.Addin",
    "Software\\Classes\\CLSID\\{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}",
};
const char* const kClassKeys[] = {
    "Cadelo.Document",
    "CLSID\\{B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}",
    "Brisomel.Addin",
    "CLSID\\{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}",
};

// Long enough for any test; the rig ends the simulator itself.
constexpr char kOutliveTheTest[] = "\nsleep 1h\n";

typedef HRESULT(STDAPICALLTYPE* ServerEntry)();

HRESULT CallAddinEntry(const char* name) {
  win::Module dll(LoadLibraryA(MervaneDll().c_str()));
  if (!dll) return HRESULT_FROM_WIN32(GetLastError());
  auto entry = reinterpret_cast<ServerEntry>(reinterpret_cast<void*>(GetProcAddress(dll.get(), name)));
  return entry ? entry() : E_NOTIMPL;
}

// Below the host's ephemeral ports: a port the system hands out could be one that an agent of an
// earlier run (or another checkout on this machine) still has in its settings and calls.
bool StartGateway(gateway::Server& server) {
  unsigned seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  for (int attempt = 0; attempt < 20; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    if (server.Start(static_cast<uint16_t>(20000 + (seed >> 8) % 12000))) return true;
  }
  return server.Start();
}

}  // namespace

std::string LocalTimeIn(int minutes) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER count{};
  count.LowPart = now.dwLowDateTime;
  count.HighPart = now.dwHighDateTime;
  count.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(minutes) * 60 * 10000000);
  FILETIME later{count.LowPart, count.HighPart}, local{};
  SYSTEMTIME fields{};
  FileTimeToLocalFileTime(&later, &local);
  FileTimeToSystemTime(&local, &fields);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", fields.wYear, fields.wMonth, fields.wDay,
                fields.wHour, fields.wMinute, fields.wSecond);
  return text;
}

std::string ReminderItem(const std::string& name, const std::string& subject, const std::string& phone) {
  std::string lines = "item " + name + " class \"IPM.Appointment.ReminderCall\" start +15m minutes 15 subject \"" +
                      subject + "\" entryid \"" + name + "\"\n";
  if (!phone.empty()) lines += "item " + name + " prop notifycall text \"" + phone + "\"\n";
  return lines;
}

std::string PhoneOf(const gateway::RecordedRequest& request) {
  return gateway::FormField(gateway::ParseForm(request.body), "phoneno");
}

std::string TextOf(const gateway::RecordedRequest& request) {
  return gateway::FormField(gateway::ParseForm(request.body), "txt");
}

std::vector<std::string> PhonesOf(const std::vector<gateway::RecordedRequest>& requests) {
  std::vector<std::string> phones;
  for (const auto& request : requests) phones.push_back(PhoneOf(request));
  return phones;
}

SystemRig::SystemRig() {
  for (const char* key : kUserKeys) keys_.push_back(std::make_unique<harness::ScopedRegistryKey>(HKEY_CURRENT_USER, key));
  for (const char* key : kClassKeys) keys_.push_back(std::make_unique<harness::ScopedRegistryKey>(HKEY_CLASSES_ROOT, key));
  gateway_.SetAnswer([] {
    gateway::Answer answer;
    answer.autoId = true;
    return answer;
  }());
  ok_ = StartGateway(gateway_);
  if (ok_) WriteGoodSettings();
}

SystemRig::~SystemRig() { EndEverything(); }

void SystemRig::EndEverything() {
  gate_.Close();
  agents_.clear();  // each is terminated if it still runs
  for (const std::string& image : adoptedImages_) TerminateProcesses(ProcessesOf(image));
  // A simulator that does not end when asked is killed, and its registration cleared with it, so
  // that the next test can still reach "Outlook.Application".
  if (sim_ && WaitForSingleObject(sim_->Process(), 0) == WAIT_TIMEOUT && !QuitOutlook()) KillOutlook();
  sim_.reset();
  if (addinRegistered_) CallAddinEntry("DllUnregisterServer");
  gateway_.Stop();
}

void SystemRig::WriteGoodSettings() {
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, harness::SzBytes("127.0.0.1"));
  WritePort(gateway_.Port());
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "mynumber", REG_SZ, harness::SzBytes(kMyNumber));
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "firstname", REG_SZ, harness::SzBytes("Ann"));
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "lastname", REG_SZ, harness::SzBytes("Lee"));
}

void SystemRig::WriteSetting(const char* name, DWORD type, const std::vector<unsigned char>& bytes) {
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, name, type, bytes);
}

void SystemRig::WritePort(uint16_t port) { WriteSetting("port", REG_DWORD, harness::DwordBytes(port)); }

bool SystemRig::StartOutlook(const std::string& script, bool loadAddins, const std::wstring& extraArgs) {
  sim_ = std::make_unique<simdriver::SimProcess>(OutlookSimExeW());
  advises_ = 0;
  const std::wstring args = std::wstring(loadAddins ? L"/linger 5" : L"/noaddins /linger 5") +
                            (extraArgs.empty() ? L"" : L" " + extraArgs);
  if (!sim_->Start(script + kOutliveTheTest, args)) return false;
  log_ = std::make_unique<LogFollower>(sim_->LogPath());
  return log_->WaitFor("Ready", 1000) >= 0;
}

bool SystemRig::QuitOutlook() {
  if (!sim_) return false;
  gate_.Close();
  sim_->RequestQuit();
  DWORD exitCode = 0;
  return sim_->WaitForExit(30000, &exitCode);
}

void SystemRig::KillOutlook() {
  gate_.Abandon();
  if (sim_ && sim_->Process()) {
    TerminateProcess(sim_->Process(), 9);
    WaitForSingleObject(sim_->Process(), 10000);
    // Later activations of "Outlook.Application" would find the dead server's registration.
    harness::RestartWineRpcss();
  }
}

bool SystemRig::StartAgent() { return StartAgentFrom(CadeloExe()); }

bool SystemRig::StartAgentFrom(const std::string& exePath) { return StartClient(exePath, " /hidewindow yes"); }

bool SystemRig::StartClient(const std::string& exePath, const std::string& commandLine) {
  agents_.push_back(harness::Process::Launch(exePath, commandLine));
  if (!agents_.back().Started()) return false;
  return WaitForNextAdvise();
}

bool SystemRig::WaitForNextAdvise(DWORD timeoutMs) {
  if (!log_) return false;
  if (log_->WaitForCount("Advise cookie=", advises_ + 1, timeoutMs) < 0) return false;
  ++advises_;
  return true;
}

bool SystemRig::RegisterAddin() {
  addinRegistered_ = true;
  return CallAddinEntry("DllRegisterServer") == S_OK;
}

bool SystemRig::AdviseSink(IDispatch* sink) { return gate_.AdviseSink(sink) && WaitForNextAdvise(); }

bool SystemRig::OpenGate(QuietSink** sink) { return gate_.Open(sink) && WaitForNextAdvise(); }

bool SystemRig::WaitForRequests(size_t n, DWORD timeoutMs) {
  return PumpWhile([&] { return gateway_.RequestCount() >= n; }, timeoutMs, 10);
}

}  // namespace systemtest
