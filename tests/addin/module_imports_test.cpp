// What mervane.dll links against: system DLLs only, and of those no COM library at all, just the
// wide registry, process, job, thread and module functions and one message box.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>

#include "tests/addin/mervane_dll.h"

namespace addin_test {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// DLL name (lower case) -> names of the functions imported from it, read from the loaded image.
std::map<std::string, std::set<std::string>> Imports(HMODULE module) {
  std::map<std::string, std::set<std::string>> imports;
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return imports;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       d->Name != 0; ++d) {
    auto& functions = imports[Lower(reinterpret_cast<const char*>(base + d->Name))];
    const DWORD lookup = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
    for (auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + lookup);
         thunk->u1.AddressOfData != 0; ++thunk) {
      if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)) {
        functions.insert("#" + std::to_string(IMAGE_ORDINAL(thunk->u1.Ordinal)));
      } else {
        functions.insert(reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                             base + thunk->u1.AddressOfData)->Name);
      }
    }
  }
  return imports;
}

// The ribbon's BSTRs and VARIANTs come from OLE Automation; the COM library (ole32) stays out.
TEST(MervaneImports, SystemDllsOnlyAndNoComLibrary) {
  const HMODULE module = Mervane().module;
  ASSERT_NE(module, nullptr);
  const auto imports = Imports(module);
  std::set<std::string> dlls;
  for (const auto& entry : imports) dlls.insert(entry.first);
  EXPECT_EQ(dlls, (std::set<std::string>{"advapi32.dll", "kernel32.dll", "msvcrt.dll", "oleaut32.dll",
                                         "user32.dll"}));
  for (const std::string& function : imports.at("oleaut32.dll")) {
    EXPECT_TRUE(function.rfind("Sys", 0) == 0 || function.rfind("Variant", 0) == 0) << function;
  }
  EXPECT_EQ(imports.at("user32.dll"), std::set<std::string>{"MessageBoxW"});
  // Wide calls only: paths may hold characters that the ANSI code page lacks.
  const std::set<std::string> registry = {"RegCloseKey",      "RegCreateKeyExW", "RegDeleteKeyW",
                                          "RegEnumKeyExW",    "RegOpenKeyExW",   "RegQueryValueExW",
                                          "RegSetValueExW"};
  for (const std::string& function : imports.at("advapi32.dll")) {
    EXPECT_TRUE(registry.count(function)) << function;
  }
  for (const char* needed : {"CreateProcessW", "TerminateProcess", "GetModuleFileNameW",
                             "DisableThreadLibraryCalls", "CloseHandle", "CreateThread",
                             "FreeLibraryAndExitThread", "CreateJobObjectW",
                             "AssignProcessToJobObject"}) {
    EXPECT_TRUE(imports.at("kernel32.dll").count(needed)) << needed;
  }
}

}  // namespace
}  // namespace addin_test
