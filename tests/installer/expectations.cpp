#include "tests/installer/expectations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/installer/installation.h"

namespace installer_test {

using harness::SzBytes;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

void ExpectExactValues(View view, HKEY root, const std::string& key, const std::vector<ExpectedValue>& expected) {
  SCOPED_TRACE(key + " (" + ViewName(view) + ")");
  std::vector<std::string> names;
  for (const ExpectedValue& value : expected) names.push_back(value.name);
  EXPECT_THAT(ValueNamesIn(view, root, key), UnorderedElementsAreArray(names));
  for (const ExpectedValue& value : expected) {
    const harness::RegValue actual = ReadValueIn(view, root, key, value.name.c_str());
    EXPECT_TRUE(actual.exists) << "value \"" << value.name << "\"";
    EXPECT_EQ(actual.type, value.type) << "value \"" << value.name << "\"";
    EXPECT_EQ(actual.bytes, value.bytes) << "value \"" << value.name << "\"";
  }
}

void ExpectAddinClass(View view, HKEY root, const std::string& dll) {
  const std::string classKey = ClassKey(kAddinClsid);
  ExpectExactValues(view, root, classKey, {{"", REG_SZ, SzBytes(kAddinDescription)}});
  EXPECT_THAT(SubkeyNamesIn(view, root, classKey), UnorderedElementsAre("InprocServer32", "ProgID"));
  ExpectExactValues(view, root, classKey + "\\InprocServer32", {{"", REG_SZ, SzBytes(dll)}});
  ExpectExactValues(view, root, classKey + "\\ProgID", {{"", REG_SZ, SzBytes(kAddinProgId)}});
  const std::string progIdKey = ProgIdKey(kAddinProgId);
  ExpectExactValues(view, root, progIdKey, {{"", REG_SZ, SzBytes(kAddinDescription)}});
  EXPECT_THAT(SubkeyNamesIn(view, root, progIdKey), ElementsAre("CLSID"));
  ExpectExactValues(view, root, progIdKey + "\\CLSID", {{"", REG_SZ, SzBytes(kAddinClsid)}});
}

void ExpectNoClasses() {
  for (View view : Views()) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      SCOPED_TRACE(std::string(root == HKEY_CURRENT_USER ? "HKCU " : "HKLM ") + ViewName(view));
      EXPECT_FALSE(KeyExistsIn(view, root, ClassKey(kAddinClsid)));
      EXPECT_FALSE(KeyExistsIn(view, root, ProgIdKey(kAddinProgId)));
      EXPECT_FALSE(KeyExistsIn(view, root, ClassKey(kDocumentClsid)));
      EXPECT_FALSE(KeyExistsIn(view, root, ProgIdKey(kDocumentProgId)));
    }
  }
}

std::string FileVersionOf(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return std::string();
  std::vector<unsigned char> block(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
      !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || !info) {
    return std::string();
  }
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(info->dwFileVersionMS)),
                static_cast<unsigned long>(LOWORD(info->dwFileVersionMS)),
                static_cast<unsigned long>(HIWORD(info->dwFileVersionLS)),
                static_cast<unsigned long>(LOWORD(info->dwFileVersionLS)));
  return text;
}

}  // namespace installer_test
