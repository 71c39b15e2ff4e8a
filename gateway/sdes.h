#pragma once
// SDES keys for SRTP (RFC 4568): the a=crypto line of our offer and the key of the answer's.
// Only AES_CM_128_HMAC_SHA1_80 is offered and taken: the suite every SRTP phone speaks. Pure
// text work, so that every rule is tested without a call.
#include <string>

namespace talmery {

constexpr size_t kSdesKeyBytes = 30;  // the AES-128 master key (16 bytes) and its salt (14)
constexpr char kSdesSuite[] = "AES_CM_128_HMAC_SHA1_80";

// "1 AES_CM_128_HMAC_SHA1_80 inline:<key and salt in base64>": the value of an a=crypto line.
std::string SdesCrypto(int tag, const std::string& keySalt);

// The key and salt of an a=crypto value of our suite; false with the reason otherwise (another
// suite, a key of the wrong size, an MKI or session parameters we would not honour).
bool SdesKeyOf(const std::string& crypto, std::string& keySalt, std::string& error);

}  // namespace talmery
