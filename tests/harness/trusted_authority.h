#pragma once
// A test authority trusted in this prefix's machine Root store while the object lives: the HTTPS
// tests and the HTTPS benchmark check the real call server's certificate with the system's own
// trust, as the agent does, so the authority that issued it must be trusted, and only for the run.
#include <string>

namespace harness {

class TrustedAuthority {
 public:
  TrustedAuthority() = default;
  TrustedAuthority(const TrustedAuthority&) = delete;
  TrustedAuthority& operator=(const TrustedAuthority&) = delete;
  ~TrustedAuthority() { Remove(); }

  // Adds the PEM certificate in pemFile (a Windows path). Do it before the process checks its
  // first certificate: the system reads its trusted roots once a process, so an authority added
  // later would not count in this one.
  bool Add(const std::string& pemFile);
  // Removes it again by its key in the store's registry (the store keeps each certificate under
  // its SHA-1 hash); nothing when none was added.
  void Remove();

 private:
  std::string key_;
};

}  // namespace harness
