#pragma once
// The certificate and key that HTTPS on `listen` is served with, read afresh at each start and
// reload. The key must be the service user's alone: a key that other users can read is no longer
// a secret, and a start that goes on with it would hide that. Both files are checked here (one
// key, that of the first certificate) so that a bad file is named to the administrator rather
// than left to the TLS library's terse refusal.
#include <string>

namespace talmery {

struct HttpsFiles {
  std::string certificate;  // PEM: ours first, then the authorities' that a client may lack
  std::string key;          // PEM, unencrypted
  ~HttpsFiles();            // wipes the key's bytes
};

// False with a message that names the file and what is wrong with it.
bool ReadHttpsFiles(const std::string& certificatePath, const std::string& keyPath, HttpsFiles& files,
                    std::string& error);

}  // namespace talmery
