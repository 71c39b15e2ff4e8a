#include "gateway/sdes.h"

#include <cstdint>

namespace talmery {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t chunk = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) chunk |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) chunk |= static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[(chunk >> 18) & 63];
    out += kAlphabet[(chunk >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(chunk >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[chunk & 63] : '=';
  }
  return out;
}

// Strict: only the alphabet, padding only at the end, whole quads.
bool Unbase64(const std::string& text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t chunk = 0;
    int pad = 0;
    for (size_t j = 0; j < 4; ++j) {
      const char c = text[i + j];
      uint32_t v = 0;
      if (c == '=' && i + 4 == text.size() && j >= 2) {
        ++pad;
      } else {
        if (pad) return false;
        const char* at = nullptr;
        for (const char* p = kAlphabet; *p; ++p)
          if (*p == c) at = p;
        if (!at) return false;
        v = static_cast<uint32_t>(at - kAlphabet);
      }
      chunk = (chunk << 6) | v;
    }
    bytes += static_cast<char>((chunk >> 16) & 0xff);
    if (pad < 2) bytes += static_cast<char>((chunk >> 8) & 0xff);
    if (pad < 1) bytes += static_cast<char>(chunk & 0xff);
  }
  return true;
}

}  // namespace

std::string SdesCrypto(int tag, const std::string& keySalt) {
  return std::to_string(tag) + " " + kSdesSuite + " inline:" + Base64(keySalt);
}

bool SdesKeyOf(const std::string& crypto, std::string& keySalt, std::string& error) {
  // tag SP suite SP key-params [SP session-params]; key-params: inline:key[|lifetime][|MKI:length][;...]
  const size_t tagEnd = crypto.find(' ');
  const size_t suiteEnd = tagEnd == std::string::npos ? std::string::npos : crypto.find(' ', tagEnd + 1);
  // The tag: one to nine digits (RFC 4568), so that it fits an int.
  if (tagEnd == 0 || tagEnd > 9 || suiteEnd == std::string::npos || crypto.find_first_not_of("0123456789") != tagEnd) {
    error = "malformed crypto line";
    return false;
  }
  const std::string suite = crypto.substr(tagEnd + 1, suiteEnd - tagEnd - 1);
  if (suite != kSdesSuite) {
    error = "suite " + suite + ", not " + kSdesSuite;
    return false;
  }
  std::string params = crypto.substr(suiteEnd + 1);
  if (params.find(' ') != std::string::npos) {
    error = "session parameters (" + params.substr(params.find(' ') + 1) + ") are not taken";
    return false;
  }
  params = params.substr(0, params.find(';'));  // more keys: the first is the one in use
  if (params.compare(0, 7, "inline:") != 0) {
    error = "no inline key";
    return false;
  }
  const size_t bar = params.find('|');
  const std::string key = params.substr(7, bar == std::string::npos ? std::string::npos : bar - 7);
  // A lifetime may follow; an MKI (a second '|', or one with ':') would need marking each packet.
  if (bar != std::string::npos) {
    const std::string rest = params.substr(bar + 1);
    if (rest.find('|') != std::string::npos || rest.find(':') != std::string::npos) {
      error = "keys with an MKI are not taken";
      return false;
    }
  }
  if (!Unbase64(key, keySalt) || keySalt.size() != kSdesKeyBytes) {
    keySalt.clear();
    error = "the key is not " + std::to_string(kSdesKeyBytes) + " bytes in base64";
    return false;
  }
  return true;
}

}  // namespace talmery
