# Sourced: certificates of a throwaway test authority, made anew in the current folder, for the
# real call server's HTTPS (tests/system/https_gateway.sh, tools/bench/calls_bench.sh). The Wine
# side trusts ca.crt for its run (tests/harness/trusted_authority.h) and checks the chain as the
# agent always does.

# RSA keys: Wine's crypt32 takes an ECDSA signature for invalid when its r or s has fewer than 32
# significant bytes (about one signature in 128), which would make a chain of random EC keys fail
# now and then under Wine; Windows checks both alike.
test_keys=(-newkey rsa:2048 -nodes)

# make_test_authority: ca.key and ca.crt, "Brisomel test gateways CA".
make_test_authority() {
  openssl req -x509 "${test_keys[@]}" -days 30 -subj "/CN=Brisomel test gateways CA" -keyout ca.key -out ca.crt 2>/dev/null
  chmod 600 ca.key
}

# issue_certificate <name> <dns name> <days>: <name>.pem and <name>.key, a certificate of the test
# authority for <dns name> (days -1: already expired).
issue_certificate() {
  openssl req "${test_keys[@]}" -subj "/CN=$2" -addext "subjectAltName=DNS:$2" -keyout "$1.key" -out "$1.csr" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA ca.crt -CAkey ca.key -days "$3" -copy_extensions copy -out "$1.pem" 2>/dev/null
  chmod 600 "$1.key"
}

# test_authority_trusted: whether ca.crt is still in the prefix's machine Root store (kept there
# under its SHA-1 hash), which it must not be after a run.
test_authority_trusted() {
  local thumb
  thumb=$(openssl x509 -in ca.crt -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
  wine reg query "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" </dev/null >/dev/null 2>&1
}

# windows_path <file>: the file's path as a Wine program opens it (Z: is the host's root).
windows_path() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); printf 'Z:%s' "${p//\//\\}"; }
