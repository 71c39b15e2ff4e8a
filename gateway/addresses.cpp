#include "gateway/addresses.h"

#include <arpa/inet.h>

#include <cstring>

#include "gateway/setting_list.h"

namespace talmery {

bool ParseAddress(const std::string& text, Address16& out) {
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    out.fill(0);
    out[10] = out[11] = 0xff;
    std::memcpy(&out[12], &v4, 4);
    return true;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
    std::memcpy(out.data(), &v6, 16);
    return true;
  }
  return false;
}

bool ParseAddressBlock(const std::string& text, AddressBlock& out, std::string& error) {
  const size_t slash = text.find('/');
  const std::string host = text.substr(0, slash);
  if (!ParseAddress(host, out.base)) {
    error = "\"" + text + "\" is not an IPv4 or IPv6 address or block";
    return false;
  }
  const bool v4 = host.find(':') == std::string::npos;
  const int width = v4 ? 32 : 128;
  int prefix = width;
  if (slash != std::string::npos) {
    const std::string bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(bits) > width) {
      error = "\"" + text + "\": the prefix length must be 0 to " + std::to_string(width);
      return false;
    }
    prefix = std::stoi(bits);
  }
  out.prefix = v4 ? prefix + 96 : prefix;
  // The bits past the prefix do not count ("10.1.2.3/16" is 10.1.0.0/16).
  for (int bit = out.prefix; bit < 128; ++bit) out.base[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
  return true;
}

bool ParseAddressBlocks(const std::string& text, std::vector<AddressBlock>& out, std::string& error) {
  out.clear();
  for (const std::string& item : SplitList(text)) {
    AddressBlock block;
    if (!ParseAddressBlock(item, block, error)) return false;
    out.push_back(block);
  }
  return true;
}

bool InBlock(const Address16& address, const AddressBlock& block) {
  const int whole = block.prefix / 8;
  if (std::memcmp(address.data(), block.base.data(), static_cast<size_t>(whole)) != 0) return false;
  const int rest = block.prefix % 8;
  if (rest == 0) return true;
  const uint8_t mask = static_cast<uint8_t>(0xff00u >> rest);
  return (address[whole] & mask) == (block.base[whole] & mask);
}

bool InAnyBlock(const Address16& address, const std::vector<AddressBlock>& blocks) {
  for (const AddressBlock& b : blocks)
    if (InBlock(address, b)) return true;
  return false;
}

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost") return true;
  std::string bare = host;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
  Address16 a;
  return ParseAddress(bare, a) && InAnyBlock(a, LoopbackBlocks());
}

std::vector<AddressBlock> LoopbackBlocks() {
  std::vector<AddressBlock> blocks;
  std::string ignored;
  ParseAddressBlocks("127.0.0.0/8 ::1", blocks, ignored);
  return blocks;
}

}  // namespace talmery
