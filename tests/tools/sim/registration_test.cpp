// /regserver and /unregserver: the exact keys, idempotence, a complete removal, and another
// program's registration left alone.
#include <gtest/gtest.h>

#include <map>

#include "common/win/handles.h"
#include "tests/tools/sim/sim_test_support.h"

namespace simtest {
namespace {

using simdriver::SimProcess;

const wchar_t kClsidKey[] = L"CLSID\\{0006F03A-0000-0000-C000-000000000046}";
const wchar_t kInterfaceKey[] = L"Interface\\{0006304E-0000-0000-C000-000000000046}";
const wchar_t kTypeLibKey[] = L"TypeLib\\{6B1D5C0E-2F44-4A8B-9C3D-0E5F7A21B9D4}";

// Every value below a key, as "subkey\\name" -> (type, bytes).
using Snapshot = std::map<std::wstring, std::pair<DWORD, std::string>>;

void Collect(HKEY key, const std::wstring& prefix, Snapshot* out) {
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLen = 256;
    BYTE data[2048];
    DWORD size = sizeof data, type = 0;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    (*out)[prefix + L"|" + name] = {type, std::string(reinterpret_cast<char*>(data), size)};
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLen = 256;
    if (RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    win::RegKey sub;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, sub.put()) == ERROR_SUCCESS) Collect(sub.get(), prefix + L"\\" + name, out);
  }
}

Snapshot Take() {
  Snapshot s;
  for (const wchar_t* path : {kClsidKey, L"Outlook.Application", kInterfaceKey, kTypeLibKey}) {
    win::RegKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS) Collect(key.get(), path, &s);
  }
  return s;
}

std::wstring DefaultValue(const std::wstring& path, DWORD* type = nullptr, DWORD* bytes = nullptr) {
  win::RegKey key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return L"<missing>";
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t), t = 0;
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &t, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) return L"<no value>";
  if (type) *type = t;
  if (bytes) *bytes = size;
  return data;
}

bool KeyExists(const std::wstring& path) {
  win::RegKey key;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t buf[MAX_PATH];
  const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, buf, nullptr);
  return std::wstring(buf, n);
}

TEST(Registration, WritesClassProgIdAndTypeLibraryAndRemovesThemAll) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Register(L"/log \"C:\\sim dir\\sim.log\" /linger 7"));
  DWORD type = 0, bytes = 0;
  const std::wstring server = DefaultValue(std::wstring(kClsidKey) + L"\\LocalServer32", &type, &bytes);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, (server.size() + 1) * sizeof(wchar_t)) << "stored with its terminating NUL";
  EXPECT_EQ(server, FullPath(SimExe()) + L" /log \"C:\\sim dir\\sim.log\" /linger 7");
  EXPECT_EQ(DefaultValue(kClsidKey), L"Outlook.Application (simulator)");
  EXPECT_EQ(DefaultValue(std::wstring(kClsidKey) + L"\\ProgID"), L"Outlook.Application");
  EXPECT_EQ(DefaultValue(L"Outlook.Application"), L"Outlook.Application (simulator)");
  EXPECT_EQ(DefaultValue(L"Outlook.Application\\CLSID"), L"{0006F03A-0000-0000-C000-000000000046}");
  // The event interface is described by the simulator's type library and marshalled through it.
  EXPECT_EQ(DefaultValue(std::wstring(kInterfaceKey) + L"\\TypeLib"), L"{6B1D5C0E-2F44-4A8B-9C3D-0E5F7A21B9D4}");
  EXPECT_EQ(DefaultValue(std::wstring(kInterfaceKey) + L"\\ProxyStubClsid32"), L"{00020420-0000-0000-C000-000000000046}");
#ifdef _WIN64
  constexpr wchar_t kTypeLibPlatform[] = L"win64";
#else
  constexpr wchar_t kTypeLibPlatform[] = L"win32";
#endif
  const std::wstring tlb =
      DefaultValue(std::wstring(kTypeLibKey) + L"\\1.0\\0\\" + kTypeLibPlatform);
  EXPECT_NE(GetFileAttributesW(tlb.c_str()), INVALID_FILE_ATTRIBUTES) << "type library file " << tlb.size();

  const Snapshot once = Take();
  ASSERT_TRUE(sim.Register(L"/log \"C:\\sim dir\\sim.log\" /linger 7"));
  EXPECT_EQ(Take(), once) << "registering twice gives the state of registering once";

  ASSERT_TRUE(sim.Unregister());
  for (const wchar_t* path : {kClsidKey, L"Outlook.Application", kInterfaceKey, kTypeLibKey}) {
    EXPECT_FALSE(KeyExists(path)) << path;
  }
  EXPECT_EQ(GetFileAttributesW(tlb.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(KeyExists(L"CLSID")) << "the parent keys stay";
  EXPECT_TRUE(sim.Unregister()) << "unregistering with nothing registered succeeds";

  ASSERT_TRUE(sim.Register());  // as the other tests expect it
  EXPECT_EQ(DefaultValue(std::wstring(kClsidKey) + L"\\LocalServer32"), FullPath(SimExe()));
}

// Runs the simulator with arguments; its exit code, and what it wrote to stderr in *errors.
DWORD RunCapturingErrors(const std::wstring& arguments, std::string* errors) {
  wchar_t folder[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, L"sim", 0, file);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  DWORD code = 0xFFFFFFFF;
  {
    win::FileHandle out(CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = out.get();
    std::wstring commandLine = L"\"" + SimExe() + L"\" " + arguments;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(SimExe().c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &started)) {
      win::KernelHandle process(started.hProcess), thread(started.hThread);
      WaitForSingleObject(process.get(), 30000);
      GetExitCodeProcess(process.get(), &code);
    }
  }
  win::FileHandle in(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  char text[4096] = {};
  DWORD read = 0;
  ReadFile(in.get(), text, sizeof text - 1, &read, nullptr);
  in.reset();
  DeleteFileW(file);
  errors->assign(text, read);
  return code;
}

void SetDefault(const std::wstring& path, const std::wstring& value) {
  win::RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// A real Outlook's class on the machine: /regserver leaves it as it is and says why (exit code
// 1), /unregserver does not remove it, and only /regserver /force overwrites it.
TEST(Registration, LeavesAnotherProgramsOutlookClassAloneUnlessForced) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Unregister());
  const std::wstring outlookExe = L"C:\\Program Files\\Microsoft Office\\root\\Office16\\OUTLOOK.EXE";
  SetDefault(kClsidKey, L"Microsoft Outlook");
  SetDefault(std::wstring(kClsidKey) + L"\\LocalServer32", outlookExe);
  SetDefault(L"Outlook.Application", L"Microsoft Outlook");
  const Snapshot outlook = Take();

  std::string errors;
  EXPECT_EQ(RunCapturingErrors(L"/regserver", &errors), 1u);
  EXPECT_NE(errors.find("refusing to register: the class {0006F03A-0000-0000-C000-000000000046} is registered for "
                        "another program (C:\\Program Files\\Microsoft Office\\root\\Office16\\OUTLOOK.EXE)"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("/regserver /force"), std::string::npos) << errors;
  EXPECT_EQ(Take(), outlook) << "the refused registration changed something";
  EXPECT_TRUE(sim.Unregister());
  EXPECT_EQ(Take(), outlook) << "/unregserver removed another program's registration";

  EXPECT_EQ(RunCapturingErrors(L"/regserver /force", &errors), 0u) << errors;
  EXPECT_EQ(DefaultValue(kClsidKey), L"Outlook.Application (simulator)");
  EXPECT_EQ(DefaultValue(std::wstring(kClsidKey) + L"\\LocalServer32"), FullPath(SimExe()));
  ASSERT_TRUE(sim.Unregister());
  EXPECT_FALSE(KeyExists(kClsidKey));
  ASSERT_TRUE(sim.Register());  // as the other tests expect it
}

TEST(Registration, ClientCreationFailsOnceUnregistered) {
  Apartment apartment;
  SimProcess sim(SimExe());
  ASSERT_TRUE(sim.Unregister());
  win::ComPtr<IDispatch> app;
  EXPECT_EQ(CreateOutlook(&app), CO_E_CLASSSTRING);
  ASSERT_TRUE(sim.Register());
}

}  // namespace
}  // namespace simtest
