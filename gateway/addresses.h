#pragma once
// Client addresses and blocks of them (clients, metrics_clients, the loopback the HTTP side may
// listen on): pure, free of sockets, so that they are tested natively.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace talmery {

// An address as 16 bytes; IPv4 addresses are held as IPv4-mapped IPv6 (::ffff:a.b.c.d), so that
// a block written as IPv4 also matches a client seen on a dual-stack socket.
using Address16 = std::array<uint8_t, 16>;

struct AddressBlock {
  Address16 base{};
  int prefix = 128;  // bits, counted over the 16 bytes
};

// "192.0.2.7", "10.1.0.0/16", "2001:db8::/32", "::1". False with a reason.
bool ParseAddress(const std::string& text, Address16& out);
bool ParseAddressBlock(const std::string& text, AddressBlock& out, std::string& error);
// A comma- or blank-separated list of addresses and blocks.
bool ParseAddressBlocks(const std::string& text, std::vector<AddressBlock>& out, std::string& error);
bool InBlock(const Address16& address, const AddressBlock& block);
bool InAnyBlock(const Address16& address, const std::vector<AddressBlock>& blocks);
// 127.0.0.0/8, ::1, "localhost".
bool IsLoopbackHost(const std::string& host);
// The blocks of this machine's loopback addresses: 127.0.0.0/8 and ::1.
std::vector<AddressBlock> LoopbackBlocks();

}  // namespace talmery
