#include "agent/shell/addin_path.h"

namespace {

template <typename String>
String Ascii(const char* text) {
  return String(text, text + std::char_traits<char>::length(text));
}

}  // namespace

template <typename String>
String AddinPathBeside(const String& programPath) {
  using Char = typename String::value_type;
  typename String::size_type cut = programPath.rfind(Char('/'));
  if (cut == String::npos) cut = programPath.rfind(Char('\\'));
  String folder = cut == String::npos ? programPath : programPath.substr(0, cut + 1);
  return folder + Ascii<String>("mervane.dll");
}

template <typename String>
String QuoteArgument(const String& path) {
  using Char = typename String::value_type;
  return Char('"') + path + Char('"');
}

template std::string AddinPathBeside(const std::string&);
template std::wstring AddinPathBeside(const std::wstring&);
template std::string QuoteArgument(const std::string&);
template std::wstring QuoteArgument(const std::wstring&);
