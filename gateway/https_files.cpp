#include "gateway/https_files.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "gateway/owned_fd.h"

namespace talmery {
namespace {

// Whole files only: a certificate chain of a few KB, never more than this.
constexpr size_t kMaxPemBytes = 1 << 20;

bool ReadAll(int fd, const std::string& path, const char* setting, std::string& text, std::string& error) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::string(setting) + ": cannot read " + path + ": " + std::strerror(errno);
      OPENSSL_cleanse(buffer, sizeof buffer);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxPemBytes) {
      error = std::string(setting) + ": " + path + " is larger than 1 MB: not a PEM file";
      OPENSSL_cleanse(buffer, sizeof buffer);
      return false;
    }
  }
  OPENSSL_cleanse(buffer, sizeof buffer);
  return true;
}

bool OpenFile(const std::string& path, const char* setting, OwnedFd& fd, struct stat& st, std::string& error) {
  fd = OwnedFd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
    error = std::string(setting) + ": cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = std::string(setting) + ": " + path + " is not a file";
    return false;
  }
  return true;
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// A key that is encrypted asks for its pass phrase: there is nobody to type it at a start.
int NoPassPhrase(char*, int, int, void*) { return -1; }

}  // namespace

HttpsFiles::~HttpsFiles() {
  if (!key.empty()) OPENSSL_cleanse(&key[0], key.size());
}

bool ReadHttpsFiles(const std::string& certificatePath, const std::string& keyPath, HttpsFiles& files,
                    std::string& error) {
  OwnedFd keyFd;
  struct stat st = {};
  if (!OpenFile(keyPath, "tls_key", keyFd, st, error)) return false;
  // Checked on the file opened, so that what is read is what was checked.
  if (st.st_uid != geteuid()) {
    error = "tls_key: " + keyPath + " is owned by user " + std::to_string(st.st_uid) + ", not by the user the gateway runs as (" +
            std::to_string(geteuid()) + "): give it to that user, mode 0600";
    return false;
  }
  if ((st.st_mode & 0077) != 0) {
    error = "tls_key: " + keyPath + " has mode " + ModeText(st.st_mode) +
            ": other users may read it; it must be readable by the gateway's user alone (chmod 0600)";
    return false;
  }
  std::string key, certificate;
  if (!ReadAll(keyFd.get(), keyPath, "tls_key", key, error)) return false;
  files.key = std::move(key);
  OwnedFd certificateFd;
  if (!OpenFile(certificatePath, "tls_certificate", certificateFd, st, error) ||
      !ReadAll(certificateFd.get(), certificatePath, "tls_certificate", certificate, error))
    return false;
  files.certificate = std::move(certificate);

  ERR_clear_error();
  std::unique_ptr<BIO, decltype(&BIO_free)> certificateBio(
      BIO_new_mem_buf(files.certificate.data(), static_cast<int>(files.certificate.size())), BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> leaf(
      certificateBio ? PEM_read_bio_X509(certificateBio.get(), nullptr, NoPassPhrase, nullptr) : nullptr, X509_free);
  if (!leaf) {
    ERR_clear_error();
    error = "tls_certificate: " + certificatePath + " holds no PEM certificate (-----BEGIN CERTIFICATE-----)";
    return false;
  }
  // The rest of the chain must read too: a broken authority's certificate would be sent as is.
  for (int n = 2;; ++n) {
    std::unique_ptr<X509, decltype(&X509_free)> next(PEM_read_bio_X509(certificateBio.get(), nullptr, NoPassPhrase, nullptr),
                                                     X509_free);
    if (next) continue;
    const unsigned long why = ERR_peek_last_error();
    ERR_clear_error();
    if (ERR_GET_REASON(why) == PEM_R_NO_START_LINE || why == 0) break;
    error = "tls_certificate: certificate " + std::to_string(n) + " of " + certificatePath + " cannot be read";
    return false;
  }
  std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(BIO_new_mem_buf(files.key.data(), static_cast<int>(files.key.size())),
                                                   BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> privateKey(
      keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, NoPassPhrase, nullptr) : nullptr, EVP_PKEY_free);
  if (!privateKey) {
    ERR_clear_error();
    error = "tls_key: " + keyPath + " holds no PEM private key that can be read without a pass phrase";
    return false;
  }
  if (X509_check_private_key(leaf.get(), privateKey.get()) != 1) {
    ERR_clear_error();
    error = "tls_key: " + keyPath + " is not the key of the certificate in " + certificatePath +
            " (the first certificate there must be the gateway's own)";
    return false;
  }
  return true;
}

}  // namespace talmery
