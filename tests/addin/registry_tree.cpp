#include "tests/addin/registry_tree.h"

#include "tests/harness/registry.h"

namespace addin_test {

void PrintTo(const RegistryValue& value, std::ostream* out) {
  *out << "type " << value.type << ", " << value.bytes.size() << " bytes";
  if (value.type == REG_SZ) {
    *out << " \"";
    for (unsigned char c : value.bytes) {
      if (c == 0)
        *out << "\\0";
      else
        *out << static_cast<char>(c);
    }
    *out << "\"";
  } else {
    for (unsigned char c : value.bytes) *out << ' ' << static_cast<int>(c);
  }
}

RegistryValue Sz(const std::string& text) {
  RegistryValue v{REG_SZ, harness::SzBytes(text)};
  return v;
}

RegistryValue Dword(DWORD value) {
  RegistryValue v{REG_DWORD, harness::DwordBytes(value)};
  return v;
}

namespace {

void ReadInto(HKEY root, const std::string& top, const std::string& relative, RegistryTree* tree) {
  const std::string key = relative.empty() ? top : top + "\\" + relative;
  auto& values = (*tree)[relative];
  for (const std::string& name : harness::ValueNames(root, key)) {
    const harness::RegValue v = harness::ReadValue(root, key, name.c_str());
    values[name] = RegistryValue{v.type, v.bytes};
  }
  for (const std::string& child : harness::SubkeyNames(root, key)) {
    ReadInto(root, top, relative.empty() ? child : relative + "\\" + child, tree);
  }
}

}  // namespace

RegistryTree ReadTree(HKEY root, const std::string& key) {
  RegistryTree tree;
  if (harness::KeyExists(root, key)) ReadInto(root, key, "", &tree);
  return tree;
}

}  // namespace addin_test
