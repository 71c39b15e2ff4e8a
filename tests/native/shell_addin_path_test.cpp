// The add-in's path beside the program, and its quoting for regsvr32.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "agent/shell/shell_text.h"
#include "common/wide_text.h"

namespace {

TEST(AddinPath, FolderOfTheProgramPlusAddinName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\Apps\\cadelo.exe", "C:\\Apps\\mervane.dll"},
      {"C:\\Program Files\\Brisomel\\cadelo.exe", "C:\\Program Files\\Brisomel\\mervane.dll"},
      {"C:/x\\y\\cadelo.exe", "C:/mervane.dll"},  // a '/' wins over a later '\'
      {"C:\\a/b\\cadelo.exe", "C:\\a/mervane.dll"},
      {"\\\\server\\share\\cadelo.exe", "\\\\server\\share\\mervane.dll"},
      {"C:\\cadelo.exe", "C:\\mervane.dll"},
      {"cadelo.exe", "cadelo.exemervane.dll"},  // no separator: the whole path is kept
      {"", "mervane.dll"},
  };
  for (const auto& [program, addin] : cases) EXPECT_EQ(AddinPathBeside(program), addin) << program;
}

// Wide paths (the program's folder may hold any character) take the same rule.
TEST(AddinPath, WidePathsAlike) {
  EXPECT_EQ(AddinPathBeside(WideText(L"C:\\Users\\\u0141ukasz\\cadelo.exe")),
            L"C:\\Users\\\u0141ukasz\\mervane.dll");
  EXPECT_EQ(QuoteArgument(WideText(L"C:\\\u65e5\\mervane.dll")), L"\"C:\\\u65e5\\mervane.dll\"");
}

TEST(AddinPath, QuotedAsOneArgument) {
  EXPECT_EQ(QuoteArgument(std::string("C:\\Program Files\\B\\mervane.dll")), "\"C:\\Program Files\\B\\mervane.dll\"");
  EXPECT_EQ(QuoteArgument(std::string("C:\\Apps\\mervane.dll")), "\"C:\\Apps\\mervane.dll\"");
}

}  // namespace
