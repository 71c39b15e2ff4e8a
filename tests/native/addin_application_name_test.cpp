#include "addin/application_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <memory>
#include <string>

namespace {

// Runs the derivation on an exactly sized heap copy, so reading past `size` trips the sanitizer.
struct Derived {
  bool usable;
  std::string name;
};
Derived Derive(const std::string& bytes, std::size_t capacity = kApplicationNameCapacity) {
  std::unique_ptr<char[]> value(new char[bytes.size() ? bytes.size() : 1]);
  std::memcpy(value.get(), bytes.data(), bytes.size());
  std::unique_ptr<char[]> name(new char[capacity]);
  std::memset(name.get(), '#', capacity);
  const bool usable = ApplicationNameFromPathValue(value.get(), bytes.size(), name.get(), capacity);
  return {usable, std::string(name.get(), strnlen(name.get(), capacity))};
}

std::string Text(std::size_t length) { return std::string(length, 'a'); }

TEST(AddinApplicationName, TakesTheTextUpToItsNulOrTheBytesRead) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string name;
  };
  const Case cases[] = {
      {"REG_SZ with its NUL", std::string("C:\\Program Files\\cadelo.exe\0", 28),
       "C:\\Program Files\\cadelo.exe"},
      {"no NUL stored", "C:\\a b\\cadelo.exe", "C:\\a b\\cadelo.exe"},
      {"stops at the first NUL", std::string("C:\\x.exe\0C:\\y.exe\0", 18), "C:\\x.exe"},
      {"REG_MULTI_SZ style tail", std::string("C:\\x.exe\0\0", 10), "C:\\x.exe"},
      {"empty value", "", ""},
      {"only a NUL", std::string("\0", 1), ""},
      {"ANSI bytes kept", "C:\\Pr\xfc" "fung\\cadelo.exe", "C:\\Pr\xfc" "fung\\cadelo.exe"},
  };
  for (const Case& c : cases) {
    const Derived d = Derive(c.bytes);
    EXPECT_TRUE(d.usable) << c.what;
    EXPECT_EQ(d.name, c.name) << c.what;
  }
}

TEST(AddinApplicationName, TextOf259FitsAndLongerIsUnusable) {
  struct Case {
    std::string bytes;
    bool usable;
  };
  const Case cases[] = {
      {Text(259), true},
      {Text(259) + std::string(1, '\0'), true},
      {Text(259) + std::string("\0zzzz", 5), true},
      {Text(260), false},
      {Text(260) + std::string(1, '\0'), false},
      {Text(300) + std::string(1, '\0'), false},
      {Text(1023) + std::string(1, '\0'), false},
      {Text(1024), false},
  };
  for (const Case& c : cases) {
    const Derived d = Derive(c.bytes);
    EXPECT_EQ(d.usable, c.usable) << c.bytes.size() << " bytes";
    EXPECT_EQ(d.name, c.usable ? Text(259) : std::string()) << c.bytes.size() << " bytes";
  }
}

TEST(AddinApplicationName, HonoursASmallerBuffer) {
  EXPECT_TRUE(Derive("abc", 4).usable);
  EXPECT_FALSE(Derive("abcd", 4).usable);
  EXPECT_EQ(Derive("abcd", 4).name, "");
  char untouched = 'x';
  EXPECT_FALSE(ApplicationNameFromPathValue("a", 1, &untouched, 0));
  EXPECT_EQ(untouched, 'x');
}

// A string value arrives as UTF-16: the same rule, on characters, with every character kept.
TEST(AddinApplicationName, TakesUtf16TextAlike) {
  const struct {
    const char* what;
    std::u16string value;
    bool usable;
    std::u16string name;
  } cases[] = {
      {"outside the ANSI code page", u"C:\\Users\\\u0141ukasz\\cadelo.exe", true,
       u"C:\\Users\\\u0141ukasz\\cadelo.exe"},
      {"stops at the first NUL", std::u16string(u"C:\\\u65e5.exe\0C:\\y.exe", 16), true, u"C:\\\u65e5.exe"},
      {"259 characters", std::u16string(259, u'\u0141'), true, std::u16string(259, u'\u0141')},
      {"260 characters", std::u16string(260, u'\u0141'), false, u""},
  };
  for (const auto& c : cases) {
    // Exactly sized, so a read past the characters delivered trips the sanitizer.
    std::unique_ptr<char16_t[]> value(new char16_t[c.value.size()]);
    std::copy(c.value.begin(), c.value.end(), value.get());
    char16_t name[kApplicationNameCapacity];
    EXPECT_EQ(ApplicationNameFromPathValue(value.get(), c.value.size(), name, kApplicationNameCapacity),
              c.usable)
        << c.what;
    EXPECT_EQ(std::u16string(name), c.name) << c.what;
  }
}

// The agent runs in its own folder: the name's folder, the root kept as "C:\".
TEST(AddinApplicationName, FolderIsTheAgentsOwn) {
  const struct {
    std::u16string name;
    bool hasFolder;
    std::u16string folder;
  } cases[] = {
      {u"C:\\Users\\\u0141ukasz\\Brisomel\\cadelo.exe", true, u"C:\\Users\\\u0141ukasz\\Brisomel"},
      {u"C:\\cadelo.exe", true, u"C:\\"},
      {u"C:/x/cadelo.exe", true, u"C:/x"},
      {u"\\\\server\\share\\cadelo.exe", true, u"\\\\server\\share"},
      {u"\\cadelo.exe", true, u"\\"},
      {u"cadelo.exe", false, u""},
      {u"", false, u""},
  };
  for (const auto& c : cases) {
    char16_t folder[kApplicationNameCapacity] = {u'#'};
    EXPECT_EQ(FolderOfApplicationName(c.name.c_str(), folder, kApplicationNameCapacity), c.hasFolder);
    EXPECT_EQ(std::u16string(folder), c.folder);
  }
}

}  // namespace
