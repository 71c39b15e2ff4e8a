// Self-registration as regsvr32 drives it: the exact keys and values of the class, its ProgID
// and the Outlook add-in key, and their complete removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/addin/absent_key_guard.h"
#include "tests/addin/mervane_dll.h"
#include "tests/addin/registry_tree.h"
#include "tests/harness/paths.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"

namespace addin_test {
namespace {

const char kClassKey[] = "CLSID\\{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}";
const char kProgIdKey[] = "Brisomel.Addin";
const char kOfficeKey[] = "Software\\Microsoft\\Office";
const char kAddinsKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins";
const char kAddinKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins\\Brisomel.Addin";
const char kDescription[] = "Brisomel COM Addin";

RegistryTree ExpectedClassTree(const std::string& dllPath) {
  return {{"", {{"", Sz(kDescription)}}},
          {"InprocServer32", {{"", Sz(dllPath)}}},
          {"ProgID", {{"", Sz("Brisomel.Addin")}}}};
}
RegistryTree ExpectedProgIdTree() {
  return {{"", {{"", Sz(kDescription)}}},
          {"CLSID", {{"", Sz("{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}")}}}};
}
RegistryTree ExpectedAddinTree() {
  return {{"",
           {{"LoadBehavior", Dword(3)},
            {"CommandLineSafe", Dword(0)},
            {"FriendlyName", Sz(kDescription)},
            {"Description", Sz(kDescription)}}}};
}

// regsvr32 run on the built DLL; its exit code, or a marker when it did not run to its end.
constexpr DWORD kDidNotRun = 0xDEAD;
DWORD Regsvr32(const std::string& options) {
  char system[MAX_PATH];
  const UINT n = GetSystemDirectoryA(system, sizeof system);
  if (n == 0 || n >= sizeof system) return kDidNotRun;
  harness::Process regsvr32 = harness::Process::Launch(
      std::string(system) + "\\regsvr32.exe",
      "regsvr32.exe " + options + " \"" + MervanePath() + "\"");
  if (!regsvr32.Started() || !regsvr32.WaitForExit(60000)) return kDidNotRun;
  return regsvr32.ExitCode();
}

class Registration : public ::testing::Test {
 protected:

  void ExpectRegistered() {
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, kClassKey), ExpectedClassTree(MervanePath()));
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, kProgIdKey), ExpectedProgIdTree());
    EXPECT_EQ(ReadTree(HKEY_CURRENT_USER, kAddinKey), ExpectedAddinTree());
  }
  void ExpectUnregistered() {
    EXPECT_FALSE(harness::KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(harness::KeyExists(HKEY_CLASSES_ROOT, kProgIdKey));
    EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kAddinKey));
    EXPECT_TRUE(harness::KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  }

  const bool officeExisted_ = harness::KeyExists(HKEY_CURRENT_USER, kOfficeKey);
  // Parents that only these tests created go too, so the prefix is left as found.
  AbsentKeyGuard office_{HKEY_CURRENT_USER, kOfficeKey};
  AbsentKeyGuard brisomel_{HKEY_CURRENT_USER, "Software\\Brisomel"};
  harness::ScopedRegistryKey classKey_{HKEY_CLASSES_ROOT, kClassKey};
  harness::ScopedRegistryKey progIdKey_{HKEY_CLASSES_ROOT, kProgIdKey};
  harness::ScopedRegistryKey addinKey_{HKEY_CURRENT_USER, kAddinKey};
};

TEST_F(Registration, WritesExactlyTheClassProgIdAndAddinKeys) {
  ASSERT_EQ(Regsvr32("/s"), 0u);
  ExpectRegistered();
  // The add-in is the current user's only.
  EXPECT_FALSE(harness::KeyExists(HKEY_LOCAL_MACHINE, kAddinKey));
  EXPECT_FALSE(harness::KeyExists(HKEY_USERS, std::string(".DEFAULT\\") + kAddinKey));
}

TEST_F(Registration, RegisteringAgainRestoresTheSameState) {
  ASSERT_EQ(Regsvr32("/s"), 0u);
  const RegistryTree classTree = ReadTree(HKEY_CLASSES_ROOT, kClassKey);
  // What a host or an older copy may have changed meanwhile.
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kAddinKey, "LoadBehavior", REG_DWORD,
                                  harness::DwordBytes(2)));
  ASSERT_TRUE(harness::WriteValue(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32",
                                  nullptr, REG_SZ, harness::SzBytes("C:\\old\\mervane.dll")));
  ASSERT_EQ(Regsvr32("/s"), 0u);
  ExpectRegistered();
  EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, kClassKey), classTree);
}

TEST_F(Registration, UnregisteringRemovesTheWholeTreesAndKeepsTheirParents) {
  ASSERT_EQ(Regsvr32("/s"), 0u);
  // Keys and values of any depth that others added below the three keys.
  const struct {
    HKEY root;
    std::string key;
    const char* value;
  } added[] = {
      {HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"},
      {HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Implemented Categories\\{00000000-1}\\deep",
       "x"},
      {HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\ProgID\\a\\b\\c\\d", nullptr},
      {HKEY_CLASSES_ROOT, std::string(kProgIdKey) + "\\CurVer", nullptr},
      {HKEY_CLASSES_ROOT, std::string(kProgIdKey) + "\\shell\\open\\command", nullptr},
      {HKEY_CURRENT_USER, kAddinKey, "CustomSetting"},
      {HKEY_CURRENT_USER, std::string(kAddinKey) + "\\Cache\\1", "blob"},
  };
  for (const auto& a : added) {
    ASSERT_TRUE(harness::WriteValue(a.root, a.key, a.value, REG_SZ, harness::SzBytes("other")));
  }
  // Removed again whatever the Office key's history: a stray add-in key would be loaded by every
  // later Outlook simulator in this prefix.
  harness::ScopedRegistryKey neighbour(HKEY_CURRENT_USER, std::string(kAddinsKey) + "\\Other.Addin");
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, std::string(kAddinsKey) + "\\Other.Addin",
                                  "LoadBehavior", REG_DWORD, harness::DwordBytes(3)));

  ASSERT_EQ(Regsvr32("/u /s"), 0u);
  ExpectUnregistered();
  EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, std::string(kAddinsKey) + "\\Other.Addin"))
      << "a neighbour of the add-in key stays";
}

TEST_F(Registration, UnregisteringWhatIsPartlyOrNotRegisteredSucceeds) {
  const struct {
    const char* what;
    HKEY root;
    const char* key;
  } present[] = {
      {"nothing", nullptr, nullptr},
      {"only the add-in key", HKEY_CURRENT_USER, kAddinKey},
      {"only the ProgID", HKEY_CLASSES_ROOT, kProgIdKey},
      {"only the class", HKEY_CLASSES_ROOT, kClassKey},
  };
  for (const auto& p : present) {
    if (p.root) {
      ASSERT_TRUE(harness::WriteValue(p.root, p.key, nullptr, REG_SZ, harness::SzBytes("x")));
    }
    EXPECT_EQ(Regsvr32("/u /s"), 0u) << p.what;
    ExpectUnregistered();
  }
  if (!officeExisted_) {
    harness::DeleteTree(HKEY_CURRENT_USER, kOfficeKey);
    EXPECT_EQ(Regsvr32("/u /s"), 0u);
    EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kOfficeKey)) << "nothing is created";
  }
}

// A machine where HKEY_CLASSES_ROOT's machine part cannot be written (a standard user). Wine checks
// a key's own security descriptor when it is opened, but not the parent's when a subkey is
// created, so a locked class key would still get its subkeys. Instead a predefined key is
// redirected, for this process, to a volatile key: below it no lasting key can be created
// (ERROR_CHILD_MUST_BE_VOLATILE), so every attempt to create a key there fails.
class RedirectedRoot {
 public:
  RedirectedRoot(HKEY root, const char* standIn) : root_(root), key_(HKEY_CURRENT_USER, standIn) {
    ok_ = RegCreateKeyExA(HKEY_CURRENT_USER, standIn, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, standIn_.put(), nullptr) == ERROR_SUCCESS &&
          RegOverridePredefKey(root_, standIn_.get()) == ERROR_SUCCESS;
  }
  ~RedirectedRoot() { RegOverridePredefKey(root_, nullptr); }
  bool Ok() const { return ok_; }

 private:
  HKEY root_;
  harness::ScopedRegistryKey key_;
  win::RegKey standIn_;
  bool ok_ = false;
};

const char kUserClassKey[] = "Software\\Classes\\CLSID\\{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}";
const char kUserProgIdKey[] = "Software\\Classes\\Brisomel.Addin";

// As setup registers it: the class in the user's own classes, where Outlook finds it too.
TEST_F(Registration, WithoutWritableMachineClassesTheUserClassesGetTheClass) {
  harness::ScopedRegistryKey userClass(HKEY_CURRENT_USER, kUserClassKey);
  harness::ScopedRegistryKey userProgId(HKEY_CURRENT_USER, kUserProgIdKey);
  HRESULT registered = E_UNEXPECTED;
  {
    RedirectedRoot machine(HKEY_CLASSES_ROOT, "Software\\Brisomel\\AddinTestClassesRoot");
    ASSERT_TRUE(machine.Ok());
    registered = Mervane().DllRegisterServer();
    EXPECT_TRUE(harness::SubkeyNames(HKEY_CURRENT_USER, "Software\\Brisomel\\AddinTestClassesRoot").empty());
  }
  EXPECT_EQ(registered, S_OK);
  EXPECT_EQ(ReadTree(HKEY_CURRENT_USER, kUserClassKey), ExpectedClassTree(MervanePath()));
  EXPECT_EQ(ReadTree(HKEY_CURRENT_USER, kUserProgIdKey), ExpectedProgIdTree());
  EXPECT_EQ(ReadTree(HKEY_CURRENT_USER, kAddinKey), ExpectedAddinTree());

  // Unregistering removes it from there too.
  ASSERT_EQ(Regsvr32("/u /s"), 0u);
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kUserClassKey));
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kUserProgIdKey));
  ExpectUnregistered();
}

// regsvr32 must not say "succeeded" when Outlook would find no class.
TEST_F(Registration, WhenNoClassesCanBeWrittenItFails) {
  HRESULT registered = S_OK;
  {
    RedirectedRoot machine(HKEY_CLASSES_ROOT, "Software\\Brisomel\\AddinTestClassesRoot");
    RedirectedRoot user(HKEY_CURRENT_USER, "Software\\Brisomel\\AddinTestUserRoot");
    ASSERT_TRUE(machine.Ok() && user.Ok());
    registered = Mervane().DllRegisterServer();
  }
  EXPECT_EQ(registered, HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
  EXPECT_FALSE(harness::KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

// A DLL in a folder such as C:\\Users\\Łukasz is registered by its real name, not with '?'.
TEST_F(Registration, RegistersAPathTheAnsiCodePageCannotSpell) {
  harness::TempDir temp;
  const std::string ansiTemp = temp.Path();
  const std::wstring folder = std::wstring(ansiTemp.begin(), ansiTemp.end()) + L"\\\u0141ukasz \u65e5\u672c";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring path = folder + L"\\mervane.dll";
  const std::string built = MervanePath();
  ASSERT_TRUE(CopyFileW(std::wstring(built.begin(), built.end()).c_str(), path.c_str(), FALSE));
  {
    win::Module dll(LoadLibraryW(path.c_str()));
    ASSERT_TRUE(dll);
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll.get(), "DllRegisterServer")));
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg(), S_OK);
  }
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  DWORD type = 0;
  EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, L"CLSID\\{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}\\InprocServer32",
                         nullptr, RRF_RT_ANY, &type, value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(value), path);
  DeleteFileW(path.c_str());
  RemoveDirectoryW(folder.c_str());
}

// A copy of the DLL at a path of an exact length, below folders made for it (the path may be
// longer than MAX_PATH); removed with its folders when the object goes away.
class DllCopy {
 public:
  DllCopy(const std::string& base, size_t pathLength) {
    const std::string file = "\\mervane.dll";
    if (base.size() + 2 + file.size() > pathLength) return;
    std::string folder = base;
    for (char letter = 'a'; folder.size() + file.size() < pathLength; ++letter) {
      const size_t room = pathLength - folder.size() - file.size() - 1;  // minus the backslash
      // Leave no remainder too short for a further folder.
      const size_t length = room <= 200 ? room : std::min<size_t>(150, room);
      folder += "\\" + std::string(length, letter);
      if (!CreateDirectoryW(Wide(folder).c_str(), nullptr)) return;
      folders_.push_back(folder);
    }
    const std::string path = folder + file;
    if (path.size() != pathLength ||
        !CopyFileW(Wide(MervanePath()).c_str(), Wide(path).c_str(), FALSE))
      return;
    path_ = path;
    module_ = LoadLibraryW(Wide(path_).c_str());
  }
  ~DllCopy() {
    if (module_) FreeLibrary(module_);
    if (!path_.empty()) DeleteFileW(Wide(path_).c_str());
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryW(Wide(*it).c_str());
  }
  DllCopy(const DllCopy&) = delete;
  DllCopy& operator=(const DllCopy&) = delete;

  const std::string& Path() const { return path_; }
  HRESULT Register() const {
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
    return reg ? reg() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  bool Loaded() const { return module_ != nullptr; }

 private:
  static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
  std::vector<std::string> folders_;
  std::string path_;
  HMODULE module_ = nullptr;
};

// Its own path goes into the registry: one that does not fit the 512-byte buffer would be
// registered cut short, naming a file that is not the DLL, so nothing is registered at all.
TEST_F(Registration, ADllPathThatDoesNotFitIsNotRegistered) {
  harness::TempDir temp;
  ASSERT_FALSE(temp.Path().empty());
  {
    DllCopy dll(temp.Path(), 511);
    ASSERT_TRUE(dll.Loaded()) << dll.Path();
    EXPECT_EQ(dll.Register(), S_OK);
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, kClassKey), ExpectedClassTree(dll.Path()));
  }
  for (size_t length : {512u, 640u}) {
    harness::DeleteTree(HKEY_CLASSES_ROOT, kClassKey);
    harness::DeleteTree(HKEY_CLASSES_ROOT, kProgIdKey);
    harness::DeleteTree(HKEY_CURRENT_USER, kAddinKey);
    DllCopy dll(temp.Path(), length);
    ASSERT_TRUE(dll.Loaded()) << length;
    EXPECT_EQ(dll.Register(), E_FAIL) << length;
    ExpectUnregistered();
  }
}

}  // namespace
}  // namespace addin_test
