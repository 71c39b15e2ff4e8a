#include "tests/harness/trusted_authority.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/harness/paths.h"
#include "tests/harness/registry.h"

namespace {

// A self-signed authority made once with openssl (valid until 2126); the store keeps it under its
// SHA-1 hash, which openssl printed as its fingerprint.
const char kAuthorityPem[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBrDCCAVGgAwIBAgIUK/mIKah+s/raWQMar2ejR88OFewwCgYIKoZIzj0EAwIw\n"
    "KjEoMCYGA1UEAwwfQnJpc29tZWwgaGFybmVzcyB0ZXN0IGF1dGhvcml0eTAgFw0y\n"
    "NjEyMTExNjQwMTVaGA8yMTI2MTExNzE2NDAxNVowKjEoMCYGA1UEAwwfQnJpc29t\n"
    "ZWwgaGFybmVzcyB0ZXN0IGF1dGhvcml0eTBZMBMGByqGSM49AgEGCCqGSM49AwEH\n"
    "A0IABOB14us32i40dHpee7gQqIc4ycap3f0d6mHgnwt6nAMkyE44qUuQnGuIODTO\n"
    "HzL66muTXJZhuijSC8yZoI8W0smjUzBRMB0GA1UdDgQWBBRCqfhw3lskW3h3UZFS\n"
    "jaVhsNq04jAfBgNVHSMEGDAWgBRCqfhw3lskW3h3UZFSjaVhsNq04jAPBgNVHRMB\n"
    "Af8EBTADAQH/MAoGCCqGSM49BAMCA0kAMEYCIQDaEXP/ZOp9/hy8T27YaDCvbEii\n"
    "ihcsL1bftHg+bJjSfQIhAO6CUMBcmjikjVAwXDkkSPD5J8g8bjtAkQx8v3CqGlkG\n"
    "-----END CERTIFICATE-----\n";
const char kStoreKey[] = "Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
                         "30B3560A6E6A49103815C3366F5EAB45EEAECCC7";

std::string Written(const harness::TempDir& dir, const char* name, const std::string& text) {
  std::ofstream(dir.File(name), std::ios::binary) << text;
  return dir.File(name);
}

TEST(TrustedAuthority, IsInTheMachineRootStoreUntilRemoved) {
  harness::TempDir dir;
  ASSERT_FALSE(harness::KeyExists(HKEY_LOCAL_MACHINE, kStoreKey));
  harness::TrustedAuthority authority;
  ASSERT_TRUE(authority.Add(Written(dir, "ca.crt", kAuthorityPem)));
  EXPECT_TRUE(harness::KeyExists(HKEY_LOCAL_MACHINE, kStoreKey));
  authority.Remove();
  EXPECT_FALSE(harness::KeyExists(HKEY_LOCAL_MACHINE, kStoreKey));
}

TEST(TrustedAuthority, IsRemovedWhenItGoes) {
  harness::TempDir dir;
  {
    harness::TrustedAuthority authority;
    ASSERT_TRUE(authority.Add(Written(dir, "ca.crt", kAuthorityPem)));
  }
  EXPECT_FALSE(harness::KeyExists(HKEY_LOCAL_MACHINE, kStoreKey));
}

TEST(TrustedAuthority, RefusesWhatIsNoCertificate) {
  harness::TempDir dir;
  harness::TrustedAuthority authority;
  EXPECT_FALSE(authority.Add(dir.File("missing.crt")));
  EXPECT_FALSE(authority.Add(Written(dir, "empty.crt", "")));
  EXPECT_FALSE(authority.Add(Written(dir, "text.crt", "not a certificate\n")));
  EXPECT_FALSE(harness::KeyExists(HKEY_LOCAL_MACHINE, kStoreKey));
}

}  // namespace
