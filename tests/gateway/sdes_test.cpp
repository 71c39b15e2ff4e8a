#include "gateway/sdes.h"

#include <gtest/gtest.h>

namespace talmery {
namespace {

const std::string kKey = std::string("0123456789abcdef") + "ABCDEFGHIJKLMN";  // 30 bytes
// kKey in base64: what RFC 4568's inline key carries.
constexpr char kInline[] = "MDEyMzQ1Njc4OWFiY2RlZkFCQ0RFRkdISUpLTE1O";

TEST(Sdes, OurOfferLine) {
  EXPECT_EQ(SdesCrypto(1, kKey), std::string("1 AES_CM_128_HMAC_SHA1_80 inline:") + kInline);
}

TEST(Sdes, KeysOfAnswers) {
  const std::string inl = std::string("inline:") + kInline;
  for (const std::string& good :
       {"1 AES_CM_128_HMAC_SHA1_80 " + inl, "123456789 AES_CM_128_HMAC_SHA1_80 " + inl + "|2^31",
        "1 AES_CM_128_HMAC_SHA1_80 " + inl + ";inline:" + kInline}) {
    std::string key, error;
    EXPECT_TRUE(SdesKeyOf(good, key, error)) << good << ": " << error;
    EXPECT_EQ(key, kKey) << good;
  }
  const struct {
    std::string crypto;
    const char* error;
  } bad[] = {
      {"1 AES_CM_128_HMAC_SHA1_32 " + inl, "suite AES_CM_128_HMAC_SHA1_32, not AES_CM_128_HMAC_SHA1_80"},
      {"1 AES_CM_128_HMAC_SHA1_80 " + inl + "|2^20|1:4", "keys with an MKI are not taken"},
      {"1 AES_CM_128_HMAC_SHA1_80 " + inl + "|1:4", "keys with an MKI are not taken"},
      {"1 AES_CM_128_HMAC_SHA1_80 " + inl + " UNENCRYPTED_SRTP", "session parameters (UNENCRYPTED_SRTP) are not taken"},
      {"1 AES_CM_128_HMAC_SHA1_80 inline:MDEyMzQ1Njc4OWFiY2RlZg==", "the key is not 30 bytes in base64"},
      {"1 AES_CM_128_HMAC_SHA1_80 inline:MDEyMzQ1Njc4OWFiY2RlZkFCQ0RFRkdISUpLTE1*", "the key is not 30 bytes in base64"},
      {"1 AES_CM_128_HMAC_SHA1_80 uri:https://example.com/key", "no inline key"},
      {"x AES_CM_128_HMAC_SHA1_80 " + inl, "malformed crypto line"},
      {"1234567890 AES_CM_128_HMAC_SHA1_80 " + inl, "malformed crypto line"},
      {"AES_CM_128_HMAC_SHA1_80", "malformed crypto line"},
  };
  for (const auto& b : bad) {
    std::string key = "left over", error;
    EXPECT_FALSE(SdesKeyOf(b.crypto, key, error)) << b.crypto;
    EXPECT_EQ(error, b.error) << b.crypto;
  }
}

}  // namespace
}  // namespace talmery
